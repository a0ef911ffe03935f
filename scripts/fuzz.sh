#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS]
# scripts/fuzz.sh --budget WALL_SECONDS
#
# Builds the libFuzzer targets in fuzz/ with clang (AddressSanitizer + UBSan)
# in build/fuzz and runs each for SECONDS (default 60), starting from the
# checked-in seeds in fuzz/corpus and keeping what it learns in
# build/fuzz/corpus. SECONDS = 0 only replays the seeds and the kept corpus:
# a quick regression check. Targets run KEYVALE_FUZZ_PARALLEL at a time (a
# libFuzzer process uses one core), so the run takes about SECONDS x
# targets / parallel.
#
# --budget WALL_SECONDS shares a wall time out instead: the targets run in
# rounds of KEYVALE_FUZZ_PARALLEL, each for WALL_SECONDS / rounds (at least
# 20 s), so the fuzzing takes the same time however many targets there are.
# scripts/test.sh fuzzes so.
#
# Exits non-zero when a target crashes, leaks, times out or fails to build;
# the input that did it is saved under build/fuzz/artifacts and named in the
# summary. Reproduce with: build/fuzz/fuzz/<target> <artifact>
#
#   KEYVALE_FUZZ_BUILD_DIR   build folder (default <repo>/build/fuzz)
#   KEYVALE_FUZZ_CXX         the clang++ to use (default clang++-14, else clang++)
#   KEYVALE_FUZZ_TARGETS     which targets to run (default all of them)
#   KEYVALE_FUZZ_PARALLEL    targets at once (default: the CPUs this process may use)
#   KEYVALE_FUZZ_ARGS        more libFuzzer options, e.g. "-runs=10000000"
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
budget=
if [ "${1:-}" = --budget ]; then
  budget=${2:-}
  [[ $budget =~ ^[0-9]+$ ]] || { echo "usage: scripts/fuzz.sh [SECONDS | --budget WALL_SECONDS]" >&2; exit 2; }
  set -- "$budget"
fi
seconds=${1:-60}
parallel=${KEYVALE_FUZZ_PARALLEL:-$(nproc)}
build=${KEYVALE_FUZZ_BUILD_DIR:-$repo/build/fuzz}
targets=${KEYVALE_FUZZ_TARGETS:-"fuzz_tga_reader fuzz_key_round_trip fuzz_preview fuzz_picture_input fuzz_clip_reader fuzz_plate_settings fuzz_exr_reader fuzz_tiff_reader"}

if ! [[ $seconds =~ ^[0-9]+$ && $parallel =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS | --budget WALL_SECONDS]; KEYVALE_FUZZ_PARALLEL a count" >&2
  exit 2
fi
# shellcheck disable=SC2086  # a list of names
set -- $targets
if [ -n "$budget" ] && [ "$budget" -gt 0 ]; then
  rounds=$(((${#} + parallel - 1) / parallel))
  seconds=$((budget / rounds))
  [ "$seconds" -ge 20 ] || seconds=20
fi

cxx=${KEYVALE_FUZZ_CXX:-}
if [ -z "$cxx" ]; then
  for candidate in clang++-14 clang++; do
    if command -v "$candidate" >/dev/null; then cxx=$candidate; break; fi
  done
fi
if [ -z "$cxx" ]; then
  echo "fuzz.sh: no clang++ found; install the Debian packages clang-14 and libclang-rt-14-dev" >&2
  exit 1
fi

# Where each target's seeds live in fuzz/corpus.
seeds_of() {
  case $1 in
    fuzz_picture_input) echo "$repo/fuzz/corpus/picture" ;;
    fuzz_clip_reader) echo "$repo/fuzz/corpus/clip" ;;
    fuzz_plate_settings) echo "$repo/fuzz/corpus/settings" ;;
    fuzz_exr_reader) echo "$repo/fuzz/corpus/exr" ;;
    fuzz_tiff_reader) echo "$repo/fuzz/corpus/tiff" ;;
    *) echo "$repo/fuzz/corpus/tga" ;;
  esac
}

echo "fuzz.sh: building the fuzz targets with $cxx in $build"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKEYVALE_BUILD_FUZZ=ON -DKEYVALE_BUILD_TESTS=OFF -DKEYVALE_WERROR=OFF >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log" >&2; echo "fuzz.sh: configuring failed" >&2; exit 1; }
# shellcheck disable=SC2086  # a list of names
cmake --build "$build" -j2 --target $targets >&2

# The PNG and JPEG readers are fuzzed only where this build links them.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# fuzz_one TARGET: runs one target; its summary line goes to logs/TARGET.result
# and its exit status to logs/TARGET.status.
fuzz_one() {
  local target=$1 binary=$build/fuzz/$1 work=$build/corpus/$1 artifacts=$build/artifacts/$1/
  local log=$build/logs/$1.log result status=0 runs rate corpus
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  # shellcheck disable=SC2086  # options, split as given
  set -- -timeout=10 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$artifacts" ${KEYVALE_FUZZ_ARGS:-}
  if [ "$seconds" -eq 0 ]; then
    set -- "$@" -runs=0
  else
    set -- "$@" -max_total_time="$seconds"
  fi
  # shellcheck disable=SC2046
  "$binary" "$@" "$work" $(seeds_of "$target") >"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then result=ok; else result="FAILED (exit $status)"; fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  corpus=$(find "$work" -type f | wc -l)
  printf '%-22s %-18s %12s runs %8s/s  corpus %5s\n' "$target" "$result" "${runs:-?}" "${rate:-?}" "$corpus" \
    >"$build/logs/$target.result"
  echo "$status" >"$build/logs/$target.status"
}

mkdir -p "$build/logs"
for target in $targets; do
  rm -f "$build/logs/$target.result" "$build/logs/$target.status"
  # A free slot first: at most $parallel targets at once.
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  echo "fuzz.sh: $target for ${seconds}s (log: $build/logs/$target.log)"
  fuzz_one "$target" &
done
wait

failed=0
summary=()
for target in $targets; do
  log=$build/logs/$target.log
  if [ "$(cat "$build/logs/$target.status" 2>/dev/null)" != 0 ]; then
    failed=1
    echo "fuzz.sh: $target failed:" >&2
    grep -E "^(==[0-9]+==ERROR|SUMMARY|.*runtime error|artifact_prefix|Test unit written)" "$log" | head -20 >&2 || true
    tail -5 "$log" >&2
  fi
  summary+=("$(cat "$build/logs/$target.result" 2>/dev/null || echo "$target: no result")")
done

echo
echo "fuzz.sh summary (${seconds}s per target, $parallel at a time):"
printf '  %s\n' "${summary[@]}"
if [ "$failed" -ne 0 ]; then
  echo "fuzz.sh: a target failed; the inputs are in $build/artifacts" >&2
  exit 1
fi
