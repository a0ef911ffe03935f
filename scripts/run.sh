#!/usr/bin/env bash
# scripts/run.sh: builds Keyvale and starts it.
#
# Installs what is missing, builds the Windows program (x86_64, run through
# Wine) and the native keyvale-cli, keys the bundled sample picture with the
# command-line tool, then opens the Keyvale window on your X display. Without
# a display it starts Keyvale on a virtual one, saves a screenshot of the
# window and says where it is.
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

has_target() {
  cmake --build "$1" --target help 2>/dev/null | grep -q "^$2:"
}

build_everything() {
  mkdir -p "$out"
  step "checking Debian packages" "$out/deps.log" "$repo/scripts/install-deps.sh"
  [ -f "$sample" ] || step "drawing the sample picture" "$out/sample.log" python3 "$repo/scripts/make-sample.py"
  step "building keyvale-cli (native)" "$out/build-cli.log" \
    bash -c "cmake --preset debug && cmake --build build/debug -j 2 --target keyvale-cli"
  step "configuring the Windows build" "$out/configure-win64.log" cmake --preset win64
  local targets=(keyvale-cli)
  has_target build/win64 keyvale && targets=(keyvale keyvale-cli)
  step "building ${targets[*]} for Windows (x86_64)" "$out/build-win64.log" \
    cmake --build build/win64 -j 2 --target "${targets[@]}"
}

key_sample() {
  local keyed=$out/greenscreen-keyed.tga
  echo "run: keying $sample with keyvale-cli"
  "$cli" key "$sample" "$keyed" --channel auto --auto-adjust
  echo "run: keyed picture (32-bit Targa, alpha = matte): $keyed"
}

# Shows the window on a virtual display long enough to photograph it.
screenshot_window() {
  local shot=$out/keyvale-window.png window=""
  "$repo/scripts/wine-run" "$app" &
  local wine_pid=$!
  for _ in $(seq 1 120); do
    window=$(xdotool search --name '^Keyvale ' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.5
  done
  if [ -n "$window" ]; then
    sleep 1  # let the first paint land
    import -window "$window" "$shot"
    echo "run: screenshot of the Keyvale window: $shot"
  else
    echo "run: the Keyvale window did not appear within a minute" >&2
  fi
  WINEPREFIX=$KEYVALE_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
  wait "$wine_pid" 2>/dev/null || true
  [ -n "$window" ]
}

start_window() {
  if [ ! -f "$app" ]; then
    echo "run: this tree has no Windows program yet (app/); the keyed sample above is the result"
    return 0
  fi
  if [ -n "${DISPLAY:-}" ]; then
    echo "run: starting Keyvale on $DISPLAY through Wine (close the window to finish)"
    "$repo/scripts/wine-run" "$app"
    return
  fi
  echo "run: no X display (DISPLAY is empty), so the window cannot be shown here."
  echo "run: log in to a desktop session, or use 'ssh -X', and run this again to use Keyvale."
  echo "run: meanwhile: starting it on a virtual display (Xvfb) to check that it works."
  KEYVALE_RUN_SCREENSHOT=1 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$repo/scripts/run.sh"
}

if [ -n "${KEYVALE_RUN_SCREENSHOT:-}" ]; then
  screenshot_window
  exit
fi

build_everything
key_sample
start_window
