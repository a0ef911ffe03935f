#!/usr/bin/env bash
# tests/e2e/run.sh [--update-docs]
#
# The acceptance test of the real program: keyvale.exe (x86_64) under Wine on
# a private Xvfb display, worked through the mouse and keyboard with the real
# file dialogs, its previews and saved files compared with keyvale-cli's.
# scripts/wine-run provides the display and a fresh Wine prefix.
#
#   KEYVALE_EXE          keyvale.exe to test (default: built in build/e2e-win64)
#   KEYVALE_CLI          native keyvale-cli for the expected results
#                        (default: built in build/e2e-debug)
#   KEYVALE_E2E_RESULTS  screenshots and logs (default: build/e2e-results);
#                        a failure leaves its screenshots here
#   --update-docs        copy the screenshot of the window with a keyed picture
#                        to docs/keyvale-window.png after a passing run
#
# Needs: xvfb-run, xdotool, xwininfo, ImageMagick (import, convert), wine64, python3.
# Exit code 0 when every check passes.
set -euo pipefail

here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)
repo=$(cd "$here/../.." && pwd)
update_docs=0
[ "${1:-}" = "--update-docs" ] && update_docs=1

fail() { echo "e2e: $*" >&2; exit 1; }

for tool in xvfb-run xdotool xwininfo import convert python3; do
  command -v "$tool" >/dev/null || fail "$tool not found (scripts/install-deps.sh installs it)"
done

build_programs() {
  if [ -z "${KEYVALE_EXE:-}" ]; then
    cmake --preset win64 -B "$repo/build/e2e-win64" -S "$repo" >/dev/null
    cmake --build "$repo/build/e2e-win64" -j2 --target keyvale
    KEYVALE_EXE=$repo/build/e2e-win64/app/keyvale.exe
  fi
  if [ -z "${KEYVALE_CLI:-}" ]; then
    cmake --preset debug -B "$repo/build/e2e-debug" -S "$repo" >/dev/null
    cmake --build "$repo/build/e2e-debug" -j2 --target keyvale-cli
    KEYVALE_CLI=$repo/build/e2e-debug/cli/keyvale-cli
  fi
  [ -f "$KEYVALE_EXE" ] || fail "no keyvale.exe at $KEYVALE_EXE"
  [ -x "$KEYVALE_CLI" ] || fail "no keyvale-cli at $KEYVALE_CLI"
  KEYVALE_EXE=$(readlink -f "$KEYVALE_EXE")
  KEYVALE_CLI=$(readlink -f "$KEYVALE_CLI")
  export KEYVALE_EXE KEYVALE_CLI
}

results=${KEYVALE_E2E_RESULTS:-$repo/build/e2e-results}
mkdir -p "$results"
rm -f "$results"/*.png "$results"/*.log "$results"/*.tga "$results"/*.bmp
KEYVALE_E2E_RESULTS=$(readlink -f "$results")
export KEYVALE_E2E_RESULTS
build_programs

# Short: every path the scenario types into a dialog lives here.
work=$(mktemp -d /tmp/kvl-e2e.XXXXXX)
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
export KEYVALE_E2E_WORK=$work/files
export KEYVALE_E2E_SAMPLE=$repo/samples/greenscreen.tga
mkdir -p "$KEYVALE_E2E_WORK"

status=0
# A private display, whatever DISPLAY says: the scenario needs the pointer and
# the keyboard to itself. A fresh prefix for each run: no dialog history or
# settings from an earlier one. -B: no bytecode caches in the source tree.
echo "e2e: starting Wine on a private display (a fresh prefix takes a while)"
KEYVALE_WINEPREFIX=$work/prefix "$repo/scripts/wine-run" --private-display --session \
  timeout 240 python3 -B "$here/scenario.py" || status=$?
if [ "$status" -ne 0 ]; then
  cp "$KEYVALE_E2E_WORK"/* "$results"/ 2>/dev/null || true
  fail "FAILED (exit $status); screenshots and files in $results"
fi
if [ "$update_docs" = 1 ]; then
  cp "$results/keyvale-window.png" "$repo/docs/keyvale-window.png"
  echo "e2e: docs/keyvale-window.png updated"
fi
echo "e2e: passed in $SECONDS s"
