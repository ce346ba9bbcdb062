#!/usr/bin/env bash
# The middleware client against the real quarnhost on hosts of a test LAN: quarnhost registered
# with -RegServer in each host's own prefix (never in the build's prefix), the client program
# quarn_client_lan on the hosts.
#   lan_test.sh SCENARIO LAN_TOOL QUARNHOST_EXE CLIENT_EXE WORK_DIR
# SCENARIO: absent (never registered, then unregistered: the box at once and exit code 1)
#           isolated (a host cut off from every network, lo included: the box after five tries)
#           hosts  (two hosts: start-up, ids, sendability, entries read across, three files)
#           gone   (two hosts: B joins A's open root, B's server frozen and resumed, B's Wine
#                   ended, A's own server killed under its client)
#           entries (two hosts: an application directory's entries written on B, read on A;
#                   files from A taken on B)
#           terminals (one host: terminals 3 and 4 in two processes; a transfer by its ticket;
#                   the copy window released and set again)
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

scenario=$1 lan=$2 server=$3 client=$4 work=$5
source "$(dirname "$lan")/lan-lib.sh"
lan_names "qc$$${scenario:0:2}" "$work"
LAN_LOG_LINES=150
# Ends the run, with its clean-up, before CTest's time limit for the scenario would.
case $scenario in
  isolated) limit=90 ;;
  gone | entries | terminals) limit=150 ;;
  *) limit=220 ;;
esac
lan_begin "middleware client lan_test $scenario" $limit

register() { lan_must "$1" "$server" "$2"; }
# start LOG HOST [FROM TO [CODE]]: CQuarn is constructed on HOST with no middleware to use: one
# box, no owner, OK only, then exit code 1; the box comes FROM .. TO ms after the start (at once
# by default); with CODE, the connection failed with that last error (as 0x%08X).
start_without_server() {
  local from=${3:-0} to=${4:-1900} code=${5:-}
  lan_start "$1" "$2" "$client" start
  finish "$1" 60
  local rc=$?
  [ $rc = 1 ] || fail "$1: exit code $rc, not 1"
  local boxes
  boxes=$(grep -c '^BOX ' "$share/$1.log")
  [ "$boxes" = 1 ] || fail "$1: $boxes boxes"
  grep -q '^BOX owner=0000000000000000 type=0 text=\[Cannot use QUARN. Tavelin will terminate.\] caption=\[Tavelin\] after [0-9]* ms' \
    "$share/$1.log" || fail "$1: not the box expected"
  local ms
  ms=$(sed -n 's/^BOX .* after \([0-9]*\) ms.*/\1/p' "$share/$1.log")
  [ "$ms" -ge "$from" ] && [ "$ms" -lt "$to" ] || fail "$1: the box came after $ms ms, not within $from .. $to ms"
  grep -q CONSTRUCTED "$share/$1.log" && fail "$1: the constructor returned"
  if [ -n "$code" ]; then
    grep -q "the middleware cannot be used: .*GetLastError()= $code" "$share/$1.log" || fail "$1: not failed with $code"
  fi
  echo "FIGURE $1: box after $ms ms, exit code 1"
}
# pair SUITE SECONDS: SUITE.B on host 2, then SUITE.A on host 1, each with quarnhost registered
# in its prefix; A must pass within SECONDS, B soon after.
pair() {
  register 1 -RegServer
  register 2 -RegServer
  lan_start b 2 "$client" --gtest_filter="$1.B" "$winshare"
  lan_start a 1 "$client" --gtest_filter="$1.A" "$winshare"
  lan_passed a "$2"
  lan_passed b 30
}

hosts=1
case $scenario in hosts | gone | entries) hosts=2 ;; esac
lan_up $hosts

case $scenario in
  absent)
    # The class is not registered: its code kept as it is.
    start_without_server never 1 0 1900 0x80040154
    register 1 -RegServer
    register 1 -UnregServer
    start_without_server unregistered 1 0 1900 0x80040154
    ;;
  isolated)
    bash "$lan" isolate "$name" 1 || fail "host 1 could not be cut off"
    register 1 -RegServer
    # The server starts but never hears its own alive: five 2000 ms sleeps, each followed by an
    # open of the root, then the box.
    start_without_server isolated 1 10000 25000
    tries=$(grep -c 'initialize: the root directory does not open\|initialize: the middleware is still starting' "$share/isolated.log")
    [ "$tries" = 5 ] || fail "isolated: $tries tries, not 5"
    ;;
  hosts)
    pair Hosts 190
    grep -h FIGURE "$share/a.log" "$share/b.log"
    ;;
  gone)
    register 1 -RegServer
    register 2 -RegServer
    lan_start a 1 "$client" --gtest_filter=Gone.A "$winshare"
    when_cued a start-B 60
    lan_start b 2 "$client" --gtest_filter=Gone.B "$winshare"
    cued start-B
    when_cued a freeze-B 90
    pid=$(host_pid 2 quarnhost.exe) || fail "no server on B"
    freeze "$pid"
    cued freeze-B
    when_cued a thaw-B 30
    thaw
    cued thaw-B
    when_cued a stop-B 60
    stop_host 2
    cued stop-B
    when_cued a kill-server-A 60
    pid=$(host_pid 1 quarnhost.exe) || fail "no server on A"
    kill -KILL "$pid"
    cued kill-server-A
    lan_passed a 60
    grep -h FIGURE "$share/a.log" "$share/b.log"
    ;;
  entries)
    pair Entries 120
    ;;
  terminals)
    register 1 -RegServer
    lan_start four 1 "$client" --gtest_filter=Terminals.Four "$winshare"
    lan_start three 1 "$client" --gtest_filter=Terminals.Three "$winshare"
    lan_passed three 120
    lan_passed four 30
    ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
echo "middleware client lan_test $scenario: passed"
exit 0
