# A private display for the benchmarks' windows, sourced by tools/bench and the LAN benchmark
# scripts: an X server's socket reaches every host of a test LAN.
#   bench_display LOG: starts Xvfb, exports DISPLAY, sets bench_xvfb to its pid; false when
#   none started. bench_display_stop ends it by that pid.
bench_xvfb=""
bench_display() {
  local dfd display="" _attempt _
  # Two Xvfbs starting at once can pick the same number and one of them gives up: try again.
  for _attempt in 1 2 3 4 5; do
    exec {dfd}<> <(:)
    Xvfb -displayfd "$dfd" -screen 0 640x480x24 -nolisten tcp >"$1" 2>&1 &
    bench_xvfb=$!
    for _ in $(seq 1 100); do
      read -r -t 0.1 display <&"$dfd" && break
      kill -0 "$bench_xvfb" 2>/dev/null || break
    done
    exec {dfd}<&-
    [ -n "$display" ] && { export DISPLAY=":$display"; return 0; }
    bench_display_stop
    sleep 1
  done
  return 1
}
bench_display_stop() {
  [ -n "$bench_xvfb" ] || return 0
  kill "$bench_xvfb" 2>/dev/null
  wait "$bench_xvfb" 2>/dev/null
  bench_xvfb=""
}
# bench_row FIGURE VALUE REFERENCE REFERENCE_VALUE RATIO SENSE: one row of tools/bench's closing
# table (SENSE: "lower" or "higher" is better), written where BENCH_TABLE says, if anywhere.
bench_row() {
  [ -n "${BENCH_TABLE:-}" ] && printf 'TABLE|%s|%s|%s|%s|%s|%s\n' "$@" >>"$BENCH_TABLE"
  return 0
}
