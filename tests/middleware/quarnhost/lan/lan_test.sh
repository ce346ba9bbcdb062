#!/usr/bin/env bash
# quarnhost.exe as COM starts it for its clients, on hosts of a test LAN: registered with
# -RegServer in each host's own prefix, and called only through COM by quarn_client (GoogleTest).
#   lan_test.sh SCENARIO LAN_TOOL QUARNHOST_EXE CLIENT_EXE WORK_DIR
# SCENARIO: switches (registration switches, the registry after them, a server started by hand)
#           methods  (the methods' table through the proxy and IDispatch; any handle number)
#           lifetime (one process until quiet, its exit; two client processes, one core)
#           dead     (a client killed: its entries go, others' stay)
#           hosts    (two hosts: the root, a remote name, binary values, 8 MB A to B)
#           headless (a fresh host without a display: the server COM starts makes its windows)
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

scenario=$1 lan=$2 server=$3 client=$4 work=$5
source "$(dirname "$lan")/lan-lib.sh"
lan_names "qh$$${scenario:0:2}" "$work"
LAN_LOG_LINES=120
lan_begin "quarnhost lan_test $scenario" 200

# register HOST SWITCH: quarnhost with SWITCH on HOST must end with 0.
register() { lan_must "$1" "$server" "$2"; }
# client LOG HOST FILTER: quarn_client's tests of FILTER on HOST, in the background.
client() { lan_start "$1" "$2" "$client" "--gtest_filter=$3" "$winshare" "$module"; }

hosts=1
[ "$scenario" = hosts ] && hosts=2
# As from a shell without X: the host is made without a display.
[ "$scenario" = headless ] && unset DISPLAY
lan_up $hosts
# The path the server sees of itself, as LocalServer32 must hold it.
module=$(lan_winpath "$server")

case $scenario in
  switches)
    for sw in -RegServer /REGSERVER -regserver; do register 1 "$sw"; done
    client reg 1 'Registry.Registered'
    lan_passed reg 60
    register 1 -UnregServer
    client unreg 1 'Registry.Removed'
    lan_passed unreg 60
    register 1 -RegServer
    lan_start extra 1 "$server" -RegServer extra
    sleep 2
    kill -0 "${pid_of[extra]}" 2>/dev/null || fail "quarnhost -RegServer extra did not stay to serve"
    client served 1 'Switches.*'
    lan_passed served 60
    # Unlocked by its one client, it ends by itself.
    finish extra 15 || fail "the server started by hand did not end after its client"
    ;;
  methods)
    register 1 -RegServer
    client methods 1 'Methods.*'
    lan_passed methods 150
    ;;
  lifetime)
    register 1 -RegServer
    client life 1 'Lifetime.*'
    lan_passed life 150
    grep FIGURE "$share/life.log"
    ;;
  dead)
    register 1 -RegServer
    client dead 1 'DeadClient.*'
    lan_passed dead 120
    grep FIGURE "$share/dead.log"
    ;;
  hosts)
    register 1 -RegServer
    register 2 -RegServer
    client b 2 'TwoHosts.B'
    client a 1 'TwoHosts.A'
    lan_passed a 170
    lan_passed b 20
    ;;
  headless)
    register 1 -RegServer
    client headless 1 'Headless.*'
    lan_passed headless 60
    ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
echo "quarnhost lan_test $scenario: passed"
exit 0
