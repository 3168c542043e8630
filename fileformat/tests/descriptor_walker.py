#!/usr/bin/env python3
"""Independent reader of MPEG-4 Systems descriptors (ISO/IEC 14496-1).

Reads hex text on stdin: a sequence of descriptors. Prints one line per
descriptor, indented by depth: "tag=0xNN size=N" (the payload size), and for
known container tags walks into the payload after its fixed fields. Exits 1
on any length that does not add up.
"""
import sys

# tag -> bytes of fixed fields before nested descriptors (None: leaf)
FIXED = {0x01: 0, 0x03: None, 0x04: 13, 0x10: None, 0x11: 2}


def read_size(b, i):
    size = 0
    for n in range(4):
        byte = b[i]
        i += 1
        size = (size << 7) | (byte & 0x7F)
        if not byte & 0x80:
            return size, i
    return size, i


def es_fixed(p):
    flags = p[2]
    n = 3
    if flags & 0x80:
        n += 2
    if flags & 0x40:
        n += 1 + p[n]
    return n


def iod_fixed(p):
    url = p[1] & 0x20 if len(p) > 1 else 0
    return 3 + p[2] if url else 7


def walk(b, start, end, depth, out):
    i = start
    while i < end:
        tag = b[i]
        size, j = read_size(b, i + 1)
        if j + size > end:
            raise ValueError("descriptor 0x%02x of %d bytes overruns its container" % (tag, size))
        out.append("%stag=0x%02x size=%d" % ("  " * depth, tag, size))
        payload = b[j:j + size]
        fixed = FIXED.get(tag, "leaf")
        if tag == 0x03:
            fixed = es_fixed(payload)
        elif tag == 0x10:
            fixed = iod_fixed(payload)
        if fixed != "leaf":
            walk(b, j + fixed, j + size, depth + 1, out)
        i = j + size


def main():
    data = bytes.fromhex("".join(sys.stdin.read().split()))
    out = []
    try:
        walk(data, 0, len(data), 0, out)
    except (ValueError, IndexError) as e:
        print("error:", e)
        return 1
    print("\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
