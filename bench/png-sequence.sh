#!/usr/bin/env bash
# bench/png-sequence.sh: a JPEG frame sequence keyed into PNG frames by
# keyvale-cli (--jobs 2) and by FFmpeg's command-line tool (chromakey and
# despill filters, its PNG encoder), in the same run: frames per second,
# CPU seconds and the total size of the PNG files of each.
#
# Generates BENCH_FRAMES synthetic 1920x1080 green-screen frames
# (make-frames.py) in a temporary folder, as JPEG through ffmpeg, in two
# sets: "clean", the frames as drawn, smooth as no camera is, and "noisy",
# the same frames with sensor-like grain before the JPEG encoding: every
# sample of every frame moved by its own uniform random amount of up to
# BENCH_NOISE levels (from /dev/urandom; ffmpeg's noise filter repeats
# stretches of one table along the rows, which deflate finds and a camera's
# noise does not give). That is where PNG files grow and the deflate level
# and filters tell. Nothing is
# left behind. Best wall time of BENCH_RUNS runs each. Needs ffmpeg
# (scripts/install-deps.sh does not install it: the bench is not a test).
#
#   bench/png-sequence.sh [KEYVALE-CLI OPTIONS...]
#       default: --channel green --contrast 120 --offset 60, one setting
#       for every frame, as FFmpeg's chromakey has, that keys the noisy
#       backdrop clear (auto adjust's choice, contrast 80 offset 40, leaves
#       a third of its pixels partly opaque: a matte of noise)
#
#   KEYVALE_CLI   a built keyvale-cli (default: builds one in build/cli-bench, Release)
#   BENCH_FRAMES  frames (default 40)   BENCH_RUNS  runs each (default 3)
#   BENCH_SETS    which sets (default "clean noisy")
#   BENCH_NOISE   the grain's largest step, 1-127 (default 12)
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
frames=${BENCH_FRAMES:-40}
runs=${BENCH_RUNS:-3}
sets=${BENCH_SETS:-clean noisy}
noise=${BENCH_NOISE:-12}
options=("$@")
[ ${#options[@]} -eq 0 ] && options=(--channel green --contrast 120 --offset 60)
command -v ffmpeg >/dev/null || { echo "png-sequence: needs ffmpeg" >&2; exit 1; }

# shellcheck source=bench/bench-cli.sh
source "$repo/bench/bench-cli.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/keyvale-png-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "Generating $frames frames of 1920x1080 in $work ..."
python3 "$repo/bench/make-frames.py" "$work/tga" "$frames" 1920 1080 >/dev/null
# make_set NAME [GRAIN]: the frames as JPEG in $work/NAME-in, with grain
# of up to GRAIN levels added when given (grainmerge adds the second
# input less 128 to the first, for each sample).
make_set() {
  mkdir -p "$work/$1-in"
  local grain="128+(val-128)*${2:-0}/128"
  ffmpeg -loglevel error -start_number 0 -i "$work/tga/frame%03d.tga" \
    -f rawvideo -pix_fmt rgb24 -s 1920x1080 -i /dev/urandom -filter_complex \
    "[0]format=gbrp[picture];[1]format=gbrp,lutrgb=r='$grain':g='$grain':b='$grain'[grain];[picture][grain]blend=all_mode=grainmerge:shortest=1" \
    -frames:v "$frames" -q:v 2 -start_number 1 "$work/$1-in/%04d.jpg"
}
for set in $sets; do
  case $set in
    clean) make_set clean ;;
    noisy) make_set noisy "$noise" ;;
    *) echo "png-sequence: no set $set (clean, noisy)" >&2; exit 2 ;;
  esac
done
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

# key_set SET: both programs on one set, a table and the ratios.
key_set() {
  local input=$work/$1-in keyvale ffmpeg_result row
  echo
  echo "Keying $frames $1 frames, best of $runs runs each ..."
  keyvale=$(best keyvale "$cli" key "$input/%04d.jpg" --frames "1-$frames" --out-dir "$work/keyvale" \
    --format png --jobs 2 --quiet "${options[@]}")
  ffmpeg_result=$(best ffmpeg ffmpeg -loglevel error -i "$input/%04d.jpg" -threads 2 \
    -vf chromakey=0x28A03C:0.15:0.05,despill -c:v png "$work/ffmpeg/%04d.png")
  printf '%-12s %8s %8s %8s %12s\n' "$1" "wall s" "frames/s" "CPU s" "total bytes"
  for row in "keyvale-cli $keyvale" "ffmpeg $ffmpeg_result"; do
    # shellcheck disable=SC2086  # name and three numbers
    set -- $row
    awk -v name="$1" -v wall="$2" -v cpu="$3" -v bytes="$4" -v frames="$frames" \
      'BEGIN { printf "%-12s %8.2f %8.2f %8.2f %12d\n", name, wall, frames / wall, cpu, bytes }'
  done
  # shellcheck disable=SC2086  # three numbers each
  set -- $keyvale $ffmpeg_result
  awk -v kw="$1" -v kc="$2" -v kb="$3" -v fw="$4" -v fc="$5" -v fb="$6" \
    'BEGIN { printf "keyvale-cli: %.2fx the frames per second (%.2f of the wall time, %.2f of the CPU time), %.1f%% of the bytes\n",
             fw / kw, kw / fw, kc / fc, 100 * kb / fb }'
}

for set in $sets; do key_set "$set"; done
