#!/usr/bin/env bash
# Builds the relay benchmark (Release, build-bench/), starts a single-thread and
# a default-thread haproxy in TCP mode, the program itself (RelvaneTiv --headless,
# from an INI beside a copy of it) and the engine demo relvane-relay -q, with and
# without its event log (-l, one line per connection to a file), all on loopback,
# and measures a direct connection and each relay with relvane-bench. A second
# copy of the program runs with capture on (CAPTURE=1, the default bounds;
# BENCH_CAPTURE_KEYS gives it other INI lines), so the cost of holding what each
# connection carried shows beside the same program without it.
#
# BENCH_BEFORE=<git revision> also builds that revision's relay (into
# build-bench/before) and measures it in the same run, as "relvane-before", so
# a change can be judged against the code it changes under the same load.
#
#   bench/run.sh [--quick] [--wait-quiet SECONDS] [-- extra relvane-bench options]
#   bench/run.sh -- --only churn     # the port-exhaustion check alone
#
# --quick shrinks every measurement for a smoke run. --wait-quiet waits up to
# that long (default 120) for the one-minute load average to fall below 0.5,
# since other work on the machine skews every figure. BENCH_PORT picks the
# first of eight consecutive ports (default 19200). Everything it starts is
# stopped on exit, and the whole run is bounded by a timeout.
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
    *) echo "usage: bench/run.sh [--quick] [--wait-quiet SECONDS] [-- relvane-bench options]" >&2; exit 2 ;;
  esac
  shift
done

base="${BENCH_PORT:-19200}"
server_port=$base
ha1_port=$((base + 1))
ha_port=$((base + 2))
relay_port=$((base + 3))
program_port=$((base + 4))
log_port=$((base + 5))
before_port=$((base + 6))
capture_port=$((base + 7))

# --- build ---
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build-bench "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DRELVANE_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --target relvane-relay relvane-bench RelvaneTiv -j2 >/dev/null
bench=build-bench/bench/relvane-bench
relay=build-bench/bench/relvane-relay
program=build-bench/app/RelvaneTiv
before=""
if [ -n "${BENCH_BEFORE:-}" ]; then
  rm -rf build-bench/before-src
  mkdir -p build-bench/before-src
  git archive "$BENCH_BEFORE" | tar -x -C build-bench/before-src
  cmake -S build-bench/before-src -B build-bench/before "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DRELVANE_GUI=OFF -DRELVANE_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
  cmake --build build-bench/before --target relvane-relay -j2 >/dev/null
  before=build-bench/before/bench/relvane-relay
fi

# --- the comparison relay ---
if ! command -v haproxy >/dev/null; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends haproxy >/dev/null
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

for port in $server_port $ha1_port $ha_port $relay_port $program_port $log_port $before_port $capture_port; do
  if ss -Htln "sport = :$port" | grep -q .; then
    echo "port $port is taken; set BENCH_PORT to another base" >&2
    exit 1
  fi
done

haproxy_config() {  # $1 port, $2 extra global line
  cat <<CFG
global
    maxconn 9950
    $2
defaults
    mode tcp
    timeout connect 5s
    timeout client 120s
    timeout server 120s
frontend bench
    bind 127.0.0.1:$1
    default_backend bench
backend bench
    server sink 127.0.0.1:$server_port
CFG
}
haproxy_config "$ha1_port" "nbthread 1" >"$tmp/haproxy-1t.cfg"
haproxy_config "$ha_port" "" >"$tmp/haproxy.cfg"

haproxy -db -f "$tmp/haproxy-1t.cfg" >"$tmp/haproxy-1t.log" 2>&1 &
ha1_pid=$!; pids+=("$ha1_pid")
haproxy -db -f "$tmp/haproxy.cfg" >"$tmp/haproxy.log" 2>&1 &
ha_pid=$!; pids+=("$ha_pid")
"$relay" -q "$relay_port" 127.0.0.1 "$server_port" 2>"$tmp/relay.log" &
relay_pid=$!; pids+=("$relay_pid")
"$relay" -q -l "$log_port" 127.0.0.1 "$server_port" 2>"$tmp/relay-log.log" &
log_pid=$!; pids+=("$log_pid")
listening=($ha1_port $ha_port $relay_port $log_port)
before_target=()
if [ -n "$before" ]; then
  "$before" -q "$before_port" 127.0.0.1 "$server_port" 2>"$tmp/relay-before.log" &
  before_pid=$!; pids+=("$before_pid")
  listening+=($before_port)
  before_target=(--target "relvane-before=$before_port:$before_pid")
fi

# The program as a user runs it: a portable copy reads the INI beside it. Its own
# runtime directory keeps its single-instance lock apart from any other copy.
start_program() {  # $1 name, $2 port, $3 extra INI line
  mkdir -p "$tmp/$1" "$tmp/runtime-$1"
  chmod 700 "$tmp/runtime-$1"
  cp "$program" "$tmp/$1/"
  cat >"$tmp/$1/RelvaneTiv.ini" <<INI
[TCP-PORT0]
ACT=1
PORT=$2
FORWARDHOST=127.0.0.1
FORWARDPORT=$server_port
BUFFERSIZE=128
$3
INI
  XDG_RUNTIME_DIR="$tmp/runtime-$1" "$tmp/$1/RelvaneTiv" --headless >"$tmp/$1.log" 2>&1 &
  pids+=("$!")
}
start_program program "$program_port" ""
program_pid=$!
start_program capture "$capture_port" "${BENCH_CAPTURE_KEYS:-CAPTURE=1}"
capture_pid=$!

listening+=($program_port $capture_port)
for port in "${listening[@]}"; do
  for _ in $(seq 50); do
    ss -Htln "sport = :$port" | grep -q . && break
    sleep 0.1
  done
  if ! ss -Htln "sport = :$port" | grep -q .; then
    echo "nothing listens on port $port" >&2
    cat "$tmp"/*.log >&2
    exit 1
  fi
done
ha_threads=$(awk '/^Threads:/ {print $2}' "/proc/$ha_pid/status")

# --- wait for a quiet machine ---
load1() { cut -d' ' -f1 /proc/loadavg; }
waited=0
while [ "$waited" -lt "$wait_quiet" ] && awk -v l="$(load1)" 'BEGIN {exit !(l >= 0.5)}'; do
  [ "$waited" -eq 0 ] && echo "waiting up to ${wait_quiet}s for the load average ($(load1)) to fall below 0.5" >&2
  sleep 10
  waited=$((waited + 10))
done

# Ports that an earlier run left in TIME_WAIT would make the connection figures
# of this one fail; they are gone a minute after that run.
tw() { ss -Htan state time-wait | wc -l; }
waited=0
while [ "$(tw)" -gt 2000 ] && [ "$waited" -lt 70 ]; do
  [ "$waited" -eq 0 ] && echo "waiting for $(tw) TIME_WAIT sockets of an earlier run to expire" >&2
  sleep 5
  waited=$((waited + 5))
done

sizes=()
[ "$quick" -eq 1 ] && sizes=(--bulk-mib 64 --reps 1 --rtt 2000 --rtt-reps 1 --seq-conns 200 --conc-conns 800 --idle 100 --growth 500)

echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), kernel $(uname -r)"
echo "haproxy: $(haproxy -v | head -1 | cut -d' ' -f3), default threads here: $ha_threads"
echo "load:    $(uptime | sed 's/.*load average: //') (before)"
echo
status=0
timeout 3600 "$bench" --server-port "$server_port" \
  --target "direct=$server_port" \
  --target "haproxy-1t=$ha1_port:$ha1_pid" \
  --target "haproxy-${ha_threads}t=$ha_port:$ha_pid" \
  --target "relvane=$program_port:$program_pid" \
  --target "relvane-capture=$capture_port:$capture_pid" \
  --target "engine-demo=$relay_port:$relay_pid" \
  --target "engine-demo-log=$log_port:$log_pid" \
  "${before_target[@]}" "${sizes[@]}" "${extra[@]}" || status=$?
echo "engine-demo-log standard error: $(wc -l <"$tmp/relay-log.log") lines (its start line, then two per connection: opened and ended)"
echo
echo "load:    $(uptime | sed 's/.*load average: //') (after)"
exit $status
