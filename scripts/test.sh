#!/usr/bin/env bash
# Builds everything and runs every test. Extra arguments go to CMake's configure
# step; BUILD_DIR picks the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-deps.sh --test
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DBUILD_TESTING=ON "$@"
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j"$(nproc)"
