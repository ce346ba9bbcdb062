#!/usr/bin/env bash
# quarnhost.exe as COM starts it for its clients, on hosts of a test LAN: registered with
# -RegServer in each host's own prefix, and called only through COM by quarn_client (GoogleTest).
#   lan_test.sh SCENARIO LAN_TOOL QUARNHOST_EXE CLIENT_EXE WORK_DIR
# SCENARIO: switches (registration switches, the registry after them, a server started by hand)
#           methods  (the methods' table through the proxy and IDispatch; any handle number)
#           lifetime (one process until quiet, its exit; two client processes, one core)
#           dead     (a client killed: its entries go, others' stay)
#           hosts    (two hosts: the root, a remote name, binary values, 8 MB A to B)
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

scenario=$1 lan=$2 server=$3 client=$4 work=$5
name="qh$$${scenario:0:2}"
dir="$work/$name"
share="$dir/share"
winshare="Z:$share"
source "$(dirname "$lan")/lan-lib.sh"
LAN_LOG_LINES=120
lan_begin "quarnhost lan_test $scenario" 200

# on HOST CMD...: a Windows program of the host's own prefix; its exit code.
on() {
  local host=$1
  shift
  bash "$lan" wine "$name" "$host" "$dir" -- "$@" >>"$share/on.log" 2>&1 </dev/null
}
# register HOST SWITCH: quarnhost with SWITCH on HOST must end with 0.
register() {
  on "$1" "$server" "$2"
  local rc=$?
  [ $rc = 0 ] || fail "host $1: quarnhost $2 ended with $rc"
}
# client LOG HOST FILTER: quarn_client's tests of FILTER on HOST, in the background.
client() { lan_start "$1" "$2" "$client" "--gtest_filter=$3" "$winshare" "$module"; }
# passed LOG SECONDS: the client ended and its tests passed.
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
# The path the server sees of itself, as LocalServer32 must hold it.
module="Z:$(echo "$server" | tr / '\\')"

case $scenario in
  switches)
    for sw in -RegServer /REGSERVER -regserver; do register 1 "$sw"; done
    client reg 1 'Registry.Registered'
    passed reg 60
    register 1 -UnregServer
    client unreg 1 'Registry.Removed'
    passed unreg 60
    register 1 -RegServer
    lan_start extra 1 "$server" -RegServer extra
    sleep 2
    kill -0 "${pid_of[extra]}" 2>/dev/null || fail "quarnhost -RegServer extra did not stay to serve"
    client served 1 'Switches.*'
    passed served 60
    # Unlocked by its one client, it ends by itself.
    finish extra 15 || fail "the server started by hand did not end after its client"
    ;;
  methods)
    register 1 -RegServer
    client methods 1 'Methods.*'
    passed methods 150
    ;;
  lifetime)
    register 1 -RegServer
    client life 1 'Lifetime.*'
    passed life 150
    grep FIGURE "$share/life.log"
    ;;
  dead)
    register 1 -RegServer
    client dead 1 'DeadClient.*'
    passed dead 120
    grep FIGURE "$share/dead.log"
    ;;
  hosts)
    register 1 -RegServer
    register 2 -RegServer
    client b 2 'TwoHosts.B'
    client a 1 'TwoHosts.A'
    passed a 170
    passed b 20
    ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
echo "quarnhost lan_test $scenario: passed"
exit 0
