#!/usr/bin/python3
"""An independent bit writer and CRC-16 for the bit buffer's tests.

Reads operations from a file, one a line:
  bits N VALUE P   N bits of VALUE, most significant first; P=1 when they
                   enter the CRC
  zeros K          K zero bits fed to the CRC only (a region closed early)
  reserve N        an N-bit field that will hold the CRC
  frame            the bits so far form one frame
Prints, per frame, the frame's bytes in hex (the last 1-7 bits left-aligned,
zero fill), then a line "crc XXXX" with crcmod's CRC-16 (polynomial 0x18005,
initial value 0xFFFF) over the protected bits (their count must be a
multiple of 8).
"""
import sys

import crcmod


def main(path):
    bits = []        # the stream
    protected = []   # the bits entering the CRC
    reserved = None  # (position, width)
    frames = []
    start = 0
    for line in open(path):
        op = line.split()
        if not op:
            continue
        if op[0] == "bits":
            n, value, prot = int(op[1]), int(op[2]), op[3] == "1"
            new = [(value >> (n - 1 - i)) & 1 for i in range(n)]
            bits += new
            if prot:
                protected += new
        elif op[0] == "zeros":
            protected += [0] * int(op[1])
        elif op[0] == "reserve":
            reserved = (len(bits), int(op[1]))
            bits += [0] * int(op[1])
        elif op[0] == "frame":
            frames.append((start, len(bits)))
            start = len(bits)
    if len(protected) % 8:
        sys.exit("protected bits not a whole number of bytes: %d" % len(protected))
    data = bytes(int("".join(map(str, protected[i:i + 8])), 2) for i in range(0, len(protected), 8))
    crc = crcmod.mkCrcFun(0x18005, initCrc=0xFFFF, rev=False, xorOut=0)(data)
    if reserved:
        pos, width = reserved
        for i in range(width):
            bits[pos + i] = (crc >> (width - 1 - i)) & 1
    for a, b in frames:
        chunk = bits[a:b] + [0] * ((8 - (b - a) % 8) % 8)
        print("".join("%02x" % int("".join(map(str, chunk[i:i + 8])), 2) for i in range(0, len(chunk), 8)))
    print("crc %04x" % crc)


main(sys.argv[1])
