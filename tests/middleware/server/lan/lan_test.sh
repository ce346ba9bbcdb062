#!/usr/bin/env bash
# Middleware nodes between separate processes on separate hosts of a test LAN: the server core
# runs on the main thread of quarn_node on each host, driven through a command file; a raw peer
# checks answers byte by byte, plays a node of its own or sends corrupted packets.
#   lan_test.sh SCENARIO LAN_TOOL NODE_EXE RAWPEER_EXE WORK_DIR
# SCENARIO: core   (one host: temporary files, identity, port, second start, watch window)
#           peer   (a raw peer's requests and an alive over TCP against a node)
#           nodes  (hosts A and B reading each other, changes, a node that goes, suspend)
#           robust (over 100,000 corrupted packets to A; A and B still read each other)
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

scenario=$1 lan=$2 node=$3 raw=$4 work=$5
name="mw$$${scenario:0:2}" # namespaces of this run only
dir="$work/$name"
share="$dir/share"         # the command files and logs, seen by every host
winshare="Z:$share"
settings='HKLM\Software\Keldar Corporation\Corvan Zone Middleware'
pids=()
watchdog=""

bash "$lan" check || exit 77

kill_pid() {
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}

cleanup() {
  local p
  for p in "${pids[@]}"; do kill_pid "$p"; done
  [ -n "$watchdog" ] && kill "$watchdog" 2>/dev/null
  bash "$lan" down "$name" "$dir" >/dev/null 2>&1
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'echo "lan_test: stopped"; exit 1' INT TERM
# Ends the test, with its clean-up, well before CTest would kill it without one.
( trap 'kill $s 2>/dev/null; exit 0' TERM; sleep 220 & s=$!; wait $s; kill -TERM $$ ) >/dev/null 2>&1 &
watchdog=$!

fail() {
  echo "lan_test $scenario: FAILED: $*"
  local f
  for f in "$share"/*.log; do [ -f "$f" ] && { echo "--- $(basename "$f")"; tail -n 150 "$f"; }; done
  exit 1
}

declare -A pid_of
# start_node LOG HOST [seed-temp]: quarn_node on that host, reading LOG.cmd, writing LOG.log.
start_node() {
  local log=$1 host=$2
  shift 2
  : >"$share/$log.cmd"
  bash "$lan" wine "$name" "$host" "$dir" -- "$node" "$winshare/$log.cmd" "$@" >"$share/$log.log" 2>&1 </dev/null &
  pids+=($!)
  pid_of[$log]=$!
}

# start_raw LOG HOST MODE ARGS...
start_raw() {
  local log=$1 host=$2
  shift 2
  bash "$lan" wine "$name" "$host" "$dir" -- "$raw" "$@" >"$share/$log.log" 2>&1 </dev/null &
  pids+=($!)
  pid_of[$log]=$!
}

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

# finish LOG SECONDS: waits for the program to end; its exit code.
finish() {
  local p=${pid_of[$1]} i
  for ((i = 0; i < $2 * 10; i++)); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$p" 2>/dev/null && { echo "lan_test: $1 did not end"; return 124; }
  wait "$p"
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

hosts=1
case $scenario in
  core) hosts=2 ;;
  peer) hosts=2 ;;
  nodes) hosts=3 ;;
  robust) hosts=3 ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
mkdir -p "$dir"
bash "$lan" up "$name" $hosts "$dir" || fail "the LAN could not be made"
mkdir -p "$share"
# Windows need a display: the one given, or else each host draws nowhere.
if [ -z "${DISPLAY:-}" ]; then
  for ((k = 1; k <= hosts; k++)); do on $k reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f; done
fi
ipA=$(bash "$lan" addr 1)
ipB=$(bash "$lan" addr 2)

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
    start_node a 1
    start_node b 2
    wait_line a "^START " 60 && wait_line b "^START " 60 || fail "no start"
    grep -qF "START ok" "$share/a.log" && grep -qF "START ok" "$share/b.log" || fail "a core did not start"
    GA=$(guid_of a) GB=$(guid_of b)
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
    start_node a 1
    start_node b 2
    wait_line a "^START " 60 && wait_line b "^START " 60 || fail "no start"
    GA=$(guid_of a) GB=$(guid_of b)
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
    poll a "count blast" "COUNT blast 1" 60 || fail "the good reply after the corrupted ones was not taken: $REPLY"
    echo "corrupted replies taken after $SECONDS s"
    ask a "list blast"
    expect "\"X\" INT 5" "the good reply"
    touch "$share/fake.stop"
    finish fake 30 || fail "the fake node did not end"

    # Corrupted alives over UDP: the connections to made-up identities stay at the limit.
    start_raw udp 3 blast-udp "$ipA" 4997 "$winshare/udp.stop"
    wait_line udp "^DATAGRAMS " 120 || fail "the corrupted alives did not go"
    sleep 2
    ask a "conns"
    echo "A after the corrupted alives: $REPLY"
    expect "most lookup 256 " "the limit of lookup connections"
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
    ask a "conns"
    echo "A after the corrupted packets: $REPLY"
    expect "most lookup 256 server 256" "the limits of connections"
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
esac
echo "lan_test $scenario: passed"
exit 0
