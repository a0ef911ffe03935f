#!/usr/bin/env bash
# bench/video-bench.sh: keyvale-cli keying footage, against FFmpeg's own
# command-line tool doing the same work in the same run.
#
# Generates a 1920x1080 H.264 green-screen clip (a graded backdrop with
# grain, a moving foreground patch) of BENCH_SECONDS seconds at 25 frames/s
# in a temporary folder, then keys it into ProRes 4444 .mov:
#   keyvale   keyvale-cli key clip.mp4 keyed.mov --channel green --contrast 40 --offset 20
#   ffmpeg    ffmpeg -i clip.mp4 -vf chromakey=...,despill -c:v prores_ks -profile:v 4444
#             -pix_fmt yuva444p10le ffmpeg.mov
# and reports for each the wall time, frames per second and peak resident
# memory, keyvale's share of CPU time per stage (colour conversion in and
# out, key, and decoding plus encoding),
# and the same for a clip six times as long, to show that memory does not
# grow with the clip. Nothing is left behind. The stage shares are of
# keyvale's CPU time: decoding and encoding run on the codecs' own threads.
#
#   KEYVALE_CLI     a built keyvale-cli (default: builds build/release's)
#   BENCH_SECONDS   the short clip's length (default 10)
#   BENCH_LONG      how many times longer the long clip is (default 6)
#   BENCH_RUNS      runs of each program, the best kept (default 1)
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
seconds=${BENCH_SECONDS:-10}
long=${BENCH_LONG:-6}
runs=${BENCH_RUNS:-1}
cli=${KEYVALE_CLI:-}
if [ -z "$cli" ]; then
  build=$repo/build/release
  [ -f "$build/CMakeCache.txt" ] || (cd "$repo" && cmake --preset release -DKEYVALE_WERROR=OFF > /dev/null)
  cmake --build "$build" -j2 --target keyvale-cli > /dev/null
  cli=$build/cli/keyvale-cli
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/keyvale-video-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

make_clip() {  # seconds path
  ffmpeg -v error -nostdin -y -f lavfi \
    -i "color=c=0x30b040:s=1920x1080:r=25,drawbox=x=200+t*60:y=300:w=600:h=500:color=0xc08060:t=fill,noise=alls=4:allf=t" \
    -t "$1" -c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p "$2"
}

# Prints "SECONDS PEAK_KIB CPU_SECONDS" of the best of $runs runs of the
# command. On a shared machine the CPU time (user + system) is the steadier
# figure; the wall time follows the other work.
measure() {
  local best="" peak="" cpu=""
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" > /dev/null 2> "$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
    read -r wall kib user system < "$work/time"
    if [ -z "$best" ] || awk "BEGIN { exit !($wall < $best) }"; then
      best=$wall; peak=$kib; cpu=$(awk "BEGIN { print $user + $system }")
    fi
  done
  echo "$best $peak $cpu"
}

report() {  # name frames seconds kib cpu
  awk -v n="$1" -v f="$2" -v s="$3" -v k="$4" -v c="$5" \
    'BEGIN { printf "%-22s %7.2f s  %6.1f fps  CPU %7.2f s  peak %6.1f MiB\n", n, s, f / s, c, k / 1024 }'
}

echo "Generating ${seconds} s and $((seconds * long)) s 1920x1080 H.264 clips ..."
make_clip "$seconds" "$work/short.mp4"
make_clip "$((seconds * long))" "$work/long.mp4"
frames=$((seconds * 25))
echo "CPU cores: $(nproc)"

read -r kv_s kv_kib kv_cpu < <(KEYVALE_CLIP_TIMES=1 measure "$cli" key "$work/short.mp4" "$work/keyed.mov" \
  --channel green --contrast 40 --offset 20 --quiet)
grep '^stages' "$work/stderr" > "$work/stages"
read -r ff_s ff_kib ff_cpu < <(measure ffmpeg -v error -nostdin -y -i "$work/short.mp4" \
  -vf "chromakey=0x30b040:0.12:0.08,despill=type=green" -c:v prores_ks -profile:v 4444 -pix_fmt yuva444p10le \
  -an "$work/ffmpeg.mov")
read -r long_s long_kib long_cpu < <(measure "$cli" key "$work/long.mp4" "$work/keyed-long.mov" --channel green --contrast 40 --offset 20 --quiet)

report "keyvale-cli ${seconds} s" "$frames" "$kv_s" "$kv_kib" "$kv_cpu"
report "ffmpeg ${seconds} s" "$frames" "$ff_s" "$ff_kib" "$ff_cpu"
report "keyvale-cli $((seconds * long)) s" "$((frames * long))" "$long_s" "$long_kib" "$long_cpu"
awk -v a="$kv_s" -v b="$ff_s" -v c="$kv_cpu" -v d="$ff_cpu" \
  'BEGIN { printf "ratio keyvale/ffmpeg: wall %.2f, CPU %.2f (goal: wall <= 0.80)\n", a / b, c / d }'
python3 - "$kv_cpu" "$work/stages" <<'PY'
import re, sys
cpu = float(sys.argv[1])
stages = [(name.strip(" ,"), float(value))
          for name, value in re.findall(r"([a-z ]+?) ([0-9.]+) s", open(sys.argv[2]).read().split(":", 1)[1])]
# Decoding and encoding run mostly on the codecs' own threads, which the
# per-stage clocks (CPU time of our threads) do not see: they are the rest.
ours = sum(value for _, value in stages)
print("shares of keyvale's CPU time (%.2f s): " % cpu +
      ", ".join("%s %.1f%%" % (name, 100 * value / cpu) for name, value in stages if name not in ("decode", "encode")) +
      ", decode + encode (codec threads) %.1f%%" % (100 * (cpu - ours + sum(v for n, v in stages if n in ("decode", "encode"))) / cpu))
PY
