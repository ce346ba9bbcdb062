#!/usr/bin/env python3
"""Writes a copy of tavlang's resource script without string 63008, dialog 221 and the bitmap
IDB_COVER_BG, for the checker's own test.

    omit_resources.py SOURCE.rc TARGET.rc

Each of the three must be found exactly once; otherwise nothing is written and the exit status
is 1, so that a changed script cannot silently give a complete library.
"""
import re
import sys

OMISSIONS = [
    ('string 63008', re.compile(r'^[ \t]*63008[ \t]+"[^\n]*\n', re.M)),
    ('dialog 221', re.compile(r'^221[ \t]+DIALOGEX\b.*?^END[ \t]*\n', re.M | re.S)),
    ('bitmap IDB_COVER_BG', re.compile(r'^IDB_COVER_BG[ \t]+BITMAP\b[^\n]*\n', re.M)),
]


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], encoding='ascii') as f:
        script = f.read()
    for what, pattern in OMISSIONS:
        script, count = pattern.subn('', script)
        if count != 1:
            print(f'{argv[1]}: {what} found {count} times, expected once', file=sys.stderr)
            return 1
    with open(argv[2], 'w', encoding='ascii', newline='\n') as f:
        f.write(script)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
