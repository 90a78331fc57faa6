#!/usr/bin/env bash
# Builds the program and runs it; arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j"$(nproc)" --target RelvaneTiv
exec ./build/app/RelvaneTiv "$@"
