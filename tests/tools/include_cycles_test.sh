#!/usr/bin/env bash
# tools/include-cycles finds the one cycle of its fixture (a hub whose spoke's source includes
# the hub back), not the rim that only includes the hub, and lets a known pair pass.
#   include_cycles_test.sh CHECKER FIXTURE
set -uo pipefail
check=$1 fixture=$2
out=$(python3 "$check" "$fixture")
rc=$?
[ $rc = 1 ] || { echo "include_cycles_test: FAILED: ended with $rc on a cycle: $out"; exit 1; }
grep -qF "CHub <-> CSpoke" <<<"$out" || { echo "include_cycles_test: FAILED: cycle not named: $out"; exit 1; }
[ "$(grep -c "<->" <<<"$out")" = 1 ] || { echo "include_cycles_test: FAILED: more than the cycle: $out"; exit 1; }
out=$(python3 "$check" --known CHub:CSpoke "$fixture")
rc=$?
[ $rc = 0 ] || { echo "include_cycles_test: FAILED: a known cycle failed ($rc): $out"; exit 1; }
echo "include_cycles_test: passed"
