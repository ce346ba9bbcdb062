#!/usr/bin/env bash
# quarnguard.exe on a host of a test LAN: installed there as a service in the host's own
# prefix (never in the build's), driven by quarnguard_client through its switches, the service
# control manager and COM.
#   lan_test.sh SCENARIO LAN_TOOL QUARNGUARD_EXE CLIENT_EXE WORK_DIR [QUARNHOST_EXE]
# SCENARIO: registration (keys and service configuration after each switch)
#           lifecycle    (five install-start-stop-uninstall cycles; start then stop 20 times)
#           answers      (activation and "net start" start the service, which answers; a stop
#                        ends it; a plain run serves until its last release)
#           coexist      (beside quarnhost: its port, each one's registration removed)
#           security     (stale files; access to its folder, a transfer's file and its lock,
#                        the Unix modes read here; a foreign holder of the lock)
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

scenario=$1 lan=$2 server=$3 client=$4 work=$5 hostserver=${6:-}
source "$(dirname "$lan")/lan-lib.sh"
lan_names "qg$$${scenario:0:2}" "$work"
LAN_LOG_LINES=120
lan_begin "quarnguard lan_test $scenario" 220

lan_up 1
module=$(lan_winpath "$server")
hostmodule=$(lan_winpath "$hostserver")

case $scenario in
  registration) filter='Registration.*' ;;
  lifecycle) filter='Lifecycle.*' ;;
  answers) filter='Answers.*' ;;
  coexist) filter='Coexist.*' ;;
  security) filter='Security.*' ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
lan_start client 1 "$client" "--gtest_filter=$filter" "$module" "$hostmodule" "Z:$share"
if [ "$scenario" = security ]; then
  # The client asks for the Unix modes of the service's folder and file (their paths in
  # modes.req) while they exist; the answer is "MODE PATH" a line.
  for ((i = 0; i < 1500; i++)); do
    [ -f "$share/modes.req" ] && break
    kill -0 "${pid_of[client]}" 2>/dev/null || break
    sleep 0.1
  done
  if [ -f "$share/modes.req" ]; then
    while read -r path; do stat -c '%a %n' "$path"; done <"$share/modes.req" >"$share/modes.new" 2>>"$share/on.log"
    mv "$share/modes.new" "$share/modes.txt"
  fi
fi
lan_passed client 200
grep -E '^(FIGURE|MODE|ACCESS) ' "$share/client.log"
# The uninstall has finished: no service of this prefix starts with a later session.
echo "quarnguard lan_test $scenario: passed"
exit 0
