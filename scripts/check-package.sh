#!/usr/bin/env bash
# Checks the built Debian packages as a packager and an admin would. Arguments: the .deb files
# (scripts/package.sh prints them).
#   - lintian --pedantic over all of them: any tag fails, but those debian/*.lintian-overrides
#     names with its reason;
#   - each package unpacked into a scratch root: its units start the program it ships with
#     the settings under /etc, their manual exists; the desktop entry, AppStream data and
#     manual pass their validators; the package for servers links no Qt; the program reports
#     the package's version, --check judges a good and a bad file, and it relays headless;
#   - each package installed on this machine for a moment (apt-get, as root or with sudo) and
#     purged again: systemd-analyze verify on the units where they are installed, which stay
#     disabled and stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-deps.sh --package
debs=()
for deb in "$@"; do debs+=("$(realpath "$deb")"); done
[ "${#debs[@]}" -gt 0 ] || { echo "usage: $0 PACKAGE.deb..." >&2; exit 2; }
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

work="$(mktemp -d)"
installed=""
cleanup() {
  [ -z "$installed" ] || $SUDO apt-get purge -y -qq "$installed" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

lintian --pedantic --fail-on error,warning,info,pedantic --display-info "${debs[@]}"

# unit_value UNIT KEY: the value of KEY in the unit file (the last one wins, as in systemd).
unit_value() { sed -n "s/^$2=//p" "$1" | tail -n 1; }

# check_unpacked DEB: the checks that need only the package's files.
check_unpacked() {
  local deb="$1" name version root program unit exec config
  name="$(dpkg-deb --field "$deb" Package)"
  version="$(dpkg-deb --field "$deb" Version)"
  echo "== $name $version: $(du -k "$deb" | cut -f1) KiB"
  dpkg-deb --field "$deb" Depends Recommends Conflicts Installed-Size
  root="$work/$name"
  dpkg -x "$deb" "$root"
  program="$root/usr/bin/RelvaneTiv"
  [ -x "$program" ] || fail "$name has no /usr/bin/RelvaneTiv"

  for unit in "$root"/lib/systemd/system/relvanetiv.service \
              "$root"/usr/lib/systemd/user/relvanetiv-user.service; do
    [ -f "$unit" ] || fail "$name lacks ${unit#"$root"}"
    exec="$(unit_value "$unit" ExecStart | cut -d' ' -f1)"
    [ "$exec" = /usr/bin/RelvaneTiv ] || fail "${unit#"$root"} starts $exec, not the installed program"
    [ -f "$root/usr/share/man/man1/$(unit_value "$unit" Documentation | sed 's/^man:\(.*\)(\(.\))$/\1.\2/').gz" ] ||
      fail "${unit#"$root"}: its Documentation= is not in the package"
  done
  unit="$root/lib/systemd/system/relvanetiv.service"
  config="$(unit_value "$unit" ExecStart | sed -n 's/.*--config \([^ ]*\).*/\1/p')"
  [ "$config" = "/etc/$(unit_value "$unit" ConfigurationDirectory)/RelvaneTiv.ini" ] ||
    fail "the system unit reads $config, outside its ConfigurationDirectory under /etc"

  local headless=()  # the package for servers runs headless without being told
  if [ -d "$root/usr/share/applications" ]; then
    desktop-file-validate "$root"/usr/share/applications/*.desktop
    appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
    headless=(--headless)
  elif ldd "$program" | grep -Ei 'qt|libx11|libxcb|libgl'; then
    fail "$name links a window library (above)"
  fi
  LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$root/usr/share/man/man1/RelvaneTiv.1.gz" 2>&1 >/dev/null |
    (! grep .) || fail "man warns about the manual of $name (above)"
  file "$program" | grep -q ', stripped' || fail "$name ships an unstripped program"

  "$program" --version | tee "$work/version"
  grep -qF "${version%-*}" "$work/version" || fail "--version does not say ${version%-*}"
  check_scripts "$deb"
  check_settings "$program" "$root"
  python3 scripts/relay-smoke.py "$program" "${headless[@]}"
}

# check_scripts DEB: the maintainer scripts reload systemd, restart the system unit on an
# upgrade only when it runs, stop it on removal, and never start it (that none enables a unit
# is seen on the installed package below).
check_scripts() {
  local scripts="$work/scripts-$(basename "$1")"
  dpkg-deb --control "$1" "$scripts"
  grep -q 'daemon-reload' "$scripts/postinst" || fail "postinst does not reload systemd"
  grep -q 'try-restart.*relvanetiv.service' "$scripts/postinst" ||
    fail "postinst does not restart a running unit on upgrade"
  grep -Eq "deb-systemd-invoke stop 'relvanetiv.service'" "$scripts/prerm" ||
    fail "prerm does not stop the unit on removal"
  ! grep -Eq -- 'deb-systemd-invoke (start|restart|\$_dh_action)|invoke stop' "$scripts"/p*inst ||
    fail "a maintainer script starts the unit, or stops it for an upgrade"
}

# check_settings PROGRAM DIR: --check passes a good file and fails a bad one, writing neither.
check_settings() {
  local program="$1" good="$2/good.ini" bad="$2/bad.ini" status=0 port
  port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
  printf '[TCP-PORT0]\nACT=1\nPORT=%s\nLISTENHOST=127.0.0.1\nFORWARDHOST=127.0.0.1\nFORWARDPORT=9\n' "$port" >"$good"
  sed 's/^PORT=.*/PORT=70000/' "$good" >"$bad"
  cp "$good" "$good.before"
  cp "$bad" "$bad.before"
  env -u DISPLAY -u WAYLAND_DISPLAY timeout 10 "$program" --check --config "$good" ||
    fail "--check refused a good file (exit $?)"
  env -u DISPLAY -u WAYLAND_DISPLAY timeout 10 "$program" --check --config "$bad" || status=$?
  [ "$status" -eq 1 ] || fail "--check on a file with a bad port: exit $status, not 1"
  cmp -s "$good" "$good.before" && cmp -s "$bad" "$bad.before" || fail "--check wrote the file"
}

# check_installed DEB: the package installed for real; its units as systemd reads them there.
check_installed() {
  local deb="$1" name unit
  name="$(dpkg-deb --field "$deb" Package)"
  $SUDO apt-get install -y -qq -o Dpkg::Use-Pty=0 --no-install-recommends "$deb" >&2
  installed="$name"
  mkdir -p -m 0700 "$work/runtime"
  # Documentation=man: is looked up with man, so the manual must be installed as well.
  systemd-analyze verify /lib/systemd/system/relvanetiv.service
  XDG_RUNTIME_DIR="$work/runtime" systemd-analyze --user verify /usr/lib/systemd/user/relvanetiv-user.service
  for unit in relvanetiv.service; do
    [ "$(systemctl is-enabled "$unit" 2>/dev/null || true)" = disabled ] ||
      fail "$name enabled $unit on installation"
  done
  [ "$(systemctl --global is-enabled relvanetiv-user.service 2>/dev/null || true)" = disabled ] ||
    fail "$name enabled relvanetiv-user.service for every user"
  $SUDO apt-get purge -y -qq -o Dpkg::Use-Pty=0 "$name" >&2
  installed=""
  [ ! -e /lib/systemd/system/relvanetiv.service ] || fail "purging $name left its unit behind"
  echo "$name: installed, units verified and left disabled, purged"
}

for deb in "${debs[@]}"; do check_unpacked "$deb"; done
for deb in "${debs[@]}"; do check_installed "$deb"; done
