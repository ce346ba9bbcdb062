#!/usr/bin/env bash
# The stage across three hosts of a test LAN: H hosts, A joins and installs a 640 x 480 picture
# and a program file, B joins late. Each runs stage_peer (real CNetwork, stage, contents, file
# copy, a recording view that it logs).
#   stage_lan_test.sh LAN_TOOL PEER_EXE WORK_DIR
# Steps: B sees both contents and every cursor, with A's picture block, H's lower-layer order
# and reference number 2; A's move to the top reaches H and B in one order; H's solid 800 x 400
# custom background reaches B; A is killed and its contents and cursor go on H and on B.
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

lan=$1 peer=$2 work=$3
source "$(dirname "$lan")/lan-lib.sh"
lan_names "st$$" "$work"
LAN_LOG_LINES=60
lan_begin "stage lan_test" 270
trap 'fail "stopped at the time limit"' TERM

ip_h=$(bash "$lan" addr 1)

# start LOG HOST ARGS...: the peer on that host with an empty command file.
start() {
  : >"$share/$1.cmd"
  local log=$1 host=$2
  shift 2
  lan_start "$log" "$host" "$peer" "$@"
}
post() {
  local log=$1 line
  shift
  for line in "$@"; do echo "$line" >>"$share/$log.cmd"; done
}
must_see() { wait_exact "$1" "$2" 1 "${3:-30}" || fail "$1 did not log [$2] once"; }
# count LOG PATTERN: lines of the log matching the extended pattern.
count() { grep -cE "$2" "$share/$1.log"; }
wait_count() {
  local i
  for ((i = 0; i < $4 * 2; i++)); do
    [ "$(count "$1" "$2")" -eq "$3" ] && return 0
    sleep 0.5
  done
  fail "$1 logged [$2] $(count "$1" "$2") times, not $3"
}
last_layer() {
  post "$1" layer
  sleep 1
  grep -E ' LAYER ' "$share/$1.log" | tail -n 1 | cut -d' ' -f3-
}
# The picture blocks a terminal's displays were given (length and CRC), sorted.
blocks() { grep -oE 'setViewData len=[1-9][0-9]* crc=[0-9a-f]+ [0-9]+x[0-9]+' "$share/$1.log" | sort -u; }

lan_up 3
start H 1 host "$winshare" H
must_see H PLUGGED 120
start A 2 join "$winshare" A "$ip_h"
must_see A "REFER 1" 120
post A "picture $winshare\\A\\drop.bmp 640 480" "install C:\\windows\\system32\\notepad.exe"
wait_count H 'VIEW getElementDisplay ' 2 60
start B 3 join "$winshare" B "$ip_h"
must_see B "REFER 2" 120

# a. B: both contents and the three cursors, its own marked own; A's picture block as on A and
# H; the icon of the program file; H's lower-layer order.
wait_count B 'VIEW getElementDisplay ' 2 60
wait_count B 'VIEW getCursorDisplay ' 3 60
[ "$(count B 'VIEW getCursorDisplay own .*_ELEM_DESC_SEP_B_ELEM_DESC_SEP_\*\.\*$')" -eq 1 ] || fail "B's own cursor is not own"
[ "$(count B 'VIEW getCursorDisplay own ')" -eq 1 ] || fail "B has more than one own cursor"
sleep 2
[ -n "$(blocks A)" ] || fail "A's picture has no block"
[ "$(blocks A)" = "$(blocks B)" ] || fail "B's blocks [$(blocks B)] are not A's [$(blocks A)]"
[ "$(blocks H)" = "$(blocks B)" ] || fail "H's blocks [$(blocks H)] are not B's [$(blocks B)]"
[ "$(count B 'setIcon len=[1-9]')" -eq 1 ] || fail "B did not get the program's icon"
layer_h=$(last_layer H)
[ -n "$layer_h" ] || fail "H has no lower layer"
[ "$(last_layer B)" = "$layer_h" ] || fail "B's lower layer is not H's"

# b. A moves its bottom content to the top: H and B end in one order, other than before.
post A "top 0"
wait_count H 'VIEW moveToTop ' 1 30
wait_count B 'VIEW moveToTop ' 1 30
layer_h2=$(last_layer H)
[ "$layer_h2" != "$layer_h" ] || fail "the move changed nothing on H"
[ "$(last_layer B)" = "$layer_h2" ] || fail "B's lower layer is not H's after the move"

# c. H's custom background reaches B: the same size and block, and background 4.
post H "custom $winshare\\H\\custom.bmp 800 400"
wait_count B 'VIEW changeCustomBgData len=' 1 30
shown_h=$(grep -oE 'VIEW changeCustomBgData len=[1-9][0-9]* crc=[0-9a-f]+ 800x400' "$share/H.log" | tail -n 1)
[ -n "$shown_h" ] || fail "H does not show an 800 x 400 custom background"
[ "$(grep -oE 'VIEW changeCustomBgData .*' "$share/B.log" | tail -n 1)" = "$shown_h" ] || fail "B's custom background is not H's"
wait_count B 'VIEW changeBackGround 4' 1 30

# d. A is killed: its two contents and its cursor go on H and on B.
pid=$(host_pid 2 "stage_peer") || fail "no peer A on host 2"
killed=$(date +%s)
kill -KILL "$pid"
must_see H "POSTED LOC_uninstallAll A" 90
wait_count H 'VIEW releaseDisplay ' 3 30
wait_count B 'VIEW releaseDisplay ' 3 30
echo "FIGURE H and B released the killed A's displays after $(( $(date +%s) - killed )) s"

for t in B H; do
  post $t close
  finish $t 60 || fail "$t did not end"
  must_see $t "CLOSED OK" 1
done
echo "stage lan_test: passed"
exit 0
