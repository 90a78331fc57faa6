#!/usr/bin/env bash
# Builds the program and runs it; arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-deps.sh
configure=(cmake -S . -B build -G Ninja)
# The tests need GoogleTest, which only the test command installs; a build folder the test
# command has configured keeps its tests.
[ -f build/CMakeCache.txt ] || configure+=(-DBUILD_TESTING=OFF)
"${configure[@]}" >/dev/null
cmake --build build -j"$(nproc)" --target RelvaneTiv
exec ./build/app/RelvaneTiv "$@"
