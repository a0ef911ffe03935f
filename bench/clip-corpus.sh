#!/usr/bin/env bash
# bench/clip-corpus.sh DIR: keys every file under DIR as a new user would
# (keyvale-cli key CLIP OUT.mkv --channel auto --auto-adjust) with the
# AddressSanitizer build, and sorts each into
#   keyed     exit 0
#   refused   exit 1 with a reason (the reason is printed)
#   fault     a crash, a sanitizer report, a hang (over BENCH_TIMEOUT
#             seconds) or any other exit
# then prints the three counts. Exits 1 when there was a fault. Point it at
# your own footage, at the folder bench/make-clip-corpus.sh makes, or at the
# public test files bench/fetch-public-clips.sh brings.
#
#   KEYVALE_CLI     the keyvale-cli to run (default: builds build/asan's)
#   BENCH_TIMEOUT   seconds a clip may take (default 300)
#   BENCH_VALGRIND  1: run each under valgrind's memcheck as well
#   BENCH_OUTPUT    the output's name, which picks its codec (default out.mkv)
#   BENCH_OPTIONS   the key's options instead of the new user's, e.g.
#                   "--keyer plate --steady-matte --matte-out matte.mov";
#                   a relative output name among them lands beside the output
#
# A run that leaves a temporary file behind, or a refused one that leaves
# an output (but for frames that could not be decoded: those are reported,
# the rest keyed, and the run exits 1), counts as a fault too.
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
dir=$(readlink -f "${1:?usage: bench/clip-corpus.sh DIR}")
limit=${BENCH_TIMEOUT:-300}
cli=${KEYVALE_CLI:-}
if [ -z "$cli" ]; then
  [ -d "$repo/build/asan" ] || cmake --preset asan -S "$repo" >/dev/null
  cmake --build "$repo/build/asan" -j2 --target keyvale-cli >/dev/null
  cli=$repo/build/asan/cli/keyvale-cli
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:exitcode=99}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1:exitcode=99}

output=${BENCH_OUTPUT:-out.mkv}
read -r -a options <<<"${BENCH_OPTIONS:---channel auto --auto-adjust}"
mkdir -p "$work/out"

keyed=0 refused=0 faults=0
while IFS= read -r -d '' clip; do
  set -- timeout "$limit" "$cli" key "$clip" "$output" "${options[@]}" --overwrite --quiet
  [ "${BENCH_VALGRIND:-0}" = 1 ] && set -- timeout "$limit" valgrind -q --error-exitcode=98 "${@:3}"
  status=0
  (cd "$work/out" && exec "$@") >"$work/out.txt" 2>"$work/err.txt" || status=$?
  reports=$(grep -c -E "ERROR: AddressSanitizer|runtime error:|LeakSanitizer|Invalid (read|write)" "$work/err.txt" || true)
  leftover=$(find "$work/out" -name '*.kvl-partial' | wc -l)
  # Lost frames exit 1 with the frames that decoded keyed; any other refusal
  # leaves nothing.
  if [ "$status" = 1 ] && [ -n "$(ls -A "$work/out")" ] && ! grep -q 'could not be decoded' "$work/err.txt"; then
    leftover=$((leftover + 1))
  fi
  name=${clip#"$dir"/}
  if [ "$leftover" != 0 ]; then
    faults=$((faults + 1))
    echo "FAULT    $name: exit $status, left behind: $(ls -A "$work/out" | tr '\n' ' ')"
  elif [ "$status" = 0 ] && [ "$reports" = 0 ]; then
    keyed=$((keyed + 1))
    echo "keyed    $name"
  elif [ "$status" = 1 ] && [ "$reports" = 0 ]; then
    refused=$((refused + 1))
    echo "refused  $name: $(grep -v '^keyvale-cli: warning' "$work/err.txt" | head -1 | sed 's/^keyvale-cli: //')$(grep -m1 '^keyvale-cli: warning' "$work/err.txt" | sed 's/^keyvale-cli: / /')"
  else
    faults=$((faults + 1))
    echo "FAULT    $name: exit $status, $reports reports: $(grep -m1 -E 'ERROR|runtime error|Invalid|malloc' "$work/err.txt" || true)"
  fi
  find "$work/out" -mindepth 1 -delete
done < <(find "$dir" -type f ! -name '*.kvl-partial' -print0 | sort -z)
echo "clip-corpus: $keyed keyed, $refused refused with a reason, $faults faults"
[ "$faults" = 0 ]
