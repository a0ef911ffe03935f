#!/usr/bin/env bash
# bench/deep-clip-bench.sh: the plate keyer on a clip of more than 8 bits a
# sample (keyed in float) against the same frames in 8 bits (keyed as
# before), both into ProRes 4444.
#
# Generates BENCH_FRAMES frames (default 10) of a 1920x1080 green-screen
# picture made at 16 bits (a graded backdrop, a round subject with ramps),
# stored as 12-bit ProRes 4444 (deep.mov) and as 8-bit YUV 4:4:4 FFV1
# (eight.mkv, the same frames), keys each with
#   keyvale-cli key INPUT keyed.mov --keyer plate --channel auto --auto-adjust
# and reports the wall and CPU time of the best of BENCH_RUNS runs (default
# 3) and keyvale-cli's own stage times (KEYVALE_CLIP_TIMES): the two differ
# in their decoder, so the stages that are the same work in 8 bits and in
# float (convert in, key, convert out) are the ones to compare. Nothing is
# left behind.
#
#   KEYVALE_CLI     a built keyvale-cli (default: builds build/release's)
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
frames=${BENCH_FRAMES:-10}
runs=${BENCH_RUNS:-3}
cli=${KEYVALE_CLI:-}
if [ -z "$cli" ]; then
  build=$repo/build/release
  [ -f "$build/CMakeCache.txt" ] || (cd "$repo" && cmake --preset release -DKEYVALE_WERROR=OFF > /dev/null)
  cmake --build "$build" -j2 --target keyvale-cli keyvale-video > /dev/null
  cli=$build/cli/keyvale-cli
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/keyvale-deep-clip-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

subject='lt(hypot(X-960,Y-540),300)'
ffmpeg -v error -nostdin -y -f lavfi -i "nullsrc=s=1920x1080:r=25,format=gbrp16le,geq=\
r='if($subject,20000+X*20,4000+Y*3)':g='if($subject,30000+Y*10,48000+X*2)':b='if($subject,10000+X*25,6000)'" \
  -frames:v "$frames" -c:v prores_ks -profile:v 4 -pix_fmt yuva444p10le "$work/deep.mov"
ffmpeg -v error -nostdin -y -i "$work/deep.mov" -c:v ffv1 -pix_fmt yuv444p "$work/eight.mkv"

# "WALL CPU | stages: ..." of the best of $runs runs.
measure() {  # input
  local best="" cpu="" stages=""
  for _ in $(seq "$runs"); do
    KEYVALE_CLIP_TIMES=1 /usr/bin/time -f "%e %U %S" -o "$work/time" \
      "$cli" key "$1" "$work/keyed.mov" --keyer plate --channel auto --auto-adjust --overwrite \
      > /dev/null 2> "$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
    read -r wall user system < "$work/time"
    if [ -z "$best" ] || awk "BEGIN { exit !($wall < $best) }"; then
      best=$wall; cpu=$(awk "BEGIN { print $user + $system }"); stages=$(grep '^stages:' "$work/stderr")
    fi
  done
  echo "$best s wall, $cpu s CPU | $stages"
}

echo "deep (12-bit ProRes 4444, keyed in float): $(measure "$work/deep.mov")"
echo "8-bit (FFV1 4:4:4, keyed in 8 bits):      $(measure "$work/eight.mkv")"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
