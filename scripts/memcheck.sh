#!/usr/bin/env bash
# scripts/memcheck.sh
#
# Runs the native test suite and keyvale-cli on the bundled sample under
# valgrind memcheck: any invalid read or write, use of uninitialised memory
# or leak fails the run (exit 1).
#
# Builds the debug preset in build/memcheck (its own folder, so it never
# disturbs another build), without the video libraries: Debian's FFmpeg
# loads a SIMD library whose start-up code valgrind stops on as an illegal
# instruction before main(). Clips are checked under AddressSanitizer and
# UBSan instead. Left out under valgrind, and why:
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
#
#   KEYVALE_MEMCHECK_BUILD_DIR   build folder (default <repo>/build/memcheck)
#   KEYVALE_MEMCHECK_FILTER      the gtest filter (default as above)
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
build=${KEYVALE_MEMCHECK_BUILD_DIR:-$repo/build/memcheck}
filter=${KEYVALE_MEMCHECK_FILTER:-"-*ForEvery*:*DeathTest*:RenderAllocation.*"}

if ! command -v valgrind >/dev/null; then
  echo "memcheck.sh: valgrind not found; install the Debian package valgrind" >&2
  exit 1
fi

cmake --preset debug -B "$build" -DKEYVALE_VIDEO=OFF >/dev/null
cmake --build "$build" -j2 --target keyvale_tests keyvale-cli

# valgrind's own verdict gets an exit status of its own, so that a command
# expected to fail (status 1) is told apart from a memory error (99).
memcheck() {
  valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
    --error-exitcode=99 --quiet "$@"
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

echo "memcheck.sh: keyvale_tests --gtest_filter=$filter"
(cd "$build/tests" && memcheck ./keyvale_tests --gtest_filter="$filter" --gtest_brief=1) || failed=1

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
