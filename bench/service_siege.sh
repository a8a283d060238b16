#!/usr/bin/env bash
# The directions service under siege, as users meet it: the real program on the
# sample town, `wrk` asking /dd_result on a few kept-alive connections while
# tools/siege holds thousands of idle connections and slow senders open.
# Prints throughput and latency from wrk, the service's resident memory before
# and during the siege (and so per held connection), and its memory after the
# first thousand requests and after about a million.
#
# Usage: bench/service_siege.sh [BUILD_DIR]   (run on demand; needs wrk)
# Environment: PORT (48790), IDLE (10000), SLOW (200), CONNECTIONS (4),
# SECONDS_UNDER_SIEGE (20), MILLION (1000000; 0 skips the long run).
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
port=${PORT:-48790}
idle=${IDLE:-10000}
slow=${SLOW:-200}
connections=${CONNECTIONS:-4}
siege_seconds=${SECONDS_UNDER_SIEGE:-20}
million=${MILLION:-1000000}
base="http://127.0.0.1:$port"
target="$base/dd_result?addr=151+Millbrook+Rd&csz=Halverby+QZ+58912&taddr=319+Alder+Ave&tcsz=Halverby+QZ+58911&getrte=Get+Directions"
command -v wrk >/dev/null || { echo "wrk is missing (apt-get install wrk)" >&2; exit 1; }

ulimit -n "$(ulimit -Hn)"
service_pid="" siege_pid=""
cleanup() {
  [ -n "$siege_pid" ] && kill "$siege_pid" 2>/dev/null || true
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

"$build/service/tarnwickley-directions" --quiet --listen "127.0.0.1:$port" &
service_pid=$!
until curl -sf "$base/healthz" >/dev/null; do
  kill -0 "$service_pid" 2>/dev/null || { echo "the service did not start" >&2; exit 1; }
  sleep 0.1
done

rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$service_pid/status"; }
metric() { curl -s "$base/metrics" | awk -v name="$1" '$1 == name {print $2}'; }
answered() { curl -s "$base/metrics" | awk '/^tarnwickley_http_requests_total/ {sum += $2} END {print sum}'; }

python3 - "$port" "${target#"$base"}" <<'EOF'
import http.client, sys
connection = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]))
for _ in range(1000):
    connection.request("GET", sys.argv[2])
    connection.getresponse().read()
EOF
rss_first=$(rss_kb)
echo "RSS after the first $(answered) requests: ${rss_first} kB"

echo "== wrk alone: $connections connections, 10 s"
wrk -t2 -c"$connections" -d10s --latency "$target" | sed -n '/Latency Distribution/,$p'

echo "== under siege: $idle idle connections and $slow one-byte-every-2-s senders"
rss_before=$(rss_kb)
"$here/tools/siege" --port "$port" --idle "$idle" --slow "$slow" --seconds $((siege_seconds + 30)) &
siege_pid=$!
for _ in $(seq 120); do
  open=$(metric tarnwickley_open_connections)
  [ "${open:-0}" -ge $((idle + slow)) ] && break
  sleep 0.5
done
open=$(metric tarnwickley_open_connections)
rss_held=$(rss_kb)
echo "open connections: $open; RSS ${rss_before} kB -> ${rss_held} kB:" \
  "$(( (rss_held - rss_before) * 1024 / (open > 0 ? open : 1) )) bytes per held connection"
wrk -t2 -c"$connections" -d"${siege_seconds}s" --latency "$target" | sed -n '/Latency Distribution/,$p'
echo "open connections after wrk: $(metric tarnwickley_open_connections)"
kill "$siege_pid" 2>/dev/null || true
wait "$siege_pid" 2>/dev/null || true
siege_pid=""

if [ "$million" -gt 0 ]; then
  echo "== memory over a million requests"
  while [ "$(answered)" -lt "$million" ]; do
    wrk -t2 -c"$connections" -d10s "$target" >/dev/null
  done
  rss_million=$(rss_kb)
  echo "RSS after $(answered) requests: ${rss_million} kB (after the first thousand: ${rss_first} kB;" \
    "$(( (rss_million - rss_first) * 100 / rss_first ))% more)"
fi
