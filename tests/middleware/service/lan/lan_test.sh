#!/usr/bin/env bash
# quarnguard.exe on a host of a test LAN: installed there as a service in the host's own
# prefix (never in the build's), driven by quarnguard_client through its switches, the service
# control manager and COM.
#   lan_test.sh SCENARIO LAN_TOOL QUARNGUARD_EXE CLIENT_EXE WORK_DIR
# SCENARIO: registration (keys and service configuration after each switch)
#           lifecycle    (five install-start-stop-uninstall cycles; start then stop 20 times)
#           answers      (activation starts the stopped service, which answers; a stop ends it)
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

scenario=$1 lan=$2 server=$3 client=$4 work=$5
name="qg$$${scenario:0:2}"
dir="$work/$name"
share="$dir/share"
source "$(dirname "$lan")/lan-lib.sh"
LAN_LOG_LINES=120
lan_begin "quarnguard lan_test $scenario" 220

mkdir -p "$dir"
bash "$lan" up "$name" 1 "$dir" || fail "the LAN could not be made"
mkdir -p "$share"
if [ -z "${DISPLAY:-}" ]; then
  bash "$lan" wine "$name" 1 "$dir" -- reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
    >>"$share/on.log" 2>&1 </dev/null
fi
module="Z:$(echo "$server" | tr / '\\')"

case $scenario in
  registration) filter='Registration.*' ;;
  lifecycle) filter='Lifecycle.*' ;;
  answers) filter='Answers.*' ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
lan_start client 1 "$client" "--gtest_filter=$filter" "$module"
finish client 200 || fail "the client failed"
grep -q '^\[  PASSED  \]' "$share/client.log" || fail "the client ran no test"
# The uninstall has finished: no service of this prefix starts with a later session.
echo "quarnguard lan_test $scenario: passed"
exit 0
