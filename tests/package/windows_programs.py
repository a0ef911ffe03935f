"""windows_programs.py FOLDER SAMPLE EXPECTED.tga VERSION

Runs the two programs of an unpacked Windows zip as a user would after
unzipping it: keyvale-cli.exe keys SAMPLE (compared byte for byte with
EXPECTED.tga, the native tool's result) and keyvale.exe opens its window,
which is then closed with Alt+F4. Prints one line per check, "PASS NAME" or
"FAIL NAME: why". Runs inside scripts/wine-run --session, which provides the
display and the Wine prefix; the window is worked with the end-to-end test's
helpers (tests/e2e).
"""

import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from program import TITLE, Program  # noqa: E402  (found through the path above)
from screen import Failure  # noqa: E402


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_cli(folder, *arguments):
    command = [os.environ["KEYVALE_WINE"], os.path.join(folder, "keyvale-cli.exe"), *arguments]
    return subprocess.run(command, capture_output=True, timeout=120)


def check_cli(folder, sample, expected, version):
    done = run_cli(folder, "--version")
    printed = done.stdout.decode(errors="replace").strip()
    if printed != f"keyvale-cli {version}":
        raise Failure(f"--version printed {printed!r} (exit {done.returncode})")
    with tempfile.TemporaryDirectory() as work:
        keyed = os.path.join(work, "keyed.tga")
        done = run_cli(folder, "key", windows_path(sample), windows_path(keyed),
                       "--channel", "auto", "--auto-adjust")
        if done.returncode != 0:
            raise Failure(f"key exited {done.returncode}: {done.stderr.decode(errors='replace')}")
        with open(keyed, "rb") as got, open(expected, "rb") as want:
            if got.read() != want.read():
                raise Failure("the keyed sample differs from the native keyvale-cli's")


def check_window(folder, log):
    program = Program(os.path.join(folder, "keyvale.exe"), log)
    try:
        code = program.close()
        if code != 0:
            raise Failure(f'the window "{TITLE}" closed, but keyvale.exe exited {code}')
    finally:
        program.kill()


def report(name, check):
    try:
        check()
        print(f"PASS {name}", flush=True)
        return True
    except (Failure, OSError, subprocess.TimeoutExpired) as failure:
        print(f"FAIL {name}: {failure}", flush=True)
        return False


def main(arguments):
    if len(arguments) != 4:
        print(__doc__.strip().splitlines()[0], file=sys.stderr)
        return 2
    folder, sample, expected, version = arguments
    with tempfile.TemporaryFile() as log:
        results = [
            report("keyvale-cli.exe from the zip keys the sample as the native tool does",
                   lambda: check_cli(folder, sample, expected, version)),
            report(f'keyvale.exe from the zip shows the window "{TITLE}" and closes it',
                   lambda: check_window(folder, log)),
        ]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
