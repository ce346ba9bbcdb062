#!/usr/bin/env bash
# The lookup-service proxy against the real quarnhost on two hosts of a test LAN: quarnhost
# registered with -RegServer in each host's own prefix (never in the build's prefix), a
# terminal holding a proxy on each host and a writer of foreign entries on host B.
#   lus_test.sh SCENARIO LAN_TOOL QUARNHOST_EXE PROGRAM WORK_DIR
# SCENARIO: hosts (layout read across, searches across hosts, foreign entries on B)
#           gone  (seen from A: a terminal on B killed, B's server frozen and resumed, B's
#                  Wine stopped)
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

scenario=$1 lan=$2 server=$3 program=$4 work=$5
source "$(dirname "$lan")/lan-lib.sh"
lan_names "lp$$${scenario:0:2}" "$work"
LAN_LOG_LINES=150
lan_begin "lookup proxy lus_test $scenario" 220

register() { lan_must "$1" "$server" "$2"; }

lan_up 2
register 1 -RegServer
register 2 -RegServer

case $scenario in
  hosts)
    lan_start b 2 "$program" --gtest_filter=LusLan.B "$winshare"
    lan_start w 2 "$program" --gtest_filter=LusLan.Writer "$winshare"
    lan_start a 1 "$program" --gtest_filter=LusLan.A "$winshare"
    lan_passed a 190
    lan_passed b 30
    lan_passed w 30
    # A record's address is the computer's own, never the loopback or the unset one.
    grep -q '\[127\.0\.0\.1\]\|\[0\.0\.0\.0\]' "$share/a.log" "$share/b.log" && fail "a record with a local-only address"
    grep -h FIGURE "$share/a.log" "$share/b.log"
    ;;
  gone)
    lan_start b 2 "$program" --gtest_filter=LusGone.B "$winshare"
    lan_start k 2 "$program" --gtest_filter=LusGone.K "$winshare"
    lan_start a 1 "$program" --gtest_filter=LusGone.A "$winshare"
    when_cued a kill-K 120
    pid=$(host_pid 2 LusGone.K) || fail "no terminal K on B"
    kill -KILL "$pid"
    cued kill-K
    when_cued a freeze-B 60
    pid=$(host_pid 2 quarnhost.exe) || fail "no server on B"
    freeze "$pid"
    cued freeze-B
    when_cued a thaw-B 60
    thaw
    cued thaw-B
    when_cued a stop-B 60
    stop_host 2
    cued stop-B
    lan_passed a 90
    grep -h FIGURE "$share/a.log"
    ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
echo "lookup proxy lus_test $scenario: passed"
exit 0
