#!/usr/bin/env python3
"""Peer side of the audio file library's tests: makes the files no tool here
writes (RIFX, little-endian "dns.", DDP images) and reads ours back with
python's wave, aifc and sunau.

  fixtures.py make KIND:OUT:RATE:CHANNELS:BITS...  KIND rifx or dns; samples (int16) on stdin
  fixtures.py read MODULE:FILE...                  MODULE wave, aifc or sunau; per file a line
                                                   of params, then one of samples
  fixtures.py ddp SPEC.json                        DDP images from a list of descriptions
(One start of python takes seconds on a loaded machine: each command does
many files.)
"""
import json
import struct
import sys
import warnings

warnings.simplefilter("ignore", DeprecationWarning)


def samples_in():
    return [int(x) for x in sys.stdin.read().split()]


def encode(values, bits, big, unsigned8=False):
    """int16 values widened to `bits` (the low bytes zero)."""
    out = bytearray()
    width = bits // 8
    for v in values:
        if width == 1:
            b = ((v >> 8) + (128 if unsigned8 else 0)) & 0xFF
            out.append(b)
            continue
        w = (v << (8 * (width - 2))) & ((1 << (8 * width)) - 1)
        out += w.to_bytes(width, "big" if big else "little")
    return bytes(out)


def rifx(path, rate, ch, bits, values):
    data = encode(values, bits, big=True, unsigned8=True)
    width = bits // 8
    fmt = struct.pack(">HHIIHH", 1, ch, rate, rate * ch * width, ch * width, bits)
    body = b"WAVE" + b"fmt " + struct.pack(">I", len(fmt)) + fmt
    body += b"data" + struct.pack(">I", len(data)) + data + (b"\0" if len(data) & 1 else b"")
    open(path, "wb").write(b"RIFX" + struct.pack(">I", len(body)) + body)


def dns(path, rate, ch, bits, values):
    data = encode(values, bits, big=False)
    enc = {8: 2, 16: 3, 24: 4, 32: 5}[bits]
    head = b"dns." + struct.pack("<IIIII", 32, len(data), enc, rate, ch) + b"note"[:4] + b"\0" * 4
    open(path, "wb").write(head + data)


def read(kind, path):
    import aifc, sunau, wave
    mod = {"wave": wave, "aifc": aifc, "sunau": sunau}[kind]
    f = mod.open(path, "rb")
    ch, width, rate, n = f.getnchannels(), f.getsampwidth(), f.getframerate(), f.getnframes()
    raw = f.readframes(n)
    order = "little" if kind == "wave" else "big"
    vals = []
    for i in range(0, len(raw) - width + 1, width):
        s = raw[i:i + width]
        if width == 1:
            v = s[0] - 128 if kind == "wave" else int.from_bytes(s, order, signed=True)
            vals.append(v << 8)
        else:
            vals.append(int.from_bytes(s, order, signed=True) >> (8 * (width - 2)))
    print(ch, width * 8, rate, n)
    print(" ".join(map(str, vals)))
    sys.stdout.flush()


def num(value, width):
    return str(value).rjust(width, "0").encode()[:width]


def ddp(d):
    """d: {"dir", "version", "book", "cd", "tracks": [...], "subcode": [...], "files": {name: size}}"""
    import os
    folder = d["dir"]
    os.makedirs(folder, exist_ok=True)
    if d.get("no_id"):
        return
    ident = bytearray(b" " * 128)
    ident[0:8] = d.get("version", "DDP 2.00").encode()
    ident[86:87] = d.get("book", " ").encode()
    ident[87:89] = d.get("cd", "CD").encode()
    open(folder + "/DDPID", "wb").write(bytes(ident))
    ms = bytearray()
    for t in d["tracks"]:
        p = bytearray(b" " * 128)
        p[0:4] = t.get("magic", "VVVM").encode()
        p[4:6] = t.get("type", "D0").encode()
        p[14:22] = num(t.get("sectors", 0), 8)
        p[38:40] = t.get("data", "DA").encode()
        p[42:46] = num(t.get("pre1", 0), 4)
        p[46:50] = num(t.get("pre2", 0), 4)
        p[50:54] = num(t.get("post", 0), 4)
        p[55:57] = num(t.get("track", 1), 2)
        name = t["name"].encode()
        p[74:74 + len(name)] = name
        p[91:92] = t.get("newtrack", " ").encode()
        p[104:113] = num(t.get("offset", 0), 9)
        ms += p
    sub = d.get("subcode")
    if sub is not None:
        pq = bytearray()
        for e in sub:
            p = bytearray(b" " * 64)
            p[0:4] = e.get("magic", "VVVS").encode()
            p[4:6] = (e["track"] if isinstance(e["track"], str) else num(e["track"], 2).decode()).encode()
            p[6:8] = num(e.get("index", 1), 2)
            m, s, f = e["time"]
            p[10:16] = num(m, 2) + num(s, 2) + num(f, 2)
            pq += p
        if d.get("write_subcode", True):
            open(folder + "/PQDESCR", "wb").write(bytes(pq))
        p = bytearray(b" " * 128)
        p[0:6] = b"VVVMS0"
        p[14:22] = num(len(pq), 8)
        p[74:81] = b"PQDESCR"
        ms += p
    if not d.get("no_map"):
        open(folder + "/DDPMS", "wb").write(bytes(ms))
    for name, spec in d.get("files", {}).items():
        # spec: byte count; the bytes are (offset % 251) so any slice is known
        open(folder + "/" + name, "wb").write(bytes(i % 251 for i in range(spec)))


if __name__ == "__main__":
    cmd = sys.argv[1]
    if cmd == "make":
        values = samples_in()
        for job in sys.argv[2:]:
            kind, path, rate, ch, bits = job.split(":")
            (rifx if kind == "rifx" else dns)(path, int(rate), int(ch), int(bits), values)
    elif cmd == "read":
        for job in sys.argv[2:]:
            kind, path = job.split(":", 1)
            read(kind, path)
    elif cmd == "ddp":
        for image in json.load(open(sys.argv[2])):
            ddp(image)
    else:
        sys.exit("unknown command " + cmd)
