#!/usr/bin/env bash
# Middleware nodes between separate processes on separate hosts of a test LAN: the server core
# runs on the main thread of quarn_node on each host, driven through a command file; a raw peer
# checks answers byte by byte, plays a node of its own or sends corrupted packets.
#   lan_test.sh SCENARIO LAN_TOOL NODE_EXE RAWPEER_EXE WORK_DIR
# SCENARIO: core   (one host: temporary files, identity, port, second start, watch window)
#           peer   (a raw peer's requests and an alive over TCP against a node)
#           nodes  (hosts A and B reading each other, changes, a node that goes, suspend)
#           robust (over 100,000 corrupted packets to A; A and B still read each other)
#           transfer        (files A to B and to a raw receiver: notices, contents, routing,
#                            handles)
#           transfer-self   (files from A to itself)
#           transfer-faults (refusals, unknown nodes, connections lost, stop and suspend, a file
#                            of 4 GiB)
#           transfer-rules  (names that look like paths; raw senders that break the rules)
#           transfer-robust (over 100,000 corrupted transfer packets to A; then a transfer to A)
#           budget (a raw peer holds 256 idle connections to A and sends alives of made-up
#                   identities: B still connects to A, reads it, sends it a file, is in its root)
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

scenario=$1 lan=$2 node=$3 raw=$4 work=$5
source "$(dirname "$lan")/lan-lib.sh"
lan_names "mw$$${scenario:0:2}" "$work"
settings='HKLM\Software\Keldar Corporation\Corvan Zone Middleware'
LAN_LOG_LINES=150
# Ends the test, with its clean-up, well before CTest would kill it without one. (The blast of
# transfer packets alone takes two minutes: its scenario has longer.)
limit=220
[ "$scenario" = transfer-robust ] && limit=460
lan_begin "lan_test $scenario" $limit

# start_node LOG HOST [seed-temp]: quarn_node on that host, reading LOG.cmd, writing LOG.log.
start_node() {
  : >"$share/$1.cmd"
  lan_start "$1" "$2" "$node" "$winshare/$1.cmd" "${@:3}"
}

# start_raw LOG HOST MODE ARGS...
start_raw() { lan_start "$1" "$2" "$raw" "${@:3}"; }

# on HOST CMD...: a Windows program of the host's own prefix, its output to $share/on.txt.
on() {
  local host=$1
  shift
  bash "$lan" wine "$name" "$host" "$dir" -- "$@" >"$share/on.txt" 2>&1 </dev/null
}

# wait_line LOG PATTERN SECONDS (fixed text unless PATTERN starts with ^)
wait_line() {
  local i opt=-qF
  [ "${2:0:1}" = "^" ] && opt=-qE
  for ((i = 0; i < $3 * 10; i++)); do
    grep $opt -- "$2" "$share/$1.log" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

seq=0
# ask LOG "OP ARGS ; OP ARGS": runs the operations on that node, back to back; REPLY holds
# their result lines.
ask() {
  seq=$((seq + 1))
  local id="c$seq"
  printf "%s\n" "$id $2" >>"$share/$1.cmd"
  wait_line "$1" "^DONE $id\$" "${3:-30}" || fail "$1 did not run: $2"
  REPLY=$(grep "^$id " "$share/$1.log" | sed "s/^$id //")
}

# expect TEXT WHAT: REPLY holds the fixed text.
expect() {
  grep -qF -- "$1" <<<"$REPLY" || fail "$2: expected '$1' in: $REPLY"
}

# Lines of LOG after the last mark.
declare -A mark_of
mark() { mark_of[$1]=$(wc -l <"$share/$1.log"); }
since() { tail -n +$((${mark_of[$1]} + 1)) "$share/$1.log"; }
count_since() { since "$1" | grep -cF -- "$2"; }
# wait_since LOG TEXT SECONDS
wait_since() {
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    [ "$(count_since "$1" "$2")" -gt 0 ] && return 0
    sleep 0.1
  done
  return 1
}

# poll LOG OPS TEXT SECONDS: runs the operations every half second until REPLY holds TEXT.
poll() {
  local i
  for ((i = 0; i < $4 * 2; i++)); do
    ask "$1" "$2"
    grep -qF -- "$3" <<<"$REPLY" && return 0
    sleep 0.5
  done
  return 1
}

# root_lists LOG COUNT SECONDS: the node's root lists COUNT nodes (root handle rt).
root_lists() { poll "$1" "refresh rt ; list rt" "LIST rt $2" "$3"; }

# read_dir LOG VAR PATH: opens PATH as VAR on the node, waits for its reply, lists it in REPLY.
read_dir() {
  mark "$1"
  ask "$1" "open $2 \"$3\" w"
  expect "OPEN $2 " "open $3"
  wait_since "$1" "MSG w LOOKUP $2 0x00000000" 10 || fail "$1: no reply for $3"
  ask "$1" "list $2"
}

guid_of() { grep -m1 '^GUID ' "$share/$1.log" | cut -d' ' -f2; }

# start_a_and_b: nodes a on host 1 and b on host 2, started; GA and GB their identities.
start_a_and_b() {
  start_node a 1
  start_node b 2
  wait_line a "^START " 60 && wait_line b "^START " 60 || fail "no start"
  grep -qF "START ok" "$share/a.log" && grep -qF "START ok" "$share/b.log" || fail "a core did not start"
  GA=$(guid_of a) GB=$(guid_of b)
}

# end_wine_server K: ends everything on host K and then its Wine server, which a program
# started later on the host would otherwise find on its way out.
end_wine_server() {
  local pid i
  pid=$(cat "$dir/h$1/wineserver.pid" 2>/dev/null)
  bash "$lan" run "$name" "$1" "$dir" -- wineserver -k >/dev/null 2>&1 </dev/null
  for ((i = 0; i < 100; i++)); do
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
}

# File transfers. SENDER is the sender name the transfers give.
SENDER='\Applications\1:Copy:3'
# send_file LOG T DEST FILE W: a transfer T on the node to DEST with the share's FILE, its
# notices to window W.
send_file() {
  ask "$1" "fopen $2 \"$3\" \"$SENDER\" picture.png $5 ; fill $2 \"$winshare/$4\" ; fexec $2"
  expect "FOPEN $2 " "open of $2"
  expect "FILL $2 ok" "filling $2"
  expect "FEXEC $2 ok" "execution of $2"
}
# codes LOG W H: the codes told to window W for handle H since the mark, in order.
codes() { since "$1" | grep "^MSG $2 FILE $3 " | cut -d' ' -f5 | tr '\n' ' ' | sed 's/ $//'; }
# wait_end LOG W H SECONDS: until W was told H's end (anything but a progress code).
wait_end() {
  local i
  for ((i = 0; i < $4 * 10; i++)); do
    since "$1" | grep "^MSG $2 FILE $3 " | grep -qvE ' 0x20040[01]([0-5][0-9A-F]|6[0-3]) ' && return 0
    sleep 0.1
  done
  return 1
}
# receive_handle LOG W: the handle of the transfer W was told of first since the mark.
receive_handle() {
  local i h
  for ((i = 0; i < ${3:-30} * 10; i++)); do
    h=$(since "$1" | grep -m1 "^MSG $2 FILE [0-9]* 0x20040100 " | cut -d' ' -f4)
    [ -n "$h" ] && { echo "$h"; return 0; }
    sleep 0.1
  done
  return 1
}
# check_progress LOG W H BASE: W was told BASE, then percentages BASE+1 .. BASE+99 strictly
# growing about 100 ms apart at least, then BASE+100, and nothing else. PROGRESS holds how
# many. (A message's time is when the Wine server took it, a few milliseconds after the
# throttle read its clock on a busy machine, and by another amount for the next notice: 50 ms
# apart is the least taken here, far above what an unthrottled sender gives; the throttle's own
# test holds it to the millisecond.)
check_progress() {
  local base=$((16#$4)) code t last=-1 lt=0 n=0 done=0 line
  PROGRESS=0
  while read -r line; do
    code=$(($(cut -d' ' -f5 <<<"$line")))
    t=$(cut -d' ' -f6 <<<"$line"); t=${t#t=}
    n=$((n + 1))
    if [ $n -eq 1 ]; then
      [ $code -eq $base ] || { echo "first $(printf 0x%08X $code)"; return 1; }
    elif [ $done -eq 1 ]; then
      echo "after the end: $(printf 0x%08X $code)"; return 1
    elif [ $code -eq $((base + 100)) ]; then
      done=1
      continue
    elif [ $code -le $last ] || [ $code -gt $((base + 99)) ]; then
      echo "out of order: $(printf 0x%08X $code)"; return 1
    elif [ $((t - lt)) -lt 50 ]; then
      echo "$(printf 0x%08X $code) only $((t - lt)) ms after the last"; return 1
    else
      PROGRESS=$((PROGRESS + 1))
    fi
    last=$code lt=$t
  done < <(since "$1" | grep "^MSG $2 FILE $3 ")
  [ $done -eq 1 ] || { echo "no end"; return 1; }
  return 0
}
# b_sends_a T FILE W: node b sends the share's FILE to A's copy directory as transfer T (its
# notices to b's window s); A's window W is told of it to its end; h is A's receive handle.
b_sends_a() {
  send_file b "$1" "\\$GA$COPY" "$2" s
  wait_end b s "$1" 60 || fail "the transfer $1 from B did not end"
  h=$(receive_handle a "$3") || fail "A was not told of B's transfer $1"
  wait_end a "$3" "$h" 10 || fail "A was not told the end of B's transfer $1"
}
# wait_progress LOG W H SECONDS: until W was told a percentage of H received.
wait_progress() {
  local i
  for ((i = 0; i < $4 * 10; i++)); do
    since "$1" | grep -qE "^MSG $2 FILE $3 0x200401(0[1-9A-F]|[1-5][0-9A-F]|6[0-3]) " && return 0
    sleep 0.1
  done
  return 1
}
# no_temps LOG: the node's temporary folder holds no QUARN*.TMP (within a few seconds).
no_temps() { poll "$1" "temps" "TEMPS 0" "${2:-10}"; }

hosts=1
case $scenario in
  core) hosts=2 ;;
  peer) hosts=2 ;;
  nodes) hosts=3 ;;
  robust) hosts=3 ;;
  transfer) hosts=3 ;;
  transfer-self) hosts=1 ;;
  transfer-faults) hosts=3 ;;
  transfer-rules) hosts=3 ;;
  transfer-robust) hosts=3 ;;
  budget) hosts=3 ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
lan_up $hosts
# Steps taken during a file's contents need contents that take a while: a link of 100 Mbit/s.
case $scenario in
  transfer | transfer-faults) lan_shape $hosts 100mbit ;;
esac
ipA=$(bash "$lan" addr 1)
ipB=$(bash "$lan" addr 2)
COPY='\Applications\1:Copy:4'

case $scenario in
  core)
    start_node n1 1 seed-temp
    wait_line n1 "^START " 60 || fail "no start"
    wait_line n1 "START ok" 1 || fail "the core did not start"
    for l in "SEEDED" "readonly=1" "TEMP QUARN1A2B.TMP gone" "TEMP QUARX.TMP there" "PORT 4997" "NAME PC1" "WATCHWINDOW ok"; do
      grep -qF "$l" "$share/n1.log" || fail "expected '$l'"
    done
    guid=$(guid_of n1)
    [[ $guid =~ ^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$ ]] || fail "identity '$guid'"

    ask n1 "start-again"
    expect "STARTAGAIN FAIL 0xE0040103" "a second start of the layer"
    ask n1 "getip \\$guid"
    expect "IP 127.0.0.1" "its own address"

    # The port is taken by the running node.
    start_node n2 1
    finish n2 60
    rc=$?
    [ $rc -eq 3 ] || fail "a second node on the port ended with $rc"
    grep -qF "START FAIL 0xE0040104" "$share/n2.log" || fail "a second node on the port"

    # An application whose window goes loses its entries; another keeps its own.
    ask n1 "window app5 ; window app6 ; set-int 5 \"\\Applications\\Tav\\Entry5\" 1 ; set-int 5 \"\\Applications\\Tav\\Deep\\Entry5\" 2 ; set-str 4294967295 \"\\Applications\\Tav\\5\\User Name\" five ; set-int 6 \"\\Applications\\Tav\\Entry6\" 1 ; set-str 4294967295 \"\\Applications\\Tav\\6\\User Name\" six ; watch app5 5 \\Applications\\Tav ; watch app6 6 \\Applications\\Tav"
    expect "WATCH app5 ok" "watch record"
    expect "WATCH app6 ok" "watch record"
    ask n1 "destroy app5"
    poll n1 "has \\Applications\\Tav\\Entry5" "Entry5 no" 10 || fail "the entries of a gone window stayed over 10 s"
    ask n1 "has \\Applications\\Tav\\Deep\\Entry5 ; has \\Applications\\Tav\\5 ; has \\Applications\\Tav\\Entry6 ; has \"\\Applications\\Tav\\6\\User Name\""
    expect "HAS \\Applications\\Tav\\Deep\\Entry5 no" "the application's deeper entry"
    expect "HAS \\Applications\\Tav\\5 no" "the application's shared directory"
    expect "HAS \\Applications\\Tav\\Entry6 yes" "another application's entry"
    expect "HAS \\Applications\\Tav\\6\\User Name yes" "another application's shared entry"
    ask n1 "quit"
    finish n1 30 || fail "the first node did not stop"
    grep -qF "STOP ok" "$share/n1.log" || fail "the core did not stop"

    # The identity was written; the next start reads it, and takes a REG_DWORD port.
    on 1 reg query "$settings" /v GUID
    grep -qF "$guid" "$share/on.txt" || fail "the registry holds no identity $guid: $(cat "$share/on.txt")"
    on 1 reg add "$settings" /v port /t REG_DWORD /d 5001 /f || fail "port not set"
    start_node n3 1
    wait_line n3 "^START " 60 || fail "no second start"
    grep -qF "START ok" "$share/n3.log" || fail "the core did not start again"
    [ "$(guid_of n3)" = "$guid" ] || fail "a new identity $(guid_of n3) in place of $guid"
    grep -qF "PORT 5001" "$share/n3.log" || fail "the port 5001 of the registry was not used"
    start_raw r3 2 requests "$ipA" 5001
    finish r3 60 || fail "requests to port 5001"
    ask n3 "quit"
    finish n3 30 || fail "the node on port 5001 did not stop"

    # A port of another type is not taken.
    on 1 reg add "$settings" /v port /t REG_SZ /d 5002 /f || fail "port not set"
    start_node n4 1
    wait_line n4 "^START " 60 || fail "no third start"
    grep -qF "PORT 4997" "$share/n4.log" || fail "a REG_SZ port was used"
    # A layer that cannot stop keeps the core whole: its database stays for the watch window.
    ask n4 "window app9 ; set-int 9 \"\\Applications\\Tav\\Entry9\" 1 ; watch app9 9 \\Applications\\Tav ; wsa-cleanup ; stop"
    expect "STOP FAIL" "a stop whose clean-up fails"
    ask n4 "destroy app9"
    poll n4 "has \\Applications\\Tav\\Entry9" "Entry9 no" 10 || fail "the watch window did not clean up after a failed stop"
    ask n4 "quit"
    finish n4 30 || fail "the third node did not end"
    ;;

  peer)
    start_node a 1
    wait_line a "^START " 60 || fail "no start"
    grep -qF "START ok" "$share/a.log" || fail "the core did not start"
    ask a "window w ; register w ; open rt \\ w"
    root_lists a 1 20 || fail "the node does not list itself"
    start_raw requests 2 requests "$ipA" 4997
    finish requests 60 || fail "the node's answers"
    mark a
    start_raw back 2 alive-back "$ipA" 4997
    finish back 60 || fail "no connection back after an alive over TCP"
    peer=$(grep -m1 '^GUID ' "$share/back.log" | cut -d' ' -f2)
    [ "$(grep -m1 '^PEER ' "$share/back.log" | cut -d' ' -f2)" = "$(guid_of a)" ] || fail "the alive back is not the node's"
    wait_since a "MSG w NODECHANGE 0" 10 || fail "the node came unnoticed"
    wait_since a "MSG w NODECHANGE 1" 10 || fail "the node went unnoticed"
    [ -n "$peer" ] || fail "no raw identity"
    ask a "quit"
    finish a 30 || fail "the node did not stop"
    ;;

  nodes)
    start_a_and_b
    nameB=$(grep -m1 '^NAME ' "$share/b.log" | cut -d' ' -f2)
    [ "$nameB" = PC2 ] || fail "B's host name is $nameB"
    ask a "window w ; window reg ; register reg ; register reg ; open rt \\ w"
    ask b "window w ; open rt \\ w"
    root_lists a 2 30 || fail "A does not list two nodes"
    expect "\"$GA\" DIR" "A's root"
    expect "\"$GB\" DIR" "A's root"
    root_lists b 2 30 || fail "B does not list two nodes"
    expect "\"$GA\" DIR" "B's root"
    expect "\"$GB\" DIR" "B's root"

    # B's computer information from A: pending until the reply, then loaded.
    mark a
    ask a "open ci \"\\$GB\\Computer Information\" w ; count ci"
    expect "COUNT ci ERR 0x000003E4" "the count before the reply"
    wait_since a "MSG w LOOKUP ci 0x00000000" 10 || fail "no reply for B's computer information"
    ask a "list ci"
    expect "LIST ci 3" "B's computer information"
    expect "\"Computer Name\" STR \"$nameB\"" "B's computer name"
    expect "\"Version\" INT 65539 0x00010003" "B's version"
    expect "\"Network\" DIR" "B's network"
    read_dir a net "\\$GB\\Computer Information\\Network"
    found=no
    for index in $(grep -oE '"[0-9A-F]{8}" DIR' <<<"$REPLY" | tr -d '"' | cut -d' ' -f1); do
      read_dir a "if$index" "\\$GB\\Computer Information\\Network\\$index"
      grep -qF '"IP Address" STR "198.18.0.2"' <<<"$REPLY" && found=yes
    done
    [ $found = yes ] || fail "B's address 198.18.0.2 is not in its network directory"

    ask a "open u \"\\{00000000-0000-0000-0000-000000000001}\\Computer Information\" w ; open nb \"Computer Information\" w ; open p \"\\Quarnhost.QuarnSrv\" w ; getip \\$GA ; getip \\$GB"
    expect "OPEN u FAIL 0xE0040002" "an unknown node"
    expect "OPEN nb FAIL 0xE0040002" "a path without the leading backslash"
    expect "OPEN p FAIL 0xE0040002" "a ProgID as node"
    expect "IP 127.0.0.1" "A's own address"
    expect "IP $ipB" "B's address"

    # A change on B reaches only the handles whose directory changed.
    ask b "set-int 7 \"\\App\\X\" 1 ; set-int 7 \"\\Other\\Y\" 1"
    read_dir a app "\\$GB\\App"
    expect "\"X\" INT 1" "B's new entry"
    read_dir a other "\\$GB\\Other"
    read_dir a broot "\\$GB"
    sleep 2
    mark a
    ask b "set-int 7 \"\\App\\X\" 2"
    wait_since a "MSG w LOOKUP app 0xE0040201" 15 || fail "the changed directory was not told"
    wait_since a "MSG w LOOKUP broot 0xE0040201" 5 || fail "B's root was not told"
    sleep 3
    [ "$(count_since a "LOOKUP ci 0xE0040201")" -eq 0 ] || fail "an unchanged directory was told"
    [ "$(count_since a "LOOKUP other 0xE0040201")" -eq 0 ] || fail "an unchanged directory was told"
    ask a "refresh app"
    wait_since a "MSG w LOOKUP app 0x00000000" 10 || fail "no reply after the refresh"
    ask a "list app"
    expect "\"X\" INT 2" "B's changed entry"

    # A node of the raw peer: a refresh while a request is outstanding sends nothing; a reply
    # that does not hold up leaves the handle unloaded with status 87.
    start_raw fake 3 fake "$ipA" 4997 "$winshare/fake.stop"
    wait_line fake "^GUID " 30 || fail "no fake node"
    GR=$(grep -m1 '^GUID ' "$share/fake.log" | cut -d' ' -f2)
    root_lists a 3 20 || fail "A does not list the fake node"
    mark a
    ask a "open hold \"\\$GR\\Hold\" w ; refresh hold ; refresh hold ; open bad \"\\$GR\\Bad\" w ; open x \"\\$GR\\X\" w"
    expect "REFRESH hold FAIL 0x000003E4" "a second refresh"
    wait_since a "MSG w LOOKUP bad 0x00000057" 10 || fail "a bad reply was not told as 87"
    wait_since a "MSG w LOOKUP x 0x00000000" 10 || fail "no reply from the fake node"
    ask a "count bad ; list x ; count hold"
    expect "COUNT bad ERR 0x00000057" "a bad reply"
    expect "\"X\" INT 5" "the fake node's entry"
    expect "COUNT hold ERR 0x000003E4" "an outstanding request"
    sleep 1
    [ "$(grep -cF 'REQ 17 \Hold' "$share/fake.log")" -eq 1 ] || fail "a double refresh sent $(grep -cF 'REQ 17 \Hold' "$share/fake.log") requests"
    mark a
    touch "$share/fake.stop"
    finish fake 30 || fail "the fake node did not end"
    wait_since a "MSG reg NODECHANGE 1" 10 || fail "the fake node went unnoticed"
    root_lists a 2 20 || fail "A still lists the fake node"

    # A suspend ends every connection; a resume finds B again.
    sleep 1
    mark a
    ask a "power 4"
    expect "POWER 4 posted" "the suspend notice"
    wait_since a "MSG w LOOKUP ci 0xE0040201" 10 || fail "B's handle was not told of the suspend"
    sleep 1
    ask a "count ci ; count rt ; conns"
    expect "COUNT ci ERR 0x00000006" "B's handle after the suspend"
    expect "COUNT rt ERR 0x000003E4" "the root after the suspend"
    expect "CONNS lookup 0 server 0" "connections after the suspend"
    [ "$(count_since a "MSG reg NODECHANGE 1")" -eq 4 ] || fail "two connections ended, a window registered twice: $(count_since a "MSG reg NODECHANGE 1") notices"
    [ "$(count_since a "MSG w LOOKUP rt 0xE0040201")" -ge 1 ] || fail "the root was not told"
    ask a "power 7"
    root_lists a 2 15 || fail "B was not found again after the resume"
    expect "\"$GB\" DIR" "B after the resume"
    read_dir a ci2 "\\$GB\\Computer Information"
    expect "LIST ci2 3" "B's computer information after the resume"

    # B stopped: its handles are told and gone, the root is pending until refreshed.
    read_dir a ci3 "\\$GB\\Computer Information"
    sleep 1
    mark a
    kill_pid "${pid_of[b]}"
    bash "$lan" run "$name" 2 "$dir" -- wineserver -k >/dev/null 2>&1 </dev/null
    wait_since a "MSG w LOOKUP ci3 0xE0040201" 15 || fail "B's handle was not told that B went"
    wait_since a "MSG w LOOKUP rt 0xE0040201" 5 || fail "the root was not told that B went"
    sleep 1
    [ "$(count_since a "MSG reg NODECHANGE 1")" -eq 2 ] || fail "B went: $(count_since a "MSG reg NODECHANGE 1") notices to a window registered twice"
    ask a "count ci3 ; count rt ; count rt"
    expect "COUNT ci3 ERR 0x00000006" "B's handle after B went"
    [ "$(grep -cF "COUNT rt ERR 0x000003E4" <<<"$REPLY")" -eq 2 ] || fail "the root is not pending: $REPLY"
    ask a "refresh rt ; list rt"
    expect "LIST rt 1" "the root after B went"
    expect "\"$GA\" DIR" "A alone"

    ask a "probe"
    expect "PROBE OK" "every number given to every lookup call"
    ask a "quit"
    finish a 30 || fail "A did not stop"
    ;;

  robust)
    start_a_and_b
    ask a "window w ; open rt \\ w"
    ask b "window w ; open rt \\ w"
    root_lists a 2 30 || fail "A does not list two nodes"
    root_lists b 2 30 || fail "B does not list two nodes"

    # Corrupted replies to one of A's handles.
    start_raw fake 3 fake "$ipA" 4997 "$winshare/fake.stop"
    wait_line fake "^GUID " 30 || fail "no fake node"
    GR=$(grep -m1 '^GUID ' "$share/fake.log" | cut -d' ' -f2)
    root_lists a 3 20 || fail "A does not list the fake node"
    ask a "open blast \"\\$GR\\Blast\""
    wait_line fake "BLASTED" 120 || fail "the replies did not go"
    replies=$(grep -m1 BLASTED "$share/fake.log" | cut -d' ' -f2)
    # The node reads commands while it works through the replies: the last, good one wins.
    poll a "list blast" "\"X\" INT 5" 60 || fail "the good reply after the corrupted ones was not taken: $REPLY"
    echo "corrupted replies taken after $SECONDS s"
    touch "$share/fake.stop"
    finish fake 30 || fail "the fake node did not end"

    # Corrupted alives over UDP: the connections to made-up identities stay at the limit.
    start_raw udp 3 blast-udp "$ipA" 4997 "$winshare/udp.stop"
    wait_line udp "^DATAGRAMS " 120 || fail "the corrupted alives did not go"
    # The node reads commands while it still works through the datagrams.
    # One address gets a few lookup connections, whatever identities its alives name: A, B and
    # the ones to host 3 (the fake node's, gone or going, and the quota's 4).
    ask a "conns"
    most=$(sed -n 's/.*most lookup \([0-9]*\) .*/\1/p' <<<"$REPLY")
    [ -n "$most" ] && [ "$most" -le 7 ] || fail "the lookup connections of one address: $REPLY"
    echo "A after the corrupted alives: $REPLY"
    touch "$share/udp.stop"
    finish udp 60 || fail "the corrupted alives"
    datagrams=$(grep -m1 '^DATAGRAMS ' "$share/udp.log" | cut -d' ' -f2)
    echo "corrupted alives sent after $SECONDS s: $(grep -E '^(DATAGRAMS|DROPPED) ' "$share/udp.log" | tr '\n' ' ')"

    # Corrupted requests of every type over TCP.
    start_raw tcp 3 blast-tcp "$ipA" 4997
    finish tcp 150 || fail "the corrupted requests"
    requests=$(grep -m1 '^REQUESTS ' "$share/tcp.log" | cut -d' ' -f2)
    echo "corrupted requests sent after $SECONDS s: $(grep -E '^(HELD|REQUESTS) ' "$share/tcp.log" | tr '\n' ' ')"
    total=$((replies + datagrams + requests))
    echo "corrupted packets sent to A: $replies replies, $datagrams datagrams, $requests requests: $total"
    [ $total -ge 100000 ] || fail "only $total corrupted packets"

    # A is up, and A and B still read each other.
    # One address gets its share of accepted connections (16), B and A itself theirs.
    ask a "conns"
    most=$(sed -n 's/.*most lookup [0-9]* server \([0-9]*\).*/\1/p' <<<"$REPLY")
    [ -n "$most" ] && [ "$most" -ge 16 ] && [ "$most" -le 24 ] || fail "the accepted connections of one address: $REPLY"
    echo "A after the corrupted packets: $REPLY"
    root_lists a 2 30 || fail "A does not list A and B any more"
    read_dir a ci "\\$GB\\Computer Information"
    expect "\"Computer Name\" STR \"PC2\"" "B read by A"
    read_dir b ci "\\$GA\\Computer Information"
    expect "\"Computer Name\" STR \"PC1\"" "A read by B"
    echo "A and B read each other after $SECONDS s"
    ask a "probe" 120
    expect "PROBE OK" "every number given to every lookup call"
    echo "$REPLY"
    ask a "quit"
    finish a 30 || fail "A did not stop"
    ask b "quit"
    finish b 30 || fail "B did not stop"
    ;;

  budget)
    start_node a 1
    wait_line a "^START ok" 60 || fail "A did not start"
    GA=$(guid_of a)
    ask a "window w ; open rt \\ w"
    # 256 idle connections from host 3: A keeps its share for that address and closes the rest.
    start_raw hold 3 hold "$ipA" 4997 256 "$winshare/hold.stop"
    wait_line hold "^HELD " 120 || fail "the connections were not made"
    grep -m1 '^HELD ' "$share/hold.log"
    held=$(sed -n 's/^HELD 256 closed by the node \([0-9]*\)$/\1/p' "$share/hold.log")
    [ -n "$held" ] && [ "$held" -ge 240 ] || fail "A kept more than its share of one address: $(grep '^HELD' "$share/hold.log")"
    # B starts now and still gets in: it reads A's directory and sends A a file.
    start_node b 2
    wait_line b "^START ok" 60 || fail "B did not start"
    GB=$(guid_of b)
    # w: the window read_dir's replies go to; s: the sender's.
    ask b "window w ; window s ; open rt \\ w"
    root_lists b 2 30 || fail "B does not list A beside itself"
    read_dir b ci "\\$GA\\Computer Information"
    expect "\"Computer Name\" STR \"PC1\"" "A read by B"
    ask a "window r1 ; watch r1 5 $COPY"
    head -c 100000 /dev/urandom >"$share/100k.bin"
    mark a
    mark b
    b_sends_a t1 100k.bin r1
    ask a "fsave $h \"$winshare/got-100k.bin\" ; fclose $h"
    expect "FSAVE $h ok" "saving the file at A"
    cmp -s "$share/100k.bin" "$share/got-100k.bin" || fail "the file arrived changed"
    echo "B reached A beside 256 held connections after $SECONDS s"
    # Alives of made-up identities from host 3: B stays in A's root.
    start_raw udp 3 blast-udp "$ipA" 4997 "$winshare/udp.stop"
    wait_line udp "^DATAGRAMS " 120 || fail "the alives did not go"
    grep -m1 '^DATAGRAMS ' "$share/udp.log"
    poll a "refresh rt ; list rt" "$GB" 30 || fail "B is not in A's root beside the made-up identities: $REPLY"
    ask a "conns"
    echo "A after the alives: $REPLY"
    touch "$share/udp.stop" "$share/hold.stop"
    finish udp 60 || fail "the alives"
    finish hold 60 || fail "the holder did not end"
    ask a "quit"
    finish a 30 || fail "A did not stop"
    ask b "quit"
    finish b 30 || fail "B did not stop"
    ;;

  transfer)
    start_a_and_b
    # B's applications: two windows on the copy directory, applications 12 and 13 in another.
    ask b "window r1 ; window r2 ; window r12 ; window r13 ; watch r1 5 $COPY ; watch r2 6 $COPY ; watch r12 12 \\Applications\\Tav ; watch r13 13 \\Applications\\Tav ; open rt \\ r1"
    ask a "window s ; open rt \\ s"
    root_lists a 2 30 || fail "A does not list two nodes"
    : >"$share/empty.bin"
    head -c 10000 /dev/urandom >"$share/10k.bin"
    head -c 8388608 /dev/urandom >"$share/8m.bin"
    head -c 104857600 /dev/urandom >"$share/100m.bin"

    # An empty file to a raw receiver: the bytes on the wire, the two notices of the sender.
    start_raw rx 3 receive "$ipA" 4997 "$winshare/rx.stop" accept
    wait_line rx "^GUID " 30 || fail "no raw receiver"
    GR=$(guid_of rx)
    root_lists a 3 20 || fail "A does not list the raw receiver"
    mark a
    send_file a t0 "\\$GR\\X" empty.bin s
    wait_end a s t0 20 || fail "the transfer to the raw receiver did not end"
    wait_line rx "SENDER closed" 10 || fail "the sender did not end its side after the file was stored"
    sleep 1
    [ "$(codes a s t0)" = "0x20040000 0x20040064" ] || fail "sender of an empty file to the raw receiver: $(codes a s t0)"
    grep -qF "PACKET-HEX 80 22 00 00 00 00 00 00 D0 75 88 C1" "$share/rx.log" || fail "the empty file's packet"
    grep -qF "OPEN \\X|$SENDER|picture.png" "$share/rx.log" || fail "the open request at the raw receiver"
    touch "$share/rx.stop"
    finish rx 30 || fail "the raw receiver did not end"
    root_lists a 2 20 || fail "A still lists the raw receiver"

    # An empty file from A to B: every window of the copy directory is told, nothing between.
    mark a
    mark b
    send_file a t1 "\\$GB$COPY" empty.bin s
    wait_end a s t1 20 || fail "the empty file did not end"
    h=$(receive_handle b r1) || fail "B was not told of the empty file"
    sleep 1
    [ "$(codes a s t1)" = "0x20040000 0x20040064" ] || fail "sender of the empty file: $(codes a s t1)"
    for w in r1 r2; do
      [ "$(codes b $w $h)" = "0x20040100 0x20040164" ] || fail "$w for the empty file: $(codes b $w $h)"
    done
    [ "$(since b | grep -c "^MSG r1[23] ")" -eq 0 ] || fail "applications of another directory were told"
    ask b "ftemp $h ; fclose $h ; fclose $h ; ftemp $h"
    grep -qE "^FTEMP $h C:.*\\\\QUARN[0-9A-F]{4}\\.TMP$" <<<"$REPLY" || fail "the received file's name: $REPLY"
    [ "$(grep -c "FCLOSE $h ok" <<<"$REPLY")" -eq 2 ] || fail "a receive handle closed twice: $REPLY"
    expect "FTEMP $h FAIL 0x00000002" "the name of a closed receive handle"

    # 8 MB and 100 MB: the same bytes at B; the progress of both sides in order, throttled.
    for f in 8m 100m; do
      mark a
      mark b
      send_file a "t$f" "\\$GB$COPY" "$f.bin" s
      # Closing a sending handle changes nothing.
      ask a "fclose t$f"
      expect "FCLOSE t$f ok" "closing a sending handle"
      wait_end a s "t$f" 150 || fail "$f did not end"
      h=$(receive_handle b r1) || fail "B was not told of $f"
      wait_end b r1 "$h" 10 || fail "B was not told the end of $f"
      sleep 1
      check_progress a s "t$f" 20040000 >"$share/check.txt" || fail "sender of $f: $(cat "$share/check.txt"): $(codes a s "t$f")"
      sent=$PROGRESS
      check_progress b r1 "$h" 20040100 >"$share/check.txt" || fail "receiver of $f: $(cat "$share/check.txt"): $(codes b r1 "$h")"
      [ "$(codes b r2 "$h")" = "$(codes b r1 "$h")" ] || fail "the two windows of the copy directory were told apart"
      ask b "fsave $h \"$winshare/got-$f.bin\" ; fclose $h"
      expect "FSAVE $h ok" "saving $f"
      cmp -s "$share/$f.bin" "$share/got-$f.bin" || fail "$f arrived changed"
      rm -f "$share/got-$f.bin"
      echo "$f: $sent progress notices at the sender, $PROGRESS at the receiver, $(($(since a | grep "FILE t$f 0x20040064" | sed 's/.*t=//') - $(since a | grep "FILE t$f 0x20040000" | sed 's/.*t=//'))) ms"
    done
    no_temps a || fail "A keeps temporary files: $REPLY"
    no_temps b || fail "B keeps temporary files: $REPLY"

    # Application 12 in a watched directory is told alone; any other destination is refused.
    mark a
    mark b
    send_file a t12 "\\$GB\\Applications\\Tav\\12" 10k.bin s
    wait_end a s t12 20 || fail "the file for application 12 did not end"
    h=$(receive_handle b r12) || fail "application 12 was not told"
    sleep 1
    [ "$(codes a s t12)" = "0x20040000 0x20040064" ] || fail "sender of the file for application 12: $(codes a s t12)"
    [ "$(codes b r12 $h)" = "0x20040100 0x20040164" ] || fail "application 12: $(codes b r12 $h)"
    [ "$(since b | grep -c "^MSG r\(1\|2\|13\) ")" -eq 0 ] || fail "other applications were told"
    ask b "fsave $h \"$winshare/got-10k.bin\" ; fclose $h"
    cmp -s "$share/10k.bin" "$share/got-10k.bin" || fail "the file for application 12 arrived changed"
    mark b
    i=0
    for dest in '\Applications\Tav\12x' '\Applications\Tav\-1' '\Applications\Tav\' '\Applications\Tav\99999999999' '\Applications\Tav\14' '\Applications\Else' '\applications\tav\12' "$COPY\\" ''; do
      i=$((i + 1))
      mark a
      send_file a "tr$i" "\\$GB$dest" 10k.bin s
      wait_end a s "tr$i" 20 || fail "the transfer to '$dest' did not end"
      sleep 0.3
      [ "$(codes a s "tr$i")" = "0xE0040002" ] || fail "sender to '$dest': $(codes a s "tr$i")"
    done
    sleep 1
    [ "$(since b | grep -c " FILE ")" -eq 0 ] || fail "a refused transfer was told: $(since b | grep " FILE ")"
    no_temps a || fail "A keeps temporary files after refusals: $REPLY"
    no_temps b || fail "B keeps temporary files after refusals: $REPLY"

    # Every other number is no handle of either side.
    ask a "fprobe" 120
    expect "FPROBE OK" "numbers given to every file-transfer call on A"
    ask b "fprobe" 120
    expect "FPROBE OK" "numbers given to every file-transfer call on B"
    ask a "quit"
    finish a 30 || fail "A did not stop"
    ask b "quit"
    finish b 30 || fail "B did not stop"
    ;;

  transfer-self)
    start_node a 1
    wait_line a "^START " 60 || fail "no start"
    grep -qF "START ok" "$share/a.log" || fail "the core did not start"
    GA=$(guid_of a)
    ask a "window s ; window r ; window r12 ; watch r 5 $COPY ; watch r12 12 \\Applications\\Tav ; open rt \\ s"
    root_lists a 1 20 || fail "A does not list itself"
    : >"$share/empty.bin"
    head -c 8388608 /dev/urandom >"$share/8m.bin"

    mark a
    send_file a t1 "\\$GA$COPY" empty.bin s
    wait_end a s t1 20 || fail "the empty file did not end"
    h=$(receive_handle a r) || fail "A was not told of the empty file"
    sleep 1
    [ "$(codes a s t1)" = "0x20040000 0x20040064" ] || fail "sender of the empty file: $(codes a s t1)"
    [ "$(codes a r $h)" = "0x20040100 0x20040164" ] || fail "receiver of the empty file: $(codes a r $h)"
    ask a "fclose $h"

    mark a
    send_file a t8 "\\$GA$COPY" 8m.bin s
    wait_end a s t8 60 || fail "8 MB did not end"
    h=$(receive_handle a r) || fail "A was not told of 8 MB"
    wait_end a r "$h" 10 || fail "the end of 8 MB was not told"
    sleep 1
    check_progress a s t8 20040000 >"$share/check.txt" || fail "sender of 8 MB: $(cat "$share/check.txt")"
    check_progress a r "$h" 20040100 >"$share/check.txt" || fail "receiver of 8 MB: $(cat "$share/check.txt")"
    ask a "fsave $h \"$winshare/got.bin\" ; fclose $h"
    cmp -s "$share/8m.bin" "$share/got.bin" || fail "8 MB arrived changed"

    mark a
    send_file a t12 "\\$GA\\Applications\\Tav\\12" empty.bin s
    wait_end a s t12 20 || fail "the file for application 12 did not end"
    h=$(receive_handle a r12) || fail "application 12 was not told"
    sleep 1
    [ "$(codes a r12 $h)" = "0x20040100 0x20040164" ] || fail "application 12: $(codes a r12 $h)"
    [ "$(since a | grep -c "^MSG r ")" -eq 0 ] || fail "the copy directory was told of application 12's file"
    ask a "fclose $h"
    mark a
    send_file a tx "\\$GA\\Applications\\Tav\\x" empty.bin s
    wait_end a s tx 20 || fail "the refused transfer did not end"
    sleep 1
    [ "$(codes a s tx)" = "0xE0040002" ] || fail "sender to an unwatched directory: $(codes a s tx)"
    [ "$(since a | grep -c "^MSG r")" -eq 0 ] || fail "a refused transfer was told"

    mark a
    ask a "fopen tn \"\\$GA$COPY\" @64k \"a%00b\" s ; fill tn \"$winshare/empty.bin\" ; fexec tn"
    wait_end a s tn 20 || fail "the transfer with long names did not end"
    h=$(receive_handle a r) || fail "A was not told of the transfer with long names"
    wait_end a r "$h" 10 || fail "the end of the transfer with long names"
    ask a "fnames $h \"a%00b\" @64k ; fclose $h"
    expect "FNAMES $h nick ok 1/1 0x00000000 sender ok 65536/65536" "names read back"
    no_temps a || fail "A keeps temporary files: $REPLY"

    # A file of 4 GiB: the sender's disk-full; its own receiving side told the connection closed.
    mark a
    ask a "fopen tbig \"\\$GA$COPY\" x n s ; fsize tbig 4294967296 ; fexec tbig"
    wait_end a s tbig 30 || fail "the 4 GiB transfer did not end"
    h=$(receive_handle a r) || fail "A was not told of the 4 GiB transfer"
    wait_end a r "$h" 20 || fail "the end of the 4 GiB transfer was not told"
    [ "$(codes a s tbig)" = "0x00000070" ] || fail "sender of 4 GiB: $(codes a s tbig)"
    [ "$(codes a r "$h")" = "0x20040100 0xE0040202" ] || fail "receiver of 4 GiB: $(codes a r "$h")"

    # A suspend during the contents tells both sides.
    head -c 104857600 /dev/urandom >"$share/100m.bin"
    mark a
    send_file a ts "\\$GA$COPY" 100m.bin s
    h=$(receive_handle a r) || fail "A was not told of the transfer"
    wait_progress a r "$h" 30 || fail "no progress"
    ask a "power 4"
    wait_end a s ts 20 || fail "the sender was not told of the suspend"
    wait_end a r "$h" 20 || fail "the receiver was not told of the suspend"
    [ "$(codes a s ts | awk '{print $1, $NF}')" = "0x20040000 0xE0040202" ] || fail "sender suspended: $(codes a s ts)"
    [ "$(codes a r "$h" | awk '{print $1, $NF}')" = "0x20040100 0xE0040202" ] || fail "receiver suspended: $(codes a r "$h")"
    no_temps a || fail "A keeps temporary files after the suspend: $REPLY"
    ask a "power 7"
    ask a "fprobe" 120
    expect "FPROBE OK" "numbers given to every file-transfer call"
    ask a "quit"
    finish a 30 || fail "A did not stop"
    ;;

  transfer-faults)
    start_a_and_b
    ask a "window s ; open rt \\ s"
    ask b "window r1 ; watch r1 5 $COPY"
    root_lists a 2 30 || fail "A does not list two nodes"
    head -c 10000 /dev/urandom >"$share/10k.bin"
    head -c 104857600 /dev/urandom >"$share/100m.bin"

    # A node that is not known is refused at the open.
    ask a "fopen u \"\\{00000000-0000-0000-0000-000000000001}$COPY\" x n s ; fopen v \"\\Quarnhost.QuarnSrv\\X\" x n s ; fopen w $COPY x n s"
    for t in u v w; do expect "FOPEN $t FAIL 0xE0040002" "an open to an unknown node ($t)"; done

    # A raw receiver that stops listening once A's lookup connection came: refused, told once.
    start_raw rx 3 receive "$ipA" 4997 "$winshare/rx.stop" stop-listening
    wait_line rx "^GUID " 30 || fail "no raw receiver"
    GR=$(guid_of rx)
    root_lists a 3 20 || fail "A does not list the raw receiver"
    wait_line rx "LISTENING no more" 10 || fail "the raw receiver kept listening"
    mark a
    send_file a tref "\\$GR\\X" 10k.bin s
    wait_end a s tref 20 || fail "the refused transfer did not end"
    sleep 1
    [ "$(codes a s tref)" = "0xE0040203" ] || fail "sender of a refused connection: $(codes a s tref)"
    touch "$share/rx.stop"
    finish rx 30 || fail "the raw receiver did not end"

    # Contents over a lookup connection end that connection.
    start_raw rxl 3 receive "$ipA" 4997 "$winshare/rxl.stop" lookup-contents
    wait_line rxl "CONTENTS sent" 30 || fail "no contents over the lookup connection"
    wait_line rxl "^CLOSED" 20 || fail "A kept a lookup connection that carried contents"
    touch "$share/rxl.stop"
    finish rxl 30 || fail "the raw receiver did not end"
    root_lists a 2 20 || fail "A still lists the raw receivers"

    # A raw receiver that stops reading halfway through; A suspends: the sender is told.
    start_raw rxs 3 receive "$ipA" 4997 "$winshare/rxs.stop" stall
    wait_line rxs "^GUID " 30 || fail "no raw receiver"
    GS=$(guid_of rxs)
    root_lists a 3 20 || fail "A does not list the stalling receiver"
    mark a
    send_file a tst "\\$GS\\X" 100m.bin s
    wait_line rxs "^HALF " 60 || fail "the stalling receiver got no contents"
    sleep 1
    ask a "power 4"
    wait_end a s tst 20 || fail "a suspend did not end the stalled transfer"
    [ "$(codes a s tst | awk '{print $1, $NF}')" = "0x20040000 0xE0040202" ] || fail "sender stalled and suspended: $(codes a s tst)"
    no_temps a || fail "A keeps the suspended transfer's file: $REPLY"
    touch "$share/rxs.stop"
    finish rxs 30 || fail "the stalling receiver did not end"
    ask a "power 7"
    root_lists a 2 30 || fail "B was not found again after the resume"

    # The receiving node killed during the contents: the sender is told, its file goes.
    mark a
    mark b
    send_file a tk "\\$GB$COPY" 100m.bin s
    h=$(receive_handle b r1) || fail "B was not told of the transfer"
    wait_progress b r1 "$h" 30 || fail "no progress at B"
    [ "$(since b | grep -c "MSG r1 FILE $h 0x20040164")" -eq 0 ] || fail "the transfer ended before B could be killed"
    kill_pid "${pid_of[b]}"
    end_wine_server 2
    wait_end a s tk 30 || fail "the sender was not told that B went"
    [ "$(codes a s tk | awk '{print $1, $NF}')" = "0x20040000 0xE0040202" ] || fail "sender to a killed node: $(codes a s tk)"
    no_temps a || fail "A keeps the file of a transfer to a killed node: $REPLY"

    # B again, with the same identity; its stale temporary file goes at its start.
    start_node b2 2
    wait_line b2 "^START " 60 || fail "B did not start again"
    [ "$(guid_of b2)" = "$GB" ] || fail "B came back as $(guid_of b2)"
    ask b2 "window r1 ; watch r1 5 $COPY"
    no_temps b2 || fail "B kept a partial file: $REPLY"
    root_lists a 2 30 || fail "A does not find B again"

    # A suspends during the contents: both sides are told the connection closed.
    mark a
    mark b2
    send_file a ts "\\$GB$COPY" 100m.bin s
    h=$(receive_handle b2 r1) || fail "B was not told of the transfer"
    wait_progress b2 r1 "$h" 30 || fail "no progress at B"
    ask a "power 4"
    wait_end a s ts 20 || fail "the sender was not told of the suspend"
    wait_end b2 r1 "$h" 20 || fail "the receiver was not told of the suspend"
    [ "$(codes a s ts | awk '{print $NF}')" = "0xE0040202" ] || fail "sender suspended: $(codes a s ts)"
    [ "$(codes b2 r1 "$h" | awk '{print $1, $NF}')" = "0x20040100 0xE0040202" ] || fail "receiver of a suspended sender: $(codes b2 r1 "$h")"
    no_temps a || fail "A keeps a file after the suspend: $REPLY"
    no_temps b2 || fail "B keeps a partial file after A's suspend: $REPLY"
    ask a "power 7"
    root_lists a 2 30 || fail "B was not found again after the resume"

    # B stops during the contents: both sides are told.
    mark a
    mark b2
    send_file a tt "\\$GB$COPY" 100m.bin s
    h=$(receive_handle b2 r1) || fail "B was not told of the transfer"
    wait_progress b2 r1 "$h" 30 || fail "no progress at B"
    ask b2 "stop"
    expect "STOP ok" "B's stop"
    wait_end a s tt 20 || fail "the sender was not told of B's stop"
    wait_end b2 r1 "$h" 20 || fail "the receiver was not told of its stop"
    [ "$(codes a s tt | awk '{print $NF}')" = "0xE0040202" ] || fail "sender to a stopped node: $(codes a s tt)"
    [ "$(codes b2 r1 "$h" | awk '{print $1, $NF}')" = "0x20040100 0xE0040202" ] || fail "receiver stopped: $(codes b2 r1 "$h")"
    no_temps b2 || fail "B keeps a file after its stop: $REPLY"
    no_temps a || fail "A keeps a file after B's stop: $REPLY"
    ask b2 "quit"
    finish b2 30 || fail "B did not end"
    start_node b3 2
    wait_line b3 "^START " 60 || fail "B did not start a third time"
    ask b3 "window r1 ; watch r1 5 $COPY"
    root_lists a 2 30 || fail "A does not find B again"

    # A file of 4 GiB: the sender's disk-full, the receiver told the connection closed.
    mark a
    mark b3
    ask a "fopen tbig \"\\$GB$COPY\" x n s ; fsize tbig 4294967296 ; fexec tbig"
    expect "FSIZE tbig ok" "a sparse file of 4 GiB"
    wait_end a s tbig 30 || fail "the 4 GiB transfer did not end"
    h=$(receive_handle b3 r1) || fail "B was not told of the 4 GiB transfer"
    wait_end b3 r1 "$h" 20 || fail "B was not told the end of the 4 GiB transfer"
    sleep 1
    [ "$(codes a s tbig)" = "0x00000070" ] || fail "sender of 4 GiB: $(codes a s tbig)"
    [ "$(codes b3 r1 "$h")" = "0x20040100 0xE0040202" ] || fail "receiver of 4 GiB: $(codes b3 r1 "$h")"
    no_temps a || fail "A keeps the 4 GiB file: $REPLY"
    no_temps b3 || fail "B keeps a file of the 4 GiB transfer: $REPLY"

    # A raw receiver that goes halfway through: the sender is told.
    start_raw rxc 3 receive "$ipA" 4997 "$winshare/rxc.stop" close-half
    wait_line rxc "^GUID " 30 || fail "no raw receiver"
    GC=$(guid_of rxc)
    root_lists a 3 20 || fail "A does not list the raw receiver"
    mark a
    send_file a tc "\\$GC\\X" 100m.bin s
    wait_end a s tc 60 || fail "the sender was not told that the receiver went"
    [ "$(codes a s tc | awk '{print $1, $NF}')" = "0x20040000 0xE0040202" ] || fail "sender to a receiver that went: $(codes a s tc)"
    no_temps a || fail "A keeps a file: $REPLY"

    # The node gone between the open and the execution: refused by the execution.
    touch "$share/rxc.stop"
    finish rxc 30 || fail "the raw receiver did not end"
    start_raw rxg 3 receive "$ipA" 4997 "$winshare/rxg.stop" accept
    wait_line rxg "^GUID " 30 || fail "no raw receiver"
    GG=$(guid_of rxg)
    root_lists a 3 20 || fail "A does not list the raw receiver"
    ask a "fopen tg \"\\$GG\\X\" x n s"
    expect "FOPEN tg " "an open to the raw receiver"
    touch "$share/rxg.stop"
    finish rxg 30 || fail "the raw receiver did not end"
    root_lists a 2 20 || fail "A still lists the raw receiver"
    ask a "fexec tg ; fexec tg"
    [ "$(grep -c "FEXEC tg FAIL 0xE0040002" <<<"$REPLY")" -eq 2 ] || fail "execution to a node that went: $REPLY"

    ask a "fprobe" 120
    expect "FPROBE OK" "numbers given to every file-transfer call on A"
    ask a "quit"
    finish a 30 || fail "A did not stop"
    ask b3 "quit"
    finish b3 30 || fail "B did not stop"
    ;;

  transfer-rules)
    start_a_and_b
    ask a "window s ; open rt \\ s"
    ask b "window r1 ; watch r1 5 $COPY"
    root_lists a 2 30 || fail "A does not list two nodes"
    head -c 10000 /dev/urandom >"$share/10k.bin"
    drive="$dir/h2/prefix/drive_c"
    echo "keep me" >"$drive/sentinel.txt"
    cp "$drive/windows/win.ini" "$share/win.ini.before"
    touch "$share/names.mark"
    sleep 1

    # Names that look like paths, a long one and one with a zero unit inside, as sender name and
    # nickname: read back as they were sent (up to the zero unit); the file is one of B's own.
    i=0
    for pair in '..\..\x|C:\Windows\win.ini' 'C:\Windows\win.ini|..\..\x' '@64k|@64k' 'ab%00cd|x%00y'; do
      i=$((i + 1))
      src=${pair%%|*} nick=${pair#*|}
      mark a
      mark b
      ask a "fopen tn$i \"\\$GB$COPY\" \"$src\" \"$nick\" s ; fill tn$i \"$winshare/10k.bin\" ; fexec tn$i"
      expect "FEXEC tn$i ok" "a transfer with names $pair"
      wait_end a s "tn$i" 20 || fail "the transfer with names $pair did not end"
      h=$(receive_handle b r1) || fail "B was not told of the transfer with names $pair"
      wait_end b r1 "$h" 10 || fail "B was not told the end of the transfer with names $pair"
      [ "$(codes b r1 "$h")" = "0x20040100 0x20040164" ] || fail "names $pair: $(codes b r1 "$h")"
      ask b "fnames $h \"$nick\" \"$src\" ; ftemp $h ; fsave $h \"$winshare/got.bin\" ; fclose $h"
      expect "FNAMES $h nick ok" "the nickname $nick"
      expect " sender ok" "the sender name $src"
      grep -qE "^FTEMP $h C:\\\\users\\\\[^\\\\]+\\\\Temp\\\\QUARN[0-9A-F]{4}\\.TMP$" <<<"$REPLY" || fail "the received file's name: $REPLY"
      cmp -s "$share/10k.bin" "$share/got.bin" || fail "the file with names $pair arrived changed"
    done
    cmp -s "$drive/windows/win.ini" "$share/win.ini.before" || fail "win.ini changed"
    made=$(find "$dir" "$(pwd)" -maxdepth 6 -newer "$share/names.mark" \( -name x -o -name 'x.*' -o -name win.ini \) 2>/dev/null)
    [ -z "$made" ] || fail "files made at paths the names point to: $made"
    no_temps b || fail "B keeps temporary files: $REPLY"

    # Raw senders that break the rules, each answered as it should (the raw sender checks).
    # A plain type 34 naming a file of B's.
    mark b
    start_raw r34 3 send "$ipB" 4997 "$COPY" src nick raw34 0 'C:\sentinel.txt'
    finish r34 30 || fail "a plain type 34: $(cat "$share/r34.log")"
    [ "$(cat "$drive/sentinel.txt")" = "keep me" ] || fail "the file named by a plain type 34 changed"
    h=$(receive_handle b r1) || fail "B was not told of the open before the plain type 34"
    wait_end b r1 "$h" 10 || fail "B was not told the end of the transfer with a plain type 34"
    [ "$(codes b r1 "$h")" = "0x20040100 0xE0040202" ] || fail "receiver of a plain type 34: $(codes b r1 "$h")"
    # A second open while the first runs: refused; the first completes.
    mark b
    start_raw r2o 3 send "$ipB" 4997 "$COPY" src nick second-open 5000
    finish r2o 30 || fail "a second open: $(cat "$share/r2o.log")"
    h=$(receive_handle b r1) || fail "B was not told of the first open"
    wait_end b r1 "$h" 10 || fail "the first transfer did not end"
    [ "$(codes b r1 "$h")" = "0x20040100 0x20040164" ] || fail "the first transfer: $(codes b r1 "$h")"
    ask b "fclose $h"
    # Contents whose CRC fails: the receiver told ERROR_CRC, the sender answered it.
    mark b
    start_raw rcrc 3 send "$ipB" 4997 "$COPY" src nick badcrc 20000
    finish rcrc 30 || fail "contents whose CRC fails"
    grep -qF "REPLY 34 34 0x0017" "$share/rcrc.log" || fail "the answer to contents whose CRC fails: $(cat "$share/rcrc.log")"
    h=$(receive_handle b r1) || fail "B was not told of the transfer whose CRC fails"
    wait_end b r1 "$h" 10 || fail "B was not told the end of the transfer whose CRC fails"
    [ "$(codes b r1 "$h")" = "0x20040100 0x00000017" ] || fail "receiver of contents whose CRC fails: $(codes b r1 "$h")"
    # Contents no open waits for, of another type, or after the end: the connection is closed.
    mark b
    for cue in nocontents wrongtype after-end; do
      start_raw "r$cue" 3 send "$ipB" 4997 "$COPY" src nick "$cue" 3000
      finish "r$cue" 30 || fail "$cue: $(cat "$share/r$cue.log")"
    done
    # The whole transfer before the contents after its end was stored; the others were not.
    h=$(since b | grep "^MSG r1 FILE [0-9]* 0x20040164 " | cut -d' ' -f4)
    [ "$(wc -w <<<"$h")" -eq 1 ] || fail "transfers stored among the broken ones: $(since b | grep "^MSG r1 ")"
    ask b "fclose $h"
    no_temps b || fail "B keeps temporary files after broken contents: $REPLY"
    # A raw sender that goes halfway through: told, nothing left, no name to read.
    mark b
    start_raw rhalf 3 send "$ipB" 4997 "$COPY" src nick half 3000000
    finish rhalf 30 || fail "a sender that goes halfway through"
    h=$(receive_handle b r1) || fail "B was not told of the transfer that broke off"
    wait_end b r1 "$h" 20 || fail "B was not told that the sender went"
    [ "$(codes b r1 "$h" | awk '{print $1, $NF}')" = "0x20040100 0xE0040202" ] || fail "receiver of a sender that went: $(codes b r1 "$h")"
    ask b "ftemp $h"
    expect "FTEMP $h FAIL 0x00000002" "the name of a transfer that broke off"
    no_temps b || fail "B keeps the partial file: $REPLY"
    # A raw sender that pauses halfway: no name before the end; B suspends: told.
    mark b
    start_raw rpause 3 send "$ipB" 4997 "$COPY" src nick pause 3000000 "$winshare/pause.stop"
    wait_line rpause "^HALF-SENT" 30 || fail "the pausing sender did not send"
    h=$(receive_handle b r1) || fail "B was not told of the paused transfer"
    sleep 1
    ask b "ftemp $h ; temps"
    expect "FTEMP $h FAIL 0x00000002" "the name of a transfer under way"
    expect "TEMPS 1" "the file of a transfer under way"
    ask b "power 4"
    wait_end b r1 "$h" 20 || fail "B's suspend was not told"
    [ "$(codes b r1 "$h" | awk '{print $1, $NF}')" = "0x20040100 0xE0040202" ] || fail "receiver suspended: $(codes b r1 "$h")"
    no_temps b || fail "B keeps the partial file after its suspend: $REPLY"
    touch "$share/pause.stop"
    finish rpause 30 || fail "the pausing sender did not end"

    ask b "fprobe" 120
    expect "FPROBE OK" "numbers given to every file-transfer call on B"
    ask a "quit"
    finish a 30 || fail "A did not stop"
    ask b "quit"
    finish b 30 || fail "B did not stop"
    ;;

  transfer-robust)
    start_a_and_b
    # The blast's transfers go to a window that closes what it is given, counting the notices.
    ask a "window w ; watch w 5 \\Blast ; autoclose w ; quiet w ; window r ; watch r 6 $COPY"
    ask b "window s ; open rt \\ s"
    root_lists b 2 30 || fail "B does not list two nodes"
    head -c 8388608 /dev/urandom >"$share/8m.bin"

    start_raw blast 3 blast-files "$ipA" 4997 '\Blast'
    finish blast 240 || fail "the corrupted transfer packets did not go"
    sent=$(grep -m1 '^BLASTED ' "$share/blast.log" | cut -d' ' -f2)
    echo "A after $SECONDS s: $(grep -m1 '^BLASTED ' "$share/blast.log")"
    [ "${sent:-0}" -ge 100000 ] || fail "only ${sent:-0} corrupted transfer packets"
    ask a "counts w ; conns"
    echo "A's notices: $REPLY"
    no_temps a 20 || fail "A keeps temporary files after the corrupted packets: $REPLY"

    # A is up, and takes a real transfer from B.
    mark a
    mark b
    b_sends_a t8 8m.bin r
    [ "$(codes b s t8 | awk '{print $1, $NF}')" = "0x20040000 0x20040064" ] || fail "B's sender: $(codes b s t8)"
    ask a "fsave $h \"$winshare/got.bin\" ; fclose $h"
    cmp -s "$share/8m.bin" "$share/got.bin" || fail "B's file arrived changed"
    no_temps a || fail "A keeps temporary files: $REPLY"
    ask a "fprobe" 200
    expect "FPROBE OK" "numbers given to every file-transfer call on A"
    ask a "quit"
    finish a 30 || fail "A did not stop"
    ask b "quit"
    finish b 30 || fail "B did not stop"
    ;;
esac
echo "lan_test $scenario: passed"
exit 0
