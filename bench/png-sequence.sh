#!/usr/bin/env bash
# bench/png-sequence.sh: a JPEG frame sequence keyed into PNG frames by
# keyvale-cli (--jobs 2) and by FFmpeg's command-line tool (chromakey and
# despill filters, its PNG encoder), in the same run: frames per second,
# CPU seconds and the total size of the PNG files of each.
#
# Generates BENCH_FRAMES synthetic 1920x1080 green-screen frames
# (make-frames.py, as JPEG through ffmpeg) in a temporary folder; nothing
# is left behind. Best wall time of BENCH_RUNS runs each. Needs ffmpeg
# (scripts/install-deps.sh does not install it: the bench is not a test).
#
#   bench/png-sequence.sh [KEYVALE-CLI OPTIONS...]
#       default: --channel auto --auto-adjust
#
#   KEYVALE_CLI   a built keyvale-cli (default: builds one in build/cli-bench, Release)
#   BENCH_FRAMES  frames (default 100)   BENCH_RUNS  runs each (default 3)
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
frames=${BENCH_FRAMES:-100}
runs=${BENCH_RUNS:-3}
options=("$@")
[ ${#options[@]} -eq 0 ] && options=(--channel auto --auto-adjust)
command -v ffmpeg >/dev/null || { echo "png-sequence: needs ffmpeg" >&2; exit 1; }

# shellcheck source=bench/bench-cli.sh
source "$repo/bench/bench-cli.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/keyvale-png-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "Generating $frames frames of 1920x1080 JPEG in $work ..."
python3 "$repo/bench/make-frames.py" "$work/tga" "$frames" 1920 1080 >/dev/null
ffmpeg -loglevel error -start_number 0 -i "$work/tga/frame%03d.tga" -q:v 2 -start_number 1 "$work/in%04d.jpg"
rm -rf "$work/tga"

# time_once NAME COMMAND...: runs COMMAND into a fresh $work/NAME and prints "WALL CPU BYTES".
time_once() {
  local name=$1 TIMEFORMAT='%R %U %S' times
  shift
  rm -rf "${work:?}/$name"
  mkdir -p "$work/$name"
  times=$( { time "$@" >/dev/null 2>&1; } 2>&1 )
  awk -v bytes="$(du -sb "$work/$name" | cut -f1)" '{ printf "%s %.2f %s\n", $1, $2 + $3, bytes }' <<<"$times"
}

# best NAME COMMAND...: the run with the least wall time.
best() {
  local run
  for run in $(seq "$runs"); do time_once "$@"; done | sort -n | head -n 1
}

echo "Keying $frames frames, best of $runs runs each ..."
keyvale=$(best keyvale "$cli" key "$work/in%04d.jpg" --frames "1-$frames" --out-dir "$work/keyvale" \
  --format png --jobs 2 --quiet "${options[@]}")
ffmpeg_result=$(best ffmpeg ffmpeg -loglevel error -i "$work/in%04d.jpg" -threads 2 \
  -vf chromakey=0x28A03C:0.15:0.05,despill -c:v png "$work/ffmpeg/%04d.png")

printf '%-12s %8s %8s %8s %12s\n' "" "wall s" "frames/s" "CPU s" "total bytes"
for row in "keyvale-cli $keyvale" "ffmpeg $ffmpeg_result"; do
  # shellcheck disable=SC2086  # name and three numbers
  set -- $row
  awk -v name="$1" -v wall="$2" -v cpu="$3" -v bytes="$4" -v frames="$frames" \
    'BEGIN { printf "%-12s %8.2f %8.2f %8.2f %12d\n", name, wall, frames / wall, cpu, bytes }'
done
# shellcheck disable=SC2086  # three numbers each
set -- $keyvale $ffmpeg_result
awk -v kw="$1" -v kb="$3" -v fw="$4" -v fb="$6" \
  'BEGIN { printf "keyvale-cli: %.2fx the frames per second, %.1f%% of the bytes\n", fw / kw, 100 * kb / fb }'
