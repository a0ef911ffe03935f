#!/usr/bin/env bash
# scripts/test.sh: builds every configuration and runs every test suite.
#
# Stages, in order: the native debug build and its tests, the same under
# AddressSanitizer + UndefinedBehaviorSanitizer, the x86_64 Windows build with
# its tests run under Wine through scripts/wine-run (one Wine prefix for the
# whole run), the i686 release build with a check of keyvale.exe, then
# fuzzing, memory checking, the end-to-end test of the window and the
# packages (the .deb and the Windows zips, made, installed and run), each
# its own script. Every stage runs even after a failure, so one run shows
# everything that is wrong. Build output goes to build/test-logs/ and is
# shown only when a build fails.
#
# Closes with "N passed, N failed" counted in test cases over all stages and
# exits non-zero on any failure. A script stage counts as its script's own
# closing "N passed, N failed" line when it prints one, else as one case.
#
#   KEYVALE_WINEPREFIX   the Wine prefix (default: build/wineprefix)
#   KEYVALE_BUILD_ROOT   where the build folders go, one per preset
#                        (default: build, as the presets say)
#   KEYVALE_STAGES       only these stages, e.g. "debug win64" (default: all)
#   KEYVALE_FUZZ_BUDGET  the fuzz stage's fuzzing time in wall seconds, shared
#                        out over its targets, two at a time on two CPUs
#                        (default: 180, a minute each for six targets)
set -uo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
cd "$repo" || exit 1
logs=$repo/build/test-logs
mkdir -p "$logs"
export KEYVALE_WINEPREFIX=${KEYVALE_WINEPREFIX:-$repo/build/wineprefix}
build_root=${KEYVALE_BUILD_ROOT:-$repo/build}

total_passed=0
total_failed=0
total_skipped=0
summary=()

# record STAGE SECONDS PASSED FAILED [SKIPPED]: adds a stage to the totals.
record() {
  total_passed=$((total_passed + $3))
  total_failed=$((total_failed + $4))
  total_skipped=$((total_skipped + ${5:-0}))
  summary+=("$(printf '%-9s %4ss  %s passed, %s failed' "$1" "$2" "$3" "$4")")
}

wanted() {
  [ -z "${KEYVALE_STAGES:-}" ] || [[ " $KEYVALE_STAGES " == *" $1 "* ]]
}

# quietly LOG COMMAND...: runs a command into a log; shows the log's end if it fails.
quietly() {
  local log=$1
  shift
  if "$@" >"$log" 2>&1; then
    return 0
  fi
  echo "FAILED: $*  (full log: $log)"
  tail -n 60 "$log"
  return 1
}

# configure_and_build PRESET [CMAKE OPTIONS...]: one build folder per preset.
configure_and_build() {
  local preset=$1
  shift
  quietly "$logs/$preset-configure.log" cmake --preset "$preset" -B "$build_root/$preset" "$@" &&
    quietly "$logs/$preset-build.log" cmake --build "$build_root/$preset" -j 2
}

# gtest_report_dir DIR PRESET: the report folder as the test programs name it.
# GoogleTest on Windows takes only drive paths as absolute, and Wine shows the
# Linux root as drive Z:.
gtest_report_dir() {
  if [ "$2" = win64 ]; then
    local windows_path=${1//\//\\}
    echo "Z:$windows_path\\"
  else
    echo "$1/"
  fi
}

# run_ctest PRESET: runs the preset's tests, then prints "PASSED FAILED SKIPPED".
run_ctest() {
  local build=$build_root/$1 status=0 counts
  local reports=$build/gtest-reports
  rm -rf "$reports" "$build/ctest-junit.xml"
  mkdir -p "$reports"
  ctest --test-dir "$build" --show-only=json-v1 >"$build/ctest-tests.json" 2>/dev/null
  # Progress and failures go to the terminal; the counts go to stdout.
  # The sanitizer build's tests say where a fault came from.
  GTEST_OUTPUT="xml:$(gtest_report_dir "$reports" "$1")" \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} ctest --test-dir "$build" -j 2 --timeout 900 \
    --output-on-failure --output-junit "$build/ctest-junit.xml" >&2 || status=$?
  counts=$(python3 "$repo/scripts/count-tests.py" "$build/ctest-tests.json" \
    "$build/ctest-junit.xml" "$reports") || counts="0 1 0"
  # shellcheck disable=SC2086  # three numbers
  set -- $counts
  # A ctest that failed (or found no test) without a counted failure still fails.
  if { [ "$status" -ne 0 ] || [ $(($1 + $2 + $3)) -eq 0 ]; } && [ "$2" -eq 0 ]; then
    set -- "$1" 1 "$3"
  fi
  echo "$1 $2 $3"
}

# native_stage PRESET: configure, build and test one native or Wine preset.
native_stage() {
  local preset=$1 start=$SECONDS counts
  echo "=== $preset: configure, build, test"
  if ! configure_and_build "$preset"; then
    record "$preset" $((SECONDS - start)) 0 1
    return
  fi
  counts=$(run_ctest "$preset")
  # shellcheck disable=SC2086  # three numbers
  record "$preset" $((SECONDS - start)) ${counts:-0 1 0}
}

# pe_check EXE: a PE32 (32-bit) GUI program that needs no MinGW runtime DLL.
pe_check() {
  local dump
  dump=$(i686-w64-mingw32-objdump -p "$1" 2>&1) || { echo "$1: not a 32-bit PE file"; return 1; }
  grep -q 'file format pei-i386' <<<"$dump" || { echo "$1: not a 32-bit PE file"; return 1; }
  grep -Eq 'Subsystem[[:space:]]+0*2[[:space:]]' <<<"$dump" || { echo "$1: not a GUI program"; return 1; }
  if grep -Ei 'DLL Name: *(libstdc\+\+|libgcc|libwinpthread)' <<<"$dump"; then
    echo "$1: needs the MinGW runtime DLLs above"
    return 1
  fi
  echo "$1: PE32 GUI program; imports only $(grep -i 'DLL Name' <<<"$dump" | awk '{print $3}' | sort -u | tr '\n' ' ')"
}

win32_stage() {
  local start=$SECONDS exe=$build_root/win32/app/keyvale.exe
  echo "=== win32: configure, build, check keyvale.exe"
  # Only the program is needed here: the tests run in the x86_64 build.
  if ! configure_and_build win32 -DKEYVALE_BUILD_TESTS=OFF; then
    record win32 $((SECONDS - start)) 0 1
  elif pe_check "$exe"; then
    record win32 $((SECONDS - start)) 1 0
  else
    record win32 $((SECONDS - start)) 0 1
  fi
}

# script_stage NAME SCRIPT [ARGUMENTS...]: runs a later stage's own script.
script_stage() {
  local name=$1 script=$2 start=$SECONDS log=$logs/$1.log status=0 line
  shift 2
  echo "=== $name: $script $*"
  bash "$script" "$@" </dev/null 2>&1 | tee "$log" || status=$?
  line=$(grep -Eo '^([[:alnum:]_.-]+: *)?[0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1 |
    grep -Eo '[0-9]+ passed, [0-9]+ failed' || true)
  if [ -n "$line" ]; then
    # shellcheck disable=SC2046  # two numbers
    set -- $(grep -Eo '[0-9]+' <<<"$line")
    local failed=$2 skipped
    [ "$status" -ne 0 ] && [ "$failed" -eq 0 ] && failed=1
    skipped=$(grep -Eo '[0-9]+ passed, [0-9]+ failed, [0-9]+ skipped' "$log" | tail -n 1 | grep -Eo '[0-9]+$' || true)
    record "$name" $((SECONDS - start)) "$1" "$failed" "${skipped:-0}"
  elif [ "$status" -eq 0 ]; then
    record "$name" $((SECONDS - start)) 1 0
  else
    record "$name" $((SECONDS - start)) 0 1
  fi
}

run_start=$SECONDS
deps_start=$SECONDS
echo "=== dependencies"
if "$repo/scripts/install-deps.sh" </dev/null; then
  record deps $((SECONDS - deps_start)) 0 0
else
  record deps $((SECONDS - deps_start)) 0 1
fi

wanted debug && native_stage debug
wanted asan && native_stage asan
wanted win64 && native_stage win64
wanted win32 && win32_stage
# The later stages reuse the builds above, when those stages ran, rather than
# make their own copies.
[ -f "$build_root/win64/app/keyvale.exe" ] && export KEYVALE_EXE=$build_root/win64/app/keyvale.exe
[ -x "$build_root/debug/cli/keyvale-cli" ] && export KEYVALE_CLI=$build_root/debug/cli/keyvale-cli
# The memory check checks the debug build; only where valgrind cannot start
# a program linked with the video libraries does it build its own copy
# (build/memcheck, without them).
[ -x "$build_root/debug/tests/keyvale_tests" ] && export KEYVALE_MEMCHECK_REUSE=$build_root/debug
export KEYVALE_MEMCHECK_BUILD_DIR=${KEYVALE_MEMCHECK_BUILD_DIR:-$build_root/memcheck}
# Later stages: one line each. Fuzzing here is a short regression run whose
# wall time stays KEYVALE_FUZZ_BUDGET as targets are added; long campaigns
# run scripts/fuzz.sh alone.
wanted fuzz && script_stage fuzz "$repo/scripts/fuzz.sh" --budget "${KEYVALE_FUZZ_BUDGET:-180}"
wanted memcheck && script_stage memcheck "$repo/scripts/memcheck.sh"
wanted e2e && script_stage e2e "$repo/tests/e2e/run.sh"
wanted package && script_stage package "$repo/tests/package/run.sh"
# A shot keyed as a Slurm array job on a one-node cluster of its own, and
# a run resumed after kill -9 (needs the debug build's keyvale-cli).
wanted slurm && script_stage slurm "$repo/scripts/slurm-test.sh"

echo
echo "=== summary (seconds per stage)"
printf '%s\n' "${summary[@]}"
echo "total     $((SECONDS - run_start))s"
if [ "$total_skipped" -gt 0 ]; then
  echo "$total_passed passed, $total_failed failed, $total_skipped skipped"
else
  echo "$total_passed passed, $total_failed failed"
fi
[ "$total_failed" -eq 0 ]
