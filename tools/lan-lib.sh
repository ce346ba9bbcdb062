# The frame of a run on the hosts of a test LAN (tools/lan), sourced by the scripts that run
# Windows programs there. Set lan (the tool), name (this run's namespaces), dir (their folder)
# and share (the hosts' shared folder, where each program's output LOG.log goes), then call
# lan_begin. Processes are ended by pid; the LAN goes at exit.
lan_pids=()
# processes stopped by freeze, resumed by thaw or at the end
frozen=()
declare -A pid_of
lan_watchdog=""
lan_who="lan"

# kill_pid PID: ends a program, even a frozen one, and reaps it quietly.
kill_pid() {
  kill -CONT "$1" 2>/dev/null
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}

lan_cleanup() {
  local p
  thaw
  for p in "${lan_pids[@]}"; do kill_pid "$p"; done
  [ -n "$lan_watchdog" ] && kill "$lan_watchdog" 2>/dev/null
  bash "$lan" down "$name" "$dir" >/dev/null 2>&1
  rm -rf "$dir"
}

# lan_names NAME WORK: this run's namespaces NAME (unique to the run), its folder under WORK
# and the hosts' shared folder (share, and winshare as the hosts see it).
lan_names() {
  name=$1
  dir="$2/$name"
  share="$dir/share"
  winshare="Z:$share"
}

# lan_begin WHO SECONDS: exits with 77 when this machine cannot make network namespaces (with
# CI=true it fails instead: CI runs where they can be made, and a skip would pass unseen);
# otherwise cleans up at the end, and ends the run after SECONDS (set below the caller's own
# limit, so that the clean-up still runs).
lan_begin() {
  lan_who=$1
  if ! bash "$lan" check >/dev/null; then
    if [ "${CI:-}" = true ]; then
      echo "$lan_who: FAILED: CI=true and no network namespaces here (the LAN tests need root)"
      exit 1
    fi
    echo "$lan_who: skipped, no network namespaces here"
    exit 77
  fi
  trap lan_cleanup EXIT
  trap 'echo "$lan_who: stopped"; exit 1' INT TERM
  ( trap 'kill $s 2>/dev/null; exit 0' TERM; sleep "$2" & s=$!; wait $s; kill -TERM $$ ) >/dev/null 2>&1 &
  lan_watchdog=$!
}

# fail TEXT: says so, shows every program's output (its last LAN_LOG_LINES lines, all by
# default) and ends the run.
fail() {
  echo "$lan_who: FAILED: $*"
  local f
  for f in "$share"/*.log; do
    [ -f "$f" ] && { echo "--- $(basename "$f")"; tail -n "${LAN_LOG_LINES:-+1}" "$f"; }
  done
  lan_processes
  exit 1
}

# lan_processes: what still runs on each host, and where it waits; after a failure it tells a
# program that hangs from one that never started.
lan_processes() {
  local ns p stat
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}' | grep -E "^$name-h[0-9]+\$" | sort -V); do
    echo "--- processes of ${ns#"$name-"}"
    for p in $(ip netns pids "$ns" 2>/dev/null); do
      stat=$(awk '{print $3}' "/proc/$p/stat" 2>/dev/null) || continue
      echo "$p $stat $(cat "/proc/$p/wchan" 2>/dev/null) $(tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null | cut -c1-160 | sed 's/ *$//')"
    done
  done
}

# lan_start LOG HOST PROGRAM ARGS...: PROGRAM on that host, its output to LOG.log; its pid is
# ${pid_of[LOG]}.
lan_start() {
  local log=$1 host=$2
  shift 2
  bash "$lan" wine "$name" "$host" "$dir" -- "$@" >"$share/$log.log" 2>&1 </dev/null &
  lan_pids+=($!)
  pid_of[$log]=$!
}

# finish LOG SECONDS: waits for the program to end; its exit code, 124 when it did not end.
finish() {
  local p=${pid_of[$1]} i
  for ((i = 0; i < $2 * 10; i++)); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$p" 2>/dev/null && { echo "$lan_who: $1 did not end"; return 124; }
  wait "$p"
}

# host_pid K PATTERN: the one process of host K whose command line holds PATTERN.
host_pid() {
  local p found=()
  for p in $(ip netns pids "$name-h$1"); do
    grep -qaF -- "$2" "/proc/$p/cmdline" 2>/dev/null && found+=("$p")
  done
  [ ${#found[@]} = 1 ] || { echo "host $1: ${#found[@]} processes of $2" >&2; return 1; }
  echo "${found[0]}"
}
freeze() { kill -STOP "$1" && frozen+=("$1"); }
# thaw: resumes whatever was frozen.
thaw() {
  local p
  for p in "${frozen[@]}"; do kill -CONT "$p" 2>/dev/null; done
  frozen=()
}
# stop_host K: ends every process of host K (its programs, Wine's own and its Wine server) by pid.
stop_host() {
  local p pids i
  pids=$(ip netns pids "$name-h$1")
  for p in "${lan_pids[@]}"; do grep -qxF -- "$p" <<<"$pids" && kill_pid "$p" 2>/dev/null; done
  for p in $pids; do kill -CONT "$p" 2>/dev/null; kill -KILL "$p" 2>/dev/null; done
  for ((i = 0; i < 100; i++)); do
    [ -z "$(ip netns pids "$name-h$1")" ] && return 0
    sleep 0.1
  done
  fail "host $1: processes left after its stop"
}
# Cues: a program asks for NAME by writing cue.NAME in the share and waits for done.NAME.
# when_cued LOG NAME SECONDS: waits until the program LOG asks for NAME (it is still running).
when_cued() {
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    [ -f "$share/cue.$2" ] && return 0
    kill -0 "${pid_of[$1]}" 2>/dev/null || fail "$1 ended before it asked for $2"
    sleep 0.1
  done
  fail "$1 did not ask for $2 within $3 s"
}
# cued NAME: tells the program that NAME is done.
cued() { : >"$share/done.$1"; }

# lan_up N: hosts 1..N of this run and the shared folder. Windows need a display: the one
# given, or else each host draws nowhere (tools/lan sets that up before any program runs).
lan_up() {
  mkdir -p "$dir"
  bash "$lan" up "$name" "$1" "$dir" || fail "the LAN could not be made"
  mkdir -p "$share"
}
# lan_shape N RATE: hosts 1..N send at most RATE (tc's units, such as 100mbit) on every link,
# their own loopback included: a file then takes seconds to move, so that steps taken while its
# contents are under way find them under way however fast the middleware sends.
lan_shape() {
  local k dev
  for ((k = 1; k <= $1; k++)); do
    for dev in eth0 lo; do
      ip netns exec "$name-h$k" tc qdisc replace dev "$dev" root tbf rate "$2" burst 64kb latency 100ms \
        || fail "host $k: $dev cannot be held to $2"
    done
  done
}
# lan_on HOST CMD...: a Windows program of the host's own prefix, its output to on.log; its
# exit code.
lan_on() {
  local host=$1
  shift
  bash "$lan" wine "$name" "$host" "$dir" -- "$@" >>"$share/on.log" 2>&1 </dev/null
}
# lan_must HOST CMD...: the same, which must end with 0.
lan_must() {
  lan_on "$@"
  local rc=$?
  [ $rc = 0 ] || fail "host $1: ${*:2} ended with $rc"
}
# lan_passed LOG SECONDS: the program ended and its tests passed: at least one, none skipped
# (a filter that matches nothing passes no test, and must not pass).
lan_passed() {
  finish "$1" "$2" || fail "$1 failed"
  lan_count_passed "$share/$1.log"
}
# lan_count_passed LOGFILE: fails unless the test program's summary there names at least one
# passed test and no skipped one.
lan_count_passed() {
  local passed
  passed=$(sed -n 's/^\[  PASSED  \] \([0-9][0-9]*\) tests\{0,1\}\..*/\1/p' "$1" | tail -n 1)
  [ -n "$passed" ] || fail "$(basename "$1" .log) ran no test"
  [ "$passed" -ge 1 ] || fail "$(basename "$1" .log) passed no test (its filter matches none?)"
  if grep -q '^\[  SKIPPED \]' "$1"; then fail "$(basename "$1" .log) skipped tests"; fi
  return 0
}
# lan_winpath PATH: PATH as the hosts' Windows programs see it.
lan_winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
# count_exact LOG TEXT: lines of the share's LOG.log that are exactly "<tick> TEXT".
count_exact() { awk -v t="$2" 'substr($0, index($0, " ") + 1) == t' "$share/$1.log" 2>/dev/null | wc -l; }
# wait_exact LOG TEXT N SECONDS: until exactly N such lines (false when more, or too late).
wait_exact() {
  local i c
  for ((i = 0; i <= $4 * 10; i++)); do
    c=$(count_exact "$1" "$2")
    [ "$c" -eq "$3" ] && return 0
    [ "$c" -gt "$3" ] && return 1
    sleep 0.1
  done
  return 1
}

# --- audio: sound on the hosts (tools/lan audio, tools/audio) ---
# lan_audio K: host K's own sound server; its programs then play to its "spk" sink and record
# its "mic" sink's monitor.
lan_audio() { bash "$lan" audio "$name" "$1" "$dir" || fail "host $1: no sound server"; }
# lan_pulse K: the PULSE_SERVER of host K.
lan_pulse() { echo "unix:$dir/h$1/audio/native"; }
# lan_mic_play K FILE: plays the sound file into host K's "mic" in real time, in the
# background; its pid is ${pid_of[mic$K]}.
lan_mic_play() {
  PULSE_SERVER=$(lan_pulse "$1") paplay --device=mic "$2" >"$share/mic$1.log" 2>&1 </dev/null &
  lan_pids+=($!)
  pid_of[mic$1]=$!
}
# lan_mic_floor K: a steady 300 Hz floor at -50 dB in host K's "mic" (a quiet room); until the
# server stops.
lan_mic_floor() {
  local server module input
  server=$(lan_pulse "$1")
  module=$(PULSE_SERVER=$server pactl load-module module-sine sink=mic frequency=300) || fail "host $1: no floor"
  input=$(PULSE_SERVER=$server pactl list sink-inputs |
    awk -v m="$module" '/^Sink Input #/ { id = substr($3, 2) } /Owner Module:/ && $3 == m { print id; exit }')
  [ -n "$input" ] || fail "host $1: the floor plays nowhere"
  PULSE_SERVER=$server pactl set-sink-input-volume "$input" -50dB || fail "host $1: the floor's volume"
}
# lan_record K SOURCE FILE: records host K's SOURCE (spk.monitor, mic.monitor) as raw 16-bit
# mono 8000 Hz into FILE, in the background, until ended by pid: ${pid_of[rec$K]}.
lan_record() {
  PULSE_SERVER=$(lan_pulse "$1") parec --device="$2" --format=s16le --rate=8000 --channels=1 --raw \
    --latency-msec=20 >"$3" 2>"$share/rec$1.log" </dev/null &
  lan_pids+=($!)
  pid_of[rec$1]=$!
}
# lan_record_speaker K FILE: host K's speaker.
lan_record_speaker() { lan_record "$1" spk.monitor "$2"; }
# lan_stop LOG: ends that background process by its pid.
lan_stop() { kill_pid "${pid_of[$1]}"; }
# --- end audio ---
