#!/usr/bin/env bash
# Hosts of a test LAN: quarnguard installed as a service on hosts 1 and 2 (in each host's own
# prefix) against each other, then host 1's against quarnhost on host 3; quarnguard_pair drives
# each side through COM, and the clients meet through files in the shared folder. Everything installed is uninstalled,
# and each uninstall has finished before the run ends.
#   pair_test.sh LAN_TOOL QUARNGUARD_EXE QUARNHOST_EXE PAIR_EXE WORK_DIR
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

lan=$1 guard=$2 host=$3 client=$4 work=$5
source "$(dirname "$lan")/lan-lib.sh"
lan_names "qgp$$" "$work"
LAN_LOG_LINES=150
lan_begin "quarnguard pair_test" 280

client() { lan_start "$1" "$2" "$client" "--gtest_filter=Pair.$3" "$winshare"; }
# passed LOG SECONDS: its one test passed; the test's line is shown.
passed() {
  lan_passed "$1" "$2"
  grep -q '^\[  PASSED  \] 1 test' "$share/$1.log" || fail "$1 ran not its one test"
  grep -h '^\[       OK \]' "$share/$1.log"
}

lan_up 3
# Progress and closes under way need transfers that take a while: a link of 100 Mbit/s.
lan_shape 3 100mbit

# Guard against guard; the clients' activation starts each service.
lan_must 1 "$(lan_winpath "$guard")" -Service
lan_must 2 "$(lan_winpath "$guard")" -Service
client a 1 GuardA
client b 2 GuardB
passed b 150
# Host 2's service has stopped (its client did that): uninstalled.
lan_must 2 "$(lan_winpath "$guard")" -UnregServer
# quarnhost on a host of its own: in a Wine session where a service of COM classes ran, a plain
# local server that COM starts later fails its first call (0x80070778, measured).
lan_must 3 "$(lan_winpath "$host")" -RegServer
client h 3 Host
passed h 90
passed a 30
lan_must 1 "$(lan_winpath "$guard")" -UnregServer
# quarnhost ends 5 s after its last client; then it is unregistered.
sleep 6
lan_must 3 "$(lan_winpath "$host")" -UnregServer
echo "quarnguard pair_test: passed"
exit 0
