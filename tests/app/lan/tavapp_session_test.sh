#!/usr/bin/env bash
# tavapp on two hosts of a test LAN, quarnhost registered by its own -RegServer on each, each
# host with its own display and its own tav_driver: the first starts alone and hosts a session,
# published in the lookup service; the second joins it; the host ends by its terminate command
# and the joined terminal tells its user and ends; every end takes its record out of the lookup
# service; a forged newest host record that cannot be joined makes the next start host. A
# lookup probe (a terminal of its own, lus_probe) reads and forges the records; every box is
# kept as a screenshot.
#   tavapp_session_test.sh LAN_TOOL QUARNHOST TAVAPP TAVLANG DRIVER PROBE WORK_DIR
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

lan=$1 server=$2 tavapp=$3 tavlang=$4 driver=$5 probe=$6 work=$7
here=$(cd "$(dirname "$0")/.." && pwd)
source "$(dirname "$lan")/lan-lib.sh"
source "$here/drive-lib.sh"
lan_names "tvs$$" "$work"
LAN_LOG_LINES=80
lan_begin "tavapp session_test" 380

APP=764A7520-9D2C-11d4-AFDB-00105A67EDD0
IP1=198.18.0.1
IP2=198.18.0.2
GUID='[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}'

# Each host's own display, from a free number that Xvfb picks itself.
declare -A display_of xvfb_of
start_display() {
  local fd d="" i
  exec {fd}<> <(:)
  Xvfb -displayfd "$fd" -br -screen 0 1280x1024x24 -nolisten tcp >"$dir.xvfb$1.log" 2>&1 &
  xvfb_of[$1]=$!
  for ((i = 0; i < 100; i++)); do read -r -t 0.1 d <&"$fd" && break; done
  exec {fd}<&-
  [ -n "$d" ] || fail "no display for host $1"
  display_of[$1]=":$d"
}
finish_run() {
  local k
  for k in 1 2; do [ -f "$share/d$k/driver.cmd" ] && printf 'quit\n' >>"$share/d$k/driver.cmd"; done
  [ -n "${share:-}" ] && : >"$share/stop.hold" 2>/dev/null
  sleep 0.5
  # What each program wrote, for a look after the run.
  rm -rf "$work/tavapp-session-logs"
  mkdir -p "$work/tavapp-session-logs"
  for k in 1 2; do
    cp "$share/F$k/log.dat" "$work/tavapp-session-logs/tavapp$k.log" 2>/dev/null
    cp "$share/d$k/driver.log" "$work/tavapp-session-logs/driver$k.log" 2>/dev/null
  done
  cp "$share"/*.log "$share/transcript.txt" "$work/tavapp-session-logs/" 2>/dev/null
  lan_cleanup
  for k in "${!xvfb_of[@]}"; do kill "${xvfb_of[$k]}" 2>/dev/null; done
}
trap finish_run EXIT

mkdir -p "$dir"
start_display 1
start_display 2
lan_up 2
shots="$share/shots"
drive_transcript="$share/transcript.txt"
re() { sed 's/[][\.*^$?+(){}|/]/\\&/g' <<<"$1"; }

# One driver per host; "on K" makes host K's the one that drive talks to (and its display the
# one that shot takes).
declare -A drive_n_of
current=""
on() {
  [ -n "$current" ] && drive_n_of[$current]=$drive_n
  current=$1
  drive_cmd=$share/d$1/driver.cmd
  drive_log=$share/d$1/driver.log
  drive_n=${drive_n_of[$1]}
  export DISPLAY=${display_of[$1]}
}
for k in 1 2; do
  mkdir -p "$share/F$k" "$share/d$k"
  cp "$tavapp" "$tavlang" "$share/F$k/"
  lan_must $k "$server" -RegServer
  export DISPLAY=${display_of[$k]}
  drive_begin "$share/d$k"
  drive_n_of[$k]=0
  lan_start driver-out$k $k "$driver" "$(lan_winpath "$drive_cmd")" "$(lan_winpath "$drive_log")"
  drive_ready
done

# start ID [ARGS]: tavapp on the current host, from its own folder.
start() {
  local id=$1 folder
  shift
  folder=$(lan_winpath "$share/F$current")
  drive start "$id" "$folder" "$folder\\tavapp.exe" "$@"
  expect_answer "^STARTED $id " "$id did not start"
}
# records K: the records that a probe on host K lists, in $records, one "RECORD ..." a line.
records() {
  bash "$lan" wine "$name" "$1" "$dir" -- "$probe" "$APP" 2 60 >"$share/probe.out" 2>&1 </dev/null
  grep -q '^END' "$share/probe.out" || fail "the probe on host $1 listed nothing: $(cat "$share/probe.out")"
  records=$(grep '^RECORD ' "$share/probe.out" | tr -d '\r')
  echo "> probe $1 :: $records" >>"$drive_transcript"
}
# until_records K COUNT: probes on host K until it lists COUNT records (at most 60 s).
until_records() {
  local i
  for ((i = 0; i < 30; i++)); do
    records "$1"
    [ "$(grep -c '^RECORD' <<<"$records")" = "$2" ] && return 0
    sleep 2
  done
  fail "host $1: not $2 records but [$records]"
}

# A probe on each host holds its computer's middleware, so that it keeps the other computer in
# view and keeps the records while the terminals come and go.
for k in 1 2; do lan_start holder$k $k "$probe" "$APP" 2 90 "$(lan_winpath "$share/stop.hold")"; done
for k in 1 2; do
  for ((i = 0; i < 900; i++)); do grep -q '^END' "$share/holder$k.log" 2>/dev/null && break; sleep 0.1; done
  grep -q '^END' "$share/holder$k.log" || fail "the holding probe on host $k does not see both computers"
done
on 1
start a NICKNAME=Ann DUMP
main_window a

# a. The first terminal hosts: one "Server" record, its computer's address, the descriptor.
until_records 2 1
line=$(grep ' \[Server\] ' <<<"$records") || fail "no Server record: [$records]"
[[ "$line" =~ ^RECORD\ ($GUID)\ valid\ \[Server\]\ \[$IP1\]\ 0\ \[TIME=([0-9]{17})\ SESSION=($GUID)\]$ ]] ||
  fail "not the host record expected: [$line]"
host_id=${BASH_REMATCH[1]} stamp=${BASH_REMATCH[2]}
now=$(date -u +%s)
age=$((now - $(date -u -d "${stamp:0:8} ${stamp:8:2}:${stamp:10:2}:${stamp:12:2}" +%s)))
[ "$age" -ge 0 ] && [ "$age" -le 60 ] || fail "the stamp $stamp is not within a minute of UTC now ($(date -u +%Y%m%d%H%M%S))"
echo "FIGURE the host record is $age s old"

# The second terminal joins: a plain record at its own address, still one host.
on 2
start b NICKNAME=Bob DUMP
main_window b
until_records 2 2
[ "$(grep -c ' \[Server\] ' <<<"$records")" = 1 ] || fail "not one Server record: [$records]"
grep ' \[Server\] ' <<<"$records" | grep -q "^RECORD $host_id " || fail "the host record changed: [$records]"
line=$(grep -v ' \[Server\] ' <<<"$records")
[[ "$line" =~ ^RECORD\ ($GUID)\ valid\ \[\]\ \[$IP2\]\ 0\ \[\]$ ]] || fail "not the joined record expected: [$line]"
joined_id=${BASH_REMATCH[1]}
grep -q "joined the session of \[$host_id\] at $IP1" "$share/F2/log.dat" || fail "b did not join a's session"

# The joined terminal ends by its terminate command: no box, exit 0, its record gone; the host
# runs on. Started again, it joins again.
drive post 0x8064 1 1
expect_answer '^POSTED 1' "the terminate command was not posted"
ended b 0 20
until_records 2 1
grep -q "^RECORD $host_id valid \[Server\] " <<<"$records" || fail "not only a's record left: [$records]"
on 1
drive box a 0
expect_answer '^NOBOX a' "a showed a box when b left"
drive main a
expect_answer '^WINDOW a ' "a ended when b left"
on 2
: >"$share/F2/log.dat"
start b2 NICKNAME=Bob DUMP
main_window b2
until_records 2 2
line=$(grep -v ' \[Server\] ' <<<"$records")
[[ "$line" =~ ^RECORD\ ($GUID)\ valid\ \[\]\ \[$IP2\]\ 0\ \[\]$ ]] || fail "not the joined record expected: [$line]"
joined_id=${BASH_REMATCH[1]}
grep -q "joined the session of \[$host_id\] at $IP1" "$share/F2/log.dat" || fail "b2 did not join a's session"

# The host ends by its terminate command: no box, exit 0. The joined terminal tells its user
# and ends.
on 1
drive post 0x8064 1 1
expect_answer '^POSTED 1' "the terminate command was not posted"
ended a 0 20
shot a-ended
# Its record went with it; the joined terminal's is still there. (Another computer's view of
# the records follows a change after a moment.)
until_records 2 1
[[ "$records" =~ ^RECORD\ $joined_id\ valid\ \[\]\ \[$IP2\]\ 0\ \[\]$ ]] || fail "not only b's record left: [$records]"
on 2
box b2 session-lost "caption=\[Tavelin\] text=\[$(re 'Tavelin will be terminated since there is no communication \nwith the SERVER Application.' | sed 's/\\n/\\\\n/')\] icon=none buttons=\[OK\] owner=[^ ]+ topmost=1"
press b2 OK
ended b2 0
until_records 2 0

# Without a client the middleware of each host ends.
: >"$share/stop.hold"
for k in 1 2; do finish holder$k 30 || fail "the holding probe on host $k did not end"; done
server_gone 1 10
server_gone 2 10

# A forged newest host record whose session name is no GUID text, then one of a session that
# no host has: the next start hosts as if that session had gone; no box, it keeps running.
n=0
for forged in "SESSION=not-a-guid|cannot be joined" "SESSION=0F0F0F0F-1111-2222-3333-444444444444|has vanished"; do
  n=$((n + 1))
  data="TIME=99991231235959999 ${forged%|*}"
  rm -f "$share/stop.hold"
  # A probe on host 1 as well, so that its middleware sees the forged record when c starts.
  lan_start keeper$n 1 "$probe" "$APP" 2 90 "$(lan_winpath "$share/stop.hold")"
  lan_start forger$n 2 "$probe" "$APP" 2 90 "$(lan_winpath "$share/stop.hold")" "FORGED-$n" "$data"
  for log in keeper$n forger$n; do
    for ((i = 0; i < 900; i++)); do grep -q '^END' "$share/$log.log" 2>/dev/null && break; sleep 0.1; done
  done
  grep -q "^RECORD FORGED-$n valid \[Server\] \[$IP2\] 0 \[$data\]" "$share/forger$n.log" ||
    fail "the forged record is not published: $(cat "$share/forger$n.log")"
  on 1
  : >"$share/F1/log.dat"
  start c$n DUMP
  main_window c$n
  drive box c$n 0
  expect_answer "^NOBOX c$n" "c$n showed a box"
  until_records 2 2
  [ "$(grep -c ' \[Server\] ' <<<"$records")" = 2 ] || fail "not the forged and c$n's Server records: [$records]"
  grep -qE " valid \[Server\] \[$IP1\] 0 \[TIME=[0-9]{17} SESSION=$GUID\]$" <<<"$records" || fail "c$n does not host: [$records]"
  grep -q "openSession: .*${forged#*|}" "$share/F1/log.dat" || fail "c$n did not try the forged session"
  grep -q "CDirector: hosts its own session" "$share/F1/log.dat" || fail "c$n does not host"
  drive post 0x8064 1 1
  ended c$n 0
  : >"$share/stop.hold"
  for log in keeper$n forger$n; do finish $log 30 || fail "the probe $log did not end"; done
done

# The host killed: the joined terminal tells its user and ends, its record gone.
rm -f "$share/stop.hold"
for k in 1 2; do lan_start holder-k$k $k "$probe" "$APP" 2 90 "$(lan_winpath "$share/stop.hold")"; done
for k in 1 2; do
  for ((i = 0; i < 900; i++)); do grep -q '^END' "$share/holder-k$k.log" 2>/dev/null && break; sleep 0.1; done
done
on 1
start d NICKNAME=Ann
main_window d
until_records 2 1
on 2
start e NICKNAME=Bob
main_window e
until_records 2 2
on 1
drive kill d
expect_answer '^KILLED d' "d was not killed"
on 2
box e host-killed "caption=\[Tavelin\] text=\[$(re 'Tavelin will be terminated since there is no communication \nwith the SERVER Application.' | sed 's/\\n/\\\\n/')\] icon=none buttons=\[OK\] owner=[^ ]+ topmost=1"
press e OK
ended e 0
until_records 2 0
: >"$share/stop.hold"
for k in 1 2; do finish holder-k$k 30 || fail "the probe holder-k$k did not end"; done
# A client killed without letting go keeps its middleware alive: it is stopped by hand.
pid=$(host_pid 1 quarnhost.exe) && kill -KILL "$pid"
server_gone 1 10
server_gone 2 10
for k in 1 2; do printf 'quit\n' >>"$share/d$k/driver.cmd"; done
echo "tavapp session_test: passed, screenshots in $shots"
rm -rf "$work/tavapp-session-shots"
cp -r "$shots" "$work/tavapp-session-shots" 2>/dev/null
exit 0
