#!/usr/bin/env bash
# The member list of the phone across three hosts of a test LAN, quarnhost registered with
# -RegServer in each host's own prefix: A hosts, B and C join; each runs termgroup_peer, which
# builds the list as the session logic does and has a probe element "VOICE" in its broadcast
# session.
#   lan_test.sh LAN_TOOL QUARNHOST_EXE PEER_EXE WORK_DIR
# Steps: B, then C, then A switch the phone on (receivers and who hears whose notices); B
# switches it off; C is killed and the host removes it; C comes back as C2, plugs its list in
# before its record is registered and switches on with no address: the host looks it up, C2
# spreads it, and A and B make it a receiver.
# Exit 0: passed; 77: this machine cannot make network namespaces (skipped); else failed.
set -uo pipefail

lan=$1 server=$2 peer=$3 work=$4
source "$(dirname "$lan")/lan-lib.sh"
lan_names "tg$$" "$work"
LAN_LOG_LINES=80
lan_begin "termgroup lan_test" 290
trap 'fail "stopped at the time limit"' TERM

ip_a=$(bash "$lan" addr 1) ip_b=$(bash "$lan" addr 2) ip_c=$(bash "$lan" addr 3)

# start LOG HOST ARGS...: the peer on that host with an empty command file, started in its own
# folder, where its trace file (log.dat) goes.
start() {
  local log=$1 host=$2
  shift 2
  : >"$share/$log.cmd"
  mkdir -p "$share/$log"
  (cd "$share/$log" && exec bash "$lan" wine "$name" "$host" "$dir" -- "$peer" "$@") >"$share/$log.log" 2>&1 </dev/null &
  lan_pids+=($!)
  pid_of[$log]=$!
}
post() {
  local log=$1 line
  shift
  for line in "$@"; do echo "$line" >>"$share/$log.cmd"; done
}
must_see() { wait_exact "$1" "$2" 1 "${3:-30}" || fail "$1 did not log [$2] once"; }
heard_none() { [ "$(grep -c " HEARD $2 FROM " "$share/$1.log")" -eq 0 ] || fail "$1 heard notice $2"; }
port_of() { cat "$share/$1.port"; }
# wait_table LOG EXPECTED SECONDS: asks the broadcast table of the ids in EXPECTED
# ("ID=IP:PORT" or "ID=-", blank-separated) until it shows exactly that.
wait_table() {
  local log=$1 want=$2 ids i
  ids=$(tr ' ' '\n' <<<"$want" | cut -d= -f1 | tr '\n' ' ')
  for ((i = 0; i < $3 * 2; i++)); do
    post "$log" "table $ids"
    sleep 0.5
    [ "$(grep -E ' TABLE ' "$share/$log.log" | tail -n 1 | cut -d' ' -f3-)" = "$want" ] && return 0
  done
  fail "$log's broadcast table is [$(grep -E ' TABLE ' "$share/$log.log" | tail -n 1 | cut -d' ' -f3-)], not [$want]"
}

lan_up 3
for k in 1 2 3; do lan_must $k "$server" -RegServer; done

start A 1 host "$winshare" A
must_see A PLUGGED 120
start B 2 join "$winshare" B A "$ip_a"
start C 3 join "$winshare" C A "$ip_a"
for t in B C; do must_see $t SYNCHRONIZED 120; done

# a. B switches on: the others announce it and send to it; A's notice to all reaches B only.
post B add
for t in A B C; do must_see $t "NOTICE ADD B"; done
for t in A C; do wait_table $t "B=$ip_b:$(port_of B)" 20; done
post A "notice @ALL_TERMINAL 1"
must_see B "HEARD 1 FROM A" 20
sleep 2
heard_none C 1
heard_none A 1

# b. C switches on: B's notice reaches C only, as A is no member yet. A switches on with no
# address of its own: B and C reach it at the address they joined it by.
post C add
for t in A B C; do must_see $t "NOTICE ADD C"; done
wait_table B "C=$ip_c:$(port_of C) A=-" 20
post B "notice @ALL_TERMINAL 2"
must_see C "HEARD 2 FROM B" 20
sleep 2
heard_none A 2
post A add
for t in A B C; do must_see $t "NOTICE ADD A"; done
for t in B C; do wait_table $t "A=$ip_a:$(port_of A)" 20; done
wait_table A "A=- B=$ip_b:$(port_of B) C=$ip_c:$(port_of C)" 20

# c. B switches off: everyone hears of it and B gets nothing more.
post B remove
for t in A B C; do must_see $t "NOTICE REMOVE B"; done
for t in A C; do wait_table $t "B=-" 20; done
post A "notice @ALL_TERMINAL 3"
post C "notice @ALL_TERMINAL 4"
must_see C "HEARD 3 FROM A" 20
must_see A "HEARD 4 FROM C" 20
sleep 2
heard_none B 3
heard_none B 4

# d. C is killed: the host's session sees it leave and the host removes it everywhere.
pid=$(host_pid 3 "termgroup_peer") || fail "no peer C on host 3"
killed=$(date +%s)
kill -KILL "$pid"
must_see A "POSTED LOC_removeSessionLostMember C" 90
echo "FIGURE the host removed the killed C after $(( $(date +%s) - killed )) s"
for t in A B; do must_see $t "NOTICE REMOVE C"; done
wait_table A "C=-" 20
wait_table B "C=- A=$ip_a:$(port_of A)" 20

# e. C comes back as C2 and plugs its list in before its record is registered: the host finds
# no address for it. C2 registers and switches on without one: the host looks it up again and
# tells C2, which spreads it; A and B add its receiver then, with one ADD each.
start C2 3 join "$winshare" C2 A "$ip_a" late
must_see C2 SYNCHRONIZED 120
post C2 regist
must_see C2 REGISTERED 30
post C2 add
for t in A B C2; do must_see $t "NOTICE ADD C2"; done
for t in A B; do wait_table $t "C2=$ip_c:$(port_of C2)" 30; done
sleep 1
for t in A B C2; do wait_exact $t "NOTICE ADD C2" 1 1 || fail "$t announced C2 more than once"; done
post B "notice @ALL_TERMINAL 5"
must_see C2 "HEARD 5 FROM B" 20
must_see A "HEARD 5 FROM B" 20

for t in C2 B A; do
  post $t close
  finish $t 60 || fail "$t did not end"
  must_see $t "CLOSED OK" 1
done
# The host's own entry says it has no address, on the master as on the slaves (their lists
# are written to the trace at each removal and synchronisation; the trace file is complete
# once the program ended).
for t in A B; do
  grep -qE "TAM\[[0-9]+\] A INVALID_IPADDRESS $(port_of A)([^0-9]|$)" "$share/$t/log.dat" ||
    fail "$t's list does not hold A as INVALID_IPADDRESS $(port_of A)"
done

# C2 learnt no address when it synchronised, and its own from the host once it switched on.
grep -qE "INS_initIpAddress\(INVALID_IPADDRESS\)" "$share/C2/log.dat" || fail "C2 got an address at its synchronisation"
grep -qE "INS_updateIpAddress\($ip_c\)" "$share/C2/log.dat" || fail "C2 was not told its address $ip_c"

echo "termgroup lan_test: passed"
exit 0
