#!/usr/bin/env bash
# tools/wine-run ends a program that overruns its limit and shows what it wrote until then.
#   wine_run_test.sh WINE_RUN HANGING_EXE
set -uo pipefail
wine_run=$1 exe=$2
out=$(mktemp "${TMPDIR:-/tmp}/wine-run-test.XXXXXX") || exit 1
trap 'rm -f "$out"' EXIT

started=$SECONDS
WINE_RUN_LIMIT=5 "$wine_run" "$exe" >"$out" 2>&1
rc=$?
took=$((SECONDS - started))

fail() { echo "wine_run_test: FAILED: $*"; echo "--- output"; cat "$out"; exit 1; }
[ "$rc" -ne 0 ] || fail "a stopped program counted as passed"
[ "$took" -lt 60 ] || fail "the limit of 5 s was not kept ($took s)"
grep -q "written before the hang" "$out" || fail "what the program wrote is not shown"
grep -q "did not end within 5 s" "$out" || fail "no line says why it was stopped"
echo "wine_run_test: passed (exit $rc after $took s)"
