#!/usr/bin/env bash
# Builds the fuzzers with clang (the address filter's and the INI layer's) and runs them for a
# bounded time, shared between them. Arguments: seconds for both together (default 60), then
# options for CMake's configure step. The seeds are copied into temporary corpora so the
# repository is not written; a crash input is kept in build-fuzz/artifacts/ and the script
# exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-deps.sh --test
seconds="${1:-60}"
shift $(($# > 0 ? 1 : 0))
build=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DRELVANE_FUZZ=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" --target ip_filter_fuzz ini_fuzz

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/artifacts"
# run <fuzzer binary> <seed folder> <seconds>
run() {
  local corpus="$work/$(basename "$1")"
  mkdir -p "$corpus"
  cp "$2"/* "$corpus"/
  "$1" -max_total_time="$3" -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$corpus"
}
run "$build/tests/filter/ip_filter_fuzz" tests/filter/fuzz-seeds "$((seconds / 2))"
run "$build/tests/slot/ini_fuzz" tests/slot/fuzz-seeds "$((seconds - seconds / 2))"
