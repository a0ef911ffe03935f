#!/usr/bin/env bash
# bench/cli-batch.sh: how fast keyvale-cli keys a batch, on one core and two.
#
# Generates 20 synthetic 1920x1080 green-screen Targa frames (make-frames.py,
# beside this script) in a temporary folder, keys them with --jobs 1 and
# --jobs 2 (best of several runs each), checks that both give the same
# bytes, and reports frames per second and the speed-up. Nothing is left
# behind.
#
#   bench/cli-batch.sh [KEYVALE-CLI OPTIONS...]
#       options for every run; default: --channel auto --auto-adjust
#
#   KEYVALE_CLI      a built keyvale-cli to measure (default: builds one in
#                    build/cli-bench, Release)
#   BENCH_FRAMES     frames (default 20)     BENCH_RUNS  runs per setting (default 3)
#   BENCH_SIZE       WIDTHxHEIGHT (default 1920x1080)
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
frames=${BENCH_FRAMES:-20}
runs=${BENCH_RUNS:-3}
size=${BENCH_SIZE:-1920x1080}
options=("$@")
[ ${#options[@]} -eq 0 ] && options=(--channel auto --auto-adjust)

cli=${KEYVALE_CLI:-}
if [ -z "$cli" ]; then
  echo "Building keyvale-cli (Release) in build/cli-bench ..."
  cmake -S "$repo" -B "$repo/build/cli-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKEYVALE_BUILD_TESTS=OFF -DKEYVALE_BUILD_BENCH=OFF > /dev/null
  cmake --build "$repo/build/cli-bench" --target keyvale-cli -j2 > /dev/null
  cli=$repo/build/cli-bench/cli/keyvale-cli
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/keyvale-cli-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "Generating $frames frames of $size in $work ..."
python3 "$repo/bench/make-frames.py" "$work/in" "$frames" "${size%x*}" "${size#*x}"

now_ns() { date +%s%N; }

# key_once JOBS: keys every frame once and prints the nanoseconds it took.
key_once() {
  local jobs=$1 start end
  rm -rf "$work/out$jobs"
  start=$(now_ns)
  "$cli" key "$work"/in/*.tga --out-dir "$work/out$jobs" --jobs "$jobs" --quiet "${options[@]}" > /dev/null
  end=$(now_ns)
  echo $((end - start))
}

"$cli" key "$work"/in/frame000.tga "$work/warm.tga" --quiet "${options[@]}" > /dev/null  # warm the caches
# The two settings take turns, so a burst of other work on the machine
# does not fall on one of them only; the best run of each is kept.
best1="" best2=""
for ((run = 0; run < runs; run++)); do
  t=$(key_once 1); if [ -z "$best1" ] || [ "$t" -lt "$best1" ]; then best1=$t; fi
  t=$(key_once 2); if [ -z "$best2" ] || [ "$t" -lt "$best2" ]; then best2=$t; fi
done
one=$(awk -v ns="$best1" 'BEGIN { printf "%.3f", ns / 1e9 }')
two=$(awk -v ns="$best2" 'BEGIN { printf "%.3f", ns / 1e9 }')
if ! diff -rq "$work/out1" "$work/out2" > /dev/null; then
  echo "cli-batch: --jobs 1 and --jobs 2 wrote different files" >&2
  exit 1
fi

echo
echo "keyvale-cli key, $frames frames of $size, options: ${options[*]} (best of $runs runs)"
awk -v n="$frames" -v a="$one" -v b="$two" -v cores="$(nproc)" 'BEGIN {
  printf "  --jobs 1: %7.3f s  %6.1f frames/s\n", a, n / a
  printf "  --jobs 2: %7.3f s  %6.1f frames/s\n", b, n / b
  printf "  speed-up: %.2fx on %d cores (aim: 1.8x or more on 2)\n", a / b, cores
}'
