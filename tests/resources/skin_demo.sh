#!/usr/bin/env bash
# Shows each skin's main-dialog pictures in their places on a private X display and takes a
# screenshot, for a look at the art (not a test). Run tools/test (or build) first.
# Usage: tests/resources/skin_demo.sh [OUT.png]   (default: BUILD_DIR/skin_demo.png)
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${1:-$build/skin_demo.png}
demo=$build/tests/resources/skin_demo.exe
[ -x "$demo" ] || { echo "skin_demo: $demo not built (run tools/test first)" >&2; exit 1; }
if ! command -v import >/dev/null 2>&1; then
  sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends imagemagick
fi

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
log=$(mktemp "${TMPDIR:-/tmp}/skin-demo.XXXXXX")
xvfb_pid="" demo_pid=""
cleanup() {
  if [ -n "$demo_pid" ]; then kill "$demo_pid" 2>/dev/null || true; wait "$demo_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -f "$log"
}
trap cleanup EXIT

# A screen just large enough for the three dialogs of 800 x 452, one under the other.
exec {dfd}<> <(:)
Xvfb -displayfd "$dfd" -screen 0 800x1356x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
display=""
read -r -t 10 display <&"$dfd" || true
exec {dfd}<&-
[ -n "$display" ] || { echo "skin_demo: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display"

(cd "$(dirname "$demo")" && exec wine "$demo" 60 >"$log" 2>&1 </dev/null) &
demo_pid=$!
for _ in $(seq 1 300); do
  grep -q '^shown' "$log" && break
  kill -0 "$demo_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q '^shown' "$log" || { echo "skin_demo: the demo did not show its window:" >&2; cat "$log" >&2; exit 1; }
sleep 1
import -display "$DISPLAY" -window root "$out"
grep -v '^shown' "$log" || true
echo "skin_demo: $out"
