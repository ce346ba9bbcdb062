#!/usr/bin/env bash
# The middleware client against the real quarnhost on hosts of a test LAN: quarnhost registered
# with -RegServer in each host's own prefix (never in the build's prefix), the client program
# quarn_client_lan on the hosts.
#   lan_test.sh SCENARIO LAN_TOOL QUARNHOST_EXE CLIENT_EXE WORK_DIR
# SCENARIO: absent (never registered, then unregistered: the box at once and exit code 0)
#           hosts  (two hosts: start-up, ids, sendability, entries read across, three files)
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

scenario=$1 lan=$2 server=$3 client=$4 work=$5
name="qc$$${scenario:0:2}"
dir="$work/$name"
share="$dir/share"
winshare="Z:$share"
source "$(dirname "$lan")/lan-lib.sh"
LAN_LOG_LINES=150
lan_begin "middleware client lan_test $scenario" 220

on() {
  local host=$1
  shift
  bash "$lan" wine "$name" "$host" "$dir" -- "$@" >>"$share/on.log" 2>&1 </dev/null
}
register() {
  on "$1" "$server" "$2"
  local rc=$?
  [ $rc = 0 ] || fail "host $1: quarnhost $2 ended with $rc"
}
# start LOG HOST: CQuarn is constructed on HOST with no server to reach: one box at once, no
# owner, OK only, then exit code 0.
start_without_server() {
  lan_start "$1" "$2" "$client" start
  finish "$1" 30
  local rc=$?
  [ $rc = 0 ] || fail "$1: exit code $rc, not 0"
  local boxes
  boxes=$(grep -c '^BOX ' "$share/$1.log")
  [ "$boxes" = 1 ] || fail "$1: $boxes boxes"
  grep -q '^BOX owner=0000000000000000 type=0 text=\[Cannot use QUARN. Tavelin will terminate.\] caption=\[Tavelin\] after [0-9]* ms' \
    "$share/$1.log" || fail "$1: not the box expected"
  local ms
  ms=$(sed -n 's/^BOX .* after \([0-9]*\) ms.*/\1/p' "$share/$1.log")
  [ "$ms" -lt 1900 ] || fail "$1: the box came after $ms ms, not at once"
  grep -q CONSTRUCTED "$share/$1.log" && fail "$1: the constructor returned"
  echo "$1: box after $ms ms, exit code 0"
}
passed() {
  finish "$1" "$2" || fail "$1 failed"
  grep -q '^\[  PASSED  \]' "$share/$1.log" || fail "$1 ran no test"
}

hosts=1
[ "$scenario" = hosts ] && hosts=2
mkdir -p "$dir"
bash "$lan" up "$name" $hosts "$dir" || fail "the LAN could not be made"
mkdir -p "$share"
if [ -z "${DISPLAY:-}" ]; then
  for ((k = 1; k <= hosts; k++)); do on $k reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f; done
fi

case $scenario in
  absent)
    start_without_server never 1
    register 1 -RegServer
    register 1 -UnregServer
    start_without_server unregistered 1
    ;;
  hosts)
    register 1 -RegServer
    register 2 -RegServer
    lan_start b 2 "$client" --gtest_filter=Hosts.B "$winshare"
    lan_start a 1 "$client" --gtest_filter=Hosts.A "$winshare"
    passed a 190
    passed b 30
    grep -h FIGURE "$share/a.log" "$share/b.log"
    ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
echo "middleware client lan_test $scenario: passed"
exit 0
