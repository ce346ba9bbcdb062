#!/usr/bin/env bash
# The phone panel of tavapp on one host of a test LAN, quarnhost registered by its own
# -RegServer, the host with its own display and its own sound server (a quiet floor in "mic"),
# driven by tav_driver on the host: the panel "phone control" at (156, 428) of the main dialog,
# 228 x 20, its cover shown and its lamp dark; a click on "power button" slides the cover away
# and enables the button again, the lamp still dark; a second click brings the cover back; a console disconnect (posted, Wine
# sends none) while on turns the phone off. Then without a sound server: the panel is shown
# and switches all the same. Every visible step is kept as a screenshot.
#   tavapp_phone_test.sh LAN_TOOL QUARNHOST TAVAPP TAVLANG DRIVER WORK_DIR
# Exit 0: passed; 77: no network namespaces or no PulseAudio here (skipped); else failed.
set -uo pipefail

lan=$1 server=$2 tavapp=$3 tavlang=$4 driver=$5 work=$6
here=$(cd "$(dirname "$0")/.." && pwd)
command -v pulseaudio >/dev/null 2>&1 && command -v paplay >/dev/null 2>&1 || { echo "no pulseaudio here"; exit 77; }
source "$(dirname "$lan")/lan-lib.sh"
source "$here/drive-lib.sh"
lan_names "tph$$" "$work"
LAN_LOG_LINES=80
lan_begin "tavapp phone_test" 280

WS_DISABLED=0x08000000
PANEL=1018 POWER=1022 COVER=1021 LED=1019

xvfb_pid=""
start_display() {
  new_display "$dir.xvfb.log"
  xvfb_pid=$new_display_pid
  export DISPLAY=$new_display_name
}
finish_run() {
  [ -n "${drive_cmd:-}" ] && printf 'quit\n' >>"$drive_cmd"
  sleep 0.5
  local logs="$work/tavapp-phone-logs"
  rm -rf "$logs"
  mkdir -p "$logs"
  cp "$folder/log.dat" "$logs/tavapp.log" 2>/dev/null
  cp "$share"/*.log "$share/transcript.txt" "$logs/" 2>/dev/null
  lan_cleanup
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap finish_run EXIT

mkdir -p "$dir"
start_display
lan_up 1
lan_audio 1
shots="$share/shots"
drive_transcript="$share/transcript.txt"
folder="$share/F"
mkdir -p "$folder"
cp "$tavapp" "$tavlang" "$folder/"
winfolder=$(lan_winpath "$folder")
wintavlang="$winfolder\\tavlang.dll"

# A quiet room in "mic", with something playing into it from the start so that its monitor runs.
PULSE_SERVER=$(lan_pulse 1) pacat --playback --device=mic --format=s16le --rate=8000 --channels=1 --raw /dev/zero \
  >/dev/null 2>&1 </dev/null &
lan_pids+=($!)
lan_mic_floor 1
lan_must 1 "$server" -RegServer
drive_begin "$share"
lan_start driver-out 1 "$driver" "$(lan_winpath "$drive_cmd")" "$(lan_winpath "$drive_log")"
drive_ready

# rect_of: the rectangle of the last WINDOW line, as "left top right bottom".
rect_of() { sed -n 's/.* rect=\(-\{0,1\}[0-9]*\),\(-\{0,1\}[0-9]*\),\(-\{0,1\}[0-9]*\),\(-\{0,1\}[0-9]*\)$/\1 \2 \3 \4/p' <<<"$answer"; }
style_of() { sed -n 's/.* style=\(0x[0-9A-F]*\) .*/\1/p' <<<"$answer"; }
# shown ID: waits (at most 60 s) until ID's main dialog is shown; dialog left and top in dl, dt.
shown() {
  local i
  for ((i = 0; i < 600; i++)); do
    drive dialog "$1"
    grep -q "^DIALOG $1 .* visible=1 iconic=0 " <<<"$answer" && {
      read -r dl dt _ < <(sed -n 's/.* rect=\(-\{0,1\}[0-9]*\),\(-\{0,1\}[0-9]*\),.*/\1 \2/p' <<<"$answer")
      return 0
    }
    sleep 0.1
  done
  fail "$1 shows no main dialog: [$answer]"
}
# panel_there ID: the dialog holds "phone control" 1018 at (156, 428), 228 x 20, visible.
panel_there() {
  local l t r b
  drive child $PANEL
  expect_answer "^WINDOW $PANEL class=\[[^]]*\] title=\[phone control\] .* visible=1 " "$1: no visible phone panel"
  read -r l t r b < <(rect_of)
  [ $((l - dl)) = 156 ] && [ $((t - dt)) = 428 ] && [ $((r - l)) = 228 ] && [ $((b - t)) = 20 ] ||
    fail "$1: the panel is not at (156, 428), 228 x 20: [$answer] in $dl,$dt"
  drive inner $PANEL $POWER
  expect_answer "^WINDOW $POWER .* title=\[power button\] " "$1: no power button"
}
# lamp IMAGE: whether the lamp's pixels on the screen are those of the bitmap IMAGE.
lamp() {
  local l t r b same of
  drive inner $PANEL $POWER $LED
  expect_answer "^WINDOW $LED .* visible=1 " "no visible lamp"
  read -r l t r b < <(rect_of)
  drive bitmap "$wintavlang" "$1"
  expect_answer "^BITMAP $1 " "no bitmap $1"
  drive match $((l - dl)) $((t - dt)) $((r - l)) $((b - t)) 0 0
  read -r same of < <(sed -n 's/^MATCH \([0-9]*\) \([0-9]*\)$/\1 \2/p' <<<"$answer")
  [ "${of:-0}" -gt 0 ] && [ "$same" = "$of" ]
}
# cover_is VISIBLE SECONDS: waits until the cover's visibility is VISIBLE (0 or 1).
cover_is() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    drive inner $PANEL $COVER
    grep -q "^WINDOW $COVER .* visible=$1 " <<<"$answer" && return 0
    sleep 0.1
  done
  return 1
}
# button_enabled SECONDS: waits until the power button is enabled.
button_enabled() {
  local i style
  for ((i = 0; i < $1 * 10; i++)); do
    drive inner $PANEL $POWER
    style=$(style_of)
    [ -n "$style" ] && (((style & WS_DISABLED) == 0)) && return 0
    sleep 0.1
  done
  return 1
}
# power_click: a real click on the power button, away from its lamp.
power_click() {
  drive inner $PANEL $POWER
  drive drag 60 10 0 0
  expect_answer "^DRAGGED" "no click on the power button"
}
# switched_on ID / switched_off ID: the cover slid away (back) within 5 s, the button enabled.
switched_on() {
  cover_is 0 5 || fail "$1: the cover did not slide away within 5 s: [$answer]"
  button_enabled 2 || fail "$1: the power button stays disabled: [$answer]"
}
switched_off() {
  cover_is 1 5 || fail "$1: the cover did not come back within 5 s: [$answer]"
  button_enabled 3 || fail "$1: the power button stays disabled: [$answer]"
}
start() {
  local id=$1
  shift
  : >"$folder/log.dat"
  drive start "$id" "$winfolder" "$winfolder\\tavapp.exe" "$@"
  expect_answer "^STARTED $id " "$id did not start"
  main_window "$id"
}
terminated() {
  drive main "$1"
  drive post 0x8064 1 1
  expect_answer '^POSTED 1' "the terminate command was not posted"
  ended "$1" 0 30
}

# With a sound server.
start a NICKNAME=Ann DUMP
shown a
panel_there a
sleep 0.5
shot a-phone-off
cover_is 1 1 || fail "a: the cover is not shown at the start: [$answer]"
lamp IDB_PHONE_LED_OFF0 || fail "a: the lamp is not dark without its listen mark at the start"

power_click
switched_on a
shot a-phone-on
lamp IDB_PHONE_LED_OFF0 || fail "a: the lamp is lit before any sound"
grep -q "LOC_addSelf" "$folder/log.dat" || fail "a: the phone did not join its member list"

power_click
switched_off a
shot a-phone-off-again

# A console disconnect while on turns the phone off; a connect makes the button clickable again.
power_click
switched_on a
drive inner $PANEL $POWER
drive post 0x2B1 2 0
expect_answer '^POSTED 1' "the session change was not posted"
switched_off a
shot a-phone-disconnected
drive inner $PANEL $POWER
drive post 0x2B1 1 0
terminated a
grep -E "ASSERT: |FATAL ERROR: " "$folder/log.dat" && fail "a wrote an assertion or a fatal error"

# Without a sound server: the panel is shown and switches all the same.
bash "$(dirname "$lan")/audio" stop "$dir/h1/audio" || fail "the sound server did not stop"
start b NICKNAME=Bob DUMP
shown b
panel_there b
shot b-phone-no-sound
cover_is 1 1 || fail "b: the cover is not shown at the start: [$answer]"
power_click
switched_on b
shot b-phone-on-no-sound
power_click
switched_off b
terminated b
grep -E "ASSERT: |FATAL ERROR: " "$folder/log.dat" && fail "b wrote an assertion or a fatal error"

drive quit
echo "tavapp phone_test: passed, screenshots in $shots"
rm -rf "$work/tavapp-phone-shots"
cp -r "$shots" "$work/tavapp-phone-shots" 2>/dev/null
exit 0
