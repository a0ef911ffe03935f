"""options_documented.py KEYVALE_CLI MANUAL.scd COMPLETION DOCS_FOLDER

Keeps the manual page, the bash completion and the reference pages in step
with the options the tool really has, as its --help lists them: every
option of every command must have an entry in the manual page, be offered
by the completion for that command and be explained on one of the pages in
DOCS_FOLDER (written as `--name`); an option that names its values
(--format tga|png) must have exactly those completed, and neither the
manual nor the completion may keep an option the tool no longer has. Exits
1 with one line per difference.
"""

import pathlib
import re
import subprocess
import sys

# Option lines of --help are indented by a few spaces; the wrapped lines of
# a description, which may start with an option too, by many more.
# A short form (-h,--help) goes with its long name, which is what is checked.
OPTION_LINE = re.compile(r"^ {2,6}(?:-[a-zA-Z0-9],)?(--[a-z0-9-]+)(?: (\S+))?")
COMMAND_LINE = re.compile(r"^([a-z]+)$")
TOP = "-"  # the options given before any command


def options_in_help(cli):
    """{command: {option: [values]}}: the values when the option's value name
    lists them (red|green|blue|auto=green), else []."""
    text = subprocess.run([cli, "--help"], capture_output=True, text=True, check=True).stdout
    options = {TOP: {}}
    command = TOP
    for line in text.splitlines():
        if line == "Subcommands:":
            command = None
        elif command is None or command != TOP:
            match = COMMAND_LINE.match(line)
            if match:
                command = match.group(1)
                options[command] = {}
        option = OPTION_LINE.match(line)
        if option and command is not None:
            value_name = (option.group(2) or "").split("=")[0]
            # Only names of values are listed (red|green); a placeholder such
            # as #RRGGBB|FILE stands for what the user types.
            values = [v for v in value_name.split("|") if v.islower()] if "|" in value_name else []
            options[command][option.group(1)] = values
    return options


def options_in_manual(path):
    """The options that start an entry: a line beginning *--name* (or *-h*, *--help*)."""
    with open(path, encoding="utf-8") as f:
        lines = [line for line in f if line.startswith("*-")]
    return {name for line in lines for name in re.findall(r"\*(--[a-z0-9-]+)\*", line)}


def options_in_docs(folder):
    """The options a reference page names in code: `--name` or `--name VALUE`."""
    text = "\n".join(page.read_text(encoding="utf-8") for page in sorted(pathlib.Path(folder).glob("*.md")))
    return set(re.findall(r"`(--[a-z0-9-]+)[ `=]", text))


def completions(script, lines):
    """What the completion offers at the end of each command line."""
    program = [
        "source /usr/share/bash-completion/bash_completion",
        f"source '{script}'",
        'offer() { COMP_LINE=$1; COMP_POINT=${#1}; read -r -a COMP_WORDS <<<"$1"',
        '  [[ $1 == *" " ]] && COMP_WORDS+=("")',
        "  COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()",
        '  _keyvale_cli keyvale-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"',
        '  echo "${COMPREPLY[*]}"; }',
    ] + [f"offer '{line}'" for line in lines]
    result = subprocess.run(["bash", "-c", "\n".join(program)], capture_output=True, text=True)
    if result.returncode != 0 or len(result.stdout.splitlines()) != len(lines):
        sys.exit(f"the completion script failed: {result.stderr.strip()}")
    return [set(offered.split()) for offered in result.stdout.splitlines()]


def differences(help_options, manual, script, documented):
    commands = [command for command in help_options if command != TOP]
    prefix = {command: "keyvale-cli " if command == TOP else f"keyvale-cli {command} "
              for command in help_options}
    queries = ["keyvale-cli "] + [prefix[c] + "--" for c in help_options]
    valued = [(c, o, v) for c, opts in help_options.items() for o, v in opts.items() if v]
    queries += [f"{prefix[c]}{o} " for c, o, _ in valued]
    offered = dict(zip(queries, completions(script, queries)))

    found = []
    if offered["keyvale-cli "] != set(commands):
        found.append(f"commands: --help has {sorted(commands)}, "
                     f"the completion offers {sorted(offered['keyvale-cli '])}")
    every_option = {o for opts in help_options.values() for o in opts}
    for command, options in help_options.items():
        where = "before any command" if command == TOP else f"for '{command}'"
        for option in sorted(set(options) - manual):
            found.append(f"{option} ({where}) has no entry in the manual page")
        for option in sorted(set(options) - documented - {"--help", "--version"}):
            found.append(f"{option} ({where}) is explained on no page of docs/")
        completed = offered[prefix[command] + "--"]
        for option in sorted(set(options) - completed):
            found.append(f"{option} ({where}) is not offered by the completion")
        for option in sorted(completed - set(options) - {"--help"}):
            found.append(f"the completion offers {option} {where}, which --help does not list")
    for option in sorted(manual - every_option):
        found.append(f"the manual page has an entry for {option}, which --help does not list")
    for command, option, values in valued:
        completed = offered[f"{prefix[command]}{option} "]
        if completed != set(values):
            found.append(f"{command} {option}: --help lists {sorted(values)}, "
                         f"the completion offers {sorted(completed)}")
    return found


def main(arguments):
    if len(arguments) != 4:
        print(__doc__.strip().splitlines()[0], file=sys.stderr)
        return 2
    cli, manual, script, docs = arguments
    help_options = options_in_help(cli)
    if not help_options.get("key"):
        print("options_documented: found no options of 'key' in --help", file=sys.stderr)
        return 1
    found = differences(help_options, options_in_manual(manual), script, options_in_docs(docs))
    for difference in found:
        print(f"options_documented: {difference}", file=sys.stderr)
    counted = sum(len(options) for options in help_options.values())
    print(f"options_documented: {counted} options of {len(help_options) - 1} commands checked, "
          f"{len(found)} differences")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
