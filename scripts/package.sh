#!/usr/bin/env bash
# Builds the Debian packages of both builds (relvanetiv, the window build, and
# relvanetiv-headless, without Qt) as a distribution would, with dpkg-buildpackage from
# debian/, and prints the paths of the .deb files, one a line, on standard output; everything
# else goes to standard error. The source is copied to build-deb/ first (the files git knows
# and new ones it does not ignore), so the packages land there and the work tree stays clean.
# Arguments go to dpkg-buildpackage; DEB_BUILD_OPTIONS is honoured (nocheck: no tests built).
set -euo pipefail
cd "$(dirname "$0")/.."
deps=(--package)
# The tests are built unless DEB_BUILD_OPTIONS says nocheck; they need the test tools.
[[ " ${DEB_BUILD_OPTIONS:-} " == *" nocheck "* ]] || deps+=(--test)
./scripts/setup-deps.sh "${deps[@]}"
out="$PWD/build-deb"
version="$(dpkg-parsechangelog -S Version)"
source="$out/relvanetiv-${version%-*}"

rm -rf "$out"
mkdir -p "$source"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  # A file deleted but not yet committed is skipped with a warning.
  git ls-files -z --cached --others --exclude-standard |
    tar -c --null -T - --ignore-failed-read | tar -x -C "$source"
else
  tar -c --exclude='./build*' --exclude='./obj-*' . | tar -x -C "$source"
fi
# -us -uc: nothing is signed. The build's report goes to standard error.
(cd "$source" && dpkg-buildpackage -us -uc -b "$@") >&2
ls "$out"/*.deb | grep -v -- "-dbgsym_"  # the debug symbols stay beside them
