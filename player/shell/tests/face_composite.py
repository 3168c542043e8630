#!/usr/bin/env python3
"""Builds, from the art the skin builder draws, the picture the player's face
should show in a client area of WIDTH x HEIGHT, and writes it as raw RGB
rows. The rules are the face's own, written again here: the background cut
at its middle with the middle column and row repeated in the gap, the
buttons in their states moved with the bottom and right edges, the seek bar's
ends kept and its middle stretched with the empty bar over it, the video
rectangle black, and the status line and the time area black (no text yet).

usage: face_composite.py WIDTH HEIGHT GREY PLAY,STOP,VOLUME OUT.rgb
GREY is 1 when the desktop's menu colour is 0xC0C0C0 (the dialog grey of
the art then shows as 0xC0C0C0).
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res"))
import make_skin  # noqa: E402

EMPTY_BAR = (0xBB, 0xBB, 0xBB)
BLACK = (0, 0, 0)


def compose(width, height, grey, states):
    art = {number: (x, y, images) for number, x, y, images, _, _ in make_skin.elements()}
    if grey:
        fix = {make_skin.FACE: (0xC0, 0xC0, 0xC0)}
        art = {n: (x, y, [[[fix.get(c, c) for c in row] for row in img] for img in images])
               for n, (x, y, images) in art.items()}
    back = art[0][2][0]
    w, h = len(back[0]), len(back)
    half, mid = w // 2, h // 2
    gx, gy = max(width - w, 0), max(height - h, 0)
    dx, dy = width - w, height - h

    def source(v, cut, gap):
        return v if v < cut else cut if v < cut + gap else v - gap

    face = [[back[source(y, mid, gy)][source(x, half, gx)] for x in range(width)] for y in range(height)]

    def paste(img, x0, y0):
        for y, row in enumerate(img):
            for x, c in enumerate(row):
                if 0 <= y0 + y < height and 0 <= x0 + x < width:
                    face[y0 + y][x0 + x] = c

    def fill(x0, y0, x1, y1, colour):
        for y in range(max(y0, 0), min(y1, height)):
            for x in range(max(x0, 0), min(x1, width)):
                face[y][x] = colour

    play, stop, volume = states
    x, y, images = art[1]
    paste(images[play], x, y + dy)
    x, y, images = art[2]
    paste(images[stop], x, y + dy)
    x, y, images = art[3]
    paste(images[volume], x + dx, y + dy)
    x, y, images = art[8]
    paste(images[0], x + dx, y)

    # The seek bar: a child as wide as its face plus the growth.
    x, y, images = art[5]
    seek = images[0]
    fw, fh = len(seek[0]), len(seek)
    bw = fw + dx
    bar = []
    for row in seek:
        middle = [row[fw // 2 - 1 + (i * 4) // (bw - 4)] for i in range(bw - 4)]
        bar.append(row[:1] + middle + row[fw - 3:])
    for r in range(8, fh - 8):
        bar[r] = bar[r][:1] + [EMPTY_BAR] * (bw - 2) + bar[r][bw - 1:]
    paste(bar, x, y + dy)

    # The video rectangle grows with the video; the child covers it.
    vx, vy, vw, vh = make_skin.VIDEO
    fill(vx, vy, vx + vw + dx, vy + vh + dy, BLACK)

    # The status line is its strip's rectangle widened left to the
    # animation's x; the time area keeps its distance from the bottom right
    # corner.
    sx, sy, sw, sh = make_skin.STATUS
    fill(art[6][0], sy + dy, sx + sw, sy + dy + sh, BLACK)
    tx, ty, tw, th = make_skin.TIME
    fill(tx + dx, ty + dy, tx + dx + tw, ty + dy + th, BLACK)
    return face


def main():
    width, height, grey = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3] == "1"
    states = [int(v) for v in sys.argv[4].split(",")]
    face = compose(width, height, grey, states)
    with open(sys.argv[5], "wb") as f:
        f.write(bytes(v for row in face for c in row for v in c))


if __name__ == "__main__":
    main()
