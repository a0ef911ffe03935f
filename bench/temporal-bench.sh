#!/usr/bin/env bash
# bench/temporal-bench.sh: how steady the plate keyer's matte is on a moving
# shot, per frame and with --steady-matte, against the true matte.
#
# keyvale_make_moving_clip writes a 960x540 shot of 24 frames: the plates'
# foreground (a figure with fine hair, a straw hat, glass, a motion-blurred
# box, a ball and a bag) swaying 12 pixels either way over the unevenly lit
# green backdrop, up to three pixels a frame mid-swing and holding still at
# the ends, with sensor noise of its own in every frame (sigma 3 levels);
# and a slow sway of 3 pixels either way (under a pixel a frame: a held
# pose), the same in every other way.
# It is keyed as a PNG sequence:
#   per-frame   keyvale-cli key clip.%04d.png --frames 1-24 --settings S
#   steady      the same with --steady-matte
# with one setting S (--keyer plate --auto-adjust, chosen from the middle
# frame), and again after the shot went through H.264 (crf 20, 4:2:0, an
# .mp4 keyed as a clip into pictures) when ffmpeg is installed. The same shot
# without noise, keyed per frame, shows the part of each measure that is
# the key's own edge error travelling with the subject, which no temporal
# filter can take away. keyvale_score_temporal scores every run: dtSSD and
# MESSDdt (the video-matting benchmark's temporal measures, Erofeev et al.
# 2015; see ScoreTemporal.cpp for how they are computed here), the mean
# alpha error and the mean error on the true edges. About a minute and a half on two
# cores; nothing is left behind. Not a test: the suite does not run it.
#
#   KEYVALE_CLI, KEYVALE_MAKE_MOVING_CLIP, KEYVALE_SCORE_TEMPORAL
#       built tools (default: builds all three in build/release)
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
if [[ -z "${KEYVALE_CLI:-}" || -z "${KEYVALE_MAKE_MOVING_CLIP:-}" || -z "${KEYVALE_SCORE_TEMPORAL:-}" ]]; then
  cmake --preset release -S "$repo" >/dev/null
  cmake --build "$repo/build/release" -j2 --target keyvale-cli keyvale_make_moving_clip keyvale_score_temporal >/dev/null
fi
cli=${KEYVALE_CLI:-$repo/build/release/cli/keyvale-cli}
make_clip=${KEYVALE_MAKE_MOVING_CLIP:-$repo/build/release/bench/keyvale_make_moving_clip}
score=${KEYVALE_SCORE_TEMPORAL:-$repo/build/release/bench/keyvale_score_temporal}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$make_clip" "$work" >/dev/null
mkdir "$work/clean" "$work/slow" "$work/slow/clean"
"$make_clip" "$work/clean" --noise 0 >/dev/null
"$make_clip" "$work/slow" --sway 3 >/dev/null
"$make_clip" "$work/slow/clean" --sway 3 --noise 0 >/dev/null
"$cli" key "$work/clip.%04d.png" --frames 1-24 --keyer plate --auto-adjust --settings-out "$work/shot.kvs" >/dev/null

# row NAME SECONDS KEYED-PATTERN [TRUTH-FOLDER]
row() {
  local figures
  figures=$("$score" "${4:-$work}/motion.txt" "${4:-$work}/truth.%04d.png" "$3" 1 24)
  read -r dt messd error edge <<<"$figures"
  printf '| %s | %s | %s | %s | %s | %s |\n' "$1" "$dt" "$messd" "$error" "$edge" "$2"
}

# timed SECONDS-VARIABLE COMMAND...: runs the command, its wall time in seconds
timed() {
  local -n seconds=$1
  shift
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  seconds=$(printf '%.1f' "$(echo "$end - $start" | bc)")
}

echo "| Key | dtSSD x100 | MESSDdt x1000 | mean alpha error | edge error | seconds |"
echo "|---|---:|---:|---:|---:|---:|"
timed t "$cli" key "$work/clean/clip.%04d.png" --frames 1-24 --settings "$work/shot.kvs" --out-dir "$work/clean/per" --format png --quiet
row "no noise, per frame (the floor)" "$t" "$work/clean/per/clip.%04d.png" "$work/clean"
timed t "$cli" key "$work/clip.%04d.png" --frames 1-24 --settings "$work/shot.kvs" --out-dir "$work/per" --format png --quiet
row "PNG, per frame" "$t" "$work/per/clip.%04d.png"
timed t "$cli" key "$work/clip.%04d.png" --frames 1-24 --settings "$work/shot.kvs" --steady-matte --out-dir "$work/steady" --format png --quiet
row "PNG, --steady-matte" "$t" "$work/steady/clip.%04d.png"

for shot in slow/clean slow; do
  name="slow sway, PNG"
  [[ $shot == slow/clean ]] && name="slow sway, no noise (the floor)"
  timed t "$cli" key "$work/$shot/clip.%04d.png" --frames 1-24 --settings "$work/shot.kvs" --out-dir "$work/$shot/per" --format png --quiet
  row "$name, per frame" "$t" "$work/$shot/per/clip.%04d.png" "$work/$shot"
  [[ $shot == slow/clean ]] && continue
  timed t "$cli" key "$work/$shot/clip.%04d.png" --frames 1-24 --settings "$work/shot.kvs" --steady-matte --out-dir "$work/$shot/steady" --format png --quiet
  row "$name, --steady-matte" "$t" "$work/$shot/steady/clip.%04d.png" "$work/$shot"
done

if command -v ffmpeg >/dev/null; then
  ffmpeg -v error -nostdin -framerate 24 -i "$work/clip.%04d.png" -c:v libx264 -crf 20 -pix_fmt yuv420p "$work/shot.mp4"
  timed t "$cli" key "$work/shot.mp4" --settings "$work/shot.kvs" --out-dir "$work/h264" --format png --quiet
  row "H.264 clip, per frame" "$t" "$work/h264/shot.%06d.png"
  timed t "$cli" key "$work/shot.mp4" --settings "$work/shot.kvs" --steady-matte --out-dir "$work/h264s" --format png --quiet
  row "H.264 clip, --steady-matte" "$t" "$work/h264s/shot.%06d.png"
fi
