#!/usr/bin/env bash
# What a packager's tools say about our desktop entry, AppStream data and manual page, and
# whether the manual still documents every option the program's --help lists, and the
# AppStream data every screenshot of the docs folder.
# Arguments: PROGRAM MANUAL_SOURCE MANUAL_ROFF DESKTOP_ENTRY METAINFO DOCS_FOLDER
set -euo pipefail
program="$1" source="$2" roff="$3" desktop="$4" metainfo="$5" docs="$6"
failed=0
fail() { echo "FAILED: $*" >&2; failed=1; }

desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"
appstreamcli validate --no-net "$metainfo" >/dev/null || fail "appstreamcli validate $metainfo"
warnings="$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$roff" 2>&1 >/dev/null)"
[ -z "$warnings" ] || fail "man reports: $warnings"

wmclass="$(sed -n 's/^StartupWMClass=//p' "$desktop")"
[ "$wmclass" = "$(basename "$program")" ] ||
  fail "StartupWMClass=$wmclass, but the window class is the program's name $(basename "$program")"

help="$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --help)" || fail "$program --help failed"
options="$(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u)"
[ -n "$options" ] || fail "no option found in the output of --help"
for option in $options; do
  grep -qF -- "*$option*" "$source" || fail "$option is in --help but not in the manual $source"
done
listed="$(sed -n 's|.*<image[^>]*>.*/\([^/<]*\.png\)</image>.*|\1|p' "$metainfo" | sort)"
shots="$(cd "$docs" && ls -1 -- *.png | sort)"
[ "$listed" = "$shots" ] ||
  fail "the AppStream screenshots ($(echo $listed)) are not those in $docs ($(echo $shots))"
exit "$failed"
