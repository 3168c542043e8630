#!/usr/bin/env python3
"""Draws the player's skin and writes it as Orlomer.ksk in the skin file's
layout (little-endian: 276-byte header, 276-byte elements, 16-byte image
headers, a 1024-byte palette before 8-bit pixels, rows packed top-down and
padded to 4 bytes). Beside it, NAME.rgb holds every image's pixels as plain
RGB rows in file order, for the tests to compare with what Windows shows.

usage: make_skin.py OUT.ksk
"""
import math
import struct
import sys

FACE = (212, 208, 200)  # the classic dialog grey; shown as 192 on grey desktops
WIDTH, HEIGHT = 240, 264
VIDEO = (24, 36, 192, 144)  # x, y, width, height


def blank(w, h, colour):
    return [[colour] * w for _ in range(h)]


def rect(img, x0, y0, x1, y1, colour):
    for y in range(max(y0, 0), min(y1, len(img))):
        row = img[y]
        for x in range(max(x0, 0), min(x1, len(row))):
            row[x] = colour


def bevel(img, colour_light, colour_dark):
    h, w = len(img), len(img[0])
    rect(img, 0, 0, w, 1, colour_light)
    rect(img, 0, 0, 1, h, colour_light)
    rect(img, 0, h - 1, w, h, colour_dark)
    rect(img, w - 1, 0, w, h, colour_dark)


def background():
    img = blank(WIDTH, HEIGHT, FACE)
    # A grain on the grey and a title band that changes along both axes:
    # no two neighbouring rows or columns are alike, so a band stretched
    # from the wrong row or column shows.
    for y in range(HEIGHT):
        for x in range(WIDTH):
            if (x + 2 * y) % 7 == 0:
                img[y][x] = (200, 196, 188)
    for y in range(0, 34):
        for x in range(WIDTH):
            img[y][x] = (30 + y * 2 + x % 16, 60 + y * 3, 140 + y * 2 + x % 5)
    x, y, w, h = VIDEO
    rect(img, x - 2, y - 2, x + w + 2, y + h + 2, (64, 64, 72))
    rect(img, x, y, x + w, y + h, (0, 0, 0))
    rect(img, 0, 182, WIDTH, 183, (128, 128, 128))
    rect(img, 0, 240, WIDTH, 241, (255, 255, 255))  # above the status line
    bevel(img, (255, 255, 255), (64, 64, 64))
    return img


def button(w, h, state, glyph):
    # States: 0 normal, 1 hot, 2 pressed, 3.. the same for the second face.
    tints = [(180, 190, 210), (150, 200, 240), (90, 120, 170), (200, 180, 150), (240, 200, 130), (170, 120, 80)]
    img = blank(w, h, tints[state % len(tints)])
    if state % 3 == 2:  # pressed: the bevel turned round
        bevel(img, (40, 40, 40), (255, 255, 255))
    else:
        bevel(img, (255, 255, 255), (40, 40, 40))
    cx, cy = w // 2, h // 2
    ink = (20, 20, 30)
    for y in range(h):
        for x in range(w):
            dx, dy = x - cx, y - cy
            if glyph == "play" and 0 <= dx + 5 <= 10 and abs(dy) <= (5 - dx) * 0.6:
                img[y][x] = ink
            elif glyph == "pause" and abs(dy) <= 6 and (-5 <= dx <= -2 or 2 <= dx <= 5):
                img[y][x] = ink
            elif glyph == "stop" and abs(dx) <= 5 and abs(dy) <= 5:
                img[y][x] = ink
            elif glyph == "volume" and ((-6 <= dx <= -2 and abs(dy) <= 3) or (-2 <= dx <= 3 and abs(dy) <= dx + 4)):
                img[y][x] = ink
            elif glyph == "star" and abs(dx) + abs(dy) <= 6:
                img[y][x] = (230, 180, 20)
    return img


def strip(w, h, top, bottom):
    img = []
    for y in range(h):
        t = y / max(h - 1, 1)
        c = tuple(int(a + (b - a) * t) for a, b in zip(top, bottom))
        img.append([c] * w)
    return img


def seek_face():
    img = blank(200, 24, FACE)
    rect(img, 1, 8, 199, 16, (120, 120, 120))
    rect(img, 2, 9, 198, 15, (230, 230, 230))
    return img


def slider_track():
    img = blank(18, 96, FACE)
    rect(img, 7, 15, 11, 84, (96, 96, 96))
    rect(img, 6, 5, 13, 12, (60, 140, 60))   # top end zone: full volume
    rect(img, 6, 88, 13, 92, (140, 60, 60))  # bottom end zone: mute
    return img


def slider_thumb():
    img = blank(10, 8, (70, 90, 160))
    bevel(img, (200, 210, 255), (20, 30, 80))
    return img


def animation(frame):
    img = blank(16, 16, FACE)
    for i in range(8):
        a = (i / 8.0) * 2 * math.pi
        x = int(8 + 5 * math.cos(a))
        y = int(8 + 5 * math.sin(a))
        shade = 40 if i == frame else 170
        rect(img, x - 1, y - 1, x + 1, y + 1, (shade, shade, shade + 40))
    return img


def palette_of(images):
    colours = [FACE]
    for img in images:
        for row in img:
            for c in row:
                if c not in colours:
                    colours.append(c)
    if len(colours) > 256:
        raise SystemExit("too many colours for an 8-bit image")
    return colours + [(0, 0, 0)] * (256 - len(colours))


def image_record(img, x, y, bits, palette=None):
    h, w = len(img), len(img[0])
    out = struct.pack("<IIII", 0, bits, x | y << 16, w | h << 16)
    if bits == 8:
        out += b"".join(struct.pack("BBBB", r, g, b, 0) for r, g, b in palette)
        index = {c: i for i, c in reversed(list(enumerate(palette)))}
        pixels = bytes(index[c] for row in img for c in row)
    else:
        pixels = bytes(v for row in img for c in row for v in c)
    out += pixels
    if len(pixels) % 4:
        out += bytes(4 - len(pixels) % 4)
    return out


def element_record(number, x, y, w, h, images):
    text = ("element %d" % number).encode("ascii").ljust(256, b"\0")
    out = struct.pack("<IIIII", number, x | y << 16, w | h << 16, len(images), 0) + text
    return out + b"".join(images)


# Where each piece of art sits: element number, position, images, bits per
# pixel and the images' own positions where they differ from the element's.
# The status line and the time area: their text starts a sixth of their
# height down, and a 10-point face's line (16 pixels at 96 dots per inch)
# fits below that; the time area takes "1:05:00/1:05:00".
STATUS = (40, 242, 80, 20)
TIME = (124, 242, 96, 20)


def elements():
    dark = ((30, 30, 30), (60, 60, 60))
    return [
        (0, 0, 0, [background()], 24, None),
        (1, 20, 214, [button(32, 24, s, "play" if s < 3 else "pause") for s in range(6)], 24, None),
        (2, 56, 214, [button(32, 24, s, "stop") for s in range(3)], 24, None),
        (3, 92, 214, [button(24, 24, s, "volume") for s in range(3)], 24, None),
        (4, 95, 116, [slider_track(), slider_thumb()], 8, [(95, 116), (0, 0)]),
        (5, 20, 184, [seek_face()], 24, None),
        (6, 20, 242, [animation(f) for f in range(8)], 8, None),
        (7, 24, 8, [strip(184, 20, (20, 40, 90), (50, 80, 150))], 24, None),
        (8, 212, 6, [button(24, 24, 0, "star")], 24, None),  # right-anchored: in the top band
        (9, STATUS[0], STATUS[1], [strip(STATUS[2], STATUS[3], *dark)], 24, None),
        (10, TIME[0], TIME[1], [strip(TIME[2], TIME[3], *dark)], 24, None),
    ]


def main(path):
    records = []
    rgb = bytearray()
    for number, x, y, images, bits, positions in elements():
        w, h = len(images[0][0]), len(images[0])
        palette = palette_of(images) if bits == 8 else None
        out = []
        for j, img in enumerate(images):
            px, py = positions[j] if positions else (x, y)
            out.append(image_record(img, px, py, bits, palette))
            rgb.extend(v for row in img for c in row for v in c)
        records.append(element_record(number, x, y, w, h, out))

    name = b"Orlomer".ljust(256, b"\0")
    header = struct.pack("<HHHHI", 0xE0E0, 0, 0, 0x0201, len(records)) + name
    header += struct.pack("<II", VIDEO[0] | VIDEO[1] << 16, VIDEO[2] | VIDEO[3] << 16)
    with open(path, "wb") as f:
        f.write(header + b"".join(records))
    with open(path + ".rgb", "wb") as f:
        f.write(bytes(rgb))


if __name__ == "__main__":
    main(sys.argv[1])
