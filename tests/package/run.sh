#!/usr/bin/env bash
# tests/package/run.sh: makes the packages with scripts/package.sh and checks
# them as a user gets them.
#
# The .deb: lintian finds no error; it installs into a throw-away root with
# dpkg, and its dependencies are installed on this machine; the installed
# keyvale-cli prints its version and keys the sample as the reference tool
# does, and keys a small clip through its video module; man renders the
# installed manual page without a warning; and
# bash-completion, finding the installed completion where it looks, offers
# --channel for --ch and green after --channel.
# The zips: each holds exactly its files, SHA256SUMS matches them, and both
# programs are Windows programs of the zip's kind (32-bit or x86_64). Wine
# here runs only 64-bit programs, so it is the x86_64 zip whose programs run:
# unpacked, keyvale-cli.exe keys the sample and keyvale.exe shows its window
# and closes.
#
#   KEYVALE_CLI          the native keyvale-cli whose keyed sample is the
#                        reference (default: build/debug/cli/keyvale-cli)
#   KEYVALE_BUILD_ROOT, KEYVALE_WINEPREFIX   as for scripts/test.sh
#
# Closes with "N passed, N failed"; exits non-zero on any failure.
# shellcheck disable=SC2317  # the checks run through check(), unseen by shellcheck
set -uo pipefail

here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)
repo=$(cd "$here/../.." && pwd)
sample=$repo/samples/greenscreen.tga
reference_cli=${KEYVALE_CLI:-${KEYVALE_BUILD_ROOT:-$repo/build}/debug/cli/keyvale-cli}
packages=$(mktemp -d "${TMPDIR:-/tmp}/kvl-packages.XXXXXX")
work=$(mktemp -d "${TMPDIR:-/tmp}/kvl-package-test.XXXXXX")
trap 'rm -rf "$packages" "$work"' EXIT
root=$work/root
passed=0
failed=0

# check NAME COMMAND...: one counted check; its output is shown when it fails.
check() {
  local name=$1 output
  shift
  if output=$("$@" 2>&1); then
    passed=$((passed + 1))
    echo "package: ok      $name"
  else
    failed=$((failed + 1))
    echo "package: FAILED  $name"
    # shellcheck disable=SC2001  # every line indented, not one replacement
    sed 's/^/    /' <<<"$output"
  fi
}

finish() {
  echo "package: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

lintian_finds_no_error() {
  local report
  report=$(lintian --fail-on error --display-level '>=warning' "$deb" 2>&1) || { echo "$report"; return 1; }
  echo "$report"
}

# Debian's dpkg, told to use an empty root of its own: the package's files
# land there and nothing on this machine changes. The dependencies are not
# in that root, so they are checked against this machine instead.
install_into_root() {
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
  dpkg --root="$root" --force-depends -i "$deb" >/dev/null || return 1
  local file
  for file in usr/bin/keyvale-cli "usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/keyvale/keyvale-video.so" \
    usr/share/man/man1/keyvale-cli.1.gz \
    usr/share/bash-completion/completions/keyvale-cli usr/share/doc/keyvale-cli/copyright; do
    [ -f "$root/$file" ] || { echo "not installed: /$file"; return 1; }
  done
}

# Every dependency of the package (one of each "a | b" group) is installed
# here in a version it accepts.
dependencies_installed() {
  local group alternative name relation wanted have ok
  IFS=',' read -r -a groups <<<"$(dpkg-deb -f "$deb" Depends)"
  [ ${#groups[@]} -gt 0 ] || { echo "no Depends field"; return 1; }
  for group in "${groups[@]}"; do
    ok=
    IFS='|' read -r -a alternatives <<<"$group"
    for alternative in "${alternatives[@]}"; do
      read -r name relation wanted <<<"${alternative//[()]/ }"
      have=$(dpkg-query -W -f='${db:Status-Status} ${Version}' "$name" 2>/dev/null) || continue
      [[ $have == installed* ]] || continue
      [ -z "$relation" ] || dpkg --compare-versions "${have#installed }" "$relation" "$wanted" || continue
      ok=1
    done
    [ -n "$ok" ] || { echo "not installed here: $group"; return 1; }
  done
}

installed_version_is_the_project_version() {
  local printed
  printed=$("$root/usr/bin/keyvale-cli" --version) || return 1
  [ "$printed" = "keyvale-cli $version" ] || { echo "printed '$printed', expected 'keyvale-cli $version'"; return 1; }
}

installed_tool_keys_sample() {
  "$root/usr/bin/keyvale-cli" key "$sample" "$work/installed.tga" --channel auto --auto-adjust \
    >"$work/installed.txt" || return 1
  "$reference_cli" key "$sample" "$work/reference.tga" --channel auto --auto-adjust \
    >"$work/reference.txt" || return 1
  cmp "$work/installed.tga" "$work/reference.tga" && diff "$work/installed.txt" "$work/reference.txt"
}

# A clip made with the ffmpeg tool, keyed into a ProRes clip of as many frames.
installed_tool_keys_clip() {
  local frames
  ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=64x48:rate=5 -t 1 "$work/clip.mp4" || return 1
  "$root/usr/bin/keyvale-cli" key "$work/clip.mp4" "$work/keyed.mov" >/dev/null || return 1
  frames=$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$work/keyed.mov") ||
    return 1
  [ "$frames" = 5 ] || { echo "the keyed clip has $frames frames, not 5"; return 1; }
}

manual_renders_without_warnings() {
  local page=$root/usr/share/man/man1/keyvale-cli.1.gz text warnings
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>"$work/man-warnings") || return 1
  warnings=$(cat "$work/man-warnings")
  [ -z "$warnings" ] || { echo "$warnings"; return 1; }
  local section
  for section in NAME SYNOPSIS OPTIONS "EXIT STATUS" EXAMPLES; do
    grep -q "^$section" <<<"$text" || { echo "no section $section"; return 1; }
  done
  # Found by name where man looks, too.
  man -M "$root/usr/share/man" -w keyvale-cli >/dev/null
}

# completes LINE EXPECTED: bash-completion, loading the installed file the
# way it does for a first Tab, offers EXPECTED among its completions of LINE.
completes() {
  XDG_DATA_DIRS=$root/usr/share bash -c '
    source /usr/share/bash-completion/bash_completion
    __load_completion keyvale-cli || { echo "bash-completion found no keyvale-cli"; exit 1; }
    COMP_LINE=$1; COMP_POINT=${#1}; read -r -a COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()
    _keyvale_cli keyvale-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}" | grep -qx -- "$2" ||
      { echo "\"$1\" completes to: ${COMPREPLY[*]}"; exit 1; }' completes "$1" "$2"
}

# zip_holds ZIP FOLDER: exactly the two programs, the readme, the licence
# and the checksums, in one folder, and the checksums match.
zip_holds() {
  local listed expected
  listed=$(unzip -Z1 "$1" | sort)
  expected=$(printf '%s\n' "$2/" "$2/keyvale.exe" "$2/keyvale-cli.exe" "$2/README.txt" \
    "$2/LICENSE.txt" "$2/SHA256SUMS" | sort)
  [ "$listed" = "$expected" ] || { diff <(echo "$expected") <(echo "$listed"); return 1; }
  unzip -q -o "$1" -d "$work" || return 1
  (cd "$work/$2" && sha256sum --quiet -c SHA256SUMS) || return 1
  grep -q "Keyvale $version for Windows"$'\r' "$work/$2/README.txt" ||
    { echo "README.txt: no version line with Windows line ends"; return 1; }
}

# windows_programs FOLDER FORMAT: keyvale.exe a GUI program and keyvale-cli.exe
# a console program, both of FORMAT (pei-i386 or pei-x86-64), neither needing
# the MinGW runtime DLLs.
windows_programs() {
  local exe subsystem dump
  for exe in keyvale.exe:2 keyvale-cli.exe:3; do
    subsystem=${exe#*:}
    exe=$work/$1/${exe%:*}
    dump=$(objdump -p "$exe" 2>&1) || { echo "$dump"; return 1; }
    grep -q "file format $2" <<<"$dump" || { echo "$exe: not $2"; return 1; }
    grep -Eq "Subsystem[[:space:]]+0*${subsystem}[[:space:]]" <<<"$dump" ||
      { echo "$exe: not subsystem $subsystem"; return 1; }
    if grep -Ei 'DLL Name: *(libstdc\+\+|libgcc|libwinpthread)' <<<"$dump"; then
      echo "$exe: needs the MinGW runtime DLLs above"
      return 1
    fi
  done
}

# The x86_64 zip's programs under Wine, one session for both: two checks.
run_x64_programs() {
  local folder=$work/keyvale-$version-windows-x64 line
  "$reference_cli" key "$sample" "$work/expected.tga" --channel auto --auto-adjust >/dev/null
  "$repo/scripts/wine-run" --private-display --session timeout 300 \
    python3 -B "$here/windows_programs.py" "$folder" "$sample" "$work/expected.tga" "$version" \
    >"$work/wine.txt" 2>&1
  while IFS= read -r line; do
    case $line in
      PASS\ *) passed=$((passed + 1)); echo "package: ok      ${line#PASS }" ;;
      FAIL\ *) failed=$((failed + 1)); echo "package: FAILED  ${line#FAIL }" ;;
    esac
  done <"$work/wine.txt"
  if ! grep -q '^PASS\|^FAIL' "$work/wine.txt"; then
    failed=$((failed + 1))
    echo "package: FAILED  the x86_64 zip's programs under Wine"
    sed 's/^/    /' "$work/wine.txt"
  fi
}

if [ ! -x "$reference_cli" ]; then
  echo "package: no reference keyvale-cli at $reference_cli; build the debug preset or set KEYVALE_CLI"
  failed=1
  finish
fi
echo "package: making the packages (scripts/package.sh)"
if ! KEYVALE_PACKAGE_DIR=$packages "$repo/scripts/package.sh"; then
  failed=1
  finish
fi
version=$(sed -n 's/.*KeyvaleVersion = "\([^"]*\)".*/\1/p' \
  "${KEYVALE_BUILD_ROOT:-$repo/build}/package-release/generated/Version.h")
deb=$(echo "$packages"/keyvale-cli_"$version"_*.deb)
for file in "$packages"/*; do
  echo "package: $(basename "$file"): $(stat -c %s "$file") bytes"
done

check "lintian finds no error in the .deb" lintian_finds_no_error
check "the .deb installs into an empty root" install_into_root
check "its dependencies are installed here" dependencies_installed
check "the installed keyvale-cli prints the project version" installed_version_is_the_project_version
check "the installed keyvale-cli keys the sample as the reference tool" installed_tool_keys_sample
check "the installed keyvale-cli keys a clip through its video module" installed_tool_keys_clip
check "man renders the installed manual page without warnings" manual_renders_without_warnings
check "completion offers --channel for --ch" completes "keyvale-cli key --ch" --channel
check "completion offers green after --channel" completes "keyvale-cli key shot.tga --channel " green
for zip in windows:pei-i386 windows-x64:pei-x86-64; do
  name=keyvale-$version-${zip%:*}
  check "$name.zip holds its files, with matching SHA256SUMS" zip_holds "$packages/$name.zip" "$name"
  check "$name.zip: both programs are ${zip#*:}, static" windows_programs "$name" "${zip#*:}"
done
run_x64_programs
finish
