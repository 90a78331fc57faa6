#!/usr/bin/env bash
# Builds the UDP benchmark (Release, build-bench/), starts rinetd forwarding UDP and the program
# itself (RelvaneTiv --headless, from an INI with a UDP slot beside a copy of it), all on
# loopback, and measures a direct path and each relay with relvane-udp-bench, which holds the
# echo server at the far end.
#
#   bench/udp.sh [--quick] [--wait-quiet SECONDS] [-- extra relvane-udp-bench options]
#
# --quick shrinks every measurement for a smoke run. --wait-quiet waits up to that long
# (default 120) for the one-minute load average to fall below 0.5. BENCH_UDP_PORT picks the
# first of three consecutive ports (default 19300). Everything it starts is stopped on exit,
# and the whole run is bounded by a timeout.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
wait_quiet=120
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --wait-quiet) wait_quiet="$2"; shift ;;
    --) shift; extra=("$@"); break ;;
    *) echo "usage: bench/udp.sh [--quick] [--wait-quiet SECONDS] [-- relvane-udp-bench options]" >&2; exit 2 ;;
  esac
  shift
done

base="${BENCH_UDP_PORT:-19300}"
server_port=$base
rinetd_port=$((base + 1))
program_port=$((base + 2))

# --- build ---
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build-bench "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DRELVANE_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
nice cmake --build build-bench --target relvane-udp-bench RelvaneTiv -j2 >/dev/null
bench=build-bench/bench/relvane-udp-bench
program=build-bench/app/RelvaneTiv

# --- the comparison relay ---
if ! command -v rinetd >/dev/null; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends rinetd >/dev/null
fi

tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

for port in $server_port $rinetd_port $program_port; do
  if ss -Hlun "sport = :$port" | grep -q .; then
    echo "UDP port $port is taken; set BENCH_UDP_PORT to another base" >&2
    exit 1
  fi
done

# Its own configuration, log and pid file, in the foreground: nothing of the system's is used.
cat >"$tmp/rinetd.conf" <<CFG
logfile $tmp/rinetd.log
pidlogfile $tmp/rinetd.pid
127.0.0.1 $rinetd_port/udp 127.0.0.1 $server_port/udp
CFG
rinetd -f -c "$tmp/rinetd.conf" >"$tmp/rinetd.out" 2>&1 &
rinetd_pid=$!; pids+=("$rinetd_pid")

# The program as a user runs it: a portable copy reads the INI beside it. Its own runtime
# directory keeps its single-instance lock apart from any other copy.
mkdir -p "$tmp/program" "$tmp/runtime"
chmod 700 "$tmp/runtime"
cp "$program" "$tmp/program/"
cat >"$tmp/program/RelvaneTiv.ini" <<INI
[TCP-PORT0]
PROTOCOL=UDP
ACT=1
PORT=$program_port
FORWARDHOST=127.0.0.1
FORWARDPORT=$server_port
INI
XDG_RUNTIME_DIR="$tmp/runtime" "$tmp/program/RelvaneTiv" --headless >"$tmp/program.log" 2>&1 &
program_pid=$!; pids+=("$program_pid")

udp_listening() { ss -Hlun "sport = :$1" | grep -q .; }
wait_udp() {  # $1 port; true once something listens on it, within 5 s
  for _ in $(seq 50); do
    udp_listening "$1" && return 0
    sleep 0.1
  done
  udp_listening "$1"
}
if ! wait_udp "$rinetd_port"; then
  echo "rinetd does not listen on UDP port $rinetd_port" >&2
  cat "$tmp/rinetd.out" >&2
  exit 1
fi
targets=(--target "direct=$server_port" --target "rinetd=$rinetd_port:$rinetd_pid")
program_note=""
if wait_udp "$program_port"; then
  targets+=(--target "relvane=$program_port:$program_pid")
else
  program_note="the program's UDP slot did not answer: nothing listens on UDP port $program_port"
fi

# --- wait for a quiet machine ---
load1() { cut -d' ' -f1 /proc/loadavg; }
waited=0
while [ "$waited" -lt "$wait_quiet" ] && awk -v l="$(load1)" 'BEGIN {exit !(l >= 0.5)}'; do
  [ "$waited" -eq 0 ] && echo "waiting up to ${wait_quiet}s for the load average ($(load1)) to fall below 0.5" >&2
  sleep 10
  waited=$((waited + 10))
done

sizes=()
[ "$quick" -eq 1 ] && sizes=(--reps 1 --rtt 500 --seconds 0.3)

echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), kernel $(uname -r)"
echo "rinetd:  $(rinetd --version 2>&1 | head -1)"
echo "load:    $(uptime | sed 's/.*load average: //') (before)"
echo
status=0
timeout 1800 "$bench" --server-port "$server_port" "${targets[@]}" "${sizes[@]}" "${extra[@]}" | tee "$tmp/table.txt" ||
  status=${PIPESTATUS[0]}
grep -q '^relvane did not answer' "$tmp/table.txt" &&
  program_note="the program's UDP slot did not answer: UDP port $program_port listens, but no echo came back"
if [ -n "$program_note" ]; then
  echo
  echo "$program_note"
fi
echo
echo "load:    $(uptime | sed 's/.*load average: //') (after)"
exit $status
