# Talking to tav_driver from a test script: commands appended to its command file, answers read
# from its log up to the command's "DONE <n>".
#   drive_begin DIR            the driver's files in DIR (the caller starts the driver itself,
#                              reading $drive_cmd and writing $drive_log)
#   drive CMD...               runs the command; its answer lines in $answer; fails after 120 s
#   shot NAME                  a screenshot of the display as $shots/NAME.png
#   expect_answer REGEX TEXT   the answer must match, else fail with TEXT
#   box ID NAME REGEX          the box of ID, kept as NAME.png, must match REGEX
#   press ID TEXT / ended ID CODE [SECONDS] / stored VALUE REGEX
#   main_window ID             waits until ID's hidden main window exists and its start is over
#   server_gone K SECONDS      (test-LAN scripts) host K's quarnhost ended within that time
#   new_display LOG            an Xvfb of its own: $new_display_pid, $new_display_name

drive_begin() {
  drive_cmd=$1/driver.cmd
  drive_log=$1/driver.log
  : >"$drive_cmd"
  : >"$drive_log"
  drive_n=0
}

drive_ready() {
  local i
  for ((i = 0; i < 600; i++)); do
    grep -q '^DRIVER READY' "$drive_log" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "the driver did not start"
}

drive() {
  local i from
  from=$(wc -l <"$drive_log")
  drive_n=$((drive_n + 1))
  printf '%s\n' "$*" >>"$drive_cmd"
  for ((i = 0; i < 1200; i++)); do
    if grep -qx "DONE $drive_n" "$drive_log"; then
      answer=$(tail -n +"$((from + 1))" "$drive_log" | sed "/^DONE $drive_n\$/,\$d")
      echo "> $* :: $answer" >>"$drive_transcript"
      return 0
    fi
    sleep 0.1
  done
  fail "the driver did not answer [$*]"
}

shot() {
  mkdir -p "$shots"
  import -window root "$shots/$1.png" 2>>"$shots/import.log" || fail "no screenshot $1"
}

expect_answer() {
  grep -qE -- "$1" <<<"$answer" || fail "$2: [$answer]"
}

box() {
  drive box "$1" 60
  expect_answer "^BOX $1 " "$1 showed no box"
  shot "$2"
  expect_answer "^BOX $1 $3\$" "$1: not the box expected"
}
press() { drive press "$1" "$2"; expect_answer "^PRESSED $2" "$1: $2 not pressed"; }
ended() { drive exit "$1" "${3:-30}"; expect_answer "^EXIT $1 $2\$" "$1: not ended with $2"; }
stored() { drive reg "$1"; expect_answer "^REG $1 $2\$" "$1 of the key"; }

# idle ID: waits until the program's user-interface thread takes messages (its start-up is
# over); $answer stays the main window's line.
idle() {
  local window=$answer j
  for ((j = 0; j < 9; j++)); do
    drive send 0 0 0
    grep -q '^SENT 0x0 ' <<<"$answer" && { answer=$window; return 0; }
  done
  fail "$1: its main window takes no messages"
}
main_window() {
  local i
  for ((i = 0; i < 120; i++)); do
    drive main "$1"
    grep -q "^WINDOW $1 " <<<"$answer" && { idle "$1"; return 0; }
    drive box "$1" 0
    grep -q "^BOX $1 " <<<"$answer" && { shot "$1-unexpected-box"; fail "$1 showed a box: $answer"; }
    sleep 0.5
  done
  fail "$1 made no main window"
}

server_gone() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    host_pid "$1" quarnhost.exe >/dev/null 2>&1 || { echo "FIGURE host $1: quarnhost ended within $((i / 10)).$((i % 10)) s"; return 0; }
    sleep 0.1
  done
  fail "host $1: quarnhost still runs $2 s after tavapp ended"
}

# new_display LOG: a display of its own, from a free number that Xvfb picks itself; sets
# new_display_pid (Xvfb's pid, for the caller to stop) and new_display_name (":N").
new_display() {
  local fd d="" i
  exec {fd}<> <(:)
  Xvfb -displayfd "$fd" -br -screen 0 1280x1024x24 -nolisten tcp >"$1" 2>&1 &
  new_display_pid=$!
  for ((i = 0; i < 100; i++)); do read -r -t 0.1 d <&"$fd" && break; done
  exec {fd}<&-
  [ -n "$d" ] || fail "no display of its own for $1"
  new_display_name=":$d"
}
