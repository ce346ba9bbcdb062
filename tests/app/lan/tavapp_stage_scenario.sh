# The "stage" scenario of tavapp_session_test.sh (sourced by it; its helpers and hosts are
# there). Two hosts: each main dialog holds the stage window 1009 at (0, 27), 800 x 400, in
# "IDB_STAGECTRL_BG0"'s pixels; each stage holds its own hidden cursor and one visible 20 x 20
# child, the peer's cursor; the joined terminal ends by its close button and its cursor leaves
# the host's stage within 10 s; no stage wrote an ASSERT or ERROR line.

# stage_window ID: ID's dialog holds window 1009 at client (0, 27), 800 x 400, visible, showing
# background 0.
stage_window() {
  local left top right bottom l t r b
  dialog_shown "$1"
  read -r left top right bottom < <(dialog_rect)
  drive child 1009
  expect_answer "^WINDOW 1009 .* visible=1 " "$1: no visible stage window"
  read -r l t r b < <(sed -n 's/.* rect=\(-\{0,1\}[0-9]*\),\(-\{0,1\}[0-9]*\),\(-\{0,1\}[0-9]*\),\(-\{0,1\}[0-9]*\)$/\1 \2 \3 \4/p' <<<"$answer")
  [ $((l - left)) = 0 ] && [ $((t - top)) = 27 ] && [ $((r - l)) = 800 ] && [ $((b - t)) = 400 ] ||
    fail "$1: the stage window is not at (0, 27), 800 x 400: [$answer] in $left,$top"
  drive dialog "$1"
  drive bitmap "$(lan_winpath "$share/F$current/tavlang.dll")" IDB_STAGECTRL_BG0
  expect_answer "^BITMAP IDB_STAGECTRL_BG0 800x400" "no bitmap IDB_STAGECTRL_BG0"
}
# stage_pixels ID: the stage's pixels but the cursors' squares are background 0's (the peer's
# cursor, 20 x 20, may stand anywhere).
stage_pixels() {
  drive match 0 27 800 400 0 0
  local same of
  read -r same of < <(sed -n 's/^MATCH \([0-9]*\) \([0-9]*\)$/\1 \2/p' <<<"$answer")
  [ "$of" = 320000 ] && ((same >= 320000 - 400)) || fail "$1: the stage does not show IDB_STAGECTRL_BG0: [$answer]"
}
# kids_are ID PATTERN SECONDS: waits until the stage's children match the pattern.
kids_are() {
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    drive kids 1009
    grep -qE "$2" <<<"$answer" && return 0
    sleep 0.1
  done
  fail "$1: the stage's children are not [$2] but [$answer]"
}
# no_stage_faults K: host K's log holds no ASSERT or ERROR line of the stage's classes.
no_stage_faults() {
  local lines
  lines=$(grep -E "ASSERT: |ERROR: " "$share/F$1/log.dat" | grep -E "CStage|CContent|CCursor|CSharedSpace" || true)
  [ -z "$lines" ] || fail "host $1: the stage wrote [$lines]"
}

stage() {
  hold holder
  on 1
  begins a Ann hosts
  on 2
  begins b Bob joins

  # Each stage: the window, its background, the own hidden cursor and the peer's shown one.
  for k in 1 2; do
    on $k
    id=$([ $k = 1 ] && echo a || echo b)
    stage_window $id
    kids_are $id "^KIDS 1009 2 (20x20:1 20x20:0|20x20:0 20x20:1)\$" 30
    drive dialog $id
    drive bitmap "$(lan_winpath "$share/F$current/tavlang.dll")" IDB_STAGECTRL_BG0
    stage_pixels $id
    shot "$id-stage"
  done

  # The joined terminal ends: its cursor leaves the host's stage within 10 s.
  on 2
  closed_by_button b
  on 1
  drive dialog a
  kids_are a "^KIDS 1009 1 20x20:0\$" 10
  shot a-stage-alone
  for k in 1 2; do no_stage_faults $k; done
}
