#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS]
#
# Builds the libFuzzer targets in fuzz/ with clang (AddressSanitizer + UBSan)
# in build/fuzz and runs each for SECONDS (default 60), starting from the
# checked-in seeds in fuzz/corpus and keeping what it learns in
# build/fuzz/corpus. SECONDS = 0 only replays the seeds and the kept corpus:
# a quick regression check.
#
# Exits non-zero when a target crashes, leaks, times out or fails to build;
# the input that did it is saved under build/fuzz/artifacts and named in the
# summary. Reproduce with: build/fuzz/fuzz/<target> <artifact>
#
#   KEYVALE_FUZZ_BUILD_DIR   build folder (default <repo>/build/fuzz)
#   KEYVALE_FUZZ_CXX         the clang++ to use (default clang++-14, else clang++)
#   KEYVALE_FUZZ_TARGETS     which targets to run (default all of them)
#   KEYVALE_FUZZ_ARGS        more libFuzzer options, e.g. "-jobs=2 -workers=2"
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
seconds=${1:-60}
build=${KEYVALE_FUZZ_BUILD_DIR:-$repo/build/fuzz}
targets=${KEYVALE_FUZZ_TARGETS:-"fuzz_tga_reader fuzz_key_round_trip fuzz_preview fuzz_picture_input fuzz_clip_reader fuzz_plate_settings fuzz_exr_reader fuzz_tiff_reader"}

if ! [[ $seconds =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS]" >&2
  exit 2
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
cmake --build "$build" -j2 --target $targets >&2

# The PNG and JPEG readers are fuzzed only where this build links them.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=0
summary=()
for target in $targets; do
  binary=$build/fuzz/$target
  work=$build/corpus/$target
  artifacts=$build/artifacts/$target/
  log=$build/logs/$target.log
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  # shellcheck disable=SC2046
  set -- -timeout=10 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$artifacts" ${KEYVALE_FUZZ_ARGS:-}
  if [ "$seconds" -eq 0 ]; then
    set -- "$@" -runs=0
  else
    set -- "$@" -max_total_time="$seconds"
  fi
  echo "fuzz.sh: $target for ${seconds}s (log: $log)"
  # shellcheck disable=SC2046
  if "$binary" "$@" "$work" $(seeds_of "$target") >"$log" 2>&1; then
    result=ok
  else
    result="FAILED (exit $?)"
    failed=1
    grep -E "^(==[0-9]+==ERROR|SUMMARY|.*runtime error|artifact_prefix|Test unit written)" "$log" | head -20 >&2 || true
    tail -5 "$log" >&2
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  corpus=$(find "$work" -type f | wc -l)
  summary+=("$(printf '%-22s %-18s %12s runs %8s/s  corpus %5s' "$target" "$result" "${runs:-?}" "${rate:-?}" "$corpus")")
done

echo
echo "fuzz.sh summary (${seconds}s per target):"
printf '  %s\n' "${summary[@]}"
if [ "$failed" -ne 0 ]; then
  echo "fuzz.sh: a target failed; the inputs are in $build/artifacts" >&2
  exit 1
fi
