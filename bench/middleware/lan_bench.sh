#!/usr/bin/env bash
# Speed of one file through the middleware between two hosts of a test LAN, next to raw
# Winsock TCP of the same file between the same hosts in the same run.
#   lan_bench.sh LAN_TOOL BENCH_EXE WORK_DIR [MIB]
# Exit 0: measured; 77: this machine cannot make network namespaces; else failed.
set -uo pipefail

lan=$1 bench=$2 work=$3 size=${4:-256}
name="mb$$"                  # namespaces of this run only
dir="$work/$name"
share="$dir/share"           # the hosts' shared folder, and their logs
limit=600                    # s for the whole run
source "$(dirname "$lan")/lan-lib.sh"
source "$(dirname "$0")/../display.sh"
lan_begin lan_bench $limit
# The LAN goes at exit, and the display of this run with it.
trap 'lan_cleanup; bench_display_stop' EXIT

# start LOG HOST ARGS...: the bench program on that host; its output goes to LOG.log.
start() { lan_start "$1" "$2" "$bench" "${@:3}"; }

value() { sed -n "s/^RESULT $1 \([0-9.]*\).*/\1/p" "$share/sender.log" | tr -d '\r' | head -n 1; }

mkdir -p "$dir"
bash "$lan" up "$name" 2 "$dir" >/dev/null || fail "the LAN could not be made"
mkdir -p "$share"
# The middleware's windows need a display: the one given, or one of this run's own (an X
# server's socket reaches every host).
if [ -z "${DISPLAY:-}" ]; then
  bench_display "$dir/xvfb.log" || fail "no display"
fi
head -c $((size * 1024 * 1024)) /dev/urandom >"$share/file.bin" || fail "no file of $size MiB"
receiver_ip=$(bash "$lan" addr 1)
start receiver 1 receive "Z:$share"
start sender 2 send "Z:$share" "$receiver_ip" "Z:$share/file.bin"
wait "${pid_of[sender]}" || fail "the sender ended with $?"
finish receiver 10 || fail "the receiver ended with $?"

mw=$(value middleware_mibs) raw=$(value raw_mibs)
[ -n "$mw" ] && [ -n "$raw" ] || fail "results missing"
echo "One file of $size MiB between two test-LAN hosts, through the middleware and by raw Winsock TCP in the same run"
awk -v m="$mw" -v r="$raw" -v n="$(value middleware_notices)" 'BEGIN {
  printf "%-44s %14s %32s %8s\n", "figure", "middleware", "reference: raw Winsock TCP", "ratio"
  printf "%-44s %9.1f MiB/s %26.1f MiB/s %7.2fx\n", "file transfer, sender execution to stored", m, r, m / r
  printf "ratio: middleware / raw, higher is better (goal 0.9); %d notices at the sender\n", n
}'
bench_row "file of $size MiB through the middleware" "$mw MiB/s" "raw Winsock TCP, same file and hosts" "$raw MiB/s" \
  "$(awk -v a="$mw" -v b="$raw" 'BEGIN{printf "%.2fx", a/b}')" higher
exit 0
