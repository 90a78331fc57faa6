#!/usr/bin/env bash
# Installs the Debian packages that building and running the program need; the arguments
# add the extras of one use:
#   --test     the tests, the fuzzers and the format check (GoogleTest, clang with its fuzzer
#              runtime, clang-format, haproxy, tshark to read capture files, the checkers)
#   --package  building and checking the Debian packages (debhelper, lintian, systemd for
#              systemd-analyze, the checkers)
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config scdoc
  libc-ares-dev  # the relay's name lookups off the loop
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n qt6-qpa-plugins
  libgl-dev
  fonts-ipafont-gothic fonts-noto-cjk
)
checkers=(desktop-file-utils appstream man-db python3)  # run by the checks of docs and package
for extra in "$@"; do
  case "$extra" in
    --test) packages+=(libgtest-dev googletest clang libclang-rt-14-dev clang-format-14 haproxy tshark "${checkers[@]}") ;;
    --package) packages+=(dpkg-dev debhelper file lintian systemd "${checkers[@]}") ;;
    *) echo "usage: $0 [--test] [--package]" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# The installer's report goes to standard error: callers read a script's standard output (the
# package script prints the package's path there).
$SUDO apt-get update -qq >&2
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
