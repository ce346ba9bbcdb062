#!/usr/bin/env bash
# Each test-LAN host has a sound server of its own: a tone fed into host 1's "mic" is recorded
# on host 1's "mic.monitor" and not on host 2's; the hosts' programs are given their own server;
# after the LAN is taken down no sound server of the run is left.
#   lan_audio_test.sh LAN_TOOL WORK_DIR
# Exit 0: passed; 77: no network namespaces or no PulseAudio here; else failed.
set -uo pipefail

lan=$1 work=$2
command -v pulseaudio >/dev/null 2>&1 && command -v paplay >/dev/null 2>&1 || { echo "no pulseaudio here"; exit 77; }
source "$(dirname "$lan")/lan-lib.sh"
lan_names "va$$" "$work"
lan_begin "lan_audio_test" 100
meter() { python3 "$(dirname "$lan")/tone-meter" "$@"; }

lan_up 2
lan_audio 1
lan_audio 2
pids=("$(cat "$dir/h1/audio/pulse.pid")" "$(cat "$dir/h2/audio/pulse.pid")")

# The hosts' commands get their own server.
for k in 1 2; do
  seen=$(bash "$lan" run "$name" "$k" "$dir" -- sh -c 'echo "$PULSE_SERVER"')
  [ "$seen" = "$(lan_pulse $k)" ] || fail "host $k: PULSE_SERVER is '$seen'"
done

# 1.5 s of 1000 Hz at amplitude 8000, as a WAV file.
python3 - "$share/tone.wav" <<'PY'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
    w.writeframes(struct.pack("<12000h", *(int(8000 * math.sin(2 * math.pi * 1000 * i / 8000)) for i in range(12000))))
PY
# Something plays into each "mic" from the start (silence), so that its monitor runs.
for k in 1 2; do
  PULSE_SERVER=$(lan_pulse $k) pacat --playback --device=mic --format=s16le --rate=8000 --channels=1 --raw /dev/zero \
    >/dev/null 2>&1 </dev/null &
  lan_pids+=($!)
  lan_record "$k" mic.monitor "$share/mic$k.raw"
done
# A quiet room on host 1 only: a 300 Hz floor at -50 dB.
lan_mic_floor 1
sleep 2.5
lan_mic_play 1 "$share/tone.wav"
finish mic1 20 || fail "paplay on host 1 failed"
sleep 1
lan_stop rec1
lan_stop rec2
read -r bin1 amp1 < <(meter peak "$share/mic1.raw" --rate 8000)
read -r level2 _ < <(meter level "$share/mic2.raw" --rate 8000)
read -r bin2 amp2 < <(meter peak "$share/mic2.raw" --rate 8000)
# parec drops the first second or so: the recording begins shortly before the tone.
read -r floor1 _ < <(meter level "$share/mic1.raw" --rate 8000 --start 0.1 --end 0.5)
echo "host 1: floor RMS $floor1, strongest bin $bin1 Hz at $amp1; host 2: RMS $level2, strongest bin $bin2 Hz at $amp2"
awk -v a="$floor1" 'BEGIN { exit !(a > 5 && a < 300) }' || fail "host 1's floor at RMS $floor1"
[ "$bin1" = 1000 ] || fail "host 1 did not record the tone"
awk -v a="$amp1" 'BEGIN { exit !(a > 1000) }' || fail "host 1 recorded the tone at $amp1 only"
awk -v a="$level2" 'BEGIN { exit !(a < 32.8) }' || fail "host 2 recorded sound (RMS $level2)"

bash "$lan" down "$name" "$dir" >/dev/null 2>&1
for p in "${pids[@]}"; do
  kill -0 "$p" 2>/dev/null && fail "sound server $p is left after down"
done
echo "lan_audio_test: passed"
