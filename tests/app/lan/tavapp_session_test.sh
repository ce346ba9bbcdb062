#!/usr/bin/env bash
# tavapp on hosts of a test LAN, quarnhost registered by its own -RegServer on each, each host
# with its own display and its own tav_driver. A lookup probe (a terminal of its own,
# lus_probe) reads and forges the records; every box is kept as a screenshot.
#   session (two hosts): the first starts alone and hosts a session, published in the lookup
#     service; the second joins it, ends, joins again; the host ends by its terminate command
#     and the joined terminal tells its user and ends; every end takes its record out of the
#     lookup service; a forged newest host record that cannot be joined makes the next start
#     host; a killed host makes the joined terminal tell its user and end.
#   newest (three hosts): a second host appears while the first one's middleware is frozen;
#     a terminal started then joins the newer session, and tells its user when that host is
#     killed, while the first host runs on.
#   face (two hosts): the main dialog on both, worked as a user would (tavapp_face_scenario.sh).
#   stage (two hosts): the stage window on both with the peer's cursor (tavapp_stage_scenario.sh).
#   tavapp_session_test.sh SCENARIO LAN_TOOL QUARNHOST TAVAPP TAVLANG DRIVER PROBE WORK_DIR
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

scenario=$1 lan=$2 server=$3 tavapp=$4 tavlang=$5 driver=$6 probe=$7 work=$8
hosts=2
[ "$scenario" = newest ] && hosts=3
here=$(cd "$(dirname "$0")/.." && pwd)
source "$(dirname "$lan")/lan-lib.sh"
source "$here/drive-lib.sh"
lan_names "tvs$$" "$work"
LAN_LOG_LINES=80
lan_begin "tavapp session_test $scenario" 380

APP=764A7520-9D2C-11d4-AFDB-00105A67EDD0
IP1=198.18.0.1
IP2=198.18.0.2
IP3=198.18.0.3
GUID='[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}'

# Each host's own display, from a free number that Xvfb picks itself.
declare -A display_of xvfb_of
start_display() {
  new_display "$dir.xvfb$1.log"
  xvfb_of[$1]=$new_display_pid
  display_of[$1]=$new_display_name
}
finish_run() {
  local k
  for ((k = 1; k <= hosts; k++)); do [ -f "$share/d$k/driver.cmd" ] && printf 'quit\n' >>"$share/d$k/driver.cmd"; done
  [ -n "${share:-}" ] && : >"$share/stop.hold" 2>/dev/null
  sleep 0.5
  # What each program wrote, for a look after the run.
  local logs="$work/tavapp-$scenario-logs"
  rm -rf "$logs"
  mkdir -p "$logs"
  for ((k = 1; k <= hosts; k++)); do
    cp "$share/F$k/log.dat" "$logs/tavapp$k.log" 2>/dev/null
    cp "$share/d$k/driver.log" "$logs/driver$k.log" 2>/dev/null
  done
  cp "$share"/*.log "$share/transcript.txt" "$logs/" 2>/dev/null
  lan_cleanup
  for k in "${!xvfb_of[@]}"; do kill "${xvfb_of[$k]}" 2>/dev/null; done
}
trap finish_run EXIT

mkdir -p "$dir"
for ((k = 1; k <= hosts; k++)); do start_display $k; done
lan_up $hosts
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
for ((k = 1; k <= hosts; k++)); do
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
  bash "$lan" wine "$name" "$1" "$dir" -- "$probe" "$APP" $hosts 60 >"$share/probe.out" 2>&1 </dev/null
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

# director_done K: waits (at most 90 s) until the terminal of host K, started with DUMP, has
# made its session (its window may take messages before: joining waits with a message loop).
director_done() {
  local i
  for ((i = 0; i < 900; i++)); do
    grep -q 'CDirector: the session handle is the' "$share/F$1/log.dat" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "the terminal of host $1 made no session"
}
# logged K TEXT WHAT: waits (at most 20 s) until the log of host K's terminal, started with
# DUMP, holds the text.
logged() {
  local i
  for ((i = 0; i < 200; i++)); do
    grep -qF -- "$2" "$share/F$1/log.dat" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "host $1: $3 (no line [$2])"
}
# group_in K NAME SESSION / group_out K NAME SESSION: the member list of host K's terminal,
# started under NAME, is plugged into (out of) its session handle SESSION and runs (has ended).
group_in() {
  logged $1 "[$2] [ CTerminalGroup ] onPlugIn($3)" "the member list $2 is not plugged in"
}
group_out() {
  logged $1 "[$2] [ CTerminalGroup ] onPlugOut($3)" "the member list $2 is not plugged out"
  logged $1 "[ CElementHandler ] end() [$2]" "the member list $2 did not end"
}

# hold NAME: a probe on every host that holds its computer's middleware, so that it keeps the
# other computers in view and keeps the records while the terminals come and go.
hold() {
  local k i
  rm -f "$share/stop.hold"
  for ((k = 1; k <= hosts; k++)); do lan_start $1$k $k "$probe" "$APP" $hosts 90 "$(lan_winpath "$share/stop.hold")"; done
  for ((k = 1; k <= hosts; k++)); do
    for ((i = 0; i < 900; i++)); do grep -q '^END' "$share/$1$k.log" 2>/dev/null && break; sleep 0.1; done
    grep -q '^END' "$share/$1$k.log" || fail "the holding probe on host $k does not see every computer"
  done
}
# release NAME: ends them.
release() {
  local k
  : >"$share/stop.hold"
  for ((k = 1; k <= hosts; k++)); do finish $1$k 30 || fail "the probe $1$k did not end"; done
}
lost_box="caption=\[Tavelin\] text=\[$(re 'Tavelin will be terminated since there is no communication \nwith the SERVER Application.' | sed 's/\\n/\\\\n/')\] icon=none buttons=\[OK\] owner=[^ ]+ topmost=1"

session() {
  hold holder
  on 1
  start a NICKNAME=Ann DUMP
  main_window a
  director_done 1
  group_in 1 M_TERMGP LC

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
  director_done 2
  until_records 2 2
  [ "$(grep -c ' \[Server\] ' <<<"$records")" = 1 ] || fail "not one Server record: [$records]"
  grep ' \[Server\] ' <<<"$records" | grep -q "^RECORD $host_id " || fail "the host record changed: [$records]"
  line=$(grep -v ' \[Server\] ' <<<"$records")
  [[ "$line" =~ ^RECORD\ ($GUID)\ valid\ \[\]\ \[$IP2\]\ 0\ \[\]$ ]] || fail "not the joined record expected: [$line]"
  joined_id=${BASH_REMATCH[1]}
  grep -q "joined the session of \[$host_id\] at $IP1" "$share/F2/log.dat" || fail "b did not join a's session"
  group_in 2 S_TERMGP RM

  # The joined terminal ends by its terminate command: no box, exit 0, its record gone; the host
  # runs on, its member list told of b's departure. Started again, b joins again.
  drive post 0x8064 1 1
  expect_answer '^POSTED 1' "the terminate command was not posted"
  ended b 0 20
  group_out 2 S_TERMGP RM
  logged 1 "[M_TERMGP] [ CElement ] FP_IIM_STRARG [LOC_removeSessionLostMember]" "a's member list was not told that b left"
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
  director_done 2
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
  group_out 1 M_TERMGP LC
  # Its record went with it; the joined terminal's is still there. (Another computer's view of
  # the records follows a change after a moment.)
  until_records 2 1
  [[ "$records" =~ ^RECORD\ $joined_id\ valid\ \[\]\ \[$IP2\]\ 0\ \[\]$ ]] || fail "not only b's record left: [$records]"
  on 2
  box b2 session-lost "$lost_box"
  press b2 OK
  ended b2 0
  group_out 2 S_TERMGP RM
  until_records 2 0

  # Without a client the middleware of each host ends.
  release holder
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
    director_done 1
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
  hold killing
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
  box e host-killed "$lost_box"
  press e OK
  ended e 0
  until_records 2 0
  release killing
  # A client killed without letting go keeps its middleware alive: it is stopped by hand.
  pid=$(host_pid 1 quarnhost.exe) && kill -KILL "$pid"
  server_gone 1 10
  server_gone 2 10
}

newest() {
  hold holder
  on 1
  start a NICKNAME=Ann DUMP
  main_window a
  until_records 3 1
  host_a=$(sed -n 's/^RECORD \([^ ]*\) valid \[Server\] .*/\1/p' <<<"$records")
  on 2
  start b NICKNAME=Bob
  main_window b
  on 3
  start c NICKNAME=Cy
  main_window c
  until_records 3 3
  [ "$(grep -c ' \[Server\] ' <<<"$records")" = 1 ] || fail "not one Server record: [$records]"
  # Host 2 ends its terminal and starts it again while host 1's terminal is frozen: its session
  # cannot be joined, so host 2 hosts one, the newer.
  on 2
  drive post 0x8064 1 1
  ended b 0 20
  freeze "$(host_pid 1 tavapp.exe)" || fail "no tavapp on host 1"
  : >"$share/F2/log.dat"
  start b2 NICKNAME=Bob DUMP
  main_window b2
  director_done 2
  thaw
  grep -q "CDirector: hosts its own session" "$share/F2/log.dat" || fail "b2 does not host"
  until_records 3 3
  [ "$(grep -c ' \[Server\] ' <<<"$records")" = 2 ] || fail "not two Server records: [$records]"
  host_b=$(grep " valid \[Server\] \[$IP2\] " <<<"$records" | cut -d' ' -f2)
  [ -n "$host_b" ] || fail "no Server record of host 2: [$records]"
  # Host 3's terminal started again joins the newer session.
  on 3
  drive post 0x8064 1 1
  ended c 0 20
  : >"$share/F3/log.dat"
  start c2 NICKNAME=Cy DUMP
  main_window c2
  director_done 3
  grep -q "joined the session of \[$host_b\] at $IP2" "$share/F3/log.dat" || fail "c2 did not join b2's session"
  # That host killed: c2 tells its user and ends; host 1 runs on without a word.
  on 2
  drive kill b2
  expect_answer '^KILLED b2' "b2 was not killed"
  on 3
  box c2 newest-host-killed "$lost_box"
  press c2 OK
  ended c2 0
  on 1
  drive box a 0
  expect_answer '^NOBOX a' "a showed a box"
  drive main a
  expect_answer '^WINDOW a ' "a ended"
  until_records 3 1
  grep -q "^RECORD $host_a valid \[Server\] " <<<"$records" || fail "not only a's record left: [$records]"
  drive post 0x8064 1 1
  ended a 0 20
  until_records 3 0
  release holder
  # A client killed without letting go keeps its middleware alive: it is stopped by hand.
  pid=$(host_pid 2 quarnhost.exe) && kill -KILL "$pid"
  for ((k = 1; k <= hosts; k++)); do server_gone $k 10; done
}

source "$(dirname "$0")/tavapp_face_scenario.sh"
source "$(dirname "$0")/tavapp_stage_scenario.sh"

$scenario
for ((k = 1; k <= hosts; k++)); do printf 'quit\n' >>"$share/d$k/driver.cmd"; done
echo "tavapp session_test $scenario: passed, screenshots in $shots"
rm -rf "$work/tavapp-$scenario-shots"
cp -r "$shots" "$work/tavapp-$scenario-shots" 2>/dev/null
exit 0
