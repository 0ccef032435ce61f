#!/usr/bin/env python3
"""Checks that each PE image's header checksum is the one Windows computes: the loader refuses a
driver whose checksum is wrong. Prints one line per file; exit status 1 when any is wrong.

    scripts/pe-checksum.py FILE...
"""
import struct
import sys


def pe_checksum(data, field):
    """16-bit one's-complement-style sum of the file (checksum field as zero) plus its length."""
    total = 0
    padded = data + b"\0" * (len(data) % 2)
    for offset in range(0, len(padded), 2):
        if field <= offset < field + 4:
            continue
        total += padded[offset] | padded[offset + 1] << 8
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def check(path):
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return f"{path}: not a PE image"
    field = pe + 4 + 20 + 64  # signature, file header, optional header up to CheckSum
    stored = struct.unpack_from("<I", data, field)[0]
    computed = pe_checksum(data, field)
    if stored != computed:
        return f"{path}: checksum 0x{stored:08X} in the header, 0x{computed:08X} computed"
    print(f"{path}: checksum 0x{stored:08X}, valid")
    return None


def main():
    errors = [e for e in (check(p) for p in sys.argv[1:]) if e]
    for e in errors:
        print(e)
    return 1 if errors or len(sys.argv) < 2 else 0


if __name__ == "__main__":
    sys.exit(main())
