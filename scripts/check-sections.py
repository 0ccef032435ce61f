#!/usr/bin/env python3
"""Memory integrity (HVCI) loads a driver only when no section of its image is both writable and
executable, and its sections are aligned to pages in memory. Checks both for each image given,
from the section table itself.

    scripts/check-sections.py IMAGE...
"""
import struct
import sys

WRITE, EXECUTE, CODE = 0x80000000, 0x20000000, 0x00000020
PAGE = 0x1000


def problems(path):
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return ["not a PE image"]
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    alignment = struct.unpack_from("<I", data, optional + 32)[0]
    found = []
    if alignment < PAGE:
        found.append("sections aligned to 0x%X in memory, not to pages" % alignment)
    table = optional + optional_size
    for i in range(sections):
        entry = table + 40 * i
        name = data[entry:entry + 8].rstrip(b"\0").decode("ascii", "replace")
        flags = struct.unpack_from("<I", data, entry + 36)[0]
        if flags & WRITE and flags & (EXECUTE | CODE):
            found.append("section %s is writable and executable (0x%08X)" % (name, flags))
    return found


bad = False
for path in sys.argv[1:]:
    found = problems(path)
    for problem in found:
        print("%s: %s" % (path, problem), file=sys.stderr)
    if found:
        bad = True
    else:
        print("%s: no writable code, sections page-aligned" % path)
sys.exit(1 if bad else 0)
