#!/usr/bin/env bash
# scripts/run.sh: builds Keyvale and starts it.
#
# Installs what is missing, builds the Windows program (x86_64, run through
# Wine) and the native keyvale-cli, keys the bundled sample picture with the
# command-line tool, then opens the Keyvale window on your X display. Without
# a display it starts Keyvale on a virtual one, opens the sample in it through
# the Open button and the file dialog, saves a screenshot of the window and
# says where it is.
#
#   KEYVALE_RUN_PREFIX   the Wine prefix for the window (default:
#                        build/wineprefix-run, apart from the tests' prefix so
#                        an open window never holds up a test run)
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
cd "$repo"
out=$repo/build/run
app=$repo/build/win64/app/keyvale.exe
cli=$repo/build/debug/cli/keyvale-cli
sample=$repo/samples/greenscreen.tga
export KEYVALE_WINEPREFIX=${KEYVALE_RUN_PREFIX:-$repo/build/wineprefix-run}

# step MESSAGE LOG COMMAND...: one line of progress; the log only on failure.
step() {
  local message=$1 log=$2
  shift 2
  echo "run: $message"
  if ! "$@" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "run: failed: $*  (full log: $log)" >&2
    exit 1
  fi
}

build_everything() {
  mkdir -p "$out"
  step "checking Debian packages" "$out/deps.log" "$repo/scripts/install-deps.sh"
  step "building keyvale-cli (native)" "$out/build-cli.log" \
    bash -c "cmake --preset debug && cmake --build build/debug -j 2 --target keyvale-cli"
  step "configuring the Windows build" "$out/configure-win64.log" cmake --preset win64
  step "building keyvale and keyvale-cli for Windows (x86_64)" "$out/build-win64.log" \
    cmake --build build/win64 -j 2 --target keyvale keyvale-cli
}

key_sample() {
  local keyed=$out/greenscreen-keyed.tga
  echo "run: keying $sample with keyvale-cli"
  "$cli" key "$sample" "$keyed" --channel auto --auto-adjust
  echo "run: keyed picture (32-bit Targa, alpha = matte): $keyed"
}

# The window on a virtual display with the sample opened, photographed once
# its previews show the keyed sample.
screenshot_window() {
  local shot=$out/keyvale-window.png
  step "opening the sample in Keyvale on a virtual display (Xvfb) and taking a screenshot" \
    "$out/screenshot.log" "$repo/scripts/wine-run" --session \
    python3 -B "$repo/scripts/window-screenshot.py" "$app" "$cli" "$sample" "$shot"
  echo "run: screenshot of the Keyvale window with the sample opened: $shot"
}

start_window() {
  if [ -n "${DISPLAY:-}" ]; then
    echo "run: starting Keyvale on $DISPLAY through Wine (close the window to finish)"
    "$repo/scripts/wine-run" "$app"
    return
  fi
  echo "run: no X display (DISPLAY is empty), so the window cannot be shown here."
  echo "run: log in to a desktop session, or use 'ssh -X', and run this again to use Keyvale."
  screenshot_window
}

build_everything
key_sample
start_window
