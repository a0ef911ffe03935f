#!/usr/bin/env bash
# tests/e2e/run.sh [--update-docs]
#
# The acceptance test of the real program: keyvale.exe (x86_64) under Wine on
# a private Xvfb display, worked through the mouse and keyboard with the real
# file dialogs, its previews and saved files compared with keyvale-cli's.
#
#   KEYVALE_EXE          keyvale.exe to test (default: built in build/e2e-win64)
#   KEYVALE_CLI          native keyvale-cli for the expected results
#                        (default: built in build/e2e-debug)
#   KEYVALE_E2E_RESULTS  screenshots and logs (default: build/e2e-results);
#                        a failure leaves its screenshots here
#   --update-docs        copy the screenshot of the window with a keyed picture
#                        to docs/keyvale-window.png after a passing run
#
# Needs: Xvfb, xdotool, ImageMagick (import, convert), wine64, python3.
# Exit code 0 when every check passes.
set -euo pipefail

here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)
repo=$(cd "$here/../.." && pwd)
wine_dir=/usr/lib/wine            # Debian keeps wine64 off PATH
update_docs=0
[ "${1:-}" = "--update-docs" ] && update_docs=1

fail() { echo "e2e: $*" >&2; exit 1; }

for tool in Xvfb xdotool import convert python3 "$wine_dir/wine64"; do
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

# A private display: the scenario needs the pointer and keyboard to itself.
# -noreset: Xvfb would otherwise restart when Wine's last client leaves, and
# refuse connections meanwhile.
start_display() {
  local n
  for n in $(seq 57 120); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$results/xvfb.log" 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 100); do
      kill -0 "$xvfb_pid" 2>/dev/null || break   # lost a race for :$n
      xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
      sleep 0.1
    done
    kill "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  done
  fail "could not start Xvfb"
}

cleanup() {
  # Only this run's own Wine server and display.
  if [ -n "${WINEPREFIX:-}" ]; then
    timeout 20 "$wine_dir/wineserver" -k 2>/dev/null || true
  fi
  if [ -n "${xvfb_pid:-}" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
  fi
  if [ -n "${work:-}" ]; then
    rm -rf "$work"
  fi
}

results=${KEYVALE_E2E_RESULTS:-$repo/build/e2e-results}
mkdir -p "$results"
rm -f "$results"/*.png "$results"/*.log "$results"/*.tga "$results"/*.bmp
KEYVALE_E2E_RESULTS=$(readlink -f "$results")
export KEYVALE_E2E_RESULTS
build_programs

xvfb_pid=
# Short: every path the scenario types into a dialog lives here.
work=$(mktemp -d /tmp/kvl-e2e.XXXXXX)
trap cleanup EXIT
trap 'exit 130' INT TERM
export KEYVALE_E2E_WORK=$work/files
export KEYVALE_E2E_SAMPLE=$repo/samples/greenscreen.tga
mkdir -p "$KEYVALE_E2E_WORK"
start_display

# A fresh prefix for each run: no dialog history or settings from an earlier one.
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and Wine would otherwise offer a download.
export WINEDLLOVERRIDES="mscoree,mshtml="
echo "e2e: creating a Wine prefix on $DISPLAY"
started=$SECONDS
"$wine_dir/wine64" wineboot -i >"$results/wineboot.log" 2>&1 || fail "wineboot failed (see $results/wineboot.log)"
"$wine_dir/wineserver" -w
# Debian's Wine 8 does not load the fonts it ships in /usr/share/wine/fonts;
# without Marlett the frame's caption buttons show the letters "0 1 r" in the
# screenshot for the docs. Nothing that the scenario checks depends on it.
if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
fi
echo "e2e: prefix ready in $((SECONDS - started)) s"

status=0
# -B: no bytecode caches in the source tree.
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
