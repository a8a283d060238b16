#!/bin/bash
# Country-size figures of the directions service on a generated region:
#   - import, and preparation for fast routing (time and peak memory),
#   - start time from the prepared file (process start to "serving on"):
#     once with every file checked whole (as the first start after a change
#     does), then as later starts, which skip the files checked before,
#   - PSS of three service processes on the one mapped file.
# HTTP route latency is tw_bench_service_server with TW_BENCH_MAP=<the map>.
#
# Usage: bench/service_country_size.sh BUILD_DIR JUNCTIONS [WORK_DIR [SERVICES]]
# The map and its prepared file are kept in WORK_DIR (default /tmp) for reruns.
# SERVICES (default 3) processes are started on the prepared file. Each maps
# the map cache and the prepared file and keeps little of its own (about
# 0.1 GB at ten million junctions), so their PSS adds up to at most one copy.
# On a large map each maps the files' pages in within a second or two of its
# start (so that its first routes do not stop for them); they are shared.
set -euo pipefail
build=${1:?build folder}
junctions=${2:?junction count}
work=${3:-/tmp}
services=${4:-3}
service="$build/service/tarnwickley-directions"
map="$work/tw-region-$junctions.osm.pbf"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

[ -f "$map" ] || "$build/service/generator/tarnwickley-mapgen" --junctions "$junctions" --out "$map"

measure() { # label command...
    local label=$1
    shift
    /usr/bin/time -f "%e %U %M" -o "$work/tw-time.txt" "$@" 2>"$work/tw-stderr.txt" >/dev/null || {
        cat "$work/tw-stderr.txt" >&2; exit 1; }
    read -r seconds cpu kb <"$work/tw-time.txt"
    printf '%-34s %8.1f s (%.1f s CPU)  %8.0f MB peak\n' "$label" "$seconds" "$cpu" "$((kb / 1024))"
}
# Import once (writes the map cache), then time the preparation from the cache.
# A start imports the map and serves a large one with landmarks until it is
# prepared, so it imports without preparing twice.
if [ ! -f "$map.twcache" ]; then
    "$service" --map "$map" --listen 127.0.0.1:47910 --quiet 2>"$work/tw-import.txt" &
    importer=$!
    until grep -q "serving on" "$work/tw-import.txt"; do
        kill -0 "$importer" 2>/dev/null || { cat "$work/tw-import.txt" >&2; exit 1; }
        sleep 0.5
    done
    kill "$importer"
    wait "$importer" 2>/dev/null || true
fi
rm -f "$map.twch"
measure "$service --prepare (from cache)" "$service" --prepare "$map"
ls -l "$map.twch" | awk '{printf "prepared file                      %8.0f MB\n", $5 / 1048576}'

start_service() { # port -> pid in $started
    "$service" --map "$map" --listen "127.0.0.1:$1" --quiet 2>"$work/tw-serve-$1.txt" &
    started=$!
    pids+=("$started")
    for _ in $(seq 1 600); do
        grep -q "serving on" "$work/tw-serve-$1.txt" && return 0
        sleep 0.05
    done
    echo "service on port $1 did not start" >&2; exit 1
}
# A cache folder without check records: the files are checked whole.
unchecked="$work/tw-no-check-records"
rm -rf "$unchecked"
mkdir -p "$unchecked"
t0=$(date +%s.%N)
XDG_CACHE_HOME="$unchecked" start_service 47910
t1=$(date +%s.%N)
printf 'start, files checked whole          %8.2f s\n' "$(echo "$t1 - $t0" | bc)"
kill "${pids[0]}"
wait "${pids[0]}" 2>/dev/null || true
pids=()
rm -rf "$unchecked"
for port in $(seq 47911 $((47910 + services))); do
    t0=$(date +%s.%N)
    start_service "$port"
    t1=$(date +%s.%N)
    printf 'start to serving (port %s)          %8.2f s\n' "$port" "$(echo "$t1 - $t0" | bc)"
done
sleep 3 # the pages mapped in
for p in "${pids[@]}"; do
    awk -v pid="$p" '/^Rss:/ {r=$2} /^Pss:/ {s=$2} END {printf "process %-8s rss %6.0f MB  pss %6.0f MB\n", pid, r/1024, s/1024}' "/proc/$p/smaps_rollup"
    for part in "twch:the prepared file" "twcache:the map cache"; do
        awk -v f="$map.${part%%:*}" -v what="${part#*:}" '$0 ~ f"$" {on=1; next} /^[0-9a-f]+-[0-9a-f]+ / {on=0}
            on && /^Rss:/ {r+=$2} on && /^Pss:/ {s+=$2}
            END {printf "  of which %-22s rss %6.0f MB  pss %6.0f MB\n", what, r/1024, s/1024}' "/proc/$p/smaps"
    done
done
