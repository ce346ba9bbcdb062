#!/usr/bin/env bash
# Runs the art script into a fresh folder and compares every file with the build's: the same
# bytes on every run. Usage: art_rerun_test.sh PYTHON make_art.py BUILT_ART_DIR
set -euo pipefail
python=$1 script=$2 built=$3
fresh=$(mktemp -d "${TMPDIR:-/tmp}/art-rerun.XXXXXX")
trap 'rm -rf "$fresh"' EXIT
"$python" "$script" "$fresh"
count=0
while read -r name; do
  cmp "$built/$name" "$fresh/$name"
  count=$((count + 1))
done < <("$python" "$script" --list)
[ "$count" -gt 100 ] || { echo "only $count files listed"; exit 1; }
echo "$count files, the same bytes"
