#!/usr/bin/env bash
# Builds the address-filter fuzzer with clang and runs it for a bounded time.
# Argument: seconds to run (default 60). The seeds are copied into a temporary
# corpus so the repository is not written; a crash input is kept in
# build-fuzz/artifacts/ and the script exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-deps.sh --test
seconds="${1:-60}"
build=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DRELVANE_FUZZ=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target ip_filter_fuzz

corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
cp tests/filter/fuzz-seeds/* "$corpus"/
mkdir -p "$build/artifacts"
"$build/tests/filter/ip_filter_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$build/artifacts/" "$corpus"
