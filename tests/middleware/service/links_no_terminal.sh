#!/usr/bin/env bash
# quarnguard.exe links nothing of the terminal's libraries: none of their classes' symbols is
# in it, while the middleware's own are (so an empty symbol table cannot pass).
# Usage: links_no_terminal.sh NM EXE
set -euo pipefail
nm_tool=$1 exe=$2
symbols=$("$nm_tool" -C "$exe")
if ! grep -q 'CQuarnServiceInstaller::' <<<"$symbols"; then
  echo "FAIL: no middleware symbol in $exe (stripped?)"; exit 1
fi
# Classes of foundation and of the class-library stand-in (appwin).
found=$(grep -E ' (CTrace|CJObject|CMessageBox|CTavUtility|CThread|CWnd|CWinApp)::' <<<"$symbols" | head -5 || true)
if [ -n "$found" ]; then
  echo "FAIL: $exe holds terminal library symbols:"; echo "$found"; exit 1
fi
echo "PASSED: $exe links neither foundation nor appwin"
