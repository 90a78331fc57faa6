#!/usr/bin/env bash
# Installs the build twice, as a user under a home prefix and as a package build under /usr
# with DESTDIR, and checks that the systemd units land where the service managers look and
# start the program this install put there, with the settings where the prefix keeps them.
# Where systemd-analyze is present, it verifies the units of the home install (whose program
# exists at the path they name). Argument: the build folder.
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAILED: $*" >&2; failed=1; }
unit_value() { sed -n "s/^$2=//p" "$1" | tail -n 1; }

# expect UNIT PROGRAM CONFIG: the unit exists, starts PROGRAM and reads CONFIG.
expect() {
  [ -f "$1" ] || { fail "no unit at $1"; return; }
  local start
  start="$(unit_value "$1" ExecStart)"
  [ "${start%% *}" = "$2" ] || fail "$1 starts ${start%% *}, not $2"
  [[ "$start" == *" --config $3" ]] || fail "$1 reads ${start##* }, not $3"
}

# A unit folder the builder gave as an absolute path would be written outside the temporary
# folder; such a build is left to the package check.
if grep -Eq '^RELVANE_(SYSTEM|USER)_UNIT_DIR:[A-Z]*=/' "$build/CMakeCache.txt"; then
  echo "The unit folders are absolute in this build; not installing it." >&2
  exit 77
fi

home="$work/home/.local"
cmake --install "$build" --prefix "$home" >/dev/null
[ -x "$home/bin/RelvaneTiv" ] || fail "no program in $home/bin"
expect "$home/share/systemd/user/relvanetiv-user.service" "$home/bin/RelvaneTiv" "%E/relvanetiv/RelvaneTiv.ini"
expect "$home/lib/systemd/system/relvanetiv.service" "$home/bin/RelvaneTiv" "$home/etc/relvanetiv/RelvaneTiv.ini"

root="$work/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
[ -x "$root/usr/bin/RelvaneTiv" ] || fail "no program in $root/usr/bin"
# Under /usr the units go where systemd keeps the distribution's (Debian 12: system units in /lib).
system_units=/usr/lib/systemd/system user_units=/usr/lib/systemd/user
if pkg-config --exists systemd 2>/dev/null; then
  system_units="$(pkg-config --variable=systemdsystemunitdir systemd)"
  user_units="$(pkg-config --variable=systemduserunitdir systemd)"
fi
expect "$root$user_units/relvanetiv-user.service" /usr/bin/RelvaneTiv "%E/relvanetiv/RelvaneTiv.ini"
expect "$root$system_units/relvanetiv.service" /usr/bin/RelvaneTiv /etc/relvanetiv/RelvaneTiv.ini

if command -v systemd-analyze >/dev/null; then
  mkdir -m 0700 "$work/runtime"
  export MANPATH="$home/share/man" XDG_RUNTIME_DIR="$work/runtime"
  systemd-analyze verify "$home/lib/systemd/system/relvanetiv.service" ||
    fail "systemd-analyze verify: the system unit"
  systemd-analyze --user verify "$home/share/systemd/user/relvanetiv-user.service" ||
    fail "systemd-analyze --user verify: the user unit"
fi
exit "$failed"
