# Talking to tav_driver from a test script: commands appended to its command file, answers read
# from its log up to the command's "DONE <n>".
#   drive_begin DIR            the driver's files in DIR (the caller starts the driver itself,
#                              reading $drive_cmd and writing $drive_log)
#   drive CMD...               runs the command; its answer lines in $answer; fails after 120 s
#   shot NAME                  a screenshot of the display as $shots/NAME.png
#   expect_answer REGEX TEXT   the answer must match, else fail with TEXT

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
