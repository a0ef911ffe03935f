#!/usr/bin/env bash
# bench/run-bench.sh: keyvale against the least its work can cost, measured
# in one run so that the ratios hold on a noisy machine.
#
# Generates its inputs in a temporary folder (nothing large is kept): the
# synthetic green-screen scene at 8000 x 6000 as an uncompressed (type 2)
# and a run-length (type 10) 24-bit Targa file, and at 30000 x 20000 for
# memory. Then, in the same run and the same folder:
#   save    keyvale-cli key  vs  keyvale_floor (read the input, write as many
#           output bytes through fixed 1 MiB buffers); target ratio <= 1.5
#   memory  peak resident memory of keyvale-cli key, also with --channel auto
#           --auto-adjust (which reads the preview first); target <= 64 MiB
#   open    keyvale_open (Open's read into the preview) vs keyvale_floor
#           --read (the floor's read alone); target ratio <= 1.5
#   render  the Google Benchmark medians of one render and of a memcpy of
#           the same bytes; target <= 50 us, no allocation
# Timed programs run alternately, BENCH_RUNS times each; the figures are
# medians of wall-clock time and of CPU time (user + system). Both outputs of
# each save are compared, so a fast wrong answer cannot pass.
#
#   bench/run-bench.sh [--no-huge]     --no-huge: skip 30000 x 20000
#
#   KEYVALE_BENCH_BUILD  a release build folder with the benchmarks (default:
#                        build/release, configured with the release preset)
#   BENCH_RUNS           timed runs of each program (default 7)
#   BENCH_TMP            the folder to work in (default: a new one in $TMPDIR)
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
runs=${BENCH_RUNS:-7}
huge=yes
[ "${1:-}" = "--no-huge" ] && huge=no

build=${KEYVALE_BENCH_BUILD:-$repo/build/release}
if [ ! -f "$build/CMakeCache.txt" ]; then
  # A compiler warning elsewhere must not stop a measurement: the code is the
  # same with or without -Werror.
  (cd "$repo" && cmake --preset release -B "$build" -DKEYVALE_WERROR=OFF > /dev/null)
fi
cmake --build "$build" -j2 --target keyvale-cli keyvale_bench keyvale_floor keyvale_make_tga keyvale_open > /dev/null
cli=$build/cli/keyvale-cli
floor=$build/bench/keyvale_floor
open=$build/bench/keyvale_open
make_tga=$build/bench/keyvale_make_tga

work=${BENCH_TMP:-$(mktemp -d "${TMPDIR:-/tmp}/keyvale-bench.XXXXXX")}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# timed NAME COMMAND...: runs the command once, appending its wall-clock
# seconds to wall_NAME and its user + system seconds to cpu_NAME (bash's
# own timing: milliseconds, from the kernel's accounting of the child).
timed() {
  local name=$1 real user system
  shift
  { TIMEFORMAT='%3R %3U %3S'; time "$@" > /dev/null 2> "$work/stderr.txt"; } 2> "$work/time.txt"
  read -r real user system < "$work/time.txt"
  eval "wall_$name+=($real)"
  eval "cpu_$name+=($(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.3f", u + s }'))"
}

# peak_rss COMMAND...: the command's maximum resident set size in KiB.
peak_rss() {
  /usr/bin/time -v -o "$work/rss.txt" "$@" > /dev/null
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/rss.txt"
}

declare -a report=()
line() { report+=("$(printf "$@")"); }

# compare WHAT MEASURED BASELINE MEASURED-LABEL BASELINE-LABEL: one report
# line with the medians of both programs' runs, wall and CPU, and their ratios.
compare() {
  local what=$1 measured=$2 baseline=$3 mw bw mc bc
  eval 'mw=$(median "${wall_'"$measured"'[@]}"); bw=$(median "${wall_'"$baseline"'[@]}")'
  eval 'mc=$(median "${cpu_'"$measured"'[@]}"); bc=$(median "${cpu_'"$baseline"'[@]}")'
  line "%s  %s %.3f s / %s %.3f s wall = %sx   (CPU %.3f s / %.3f s = %sx)   target <= 1.5x" \
    "$what" "$4" "$mw" "$5" "$bw" "$(ratio "$mw" "$bw")" "$mc" "$bc" "$(ratio "$mc" "$bc")"
}

echo "Generating the inputs in $work ..."
"$make_tga" 8000 6000 2 "$work/scene2.tga"
"$make_tga" 8000 6000 10 "$work/scene10.tga"

# One untimed run of each first: the files are in the page cache from here on.
"$floor" "$work/scene2.tga" "$work/floor.tga"
"$cli" key "$work/scene2.tga" "$work/keyed2.tga" --contrast 40 --offset 20 > /dev/null
"$cli" key "$work/scene10.tga" "$work/keyed10.tga" --contrast 40 --offset 20 > /dev/null
cmp -s "$work/keyed2.tga" "$work/keyed10.tga" || { echo "type 2 and type 10 keyed differently" >&2; exit 1; }

for type in 2 10; do
  echo "Timing the save of the type-$type file, $runs runs each ..."
  declare -a "wall_floor$type=()" "cpu_floor$type=()" "wall_key$type=()" "cpu_key$type=()"
  for ((run = 0; run < runs; run++)); do
    rm -f "$work/floor.tga" "$work/keyed.tga"
    timed "floor$type" "$floor" "$work/scene$type.tga" "$work/floor.tga"
    timed "key$type" "$cli" key "$work/scene$type.tga" "$work/keyed.tga" --contrast 40 --offset 20
  done
  cmp -s "$work/keyed.tga" "$work/keyed2.tga" || { echo "the timed save differs" >&2; exit 1; }
  compare "$(printf 'save  8000x6000 type %-2s' "$type")" "key$type" "floor$type" key floor
done

echo "Timing Open's read, $runs runs each ..."
for type in 2 10; do
  declare -a "wall_read$type=()" "cpu_read$type=()" "wall_open$type=()" "cpu_open$type=()"
  for ((run = 0; run < runs; run++)); do
    timed "read$type" "$floor" "$work/scene$type.tga" --read
    timed "open$type" "$open" "$work/scene$type.tga"
  done
  compare "$(printf 'open  8000x6000 type %-2s' "$type")" "open$type" "read$type" open "floor read"
done

echo "Measuring peak memory ..."
rm -f "$work/keyed.tga" "$work/floor.tga"
for type in 2 10; do
  plain=$(peak_rss "$cli" key "$work/scene$type.tga" "$work/keyed.tga")
  auto=$(peak_rss "$cli" key "$work/scene$type.tga" "$work/keyed.tga" --channel auto --auto-adjust)
  line "memory 8000x6000 type %-2s  key %s MiB, with --channel auto --auto-adjust %s MiB   target <= 64 MiB" \
    "$type" "$(mib "$plain")" "$(mib "$auto")"
done
rm -f "$work/keyed.tga" "$work/keyed2.tga" "$work/keyed10.tga" "$work/scene10.tga"

if [ "$huge" = yes ]; then
  echo "Generating and keying 30000 x 20000 (1.8 GB in, 2.4 GB out) ..."
  "$make_tga" 30000 20000 2 "$work/huge.tga"
  declare -a wall_hugefloor=() cpu_hugefloor=() wall_hugekey=() cpu_hugekey=()
  rm -f "$work/scene2.tga"
  # Gigabytes of output wait for the disk: each run starts with nothing
  # left to write back, so that none pays for the one before.
  sync
  timed hugefloor "$floor" "$work/huge.tga" "$work/floor.tga"
  rm -f "$work/floor.tga"
  sync
  timed hugekey /usr/bin/time -v -o "$work/rss.txt" "$cli" key "$work/huge.tga" "$work/keyed.tga"
  plain=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/rss.txt")
  rm -f "$work/keyed.tga"
  sync
  auto=$(peak_rss "$cli" key "$work/huge.tga" "$work/keyed.tga" --channel auto --auto-adjust)
  rm -f "$work/keyed.tga" "$work/huge.tga"
  line "memory 30000x20000 type 2  key %s MiB, with --channel auto --auto-adjust %s MiB   target <= 64 MiB" \
    "$(mib "$plain")" "$(mib "$auto")"
  line "save  30000x20000 type 2   key %.2f s / floor %.2f s wall = %sx   (CPU %.2f s / %.2f s = %sx)   one run each" \
    "${wall_hugekey[0]}" "${wall_hugefloor[0]}" "$(ratio "${wall_hugekey[0]}" "${wall_hugefloor[0]}")" \
    "${cpu_hugekey[0]}" "${cpu_hugefloor[0]}" "$(ratio "${cpu_hugekey[0]}" "${cpu_hugefloor[0]}")"
fi

echo "Running the Google Benchmarks ..."
bench=$build/bench/keyvale_bench
"$bench" --benchmark_filter='^BM_Render' --benchmark_format=csv > "$work/render.csv" 2> /dev/null
"$bench" --benchmark_filter='^BM_(Memcpy|Dominant|KeyAndLevel|Decode|ReadPreview)' --benchmark_format=csv \
  > "$work/bench.csv" 2> /dev/null
# Rows are name,iterations,real_time,cpu_time,time_unit,...: the medians only.
benchmark() {
  awk -F, -v n="\"$1_median\"" '$1 == n { printf "%.1f %s real, %.1f %s CPU", $3, $5, $4, $5 }' "$work"/*.csv
}
# The render's "allocations" counter, made in its median run; empty if the
# benchmark stopped with an error (it does when the render allocates).
allocations() {
  awk -F, -v n="\"$1_median\"" 'NR == 1 { for (i = 1; i <= NF; ++i) if ($i ~ /allocations/) column = i }
                                 $1 == n { print $column }' "$work/render.csv"
}
line "render (240x160, green)     %s; memcpy of the same bytes %s   target <= 50 us" \
  "$(benchmark 'BM_Render/1/repeats:15')" "$(benchmark 'BM_MemcpyPreview/repeats:15')"
line "render (240x160, red)       %s" "$(benchmark 'BM_Render/0/repeats:15')"
line "render allocations          %s   target 0" "$(allocations 'BM_Render/1/repeats:15')"
line "dominantChannel+autoAdjust  %s" "$(benchmark 'BM_DominantChannelAndAutoAdjust/repeats:15')"
line "keyAndLevel per Mpixel      %s" "$(benchmark 'BM_KeyAndLevelPerMegapixel/repeats:9')"
line "decode type 2 per Mpixel    %s" "$(benchmark 'BM_DecodeUncompressedPerMegapixel/repeats:9')"
line "decode type 10 per Mpixel   %s" "$(benchmark 'BM_DecodeRunLengthPerMegapixel/repeats:9')"
line "readPreview 4000x3000 mem.  type 2: %s; type 10: %s" \
  "$(benchmark 'BM_ReadPreviewUncompressed12Megapixels/repeats:9')" "$(benchmark 'BM_ReadPreviewRunLength12Megapixels/repeats:9')"

echo
echo "keyvale bench, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%s\n' "${report[@]}"
