# Sourced by the bench scripts: sets `cli` to the keyvale-cli to measure,
# $KEYVALE_CLI when given, else an optimised build made in build/cli-bench.
cli=${KEYVALE_CLI:-}
if [ -z "$cli" ]; then
  echo "Building keyvale-cli (Release) in build/cli-bench ..."
  cmake -S "$repo" -B "$repo/build/cli-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKEYVALE_BUILD_TESTS=OFF -DKEYVALE_BUILD_BENCH=OFF >/dev/null
  cmake --build "$repo/build/cli-bench" --target keyvale-cli -j2 >/dev/null
  cli=$repo/build/cli-bench/cli/keyvale-cli
fi
