#!/usr/bin/env python3
"""Draws the player's start-up logo: a 192 x 144, 24-bit uncompressed BMP."""
import struct
import sys

W, H = 192, 144


def pixel(x, y):
    # A blue-to-teal ground with a lighter disc in the middle: every byte
    # value differs across the image, so a fade is visible in each channel.
    dx, dy = x - W // 2, y - H // 2
    inside = dx * dx + dy * dy < 48 * 48
    r = 40 + (x * 100) // W + (90 if inside else 0)
    g = 60 + (y * 120) // H + (60 if inside else 0)
    b = 200 - (x * 80) // W
    return min(r, 255), min(g, 255), min(b, 255)


def main(path):
    row = (W * 3 + 3) // 4 * 4
    pixels = bytearray()
    for y in range(H - 1, -1, -1):  # bottom-up rows
        line = bytearray()
        for x in range(W):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        line += bytes(row - len(line))
        pixels += line
    header = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    filehead = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    with open(path, "wb") as f:
        f.write(filehead + header + pixels)


if __name__ == "__main__":
    main(sys.argv[1])
