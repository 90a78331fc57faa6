#!/usr/bin/env bash
# Builds the Debian package from a Release build and prints its path. Arguments go to CMake's
# configure step (-DRELVANE_GUI=OFF gives the package for servers, without Qt); BUILD_DIR
# picks the build folder (default: build-pkg, configured without the tests).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-deps.sh --package
build="${BUILD_DIR:-build-pkg}"
configure=(cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release)
[ -f "$build/CMakeCache.txt" ] || configure+=(-DBUILD_TESTING=OFF)
"${configure[@]}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/*.deb
