#!/usr/bin/env bash
# Speed of the session handle over our DirectPlay between two hosts of a test LAN: a QUERY of
# the joined terminal to an element on the host and a notice of 16 MiB, each next to raw
# Winsock TCP of the same sizes between the same hosts in the same run.
#   lan_bench.sh LAN_TOOL BENCH_EXE WORK_DIR
# Exit 0: measured; 77: this machine cannot make network namespaces; else failed.
set -uo pipefail

lan=$1 bench=$2 work=$3
name="tb$$"                  # namespaces of this run only
dir="$work/$name"
share="$dir/share"           # the hosts' shared folder, and their logs
limit=330                    # s for the whole run (the program gives up after 300)
source "$(dirname "$lan")/lan-lib.sh"
source "$(dirname "$0")/../display.sh"
lan_begin lan_bench $limit
# The LAN goes at exit, and the display of this run with it.
trap 'lan_cleanup; bench_display_stop' EXIT

# start LOG HOST ARGS...: the bench program on that host, started in the folder LOG, where
# its trace file goes; its output goes to LOG.log.
start() {
  mkdir -p "$share/$1"
  cd "$share/$1" && lan_start "$1" "$2" "$bench" "${@:3}"
  cd "$work"
}

value() { sed -n "s/^RESULT $1 \([0-9.]*\).*/\1/p" "$share/join.log" | tr -d '\r' | head -n 1; }

mkdir -p "$dir"
bash "$lan" up "$name" 2 "$dir" >/dev/null || fail "the LAN could not be made"
mkdir -p "$share"
# The session handle and the invoker have hidden windows: they need a display, the one given
# or one of this run's own (Wine's null driver cannot make them).
if [ -z "${DISPLAY:-}" ]; then
  bench_display "$dir/xvfb.log" || fail "no display"
fi
host_ip=$(bash "$lan" addr 1)
start host 1 host "Z:$share"
start join 2 join "Z:$share" "$host_ip"
wait "${pid_of[join]}" || fail "the joined terminal ended with $?"
finish host 30 || fail "the host ended with $?"

q=$(value query_median_us) q99=$(value query_p99_us) r=$(value raw_median_us) r99=$(value raw_p99_us)
n=$(value notice_mibs) nr=$(value raw_bulk_mibs)
[ -n "$q" ] && [ -n "$q99" ] && [ -n "$r" ] && [ -n "$r99" ] && [ -n "$n" ] && [ -n "$nr" ] || fail "results missing"

echo "Session handle (CNetwork over DirectPlay) between two test-LAN hosts, against raw Winsock TCP"
echo "(TCP_NODELAY) of the same sizes on the same hosts in the same run"
awk -v q="$q" -v q99="$q99" -v r="$r" -v r99="$r99" -v n="$n" -v nr="$nr" \
    -v qb="$(value query_bytes)" -v rb="$(value reply_bytes)" -v nb="$(value notice_bytes)" 'BEGIN {
  printf "%-52s %14s %30s %8s\n", "figure", "session", "reference: raw Winsock TCP", "ratio"
  printf "%-52s %11.0f us %27.0f us %7.2fx\n", sprintf("QUERY round trip (%d+%d bytes), median", qb, rb), q, r, q / r
  printf "%-52s %11.0f us %27.0f us %7.2fx\n", "QUERY round trip, p99", q99, r99, q99 / r99
  printf "%-52s %9.1f MiB/s %25.1f MiB/s %7.2fx\n", sprintf("notice of 16 MiB (%d bytes), median of 3", nb), n, nr, n / nr
  printf "ratio: QUERY session / raw, lower is better (goal at most 1.30); notice session / raw, higher is better\n"
}'
ref="raw Winsock TCP (TCP_NODELAY), same hosts"
bench_row "session QUERY round trip, median" "$q us" "$ref" "$r us" "$(awk -v a="$q" -v b="$r" 'BEGIN{printf "%.2fx", a/b}')" lower
bench_row "session QUERY round trip, p99" "$q99 us" "$ref" "$r99 us" "$(awk -v a="$q99" -v b="$r99" 'BEGIN{printf "%.2fx", a/b}')" lower
bench_row "session notice of 16 MiB" "$n MiB/s" "$ref" "$nr MiB/s" "$(awk -v a="$n" -v b="$nr" 'BEGIN{printf "%.2fx", a/b}')" higher
exit 0
