#!/usr/bin/env bash
# Sessions of our DirectPlay between separate processes on separate hosts of a test LAN.
#   lan_test.sh SCENARIO LAN_TOOL PEER_EXE WORK_DIR
# SCENARIO: session (open, join, payloads both ways, broken peers, the host's close),
#           loss (a client killed, a client frozen, the host killed),
#           vanished (joining a session that has ended).
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

scenario=$1 lan=$2 peer=$3 work=$4
name="dp$$${scenario:0:1}"   # namespaces of this run only
dir="$work/$name"
share="$dir/share"           # the hosts' shared folder, and their logs
winshare="Z:$share"
keepalive=8                  # s of silence after which a peer is dropped
source "$(dirname "$lan")/lan-lib.sh"
# Ends the test, with its clean-up, well before CTest would kill it without one.
lan_begin "lan_test $scenario" 200

# kill_peer PID: ends a peer (even a frozen one) and reaps it quietly.
kill_peer() { kill_pid "$1"; }

# start LOG HOST MODE ARGS...: the peer program on that host; its output goes to LOG.log.
start() { lan_start "$1" "$2" "$peer" "${@:3}"; }

now_ms() { date +%s%3N; }

case $scenario in
  session) hosts=4 ;;
  loss) hosts=5 ;;
  vanished) hosts=2 ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
lan_up $hosts
host_ip=$(bash "$lan" addr 1)

case $scenario in
  session)
    start host 1 host-session "$winshare" 2
    wait_file session.guid 60 || fail "no session hosted"
    start client2 2 client-session "$winshare" TERM-2 "$host_ip"
    start client3 3 client-session "$winshare" TERM-3 "$host_ip"
    wait_file TERM-2.phase1 60 && wait_file TERM-3.phase1 60 || fail "clients did not join"
    # Broken peers while the session runs: each is cut off, the others go on.
    start garbage 4 garbage "$host_ip"
    finish garbage 60 || fail "broken frames did not end their connections"
    touch "$share/phase2.go"
    finish host 90 || fail "host"
    finish client2 30 || fail "client TERM-2"
    finish client3 30 || fail "client TERM-3"
    for id in TERM-2 TERM-3; do
      grep -qE "SYS 3 [0-9]+ $id\$" "$share/host.log" || fail "host did not see $id arrive"
      grep -qE "PAYLOADS $id 8 OK" "$share/host.log" || fail "host did not get $id's payloads"
    done
    for c in client2 client3; do
      grep -qE "SERVER 1 TERM-1" "$share/$c.log" || fail "$c did not see the server player"
      grep -qE "RECEIVED 16 OK" "$share/$c.log" || fail "$c did not get the host's payloads"
      grep -qE "DESTROYED [0-9]+ TERM-" "$share/$c.log" || fail "$c was not told of its player's end"
    done
    ;;

  loss)
    start host 1 host-stay "$winshare"
    wait_file session.guid 60 || fail "no session hosted"
    for k in 2 3 4 5; do start client$k $k client-stay "$winshare" TERM-$k "$host_ip"; done
    for k in 2 3 4 5; do wait_line host "CREATE [0-9]+ TERM-$k\$" 60 || fail "TERM-$k did not join"; done
    for k in 2 3 4 5; do wait_line client$k "SERVER 1 TERM-1" 30 || fail "TERM-$k did not see the host"; done

    # Killed: its connection ends with it.
    kill_peer "${pid_of[client2]}"
    wait_line host "DESTROY [0-9]+ TERM-2\$" 5 || fail "host did not see the killed client go"

    # Frozen: only the keep-alive can tell.
    kill -STOP "${pid_of[client3]}"
    t0=$(now_ms)
    wait_line host "DESTROY [0-9]+ TERM-3\$" $((keepalive + 6)) || fail "host did not drop the frozen client"
    waited=$(($(now_ms) - t0))
    echo "frozen client dropped after $waited ms"
    [ "$waited" -ge $(((keepalive - 2) * 1000)) ] || fail "frozen client dropped after $waited ms, before the keep-alive time"

    # The host killed: both remaining clients lose the session.
    kill_peer "${pid_of[host]}"
    for k in 4 5; do
      wait_line client$k "SESSIONLOST" 10 || fail "TERM-$k did not lose the session"
      finish client$k 10 || fail "TERM-$k"
    done
    ;;

  vanished)
    start host 1 host-vanish "$winshare"
    wait_file second.guid 60 || fail "host did not open its second session"
    # The host is there, but runs another session.
    start joinfirst 2 join-gone "$host_ip" "$winshare/first.guid"
    finish joinfirst 60 || fail "joining the ended session did not give DPERR_NOSESSIONS"
    touch "$share/close.go"
    finish host 30 || fail "host"
    # Nobody is there any more.
    start joinsecond 2 join-gone "$host_ip" "$winshare/second.guid"
    finish joinsecond 60 || fail "joining where no host is did not give DPERR_NOSESSIONS"
    ;;
esac
echo "lan_test $scenario: passed"
exit 0
