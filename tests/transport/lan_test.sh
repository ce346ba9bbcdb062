#!/usr/bin/env bash
# DirectPlay sessions of the transport (PC server, codec and gate over our DirectPlay) between
# terminals that run as programs on separate hosts of a test LAN.
#   lan_test.sh SCENARIO LAN_TOOL PEER_EXE WORK_DIR
# SCENARIO: routing  (a member leaves; every destination from the host and from members, the
#                     departed member among them; 8 MiB blocks; the host closes on its members)
#           kill     (a member and then the host killed while blocks are on their way)
#           freeze   (the host stops answering: the members find out by the keep-alive)
#           vanished (joining a session that has ended, or whose host was killed)
#           robust   (a raw client floods the host with broken payloads while members talk)
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

scenario=$1 lan=$2 peer=$3 work=$4
name="tp$$${scenario:0:2}"   # namespaces of this run only
dir="$work/$name"
share="$dir/share"           # the hosts' shared folder: commands, logs, the session's GUID
winshare="Z:$share"
keepalive=8                  # s of silence after which DirectPlay drops a peer
pids=()
watchdog=""

bash "$lan" check || exit 77

# kill_peer PID: ends a peer (even a frozen one) and reaps it quietly.
kill_peer() {
  kill -CONT "$1" 2>/dev/null
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}

cleanup() {
  local p
  for p in "${pids[@]}"; do kill_peer "$p"; done
  [ -n "$watchdog" ] && kill "$watchdog" 2>/dev/null
  bash "$lan" down "$name" "$dir" >/dev/null 2>&1
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'echo "lan_test: stopped"; exit 1' INT TERM
# Ends the test, with its clean-up, well before CTest would kill it without one (see its
# TIMEOUT). The flood takes longest: the host writes an error line for each broken payload.
limit=240
[ "$scenario" = robust ] && limit=460
( trap 'kill $s 2>/dev/null; exit 0' TERM; sleep $limit & s=$!; wait $s; kill -TERM $$ ) >/dev/null 2>&1 &
watchdog=$!

fail() {
  echo "lan_test $scenario: FAILED: $*"
  local f
  for f in "$share"/*.log; do
    [ -f "$f" ] || continue
    echo "--- $(basename "$f") (last 60 lines)"
    tail -n 60 "$f"
  done
  for f in "$share"/*/log.dat; do
    [ -f "$f" ] || continue
    echo "--- $f (last 20 lines)"
    tail -n 20 "$f"
  done
  exit 1
}

# start LOG HOST MODE ARGS...: the peer program on that host; its output goes to LOG.log.
declare -A pid_of
start() {
  local log=$1 host=$2
  shift 2
  : >"$share/$log.cmd"
  bash "$lan" wine "$name" "$host" "$dir" -- "$peer" "$@" >"$share/$log.log" 2>&1 </dev/null &
  pids+=($!)
  pid_of[$log]=$!
}

# wait_line LOG PATTERN SECONDS
wait_line() {
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    grep -qE "$2" "$share/$1.log" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

wait_file() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do [ -e "$share/$1" ] && return 0; sleep 0.1; done
  return 1
}

# count LOG PATTERN: lines of the log that match.
count() { grep -cE "$2" "$share/$1.log" 2>/dev/null; }

# wait_count LOG PATTERN N SECONDS: until exactly N lines match (false when more, or too late).
wait_count() {
  local i c
  for ((i = 0; i <= $4 * 10; i++)); do
    c=$(count "$1" "$2")
    [ "$c" -eq "$3" ] && return 0
    [ "$c" -gt "$3" ] && return 1
    sleep 0.1
  done
  return 1
}

# post LOG COMMAND...: appends commands for the peer; wait_done LOG SECONDS: all of them done.
post() {
  local log=$1 line
  shift
  for line in "$@"; do echo "$line" >>"$share/$log.cmd"; done
}
wait_done() {
  local n
  n=$(wc -l <"$share/$1.cmd")
  wait_line "$1" "DONE $n\$" "$2"
}

# finish LOG SECONDS [CODE]: waits for the peer to end with that exit code (0).
finish() {
  local p=${pid_of[$1]} i rc
  for ((i = 0; i < $2 * 10; i++)); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$p" 2>/dev/null && { echo "lan_test: $1 did not end"; return 124; }
  wait "$p"
  rc=$?
  [ "$rc" -eq "${3:-0}" ] || { echo "lan_test: $1 ended with $rc"; return 1; }
}

# events LOG: its session events, one a line.
events() { grep -oE "EVENT .*" "$share/$1.log" | sed 's/^EVENT //'; }

# expect_events LOG TEXT...: exactly these events, in this order.
expect_events() {
  local log=$1 got want
  shift
  got=$(events "$log")
  want=$(printf '%s\n' "$@")
  [ $# -eq 0 ] && want=""
  [ "$got" = "$want" ] || fail "$log had the events [$(echo "$got" | tr '\n' '|')], not [$(echo "$want" | tr '\n' '|')]"
}

no_damage() {
  local log
  for log in "$@"; do
    [ "$(count "$log" '^[0-9]+ ORDER ')" -eq 0 ] || fail "$log received calls out of order"
  done
}

now_ms() { date +%s%3N; }

join_all() {
  local k
  start H 1 host "$winshare" H
  wait_file session.guid 60 || fail "no session hosted"
  for k in "$@"; do start "${k%%:*}" "${k##*:}" join "$winshare" "${k%%:*}" "$host_ip"; done
  for k in "$@"; do wait_line "${k%%:*}" "JOINED" 60 || fail "${k%%:*} did not join"; done
}

mkdir -p "$dir"
case $scenario in
  routing | robust) hosts=4 ;;
  kill | freeze) hosts=3 ;;
  vanished) hosts=2 ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
bash "$lan" up "$name" $hosts "$dir" || fail "the LAN could not be made"
mkdir -p "$share"
host_ip=$(bash "$lan" addr 1)

case $scenario in
  routing)
    join_all A:2 B:3 C:4
    # A member that leaves: the host and the other members hear of it.
    post C close
    finish C 30 || fail "C's close"
    for t in H A B; do wait_line $t "EVENT 1 C\$" 15 || fail "$t was not told that C left"; done

    # Every destination, twice, from the host and from both members at once.
    dests="@ALL_TERMINAL @ALL_TERMINAL_EXCEPT_ME @HOST_TERMINAL @HAS_MASTER @HAS_SLAVE @PCS H A B C"
    for s in H A B; do for d in $dests; do post $s "send $d 2"; done; done
    for s in H A B; do wait_done $s 30 || fail "$s did not send"; done
    # Who gets a block from sender s for destination d.
    receivers() {
      case $2 in
        @ALL_TERMINAL | @HAS_MASTER | @HAS_SLAVE) echo H A B ;;
        @ALL_TERMINAL_EXCEPT_ME) echo H A B | tr ' ' '\n' | grep -vx "$1" | tr '\n' ' ' ;;
        @HOST_TERMINAL) echo H ;;
        H | A | B) echo "$2" ;;
        *) echo "" ;;
      esac
    }
    # check_table SECONDS: every terminal got exactly as many blocks of each kind as the table
    # says (waiting up to SECONDS for each kind).
    check_table() {
      local r s d n x total
      for r in H A B; do
        total=0
        for s in H A B; do
          for d in $dests; do
            n=0
            for x in $(receivers $s $d); do [ "$x" = "$r" ] && n=2; done
            total=$((total + n))
            wait_count $r "^[0-9]+ RECV $s $d [0-9]+ 16 OK\$" $n "$1" ||
              fail "$r got $(count $r "^[0-9]+ RECV $s $d [0-9]+ 16 OK\$") blocks from $s for $d, not $n"
          done
        done
        echo "$r received $total blocks as the table says"
      done
    }
    check_table 30
    # Pictures: 8 MiB from the host to a member, and from a member to a member through the host.
    post H "send A 1 8388608"
    post A "send B 1 8388608"
    wait_line A "RECV H A [0-9]+ 8388608 OK\$" 60 || fail "A did not get the host's 8 MiB whole"
    wait_line B "RECV A B [0-9]+ 8388608 OK\$" 60 || fail "B did not get A's 8 MiB whole"
    sleep 1
    check_table 0
    for r in H A B; do [ "$(count $r ' BAD$')" -eq 0 ] || fail "$r received a damaged call"; done
    no_damage H A B

    # The host closes: each member learns that it is out.
    post H close
    finish H 30 || fail "H's close"
    for t in A B; do wait_line $t "EVENT 1 $t\$" 15 || fail "$t was not told that it lost the session"; done
    for t in A B; do post $t close; done
    for t in A B; do finish $t 30 || fail "$t's close"; done
    expect_events H "1 C"
    expect_events A "1 C" "1 A"
    expect_events B "1 C" "1 B"
    ;;

  kill)
    join_all A:2 B:3
    # A member killed while the host sends it 40 MiB: the host goes on with the others.
    post H "send B 40 1048576"
    wait_done H 30 || fail "H did not send"
    kill_peer "${pid_of[B]}"
    for t in H A; do wait_line $t "EVENT 1 B\$" $((keepalive + 6)) || fail "$t was not told that B went"; done
    post H "send A 3"
    wait_count A "^[0-9]+ RECV H A [0-9]+ 16 OK\$" 3 30 || fail "the host is stuck after B went"
    # The host killed while A sends it 40 MiB: A learns that it is out, and closes in time.
    post A "send @ALL_TERMINAL 40 1048576"
    wait_done A 30 || fail "A did not send"
    kill_peer "${pid_of[H]}"
    t0=$(now_ms)
    wait_line A "EVENT 1 A\$" $((keepalive + 6)) || fail "A was not told that it lost the session"
    echo "A lost the session after $(($(now_ms) - t0)) ms"
    post A close
    finish A 30 || fail "A's close after the host was killed"
    expect_events A "1 B" "1 A"
    ;;

  freeze)
    join_all A:2 B:3
    post A "send B 5"
    wait_count B "^[0-9]+ RECV A B [0-9]+ 16 OK\$" 5 30 || fail "the session does not carry calls"
    kill -STOP "${pid_of[H]}"
    t0=$(now_ms)
    for t in A B; do
      wait_line $t "EVENT 1 $t\$" $((keepalive + 6)) || fail "$t was not told that it lost the session"
    done
    waited=$(($(now_ms) - t0))
    echo "members lost the session $waited ms after the host froze"
    [ "$waited" -ge $(((keepalive - 2) * 1000)) ] || fail "the session was lost after $waited ms, before the keep-alive time"
    for t in A B; do post $t close; done
    for t in A B; do finish $t 30 || fail "$t's close"; done
    expect_events A "1 A"
    expect_events B "1 B"
    ;;

  vanished)
    # A session that was closed: its host runs no session any more.
    start H 1 host "$winshare" H
    wait_file session.guid 60 || fail "no session hosted"
    cp "$share/session.guid" "$share/closed.guid"
    post H close
    finish H 30 || fail "H's close"
    start A 2 join "$winshare" A "$host_ip" "$winshare/closed.guid"
    finish A 30 3 || fail "joining the closed session did not fail with a CIOException"
    ms=$(grep -oE "JOIN FAILED CIOException [0-9]+" "$share/A.log" | awk '{print $4}')
    echo "the join of the closed session failed after $ms ms"
    [ -n "$ms" ] && [ "$ms" -lt 10000 ] || fail "the join took $ms ms"
    # A session whose host was killed.
    rm -f "$share/session.guid"
    start H2 1 host "$winshare" H2
    wait_file session.guid 60 || fail "no second session hosted"
    cp "$share/session.guid" "$share/killed.guid"
    kill_peer "${pid_of[H2]}"
    start A2 2 join "$winshare" A2 "$host_ip" "$winshare/killed.guid"
    finish A2 30 3 || fail "joining the killed host's session did not fail with a CIOException"
    ms=$(grep -oE "JOIN FAILED CIOException [0-9]+" "$share/A2.log" | awk '{print $4}')
    echo "the join of the killed host's session failed after $ms ms"
    [ -n "$ms" ] && [ "$ms" -lt 10000 ] || fail "the join took $ms ms"
    # A host that is gone from the network altogether: nothing answers at its address.
    start A3 2 join "$winshare" A3 "$(bash "$lan" addr 9)" "$winshare/killed.guid"
    finish A3 30 3 || fail "joining at an address where no host is did not fail with a CIOException"
    ms=$(grep -oE "JOIN FAILED CIOException [0-9]+" "$share/A3.log" | awk '{print $4}')
    echo "the join where no host is failed after $ms ms"
    [ -n "$ms" ] && [ "$ms" -lt 10000 ] || fail "the join took $ms ms"
    ;;

  robust)
    seed=${TRANSPORT_LAN_SEED:-$(( $(date +%s) % 1000000 ))}
    echo "robust: seed $seed"
    join_all A:2 B:3
    start R 4 raw "$winshare" R "$host_ip" "$seed" 100000
    wait_line R "JOINED" 60 || fail "the raw client did not join"
    # The members talk while the garbage arrives.
    for batch in 1 2 3 4 5; do
      post A "send B 200" "send @ALL_TERMINAL 40"
      post B "send A 200" "send @HOST_TERMINAL 40"
      sleep 0.5
    done
    wait_line R "SENT " 240 || fail "the raw client did not send everything"
    grep -q "SENT 100000" "$share/R.log" || fail "the raw client could not send every payload"
    for t in A B; do wait_done $t 240 || fail "$t did not send"; done
    wait_count B "^[0-9]+ RECV A B [0-9]+ 16 OK\$" 1000 240 || fail "B did not get all of A's calls"
    wait_count A "^[0-9]+ RECV B A [0-9]+ 16 OK\$" 1000 240 || fail "A did not get all of B's calls"
    for t in H A B; do
      wait_count $t "^[0-9]+ RECV A @ALL_TERMINAL [0-9]+ 16 OK\$" 200 240 || fail "$t did not get A's calls to all"
    done
    wait_count H "^[0-9]+ RECV B @HOST_TERMINAL [0-9]+ 16 OK\$" 200 240 || fail "H did not get B's calls to it"
    no_damage H A B
    for t in H A B; do
      kill -0 "${pid_of[$t]}" 2>/dev/null || fail "$t did not stay up"
      expect_events $t
    done
    # The raw client leaves: that, and only that, is a session event.
    touch "$share/R.stop"
    finish R 60 || fail "the raw client"
    # The host may still be working through the flood: its end comes after it.
    for t in H A B; do wait_line $t "EVENT 1 R\$" 240 || fail "$t was not told that R left"; done
    for t in A B H; do
      post $t close
      finish $t 30 || fail "$t's close"
    done
    expect_events H "1 R" "1 A" "1 B"
    expect_events A "1 R"
    expect_events B "1 R" "1 A"
    echo "robust: seed $seed, $(grep -c ' BAD$' "$share/H.log") broken calls reached H's element"
    ;;
esac
echo "lan_test $scenario: passed"
exit 0
