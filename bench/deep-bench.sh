#!/usr/bin/env bash
# bench/deep-bench.sh: an OpenEXR sequence of 1920x1080 half-float frames
# keyed by the plate keyer in float into OpenEXR frames (half, ZIP or PIZ),
# with one setting for the whole shot as a farm task keys it: frames per
# second (best wall time of BENCH_RUNS runs), CPU seconds, peak memory, and
# how loaded the machine was (its load average before and after, and the
# CPUs it has), since the figure only means something beside that; and the
# size of the frames written.
#
# Generates BENCH_FRAMES synthetic frames (make-frames.py, turned into
# half-float ZIP OpenEXR by ffmpeg) in a temporary folder; nothing is left
# behind. Needs ffmpeg and /usr/bin/time (scripts/install-deps.sh has both).
#
#   bench/deep-bench.sh [KEYVALE-CLI OPTIONS...]     default: --exr-compression zip
#
#   KEYVALE_CLI   a built keyvale-cli (default: builds one in build/cli-bench, Release)
#   BENCH_FRAMES  frames (default 48)   BENCH_RUNS  runs (default 3)
#   BENCH_JOBS    frames keyed at once (default 2, the two cores the figure is for)
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
frames=${BENCH_FRAMES:-48}
runs=${BENCH_RUNS:-3}
jobs=${BENCH_JOBS:-2}
options=("$@")
[ ${#options[@]} -eq 0 ] && options=(--exr-compression zip)
command -v ffmpeg >/dev/null || { echo "deep-bench: needs ffmpeg" >&2; exit 1; }

# shellcheck source=bench/bench-cli.sh
source "$repo/bench/bench-cli.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/keyvale-deep-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "Generating $frames frames of 1920x1080 half-float OpenEXR in $work ..."
python3 "$repo/bench/make-frames.py" "$work/tga" "$frames" 1920 1080 >/dev/null
ffmpeg -loglevel error -start_number 0 -i "$work/tga/frame%03d.tga" -pix_fmt gbrpf32le -c:v exr -format half \
  -compression zip16 -start_number 1 "$work/in.%04d.exr"
rm -rf "$work/tga"
"$cli" key "$work/in.%04d.exr" --frames "1-$frames" --keyer plate --auto-adjust --settings-out "$work/shot.kvs" >/dev/null

load() { cut -d' ' -f1-3 /proc/loadavg; }
load_before=$(load)

# One run into a fresh folder: "WALL CPU PEAK-KB".
run_once() {
  rm -rf "$work/out"
  mkdir -p "$work/out"
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$cli" key "$work/in.%04d.exr" --frames "1-$frames" \
    --out-dir "$work/out" --format exr --settings "$work/shot.kvs" --jobs "$jobs" --quiet \
    "${options[@]}" >/dev/null
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time"
}

echo "Keying $frames frames with --jobs $jobs, best of $runs runs ..."
best=$(for run in $(seq "$runs"); do run_once; done | sort -n | head -n 1)
# shellcheck disable=SC2086  # three numbers
set -- $best
awk -v wall="$1" -v cpu="$2" -v peak="$3" -v frames="$frames" \
  'BEGIN { printf "wall %.2f s, %.1f frames/s, CPU %.2f s (%.1f ms a frame), peak memory %.0f MiB\n",
           wall, frames / wall, cpu, 1000 * cpu / frames, peak / 1024 }'
echo "load average before: $load_before; after: $(load); CPUs: $(nproc)"
# What the speed costs on disc: the compressed frames beside the input's.
size_of() { du -cb "$@" | tail -n 1 | cut -f1; }
awk -v written="$(size_of "$work"/out/*.exr)" -v read="$(size_of "$work"/in.*.exr)" -v frames="$frames" \
  'BEGIN { printf "output %.0f KiB a frame (input %.0f KiB a frame)\n", written / frames / 1024, read / frames / 1024 }'
exrheader "$work/out/in.0001.exr" 2>/dev/null | grep -E "compression|R, " || true
