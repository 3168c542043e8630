#!/usr/bin/env python3
"""Draws the art of the player's clip lists and About dialog, our own:
  clip_file.ico    icon 105, a clip from a file: a page with a folded corner
  clip_stream.ico  icon 106, any other clip: a globe with a play mark
  about.bmp        bitmap 184, 165 x 78, 24 bits: the About dialog's logo.
                   Pixel (1, 1) is the colour the dialog is filled with, the
                   top 74 rows are the logo, pixel (0, 75) is its rule's colour
  clips_header.bmp bitmap 221, the Clips sheet's header picture
usage: make_clip_art.py OUTPUT_FOLDER"""
import math
import os
import struct
import sys

WHITE = (255, 255, 255)


def ico(path, draw):
    """A 16 x 16 (and 32 x 32) icon, 32-bit with alpha, from draw(u, v)
    in units of the icon's size returning (r, g, b, a)."""
    images = []
    for size in (16, 32):
        rows = []
        for y in range(size - 1, -1, -1):
            row = bytearray()
            for x in range(size):
                r, g, b, a = draw((x + 0.5) / size, (y + 0.5) / size)
                row += bytes((b, g, r, a))
            rows.append(bytes(row))
        mask = ((size + 31) // 32) * 4 * size
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        images.append((size, header + b"".join(rows) + bytes(mask)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(d for _, d in images))


def bmp(path, width, height, pixel):
    stride = (width * 3 + 3) // 4 * 4
    data = bytearray()
    for y in range(height - 1, -1, -1):
        line = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        data += line + bytes(stride - len(line))
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    filehead = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    with open(path, "wb") as f:
        f.write(filehead + header + data)


def file_icon(u, v):
    # A white page with a dark outline and a folded top-right corner; three
    # grey text lines.
    left, right, top, bottom, fold = 0.18, 0.82, 0.06, 0.94, 0.22
    if not (left <= u <= right and top <= v <= bottom):
        return (0, 0, 0, 0)
    if u - (right - fold) > v - top:
        return (0, 0, 0, 0)
    edge = 0.07
    if (u < left + edge or u > right - edge or v < top + edge or v > bottom - edge
            or abs((u - (right - fold)) - (v - top)) < edge):
        return (40, 60, 110, 255)
    if u > right - fold - edge and v < top + fold + edge:
        return (190, 200, 220, 255)
    for line in (0.45, 0.6, 0.75):
        if abs(v - line) < 0.035 and left + 0.14 < u < right - 0.14:
            return (120, 130, 150, 255)
    return (250, 250, 250, 255)


def stream_icon(u, v):
    # A green-blue globe with two meridians and a white play mark.
    du, dv = u - 0.5, v - 0.5
    d = math.hypot(du, dv)
    if d > 0.47:
        return (0, 0, 0, 0)
    if 0.4 <= u <= 0.68 and abs(dv) <= (0.68 - u) * 0.75:
        return (255, 255, 255, 255)
    if d > 0.41 or abs(dv) < 0.03 or abs(abs(du) - 0.2 * math.sqrt(max(0.0, 1 - (dv / 0.47) ** 2))) < 0.03:
        return (20, 90, 110, 255)
    return (40 + int(80 * v), 150, 170 - int(60 * u), 255)


ABOUT_W, ABOUT_H = 165, 78
ABOUT_FILL = (255, 255, 255)
ABOUT_RULE = (30, 70, 150)


def about_pixel(x, y):
    if y >= 74:
        return ABOUT_RULE if y == 75 else ABOUT_FILL
    if (x, y) == (1, 1):
        return ABOUT_FILL
    # The player's blue disc with its play mark at the left, a band fading
    # to white behind the name, drawn in blocks.
    cx, cy = 38, 37
    d = math.hypot(x - cx, y - cy)
    if d < 28:
        if 30 <= x <= 52 and abs(y - cy) <= (52 - x) * 0.65:
            return WHITE
        return (40 + int(2 * (y - 9)), 90 + int(2 * (x - 10)), 200)
    if d < 30:
        return (200, 210, 235)
    if 72 <= x <= 158 and 26 <= y <= 48:
        # "ORLOMER" as blocky capitals, 7 letters of 10 x 18 pixels.
        return letter_pixel(x - 72, y - 28)
    fade = min(1.0, x / 164.0)
    return (int(200 + 55 * fade), int(215 + 40 * fade), 255)


LETTERS = {
    "O": ["#####", "#...#", "#...#", "#...#", "#...#", "#...#", "#####"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
}


def letter_pixel(x, y):
    background = (int(200 + 55 * (x + 72) / 164.0), int(215 + 40 * (x + 72) / 164.0), 255)
    word = "ORLOMER"
    index, col = divmod(x, 12)
    if index >= len(word) or col >= 10 or not 0 <= y < 18:
        return background
    glyph = LETTERS[word[index]]
    gx, gy = col // 2, y * 7 // 18
    return (20, 50, 120) if glyph[gy][gx] == "#" else background


def header_pixel(x, y):
    # A teal band with a darker stripe at its foot.
    if y >= 46:
        return (0, 96, 112)
    return (0, 128 + y, 150 + y)


def main(folder):
    ico(os.path.join(folder, "clip_file.ico"), file_icon)
    ico(os.path.join(folder, "clip_stream.ico"), stream_icon)
    bmp(os.path.join(folder, "about.bmp"), ABOUT_W, ABOUT_H, about_pixel)
    bmp(os.path.join(folder, "clips_header.bmp"), 49, 49, header_pixel)


if __name__ == "__main__":
    main(sys.argv[1])
