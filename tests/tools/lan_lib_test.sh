#!/usr/bin/env bash
# tools/lan-lib.sh cannot pass silently: lan_passed needs one passed test and no skipped one,
# and lan_begin fails instead of skipping under CI=true where namespaces cannot be made.
#   lan_lib_test.sh LAN_LIB
set -uo pipefail
lib=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/lan-lib-test.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
bad=0
problem() { echo "lan_lib_test: FAILED: $*"; bad=1; }

# summary EXPECT TEXT: lan_count_passed on a log of TEXT ends with EXPECT (0 or 1).
summary() {
  printf '%b' "$2" >"$work/run.log"
  ( share=$work; lan_who=test; source "$lib"; lan_processes() { :; }; lan_count_passed "$work/run.log" ) \
    >"$work/out" 2>&1
  local rc=$?
  [ "$rc" = "$1" ] || problem "log [$2]: ended with $rc, not $1: $(cat "$work/out")"
}
summary 0 '[==========] 3 tests from 1 test suite ran.\n[  PASSED  ] 3 tests.\n'
summary 0 '[  PASSED  ] 1 test.\n'
summary 1 '[==========] 0 tests from 0 test suites ran. (0 ms total)\n[  PASSED  ] 0 tests.\n'
summary 1 '[  PASSED  ] 2 tests.\n[  SKIPPED ] 1 test, listed below:\n[  SKIPPED ] A.B\n'
summary 1 'no summary at all\n'
summary 1 '[  FAILED  ] 1 test, listed below:\n'

# A machine without namespaces: a stand-in lan tool whose check fails as tools/lan's does.
printf '#!/usr/bin/env bash\necho "no namespaces"; exit 77\n' >"$work/lan"
begin() {
  ( lan=$work/lan; name=x; dir=$work/d; share=$work; source "$lib"; lan_begin probe 5 ) >"$work/out" 2>&1
}
CI=true begin; rc=$?
[ "$rc" = 1 ] || problem "CI=true without namespaces ended with $rc, not 1"
grep -q 'FAILED: CI=true and no network namespaces here' "$work/out" || problem "no clear line: $(cat "$work/out")"
CI= begin; rc=$?
[ "$rc" = 77 ] || problem "without CI it ended with $rc, not the skip 77"

[ "$bad" = 0 ] && echo "lan_lib_test: passed"
exit $bad
