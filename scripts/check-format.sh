#!/usr/bin/env bash
# Fails, listing them, when a C++ file of the repository differs from what clang-format makes
# of it with the repository's .clang-format. Fix with: clang-format -i <files>.
set -euo pipefail
cd "$(dirname "$0")/.."
formatter="${CLANG_FORMAT:-$(command -v clang-format-14 || command -v clang-format || true)}"
if [ -z "$formatter" ]; then
  echo "clang-format is missing: ./scripts/setup-deps.sh --test installs it" >&2
  exit 1
fi
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print | sort)
fi
status=0
report="$("$formatter" --dry-run -Werror "${files[@]}" 2>&1)" || status=$?
mapfile -t unformatted < <(sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' <<<"$report" | uniq)
if [ "${#unformatted[@]}" -ne 0 ]; then
  echo "Not formatted as .clang-format says (${#unformatted[@]} of ${#files[@]} files):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
elif [ "$status" -ne 0 ]; then
  echo "$report" >&2  # clang-format itself failed (a bad .clang-format, say)
  exit 1
fi
echo "All ${#files[@]} C++ files are formatted."
