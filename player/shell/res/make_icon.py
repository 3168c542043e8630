#!/usr/bin/env python3
"""Draws the player's icon (resource 101): a play triangle on a blue disc,
32 x 32 and 16 x 16, 32-bit with alpha, written as a .ico file."""
import struct
import sys


def pixel(x, y, size):
    # Coordinates in units of the icon's size, so both sizes look alike.
    u, v = (x + 0.5) / size, (y + 0.5) / size
    du, dv = u - 0.5, v - 0.5
    if du * du + dv * dv > 0.48 * 0.48:
        return (0, 0, 0, 0)
    # The triangle points right: its left edge at u = 0.36, its tip at 0.74.
    if 0.36 <= u <= 0.74 and abs(v - 0.5) <= (0.74 - u) * 0.6:
        return (255, 255, 255, 255)
    return (40 + int(60 * v), 90 + int(80 * u), 200, 255)


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + bytes(mask_row * size)


def main(path):
    sizes = (32, 16)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1])
