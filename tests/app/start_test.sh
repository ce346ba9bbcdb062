#!/usr/bin/env bash
# tavapp started in the build's Wine prefix, where quarnhost is not registered, as a user starts
# it: the driver starts it from a folder, finds its boxes, reads them and presses their buttons.
# Every box checked is kept as a screenshot.
#   start_test.sh SCENARIO TAVAPP TAVLANG DRIVER STRINGS WORK
# SCENARIO: library   (where tavlang is taken from, and where its folder is stored)
#           instance  (one instance per PC; one refused instance tells why)
#           riched    (no rich-edit library)
#           messages  (every user message once)
# Needs WINEPREFIX, a running Wine server and DISPLAY (tools/test gives them).
set -uo pipefail

scenario=$1 tavapp=$2 tavlang=$3 driver=$4 strings=$5 work=$6
here=$(cd "$(dirname "$0")" && pwd)
run="$work/start-$scenario"
shots="$run/shots"
drive_transcript="$run/transcript.txt"
rm -rf "$run"
mkdir -p "$run"
source "$here/drive-lib.sh"

driver_pid=""
fail() {
  echo "start_test $scenario: FAILED: $*"
  echo "--- transcript"; cat "$drive_transcript" 2>/dev/null
  exit 1
}
cleanup() {
  local i p
  if [ -n "$driver_pid" ]; then
    # The driver ends what it started, then itself.
    printf 'quit\n' >>"$drive_cmd"
    for ((i = 0; i < 100; i++)); do kill -0 "$driver_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$driver_pid" 2>/dev/null
  fi
  # A program of this run that is left (its Windows path in its command line) ends too.
  for p in $(pgrep -f "start-$scenario.$APP" 2>/dev/null); do kill -KILL "$p" 2>/dev/null; done
}
trap cleanup EXIT

winpath() { echo "Z:$1" | tr / '\\'; }
key='Software\Keldar Corporation\Tavelin\2.0'
APP=tavapp.exe

# folder NAME [lib]: a folder with a copy of tavapp (and of tavlang with "lib").
folder() {
  mkdir -p "$run/$1"
  cp "$tavapp" "$run/$1/$APP"
  [ "${2:-}" = lib ] && cp "$tavlang" "$run/$1/tavlang.dll"
  true
}
# start ID FOLDER [ARGS]
start() {
  local id=$1 f=$2
  shift 2
  drive start "$id" "$(winpath "$run/$f")" "$(winpath "$run/$f/$APP")" "$@"
  expect_answer "^STARTED $id " "$id did not start"
}
quarn_box='caption=\[Tavelin\] text=\[Cannot use Quarn\. Tavelin will terminate\.\] icon=none buttons=\[OK\] owner=0 topmost=0'

# Wine takes its library overrides from the Unix environment a program starts with: the riched
# scenario starts the driver, and so tavapp, with the rich-edit library disabled.
overrides=${WINEDLLOVERRIDES:-}
[ "$scenario" = riched ] && overrides="riched20=d;$overrides"
drive_begin "$run"
WINEDLLOVERRIDES=$overrides wine "$driver" "$(winpath "$drive_cmd")" "$(winpath "$drive_log")" >"$run/driver.out" 2>&1 </dev/null &
driver_pid=$!
drive_ready
drive key "$key"
drive regdel

case $scenario in
  library)
    folder empty
    start t1 empty
    box t1 not-found 'caption=\[Tavelin\] text=\[tavlang\.dll not found\. Tavelin will terminate\.\] icon=error buttons=\[OK\] owner=0 topmost=0'
    press t1 OK
    ended t1 1
    stored resourcepath none
    # The library in A, nothing stored: A is stored.
    folder A lib
    start t2 A
    box t2 quarn-from-A "$quarn_box"
    drive module t2 tavlang.dll
    expect_answer "^MODULE t2 $(winpath "$run/A/tavlang.dll" | sed 's/\\/\\\\/g')\$" "t2 took tavlang from elsewhere"
    press t2 OK
    ended t2 1
    stored resourcepath "sz [0-9]+ \[$(winpath "$run/A" | sed 's/\\/\\\\/g')\]"
    # From B without a library: A's, and A stays stored.
    folder B
    start t3 B
    box t3 quarn-from-stored "$quarn_box"
    drive module t3 tavlang.dll
    expect_answer "^MODULE t3 $(winpath "$run/A/tavlang.dll" | sed 's/\\/\\\\/g')\$" "t3 did not take A's tavlang"
    press t3 OK
    ended t3 1
    stored resourcepath "sz [0-9]+ \[$(winpath "$run/A" | sed 's/\\/\\\\/g')\]"
    # A library in B itself wins, and A is kept.
    cp "$tavlang" "$run/B/tavlang.dll"
    start t4 B
    box t4 quarn-from-B "$quarn_box"
    drive module t4 tavlang.dll
    expect_answer "^MODULE t4 $(winpath "$run/B/tavlang.dll" | sed 's/\\/\\\\/g')\$" "t4 did not take its own tavlang"
    press t4 OK
    ended t4 1
    stored resourcepath "sz [0-9]+ \[$(winpath "$run/A" | sed 's/\\/\\\\/g')\]"
    stored nickname none
    ;;
  instance)
    running='caption=\[Tavelin\] text=\[Cannot start since Tavelin is already running or \\nthe termination process is not yet over\.\] icon=warning buttons=\[OK\] owner=0 topmost=0'
    folder A lib
    start i1 A
    box i1 first-at-its-box "$quarn_box"
    start i2 A
    box i2 second-refused "$running"
    # A third one while the second tells: it ends silently.
    start i3 A
    drive box i3 4
    expect_answer '^NOBOX i3$' "the third instance showed a box"
    ended i3 1
    press i2 OK
    ended i2 1
    start i4 A
    box i4 refused-again "$running"
    press i4 OK
    ended i4 1
    # The first killed at its box: its mutex is abandoned, the next start runs.
    drive kill i1
    start i5 A
    box i5 after-the-first-was-killed "$quarn_box"
    press i5 OK
    ended i5 1
    ;;
  riched)
    folder A lib
    start r1 A
    box r1 no-rich-edit 'caption=\[Tavelin\] text=\[RICHED20\.DLL\. not found\. Tavelin will terminate\.\] icon=error buttons=\[OK\] owner=0 topmost=0'
    press r1 OK
    ended r1 1
    stored nickname none
    stored mute none
    ;;
  messages)
    folder A lib
    start m1 A USER_MESSAGE_DISP_TEST
    ids="104 62000 62002 62003 62004 63000 63001 63002 63003 63004 63005 63006 63007 63008 63009 63010 63011 63012 63013 63014 63015 63016 63017 63017 63026 63021 62005 62006"
    k=0
    for id in $ids; do
      k=$((k + 1))
      # The text as the string table has it, \n kept as the two characters the driver writes.
      text=$(sed -n "s/^ *$id *\"\(.*\)\"\$/\1/p" "$strings")
      [ -n "$text" ] || fail "no string $id in $strings"
      pattern=$(printf '%s' "$text" | sed 's/[][\.*^$?+(){}|/]/\\&/g')
      buttons=OK
      case $id in 63026 | 62005) buttons=Yes,No ;; esac
      box m1 "message-$k-$id" "caption=\[Tavelin\] text=\[$pattern\] icon=none buttons=\[$buttons\] owner=0 topmost=0"
      press m1 "${buttons%%,*}"
    done
    box m1 then-quarn "$quarn_box"
    press m1 OK
    ended m1 1
    ;;
  *) fail "unknown scenario" ;;
esac
echo "start_test $scenario: passed, screenshots in $shots"
exit 0
