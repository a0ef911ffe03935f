#!/usr/bin/env bash
# scripts/memcheck.sh
#
# Runs the native test suite and keyvale-cli on the bundled sample under
# valgrind memcheck: any invalid read or write, use of uninitialised memory
# or leak fails the run (exit 1). The suite runs as two valgrind processes
# at once, each half the cases (GoogleTest's sharding): valgrind runs a
# program on one CPU.
#
# Checks the debug build in KEYVALE_MEMCHECK_REUSE when given (scripts/test.sh
# gives its debug build, so nothing is compiled twice), and builds the
# debug preset in build/memcheck (its own folder, so it never disturbs
# another build) otherwise. A debug build links the video libraries, and on
# some CPUs Debian's FFmpeg loads a SIMD library whose start-up code
# valgrind stops on as an illegal instruction before main(): when valgrind
# cannot start the reused build's suite, the script builds its own without
# them (KEYVALE_VIDEO=OFF) instead. Clips are checked under AddressSanitizer
# and UBSan, not here: valgrind does not know FFmpeg's hand-written vector
# code, and a clip under it takes minutes. Left out under valgrind, and why:
#   *ForEvery*   the exhaustive sweeps (every colour, every levels setting,
#                every size, origin and encoding): millions of repetitions of
#                the same arithmetic, which run in full natively and under
#                AddressSanitizer + UBSan; under valgrind they alone would
#                take most of an hour.
#   *DeathTest*  caps the address space of a child process to make an
#                allocation fail; valgrind's own memory does not fit under
#                such a cap.
#   RenderAllocation.*
#                counts allocations by replacing operator new, which valgrind
#                replaces with its own (as AddressSanitizer does; there the
#                tests skip themselves).
#   ClipKeying.*, VideoModule.*
#                clips, as above (a build without the video libraries skips
#                them anyway).
#
#   KEYVALE_MEMCHECK_REUSE       a debug build folder to check (default: none)
#   KEYVALE_MEMCHECK_BUILD_DIR   build folder otherwise (default <repo>/build/memcheck)
#   KEYVALE_MEMCHECK_FILTER      the gtest filter (default as above)
#   KEYVALE_MEMCHECK_SHARDS      valgrind processes at once (default 2)
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
build=${KEYVALE_MEMCHECK_BUILD_DIR:-$repo/build/memcheck}
filter=${KEYVALE_MEMCHECK_FILTER:-"-*ForEvery*:*DeathTest*:RenderAllocation.*:ClipKeying.*:VideoModule.*"}
shards=${KEYVALE_MEMCHECK_SHARDS:-2}

if ! command -v valgrind >/dev/null; then
  echo "memcheck.sh: valgrind not found; install the Debian package valgrind" >&2
  exit 1
fi

# valgrind's own verdict gets an exit status of its own, so that a command
# expected to fail (status 1) is told apart from a memory error (99).
memcheck() {
  valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
    --suppressions="$repo/scripts/memcheck.supp" --error-exitcode=99 --quiet "$@"
}

failed=0
# expect STATUS COMMAND...: runs COMMAND under memcheck and wants STATUS.
expect() {
  local wanted=$1 status=0
  shift
  memcheck "$@" >/dev/null 2>"$out/stderr" || status=$?
  if [ "$status" -ne "$wanted" ]; then
    cat "$out/stderr" >&2
    echo "memcheck.sh: exit status $status, wanted $wanted: $*" >&2
    failed=1
  fi
}

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# valgrind_starts BUILD: valgrind gets the build's suite as far as main().
valgrind_starts() {
  [ -x "$1/tests/keyvale_tests" ] || return 1
  valgrind --tool=memcheck --quiet --error-exitcode=99 "$1/tests/keyvale_tests" --gtest_list_tests \
    >/dev/null 2>"$out/start" && return 0
  echo "memcheck.sh: valgrind cannot start the suite of $1:" >&2
  grep -m 5 -i "illegal\|unhandled\|SIGILL" "$out/start" >&2 || tail -n 5 "$out/start" >&2
  return 1
}

if [ -n "${KEYVALE_MEMCHECK_REUSE:-}" ] &&
  cmake --build "$KEYVALE_MEMCHECK_REUSE" -j2 --target keyvale_tests keyvale-cli >"$out/build" 2>&1 &&
  valgrind_starts "$KEYVALE_MEMCHECK_REUSE"; then
  build=$KEYVALE_MEMCHECK_REUSE
  echo "memcheck.sh: checking the build in $build"
else
  echo "memcheck.sh: building the debug preset without the video libraries in $build"
  cmake --preset debug -S "$repo" -B "$build" -DKEYVALE_VIDEO=OFF >/dev/null
  cmake --build "$build" -j2 --target keyvale_tests keyvale-cli
fi

# The shards at once, each into its own log, shown when it fails.
echo "memcheck.sh: keyvale_tests --gtest_filter=$filter, $shards processes"
for ((shard = 0; shard < shards; ++shard)); do
  (cd "$build/tests" && GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$shard \
    memcheck ./keyvale_tests --gtest_filter="$filter" --gtest_brief=1 >"$out/shard$shard" 2>&1) &
done
for ((shard = 0; shard < shards; ++shard)); do
  wait -n && continue
  failed=1
done
for ((shard = 0; shard < shards; ++shard)); do
  if [ "$failed" -ne 0 ] || grep -q "FAILED" "$out/shard$shard"; then cat "$out/shard$shard" >&2; fi
  grep -h "tests ran\|PASSED\|FAILED" "$out/shard$shard" || true
done

sample=$repo/samples/greenscreen.tga
cli=$build/cli/keyvale-cli
echo "memcheck.sh: keyvale-cli on $sample"
expect 0 "$cli" key "$sample" "$out/keyed.tga" --channel auto --auto-adjust
expect 0 "$cli" preview "$sample" --composite "$out/composite.tga" --matte "$out/matte.tga"
# A file that is refused, and an output that cannot be written.
expect 1 "$cli" key "$repo/CMakeLists.txt" "$out/refused.tga"
expect 1 "$cli" key "$sample" "$out/no such folder/keyed.tga"

if [ "$failed" -ne 0 ]; then
  echo "memcheck.sh: FAILED (see valgrind's report above)" >&2
  exit 1
fi
echo "memcheck.sh: clean"
