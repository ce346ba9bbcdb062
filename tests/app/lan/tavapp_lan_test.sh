#!/usr/bin/env bash
# tavapp on a host of a test LAN with quarnhost registered by its own -RegServer, on the host's
# own display, driven by tav_driver on the same host: the hidden main window, standby refused,
# the terminate command with and without the lost-session box, what is stored at the end, an
# undefined command, and the start without a registered middleware. Every box is kept as a
# screenshot.
#   tavapp_lan_test.sh LAN_TOOL QUARNHOST TAVAPP TAVLANG DRIVER WORK_DIR
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

lan=$1 server=$2 tavapp=$3 tavlang=$4 driver=$5 work=$6
here=$(cd "$(dirname "$0")/.." && pwd)
source "$(dirname "$lan")/lan-lib.sh"
source "$here/drive-lib.sh"
lan_names "tav$$" "$work"
LAN_LOG_LINES=80
lan_begin "tavapp lan_test" 280

# The host's own display, from a free number that Xvfb picks itself.
xvfb_pid=""
start_display() {
  new_display "$dir.xvfb.log"
  xvfb_pid=$new_display_pid
  export DISPLAY=$new_display_name
}
finish_run() {
  [ -n "${drive_cmd:-}" ] && printf 'quit\n' >>"$drive_cmd"
  sleep 0.5
  lan_cleanup
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap finish_run EXIT

mkdir -p "$dir"
start_display
lan_up 1
shots="$share/shots"
drive_transcript="$share/transcript.txt"
folder="$share/F"
mkdir -p "$folder"
cp "$tavapp" "$tavlang" "$folder/"
winfolder=$(lan_winpath "$folder")
re() { sed 's/[][\.*^$?+(){}|/]/\\&/g' <<<"$1"; }

lan_must 1 "$server" -RegServer
drive_begin "$share"
lan_start driver-out 1 "$driver" "$(lan_winpath "$drive_cmd")" "$(lan_winpath "$drive_log")"
drive_ready
drive key 'Software\Keldar Corporation\Tavelin\2.0'
drive regdel
drive user
user=$(sed -n 's/^USER \[\(.*\)\]$/\1/p' <<<"$answer")
[ -n "$user" ] || fail "no user name"

start() {
  local id=$1
  shift
  drive start "$id" "$winfolder" "$winfolder\\tavapp.exe" "$@"
  expect_answer "^STARTED $id " "$id did not start"
}
# A start with a nickname of two words: the hidden main window.
start a "NICKNAME=Ann B"
main_window a
expect_answer '^WINDOW a class=\[[^]]*\] title=\[\] style=0x[0-9A-F]*8[0-9A-F]88[0-9A-F]{4} visible=0 rect=0,0,0,0$' "not the main window expected"
shot a-running
# Standby refused at once; the box comes from a worker thread.
drive send 0x218 0 0
expect_answer '^SENT 0x424D5144 [0-9]+ ms$' "the suspend query was not refused"
ms=$(sed -n 's/^SENT 0x424D5144 \([0-9]*\) ms$/\1/p' <<<"$answer")
[ "$ms" -lt 1000 ] || fail "the refusal took $ms ms"
echo "FIGURE suspend refused after $ms ms"
box a standby-refused "caption=\[Tavelin\] text=\[$(re 'Please terminate Tavelin before PC goes to standby \nor hybernation mode.' | sed 's/\\n/\\\\n/')\] icon=none buttons=\[OK\] owner=[^ ]+ topmost=1"
expect_answer 'owner=[^0]' "the standby box has no owner"
press a OK
for event in 7 0x12 0x8013; do
  drive send 0x218 "$event" 0
  expect_answer '^SENT 0x1 ' "power event $event not answered with 1"
done
# The user's terminate: no box, exit 0; the preferences and the nickname stored.
drive post 0x8064 1 1
expect_answer '^POSTED 1' "the terminate command was not posted"
ended a 0
server_gone 1 10
stored nickname 'sz 4 \[Ann\]'
stored mute 'dword 0'
stored cursor 'dword 1'
stored skin 'dword 0'
stored viewbg 'dword 0'
stored custombg 'sz 1 \[\]'
stored resourcepath "sz [0-9]+ \[$(re "$winfolder")\]"

# Without the option the stored nickname stays.
start b
main_window b
drive post 0x8064 1 1
ended b 0
stored nickname 'sz 4 \[Ann\]'
# Nothing stored: the user's name.
drive regdel nickname
start c
main_window c
drive post 0x8064 1 1
ended c 0
stored nickname "sz [0-9]+ \[$(re "$user")\]"

# The session lost: the box, then the end.
start d
main_window d
drive post 0x8064 1 0
box d session-lost "caption=\[Tavelin\] text=\[$(re 'Tavelin will be terminated since there is no communication \nwith the SERVER Application.' | sed 's/\\n/\\\\n/')\] icon=none buttons=\[OK\] owner=[^ ]+ topmost=1"
expect_answer 'owner=[^0]' "the lost-session box has no owner"
press d OK
ended d 0

# An undefined command is a fatal stop.
start e
main_window e
: >"$folder/log.dat"
drive post 0x8064 7 0
# The trace facility ends a stop with a code outside 0..255 abnormally (3).
ended e 3
grep -q 'ABORT: at' "$folder/log.dat" || fail "no ABORT line in log.dat"
grep -q 'FATAL ERROR: .*undefined command 7' "$folder/log.dat" || fail "the stop does not name the command"
# A client that ends without letting go keeps the server alive: it is stopped by hand.
pid=$(host_pid 1 quarnhost.exe) && kill -KILL "$pid"
server_gone 1 10

# The middleware unregistered: its box, exit 1.
lan_must 1 "$server" -UnregServer
start f
box f no-middleware 'caption=\[Tavelin\] text=\[Cannot use Quarn\. Tavelin will terminate\.\] icon=none buttons=\[OK\] owner=0 topmost=0'
press f OK
ended f 1
drive quit
echo "tavapp lan_test: passed, screenshots in $shots"
cp -r "$shots" "$work/tavapp-lan-shots" 2>/dev/null
exit 0
