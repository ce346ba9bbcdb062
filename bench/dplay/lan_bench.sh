#!/usr/bin/env bash
# Speed of our DirectPlay between two hosts of a test LAN, each figure next to raw Winsock TCP
# measured in the same run between the same hosts.
#   lan_bench.sh LAN_TOOL BENCH_EXE WORK_DIR
# Exit 0: measured; 77: this machine cannot make network namespaces; else failed.
set -uo pipefail

lan=$1 bench=$2 work=$3
name="db$$"                  # namespaces of this run only
dir="$work/$name"
share="$dir/share"           # the hosts' shared folder, and their logs
limit=330                    # s for the whole run (the program gives up after 300)
source "$(dirname "$lan")/lan-lib.sh"
source "$(dirname "$0")/../display.sh"
lan_begin lan_bench $limit

# start LOG HOST ARGS...: the bench program on that host; its output goes to LOG.log.
start() { lan_start "$1" "$2" "$bench" "${@:3}"; }

value() { sed -n "s/^RESULT $1 \([0-9.]*\).*/\1/p" "$share/client.log" | tr -d '\r' | head -n 1; }

mkdir -p "$dir"
bash "$lan" up "$name" 2 "$dir" >/dev/null || fail "the LAN could not be made"
mkdir -p "$share"
host_ip=$(bash "$lan" addr 1)
start server 1 server "Z:$share"
start client 2 client "Z:$share" "$host_ip"
wait "${pid_of[client]}" || fail "the client ended with $?"
finish server 10 || fail "the server ended with $?"

rt=$(value dplay_round_trip_us) rt_raw=$(value raw_round_trip_us)
bulk=$(value dplay_bulk_mibs) bulk_raw=$(value raw_bulk_mibs)
[ -n "$rt" ] && [ -n "$rt_raw" ] && [ -n "$bulk" ] && [ -n "$bulk_raw" ] || fail "results missing"

echo "DirectPlay layer between two test-LAN hosts, against raw Winsock TCP on the same hosts in the same run"
awk -v rt="$rt" -v rtr="$rt_raw" -v b="$bulk" -v br="$bulk_raw" 'BEGIN {
  printf "%-48s %14s %36s %8s\n", "figure", "DirectPlay", "reference: raw Winsock TCP", "ratio"
  printf "%-48s %11.0f us %33.0f us %7.2fx\n", "round trip, 64 bytes, median", rt, rtr, rt / rtr
  printf "%-48s %9.0f MiB/s %31.0f MiB/s %7.2fx\n", "bulk, 64 MiB in 1 MiB messages", b, br, b / br
  printf "ratio: DirectPlay / raw (round trip: lower is better; bulk: higher is better)\n"
}'
ref="raw Winsock TCP, same hosts"
bench_row "DirectPlay round trip, 64 bytes, median" "$rt us" "$ref" "$rt_raw us" "$(awk -v a="$rt" -v b="$rt_raw" 'BEGIN{printf "%.2fx", a/b}')" lower
bench_row "DirectPlay bulk, 64 MiB in 1 MiB messages" "$bulk MiB/s" "$ref" "$bulk_raw MiB/s" "$(awk -v a="$bulk" -v b="$bulk_raw" 'BEGIN{printf "%.2fx", a/b}')" higher
exit 0
