#!/usr/bin/env bash
# DirectPlay sessions of the transport (PC server, codec and gate over our DirectPlay) between
# terminals that run as programs on separate hosts of a test LAN, and the session handles with
# replicated elements across those hosts.
#   lan_test.sh SCENARIO LAN_TOOL PEER_EXE WORK_DIR
# With transport_peer as PEER_EXE:
#   routing  (a member leaves; every destination from the host and from members, the departed
#             member among them; 8 MiB blocks; the host closes on its members)
#   kill     (a member and then the host killed while blocks are on their way)
#   freeze   (the host stops answering: the members find out by the keep-alive)
#   stall    (a member frozen while another queries the host: the others go on, it leaves)
#   vanished (joining a session that has ended, or whose host was killed)
#   robust   (a raw client floods the host with broken payloads while members talk)
# With session_peer (CNetwork, CBroadcastNetwork, a director stand-in and test elements):
#   space     (shared spaces: installs, removals, a late joiner, a leaver, a killed terminal,
#              uninstall-all)
#   element   (a shared element: the slave's synchronisation, cooperative calls)
#   viewable  (the operator right: first request wins, release, renewal, a silent holder)
#   edges     (queries both ways; the host's close; joining a session whose host has gone)
#   broadcast (notices as datagrams to the registered addresses)
#   flood     (100,000 broken datagrams at a broadcast session in paced bursts)
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

scenario=$1 lan=$2 peer=$3 work=$4
name="tp$$${scenario:0:2}"   # namespaces of this run only
dir="$work/$name"
share="$dir/share"           # the hosts' shared folder: commands, logs, the session's GUID
winshare="Z:$share"
keepalive=8                  # s of silence after which DirectPlay drops a peer
source "$(dirname "$lan")/lan-lib.sh"
LAN_LOG_LINES=60
# The time limit ends the test, with its clean-up, well before CTest would kill it without one
# (see its TIMEOUT). The flood takes longest: the host writes an error line for each broken
# payload.
limit=240
[ "$scenario" = robust ] && limit=460
[ "$scenario" = flood ] && limit=560
lan_begin "lan_test $scenario" $limit
trap 'fail "stopped at the time limit"' TERM

# start LOG HOST MODE ARGS...: the peer program on that host; its output goes to LOG.log.
start() {
  local log=$1 host=$2
  shift 2
  : >"$share/$log.cmd"
  # Started in its own folder, where its trace file (log.dat) goes.
  mkdir -p "$share/$log"
  (cd "$share/$log" && exec bash "$lan" wine "$name" "$host" "$dir" -- "$peer" "$@") >"$share/$log.log" 2>&1 </dev/null &
  lan_pids+=($!)
  pid_of[$log]=$!
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

# finish_code LOG SECONDS [CODE]: waits for the peer to end with that exit code (0).
finish_code() {
  local rc
  finish "$1" "$2"
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

# in_order LOG TEXT...: these lines occur in the log in this order, each once.
in_order() {
  local log=$1 got want
  shift
  want=$(printf '%s\n' "$@")
  got=$(awk -v list="$want" 'BEGIN { n = split(list, w, "\n"); for (i = 1; i <= n; i++) if (w[i] != "") keep[w[i]] = 1 }
        { l = substr($0, index($0, " ") + 1); if (l in keep) print l }' "$share/$log.log")
  [ "$got" = "$(printf '%s\n' "$@" | sed '/^$/d')" ] ||
    fail "$log: [$(echo "$got" | tr '\n' '|')], not [$(printf '%s|' "$@")]"
}

# expect_members LIST TERMINAL...: each terminal's space shows exactly the members of LIST
# ("D:HOME,..." or "-"), and all of them under the same element ids.
expect_members() {
  local wanted=$1 t got first=""
  shift
  for t in "$@"; do post "$t" "expect $wanted"; done
  for t in "$@"; do wait_done "$t" 40 || fail "$t did not answer the expect of $wanted"; done
  for t in "$@"; do
    got=$(grep -E "^[0-9]+ (MATCH|MISMATCH) " "$share/$t.log" | tail -n 1 | cut -d' ' -f2-)
    case $got in MATCH*) ;; *) fail "$t shows [$got], not $wanted" ;; esac
    [ -z "$first" ] && first=$got
    [ "$got" = "$first" ] || fail "$t shows [$got], the others [$first]"
  done
}

# id_of TERMINAL DESC: the element id of a member, from the terminal's last MATCH line.
id_of() { grep -E "^[0-9]+ MATCH " "$share/$1.log" | tail -n 1 | tr ';' '\n' | sed -n "s/^.*\b$2=//p" | head -n 1; }

# threads_back LOG: the program ended with no more threads than it started with.
threads_back() {
  local log=$1 line
  line=$(grep -oE "THREADS [0-9]+ [0-9]+ [0-9]+" "$share/$log.log" | tail -n 1)
  [ -n "$line" ] || fail "$log wrote no THREADS line"
  set -- $line
  echo "$log: threads at start $2, after close $3, after delete $4"
  [ "$4" -le "$2" ] || fail "$log left threads behind: $2 at start, $4 at the end"
}

# addresses TERMINAL...: every terminal registers every one of them (itself too) in its
# broadcast session, as the member list does.
addresses() {
  local t u k port
  for u in "$@"; do wait_file "$u.port" 30 || fail "$u has no broadcast port"; done
  for t in "$@"; do
    for u in "$@"; do
      k=${host_of[$u]}
      port=$(cat "$share/$u.port")
      post "$t" "addr $u $(bash "$lan" addr "$k") $port"
    done
  done
  for t in "$@"; do wait_done "$t" 30 || fail "$t did not register the addresses"; done
}

declare -A host_of
join_all() {
  local k
  host_of[H]=1
  for k in "$@"; do host_of[${k%%:*}]=${k##*:}; done
  start H 1 host "$winshare" H
  wait_file session.guid 60 || fail "no session hosted"
  for k in "$@"; do start "${k%%:*}" "${k##*:}" join "$winshare" "${k%%:*}" "$host_ip"; done
  for k in "$@"; do wait_line "${k%%:*}" "JOINED" 60 || fail "${k%%:*} did not join"; done
}

case $scenario in
  routing | robust | space) hosts=4 ;;
  kill | freeze | stall | element | viewable | edges | broadcast | flood) hosts=3 ;;
  vanished) hosts=2 ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
lan_up $hosts
host_ip=$(bash "$lan" addr 1)

case $scenario in
  routing)
    join_all A:2 B:3 C:4
    # A member that leaves: the host and the other members hear of it.
    post C close
    finish_code C 30 || fail "C's close"
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
    finish_code H 30 || fail "H's close"
    for t in A B; do wait_line $t "EVENT 1 $t\$" 15 || fail "$t was not told that it lost the session"; done
    for t in A B; do post $t close; done
    for t in A B; do finish_code $t 30 || fail "$t's close"; done
    expect_events H "1 C"
    expect_events A "1 C" "1 A"
    expect_events B "1 C" "1 B"
    ;;

  kill)
    join_all A:2 B:3
    # A member killed while the host sends it 40 MiB: the host goes on with the others.
    post H "send B 40 1048576"
    wait_done H 30 || fail "H did not send"
    kill_pid "${pid_of[B]}"
    for t in H A; do wait_line $t "EVENT 1 B\$" $((keepalive + 6)) || fail "$t was not told that B went"; done
    post H "send A 3"
    wait_count A "^[0-9]+ RECV H A [0-9]+ 16 OK\$" 3 30 || fail "the host is stuck after B went"
    # The host killed while A sends it 40 MiB: A learns that it is out, and closes in time.
    post A "send @ALL_TERMINAL 40 1048576"
    wait_done A 30 || fail "A did not send"
    kill_pid "${pid_of[H]}"
    t0=$(now_ms)
    wait_line A "EVENT 1 A\$" $((keepalive + 6)) || fail "A was not told that it lost the session"
    echo "A lost the session after $(($(now_ms) - t0)) ms"
    post A close
    finish_code A 30 || fail "A's close after the host was killed"
    expect_events A "1 B" "1 A"
    ;;

  stall)
    join_all A:2 B:3
    post B "send A 2"
    wait_count A "^[0-9]+ RECV B A [0-9]+ 16 OK\$" 2 30 || fail "the session does not carry calls"
    # A stops taking anything while B's queries reach it too, through the host: 1000 of 288 KiB,
    # more than DirectPlay queues for one member (256 MiB), so that the host's sends to A turn
    # busy unless the keep-alive drops A first.
    kill -STOP "${pid_of[A]}"
    frozen+=("${pid_of[A]}")
    t0=$(now_ms)
    post B "query @ALL_TERMINAL_EXCEPT_ME 1000 294912"
    wait_line H "EVENT 1 A\$" 30 || fail "the host kept the frozen A"
    left=$(($(now_ms) - t0))
    echo "the host let A go $left ms after it froze"
    [ "$left" -le 21000 ] || fail "A left $left ms after it froze, past the busy limit of 20 s"
    wait_done B 120 || fail "B's queries did not end"
    set -- $(grep -oE "QUERIES .*" "$share/B.log" | tail -n 1)
    echo "B: $* (ms)"
    [ "${2:-0}" -eq 1000 ] || fail "B got ${2:-0} answers of 1000"
    [ "${8:-999}" -lt 100 ] || fail "the 99th percentile of B's queries took ${8:-?} ms"
    wait_line B "EVENT 1 A\$" 15 || fail "B was not told that A left"
    for t in H B; do [ "$(count $t 'EVENT 1 B$')" -eq 0 ] || fail "$t lost B"; done
    [ "$(count H 'EVENT 2')" -eq 0 ] || fail "the host met a fatal trouble"
    post B close
    finish_code B 30 || fail "B's close"
    post H close
    finish_code H 30 || fail "H's close"
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
    for t in A B; do finish_code $t 30 || fail "$t's close"; done
    expect_events A "1 A"
    expect_events B "1 B"
    ;;

  vanished)
    # A session that was closed: its host runs no session any more.
    start H 1 host "$winshare" H
    wait_file session.guid 60 || fail "no session hosted"
    cp "$share/session.guid" "$share/closed.guid"
    post H close
    finish_code H 30 || fail "H's close"
    start A 2 join "$winshare" A "$host_ip" "$winshare/closed.guid"
    finish_code A 30 3 || fail "joining the closed session did not fail with a CIOException"
    ms=$(grep -oE "JOIN FAILED CIOException [0-9]+" "$share/A.log" | awk '{print $4}')
    echo "the join of the closed session failed after $ms ms"
    [ -n "$ms" ] && [ "$ms" -lt 10000 ] || fail "the join took $ms ms"
    # A session whose host was killed.
    rm -f "$share/session.guid"
    start H2 1 host "$winshare" H2
    wait_file session.guid 60 || fail "no second session hosted"
    cp "$share/session.guid" "$share/killed.guid"
    kill_pid "${pid_of[H2]}"
    start A2 2 join "$winshare" A2 "$host_ip" "$winshare/killed.guid"
    finish_code A2 30 3 || fail "joining the killed host's session did not fail with a CIOException"
    ms=$(grep -oE "JOIN FAILED CIOException [0-9]+" "$share/A2.log" | awk '{print $4}')
    echo "the join of the killed host's session failed after $ms ms"
    [ -n "$ms" ] && [ "$ms" -lt 10000 ] || fail "the join took $ms ms"
    # A host that is gone from the network altogether: nothing answers at its address.
    start A3 2 join "$winshare" A3 "$(bash "$lan" addr 9)" "$winshare/killed.guid"
    finish_code A3 30 3 || fail "joining at an address where no host is did not fail with a CIOException"
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
    finish_code R 60 || fail "the raw client"
    # The host may still be working through the flood: its end comes after it.
    for t in H A B; do wait_line $t "EVENT 1 R\$" 240 || fail "$t was not told that R left"; done
    for t in A B H; do
      post $t close
      finish_code $t 30 || fail "$t's close"
    done
    expect_events H "1 R" "1 A" "1 B"
    expect_events A "1 R"
    expect_events B "1 R" "1 A"
    echo "robust: seed $seed, $(grep -c ' BAD$' "$share/H.log") broken calls reached H's element"
    ;;

  space)
    join_all T1:2 T2:3
    # The host's space comes first, as the host's session makes it: a copy's request to a
    # master not there yet is lost.
    post H space
    wait_line H "J H onPlugInSharedSpace LC\$" 30 || fail "the host's space did not plug in"
    for t in T1 T2; do post $t space; done
    for t in T1 T2; do wait_line $t "J $t onEndSyncSharedSpace members=0\$" 30 || fail "$t did not synchronise"; done
    # An install on a joined terminal reaches every terminal under one id.
    post T1 "install pic-1"
    expect_members pic-1:T1 H T1 T2
    id=$(id_of H pic-1)
    [ ${#id} -eq 36 ] || fail "[$id] is no GUID made on the installing terminal"
    in_order T1 "J T1 beforePlugInOrg pic-1 new" "J T1 afterPlugInOrg pic-1 $id"
    for t in H T2; do in_order $t "J $t beforePlugInRpl pic-1 new" "J $t afterPlugInRpl pic-1 $id"; done
    # The host installs and uninstalls for everyone; only the original's terminal removes it.
    post H "install h-1" "install h-2"
    expect_members pic-1:T1,h-1:H,h-2:H H T1 T2
    post T2 "uninstall h-1"
    post H "uninstall h-2"
    expect_members pic-1:T1,h-1:H H T1 T2
    h2=$(grep -oE "J T2 afterPlugInRpl h-2 .*" "$share/T2.log" | awk '{print $5}')
    in_order T2 "J T2 beforePlugInRpl h-2 new" "J T2 afterPlugInRpl h-2 $h2" "J T2 beforePlugOutRpl h-2 $h2" \
      "J T2 afterPlugOutRpl h-2 $h2"
    post T2 "install t2-a"
    post T1 "install t1-b"
    expect_members pic-1:T1,h-1:H,t2-a:T2,t1-b:T1 H T1 T2
    # A late joiner receives the whole set before its synchronisation ends.
    host_of[T3]=4
    start T3 4 join "$winshare" T3 "$host_ip"
    wait_line T3 "JOINED" 60 || fail "T3 did not join"
    post T3 space
    wait_line T3 "J T3 onEndSyncSharedSpace members=4\$" 30 || fail "T3 did not synchronise with the whole set"
    in_order H "J H onSyncSharedSpace T3"
    expect_members pic-1:T1,h-1:H,t2-a:T2,t1-b:T1 H T1 T2 T3
    # A terminal that leaves leaves no replica behind.
    post T1 close
    finish_code T1 30 || fail "T1's close"
    in_order T1 "J T1 onPlugOutSharedSpace RM"
    expect_members h-1:H,t2-a:T2 H T2 T3
    # A killed terminal's replicas go once the host hears of it.
    kill_pid "${pid_of[T2]}"
    wait_line H "EVENT 1 T2\$" $((keepalive + 6)) || fail "H was not told that T2 went"
    expect_members h-1:H H T3
    wait_exact T3 "J T3 onRemoveAllRplElems T2" 1 10 || fail "T3 did not remove T2's replicas once"
    # Uninstall-all removes one terminal's replicas only on the master's word.
    post T3 "install t3-a"
    expect_members h-1:H,t3-a:T3 H T3
    post T3 "spacepost LOC_uninstallAll H"
    post H "spacepost LOC_uninstallAll T3"
    wait_exact H "J H onRemoveAllRplElems T3" 1 10 || fail "H did not remove T3's replicas"
    expect_members h-1:H H
    expect_members h-1:H,t3-a:T3 T3
    [ "$(count_exact T3 "J T3 onRemoveAllRplElems H")" -eq 0 ] || fail "a slave copy ran the uninstall-all"
    for t in T3 H; do
      post $t close
      finish_code $t 30 || fail "$t's close"
    done
    expect_events H "1 T1" "1 T2" "1 T3"
    expect_events T3 "1 T1" "1 T2"
    ;;

  element)
    join_all T1:2 T2:3
    post H copy
    wait_line H "J H onPlugIn\$" 30 || fail "the master did not plug in"
    post T1 copy
    wait_line T1 "J T1 onEndSync synchronized=0\$" 30 || fail "T1 did not synchronise"
    in_order T1 "J T1 onPlugIn" "J T1 INS_initFirst first" "J T1 INS_initSecond second" "J T1 onEndSync synchronized=0"
    in_order H "J H onPlugIn" "J H onSync T1"
    post T2 copy
    wait_line T2 "J T2 onEndSync synchronized=0\$" 30 || fail "T2 did not synchronise"
    # Cooperative calls run once on every copy, blanks and all.
    args=("plain" "two  blanks and more" " edges " "from the master" "end")
    post T1 "cooperate ${args[0]}" "cooperate ${args[1]}" "cooperate ${args[2]}"
    post H "cooperate ${args[3]}"
    post T1 "cooperate ${args[4]}"
    for t in H T1 T2; do
      for a in "${args[@]}"; do
        wait_exact $t "J $t COP_note [$a]" 1 30 || fail "$t ran [$a] $(count_exact $t "J $t COP_note [$a]") times"
      done
    done
    sleep 1
    for t in H T1 T2; do
      for a in "${args[@]}"; do
        [ "$(count_exact $t "J $t COP_note [$a]")" -eq 1 ] || fail "$t ran [$a] more than once"
      done
    done
    for t in T2 T1 H; do
      post $t close
      finish_code $t 30 || fail "$t's close"
    done
    expect_events H "1 T2" "1 T1"
    ;;

  viewable)
    join_all T1:2 T2:3
    # The master comes first, as a space makes it: a copy's request to one not there yet is lost.
    post H "viewable E1 H"
    wait_line H "V E1 hook: onPlugInViewableElement\\(LC\\)\$" 30 || fail "the master did not plug in"
    for t in T1 T2; do post $t "viewable E1 H"; done
    for t in H T1 T2; do
      wait_line $t "V E1 display: setEntity\\(element\\)\$" 30 || fail "$t's copy did not synchronise"
    done
    # The first request wins and every copy learns the holder once.
    post T1 "assign E1 from T1"
    post T2 "assign E1 from T2"
    wait_line H "V E1 hook: onGainedOperation\\(T[12],from T[12]\\)\$" 30 || fail "nobody got the right"
    winner=$(grep -oE "V E1 hook: onGainedOperation\\(T[12]," "$share/H.log" | head -n 1 | sed 's/.*(\(T[12]\),/\1/')
    for t in H T1 T2; do
      wait_exact $t "V E1 hook: onGainedOperation($winner,from $winner)" 1 30 || fail "$t did not learn that $winner holds the right"
    done
    sleep 1
    for t in H T1 T2; do
      [ "$(grep -c "V E1 hook: onGainedOperation(" "$share/$t.log")" -eq 1 ] || fail "$t saw the right change more than once"
      post $t "holder E1"
      wait_done $t 10
      wait_line $t "HOLDER E1 $winner\$" 5 || fail "$t holds another holder than $winner"
    done
    # Release: the hooks run on every copy.
    post $winner "release E1"
    for t in H T1 T2; do
      wait_exact $t "V E1 hook: onGainedOperation(@INVALID_TERMINAL,)" 1 30 || fail "$t did not see the release"
      in_order $t "V E1 hook: onLostOperation($winner,from $winner)" "V E1 hook: onGainedOperation(@INVALID_TERMINAL,)"
    done
    # Renewals keep the right for two lease times.
    post T2 "assign E1 lease"
    for t in H T1 T2; do
      wait_exact $t "V E1 hook: onGainedOperation(T2,lease)" 1 30 || fail "$t did not see T2 take the right"
    done
    sleep 13
    post H "holder E1"
    wait_done H 10
    [ "$(grep -oE "HOLDER E1 .*" "$share/H.log" | tail -n 1)" = "HOLDER E1 T2" ] || fail "T2 lost the right while renewing"
    [ "$(count_exact H "V E1 hook: onLostOperation(T2,lease)")" -eq 0 ] || fail "the master took the right from a renewing holder"
    # A holder that falls silent loses the right.
    kill -STOP "${pid_of[T2]}"
    for t in H T1; do
      wait_exact $t "V E1 hook: onGainedOperation(@INVALID_TERMINAL,)" 2 20 || fail "$t did not see the silent holder lose the right"
      in_order $t "V E1 hook: onLostOperation(T2,lease)"
    done
    post T1 "assign E1 next"
    wait_exact H "V E1 hook: onGainedOperation(T1,next)" 1 30 || fail "the right is not free again"
    kill_pid "${pid_of[T2]}"
    for t in T1 H; do
      post $t close
      finish_code $t 30 || fail "$t's close"
    done
    ;;

  edges)
    join_all A:2 B:3
    for t in H A B; do post $t answer; done
    for t in H A B; do wait_done $t 30 || fail "$t did not plug its answering element in"; done
    # Queries both ways, at once, each answered in turn.
    post A "query H 100"
    post H "query A 100"
    post B "query A 50"
    wait_line A "QUERY H 100 OK\$" 60 || fail "A's queries to the host"
    wait_line H "QUERY A 100 OK\$" 60 || fail "the host's queries to A"
    wait_line B "QUERY A 50 OK\$" 60 || fail "B's queries to A, through the host"
    for n in 0 1 2 49 98 99; do
      [ "$(count_exact H "J H ANSWER QUE_next $n from A")" -eq 1 ] || fail "H did not answer A's query $n once"
    done
    got=$(grep -oE "J H ANSWER QUE_next [0-9]+ from A" "$share/H.log" | awk '{print $5}' | tr '\n' ' ')
    [ "$got" = "$(seq 0 99 | tr '\n' ' ')" ] || fail "A's queries reached H out of order: $got"
    # The host's close: every joined terminal hears that it is out.
    post H close
    finish_code H 30 || fail "H's close"
    for t in A B; do wait_line $t "EVENT 1 $t\$" 15 || fail "$t was not told that it lost the session"; done
    for t in A B; do post $t close; done
    for t in A B; do finish_code $t 30 || fail "$t's close"; done
    expect_events H
    expect_events A "1 A"
    expect_events B "1 B"
    for t in H A B; do threads_back $t; done
    # Joining the session whose host has gone: CIOException, the listener cleared, and close
    # stops the threads and throws CIllegalStateException.
    start V 2 join "$winshare" V "$host_ip"
    finish_code V 30 3 || fail "joining the ended session did not fail with a CIOException"
    grep -q "CLOSED CIllegalStateException" "$share/V.log" || fail "V's close did not throw CIllegalStateException"
    [ "$(count V 'EVENT')" -eq 0 ] || fail "V's listener heard an event after the failed join"
    threads_back V
    ;;

  broadcast)
    join_all A:2 B:3
    for t in H A B; do post $t bc; done
    addresses H A B
    # One notice to all reaches every registered address once.
    post A "notice @ALL_TERMINAL from A to all"
    for t in H A B; do
      wait_exact $t "J $t VOICE INS_note A [from A to all]" 1 10 || fail "$t did not get A's notice to all once"
    done
    # The host forgets B: B gets none of its notices; a terminal without address gets nothing.
    post H "unaddr B" "notice @ALL_TERMINAL after the removal" "notice B to B" "notice Z to nobody" "notice A last"
    wait_exact A "J A VOICE INS_note H [last]" 1 10 || fail "A did not get the last notice"
    for t in H A; do
      wait_exact $t "J $t VOICE INS_note H [after the removal]" 1 10 || fail "$t did not get the notice to all"
    done
    sleep 1
    for t in H A B; do [ "$(grep -c "nobody" "$share/$t.log")" -eq 0 ] || fail "$t got the notice to nobody"; done
    [ "$(grep -c "INS_note H" "$share/B.log")" -eq 0 ] || fail "B got the host's notices after its removal"
    for t in B A H; do
      post $t close
      finish_code $t 30 || fail "$t's close"
    done
    ;;

  flood)
    seed=${TRANSPORT_LAN_SEED:-$(( $(date +%s) % 1000000 ))}
    echo "flood: seed $seed"
    join_all A:2
    for t in H A; do post $t bc; done
    addresses H A
    start R 3 udpflood "$winshare" R "$host_ip" "$(cat "$share/H.port")" "$seed" 100000 H
    finish_code R 480 || fail "the flood did not end, or notices between its bursts were lost: $(grep -c LOST "$share/R.log")"
    bursts=$(grep -oE "BURSTS [0-9]+" "$share/R.log" | awk '{print $2}')
    grep -q "SENT 100000" "$share/R.log" || fail "not every broken datagram was sent"
    wait_line H "J H VOICE INS_note R \\[between $((bursts - 1))\\]\$" 60 || fail "H did not get the last notice between bursts"
    got=$(grep -oE "J H VOICE INS_note R \\[between [0-9]+\\]\$" "$share/H.log" | sort -u | wc -l)
    [ "$got" -eq "$bursts" ] || fail "H got $got of the $bursts notices sent between the bursts"
    kill -0 "${pid_of[H]}" 2>/dev/null || fail "H did not stay up"
    post A "notice @ALL_TERMINAL after the flood"
    wait_exact H "J H VOICE INS_note A [after the flood]" 1 10 || fail "H does not receive after the flood"
    for t in A H; do
      post $t close
      finish_code $t 60 || fail "$t's close"
      grep -q "CLOSED OK" "$share/$t.log" || fail "$t's close failed"
      threads_back $t
    done
    echo "flood: seed $seed, $bursts bursts, $(grep -c 'ERROR' "$share/H/log.dat" 2>/dev/null) error lines on H"
    ;;
esac
echo "lan_test $scenario: passed"
exit 0
