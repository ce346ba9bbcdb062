#!/usr/bin/env bash
# Hosts of a test LAN: quarnguard installed as a service on hosts 1 and 2 (in each host's own
# prefix) against each other, then host 1's against quarnhost on host 3; quarnguard_pair drives
# each side through COM, and the clients meet through files in the shared folder. Everything installed is uninstalled,
# and each uninstall has finished before the run ends.
#   pair_test.sh LAN_TOOL QUARNGUARD_EXE QUARNHOST_EXE PAIR_EXE WORK_DIR
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

lan=$1 guard=$2 host=$3 client=$4 work=$5
name="qgp$$"
dir="$work/$name"
share="$dir/share"
winshare="Z:$share"
source "$(dirname "$lan")/lan-lib.sh"
LAN_LOG_LINES=150
lan_begin "quarnguard pair_test" 280

# on HOST CMD...: a Windows program of the host's own prefix; its exit code.
on() {
  local k=$1
  shift
  bash "$lan" wine "$name" "$k" "$dir" -- "$@" >>"$share/on.log" 2>&1 </dev/null
}
# run HOST WHAT...: must end with 0.
run() {
  on "$@"
  local rc=$?
  [ $rc = 0 ] || fail "host $1: ${*:2} ended with $rc"
}
client() { lan_start "$1" "$2" "$client" "--gtest_filter=Pair.$3" "$winshare"; }
passed() {
  finish "$1" "$2" || fail "$1 failed"
  grep -q '^\[  PASSED  \] 1 test' "$share/$1.log" || fail "$1 ran no test"
  grep -h '^\[       OK \]' "$share/$1.log"
}

mkdir -p "$dir"
bash "$lan" up "$name" 3 "$dir" || fail "the LAN could not be made"
mkdir -p "$share"
if [ -z "${DISPLAY:-}" ]; then
  for k in 1 2 3; do on $k reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f; done
fi
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

# Guard against guard; the clients' activation starts each service.
run 1 "$(winpath "$guard")" -Service
run 2 "$(winpath "$guard")" -Service
client a 1 GuardA
client b 2 GuardB
passed b 150
# Host 2's service has stopped (its client did that): uninstalled.
run 2 "$(winpath "$guard")" -UnregServer
# quarnhost on a host of its own: in a Wine session where a service of COM classes ran, a plain
# local server that COM starts later fails its first call (0x80070778, measured).
run 3 "$(winpath "$host")" -RegServer
client h 3 Host
passed h 90
passed a 30
run 1 "$(winpath "$guard")" -UnregServer
# quarnhost ends 5 s after its last client; then it is unregistered.
sleep 6
run 3 "$(winpath "$host")" -UnregServer
echo "quarnguard pair_test: passed"
exit 0
