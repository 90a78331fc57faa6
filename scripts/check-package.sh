#!/usr/bin/env bash
# Checks a built Debian package as a packager and an admin would: lintian, the desktop entry
# and AppStream validators, then the package unpacked into a scratch root, whose program
# must report its version and relay headless. Argument: the .deb file.
set -euo pipefail
cd "$(dirname "$0")/.."
deb="$(realpath "$1")"
./scripts/setup-deps.sh --package

echo "== $(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"
dpkg-deb --field "$deb" Package Depends Recommends Installed-Size
# Errors fail the check; warnings and notes are shown for the reader.
lintian --fail-on error --display-info "$deb"

root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
program="$root/usr/bin/RelvaneTiv"
headless=()  # the package for servers runs headless without being told
if [ -d "$root/usr/share/applications" ]; then
  desktop-file-validate "$root"/usr/share/applications/*.desktop
  appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
  headless=(--headless)
fi
man --warnings -l "$root/usr/share/man/man1/RelvaneTiv.1.gz" 2>&1 >/dev/null | (! grep .)
file "$program" | grep -q 'stripped' && ! file "$program" | grep -q 'not stripped'

"$program" --version
python3 scripts/relay-smoke.py "$program" "${headless[@]}"
