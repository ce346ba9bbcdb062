#!/usr/bin/env bash
# Voice playback through Wine's real DirectSound on a private sound server (tools/audio), its
# speaker recorded and measured (tools/tone-meter).
#   audio_test.sh play|nodevice|capture TOOLS PROBE WORK
set -uo pipefail
scenario=$1 tools=$2 probe=$3 work=$4
command -v pulseaudio >/dev/null 2>&1 && command -v parec >/dev/null 2>&1 || { echo "no pulseaudio here"; exit 77; }

dir="$work/$scenario"
rm -rf "$dir"
mkdir -p "$dir"
audio="$dir/pa"
rec_pid=""
probe_pid=""
zero_pid=""
cleanup() {
  [ -n "$probe_pid" ] && kill "$probe_pid" 2>/dev/null
  [ -n "$zero_pid" ] && { kill "$zero_pid" 2>/dev/null; wait "$zero_pid" 2>/dev/null; }
  [ -n "$rec_pid" ] && { kill "$rec_pid" 2>/dev/null; wait "$rec_pid" 2>/dev/null; }
  "$tools/audio" stop "$audio" >/dev/null 2>&1
}
trap cleanup EXIT
fail() { echo "VoiceAudio.$scenario: FAILED: $*"; echo "--- probe"; cat "$dir/probe.log" 2>/dev/null; exit 1; }
meter() { python3 "$tools/tone-meter" "$@"; }
# above LEVEL VALUE / below: numeric comparisons in awk
below() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

# run_probe SECONDS ARGS...: the probe under Wine, its output to probe.log, bounded in time.
run_probe() {
  local limit=$1 i
  shift
  wine "$probe" "$@" >"$dir/probe.log" 2>&1 </dev/null &
  probe_pid=$!
  for ((i = 0; i < limit * 10; i++)); do kill -0 "$probe_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$probe_pid" 2>/dev/null && fail "the probe did not end within $limit s"
  wait "$probe_pid"
  local rc=$?
  probe_pid=""
  return $rc
}

case $scenario in
nodevice)
  # A server socket that does not exist: no device, the program goes on.
  export PULSE_SERVER="unix:$dir/missing"
  run_probe 60 nodevice || fail "the probe ended with $?"
  grep -q "DirectSoundCreate() failed" "$dir/probe.log" || fail "no ERROR line for the missing device"
  cat "$dir/probe.log"
  ;;
play)
  "$tools/audio" start "$audio" || fail "the sound server did not start"
  export "$("$tools/audio" env "$audio")"
  # The monitor delivers only while something plays into the sink: zeros keep it running.
  pacat --playback --device=spk --format=s16le --rate=8000 --channels=1 --raw /dev/zero &
  zero_pid=$!
  sleep 0.3
  parec --device=spk.monitor --format=s16le --rate=8000 --channels=1 --raw --latency-msec=20 >"$dir/spk.raw" &
  rec_pid=$!
  run_probe 90 play "Z:${dir//\//\\}\\marks" || fail "the probe ended with $?"
  sleep 0.3
  kill "$rec_pid"; wait "$rec_pid" 2>/dev/null; rec_pid=""
  stop=$(date +%s%3N)
  # parec drops the first second or two of what it is sent: the recording is placed in time by
  # its end (continuous, the zeros play until then) and its length.
  start=$(( stop - $(stat -c %s "$dir/spk.raw") / 16 ))
  read -r first last <"$dir/marks" || fail "no marks"
  f=$(awk -v a="$first" -v s="$start" 'BEGIN { printf "%.3f", (a - s) / 1000 }')
  l=$(awk -v a="$last" -v s="$start" 'BEGIN { printf "%.3f", (a - s) / 1000 }')
  onset=$(meter onset "$dir/spk.raw" --rate 8000 --freq 1000 --level 1000)
  [ "$onset" != none ] || fail "no 1000 Hz on the recording"
  # From a write to the speaker's monitor: Wine's mixing and the server's buffering.
  latency=$(awk -v o="$onset" -v f="$f" 'BEGIN { printf "%.3f", o - f }')
  echo "first chunk at $f s, last at $l s, tone from $onset s on the recording (output latency $latency s)"
  awk -v d="$latency" 'BEGIN { exit !(d > -0.05 && d < 1.5) }' || fail "tone $latency s after the first chunk"
  read -r before _ < <(meter level "$dir/spk.raw" --rate 8000 --start 0.1 --end "$f")
  read -r bin amp < <(meter peak "$dir/spk.raw" --rate 8000 --start "$(awk -v o="$onset" 'BEGIN{print o+0.2}')" \
                       --end "$(awk -v o="$onset" 'BEGIN{print o+2.8}')")
  after_from=$(awk -v l="$l" -v d="$latency" 'BEGIN { print l + d + 0.3 }')
  read -r after _ < <(meter level "$dir/spk.raw" --rate 8000 --start "$after_from")
  echo "RMS before the first chunk $before; strongest bin $bin Hz at $amp while playing; RMS from 0.3 s after the last $after"
  meter windows "$dir/spk.raw" --rate 8000 --window-ms 20 --freq 1000 >"$dir/windows.txt"
  below "$before" 32.8 || fail "sound before the first chunk (RMS $before)"
  [ "$bin" = 1000 ] || fail "strongest bin $bin Hz"
  awk -v a="$amp" 'BEGIN { d = 20 * log(a / 6840) / log(10); exit !(d > -3 && d < 3) }' || fail "amplitude $amp"
  below "$after" 32.8 || fail "sound 0.3 s after the last chunk (RMS $after)"
  grep -q "buffers made 63, playing 63" "$dir/probe.log" || fail "not 63 buffers playing"
  cat "$dir/probe.log"
  ;;
capture)
  # A quiet room (a 300 Hz floor at -50 dB) from the start, then a 3 s burst of 1000 Hz at
  # amplitude 8000 into the microphone: packets leave only for the burst and its hang-over,
  # and the receiver plays it.
  "$tools/audio" start "$audio" || fail "the sound server did not start"
  export "$("$tools/audio" env "$audio")"
  module=$(pactl load-module module-sine sink=mic frequency=300) || fail "no floor"
  input=$(pactl list sink-inputs | awk -v m="$module" '/^Sink Input #/ { id = substr($3, 2) } /Owner Module:/ && $3 == m { print id; exit }')
  pactl set-sink-input-volume "$input" -50dB || fail "the floor's volume"
  python3 - "$dir/burst.wav" <<'PY'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
    w.writeframes(struct.pack("<24000h", *(int(8000 * math.sin(2 * math.pi * 1000 * i / 8000)) for i in range(24000))))
PY
  pacat --playback --device=spk --format=s16le --rate=8000 --channels=1 --raw /dev/zero &
  zero_pid=$!
  sleep 0.3
  parec --device=spk.monitor --format=s16le --rate=8000 --channels=1 --raw --latency-msec=20 >"$dir/spk.raw" &
  rec_pid=$!
  wine "$probe" capture "Z:${dir//\//\\}\\marks" 11 >"$dir/probe.log" 2>&1 </dev/null &
  probe_pid=$!
  sleep 3
  burst=$(date +%s%3N)
  paplay --device=mic "$dir/burst.wav" || fail "paplay failed"
  for ((i = 0; i < 300; i++)); do kill -0 "$probe_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$probe_pid" 2>/dev/null && fail "the probe did not end"
  wait "$probe_pid" || fail "the probe ended with $?"
  probe_pid=""
  sleep 0.3
  kill "$rec_pid"; wait "$rec_pid" 2>/dev/null; rec_pid=""
  [ -s "$dir/marks" ] || fail "no packet left"
  awk '$2 + 0 != 356 { bad = 1 } END { exit bad }' "$dir/marks" || fail "a packet of another size"
  read -r count first last < <(awk -v b="$burst" 'NR == 1 { f = $1 } { l = $1 } END { printf "%d %.3f %.3f", NR, (f - b) / 1000, (l - b) / 1000 }' "$dir/marks")
  echo "$count packets, from $first s to $last s after the burst began"
  awk -v f="$first" 'BEGIN { exit !(f >= 0) }' || fail "a packet $first s before the burst, while only the floor played"
  # The burst (3 s), the hang-over (20 blocks of 50 ms), the first block's delay (up to 1.3 s).
  awk -v l="$last" 'BEGIN { exit !(l <= 3 + 1 + 1.5 + 0.5) }' || fail "packets until $last s after the burst began"
  [ "$count" -ge 10 ] || fail "only $count packets"
  onset=$(meter onset "$dir/spk.raw" --rate 8000 --freq 1000 --level 2000)
  [ "$onset" != none ] || fail "no 1000 Hz on the speaker"
  read -r bin amp < <(meter peak "$dir/spk.raw" --rate 8000 --start "$(awk -v o="$onset" 'BEGIN{print o+0.1}')" \
                       --end "$(awk -v o="$onset" 'BEGIN{print o+2.1}')")
  echo "speaker: 1000 Hz from $onset s on the recording; strongest bin over the next 2 s $bin Hz at $amp"
  meter windows "$dir/spk.raw" --rate 8000 --window-ms 20 --freq 1000 --freq 300 >"$dir/windows.txt"
  [ "$bin" = 1000 ] || fail "strongest bin $bin Hz"
  awk -v a="$amp" 'BEGIN { d = 20 * log(a / 6840) / log(10); exit !(d > -6 && d < 6) }' || fail "amplitude $amp"
  cat "$dir/probe.log"
  ;;
*) echo "unknown scenario $scenario"; exit 2 ;;
esac
echo "VoiceAudio.$scenario: passed"
