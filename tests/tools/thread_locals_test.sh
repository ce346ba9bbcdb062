#!/bin/bash
# The thread_local check passes on our sources and names exactly the fixture's three
# declarations that have destructors.
set -u
check=$1 fixture=$2
shift 2
if ! "$check" "$@"; then
    echo "FAIL: the sources hold thread_locals with destructors (above)"
    exit 1
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$fixture" "$dir/Fixture.cpp"
"$check" "$dir" > "$dir/out.txt"
rc=$?
cat "$dir/out.txt"
names=$(sed -E 's#.*Fixture.cpp:[0-9]+:##' "$dir/out.txt" | tr '\n' '|')
expected='thread_local std::vector<const void*> t_frames;|static thread_local std::exception_ptr t_pending;|thread_local std::string t_text{"x"};|'
if [ $rc -ne 1 ] || [ "$names" != "$expected" ]; then
    echo "FAIL: expected exit 1 and the three declarations with destructors, got exit $rc"
    exit 1
fi
echo "PASS"
