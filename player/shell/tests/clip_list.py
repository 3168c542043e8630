#!/usr/bin/env python3
"""An independent reader and writer of the player's clip list files
(Favorites.dat, History.dat): records of kind (1 byte), reserved (1 byte),
title and address lengths in UTF-16 units (2 bytes each, little-endian),
then the title and the address in UTF-16LE without terminators. No header.

  clip_list.py write FILE JSON   JSON: [{"kind": k, "title": t, "address": a,
                                  "reserved": r (optional, default 0)}, ...]
  clip_list.py read FILE         prints the records as JSON (ASCII-escaped),
                                 each with its reserved byte, then "tail": the
                                 bytes after the last whole header
"""
import json
import struct
import sys


def encode(text):
    return text.encode("utf-16-le", "surrogatepass")


def write(path, records):
    out = bytearray()
    for r in records:
        title, address = encode(r["title"]), encode(r["address"])
        out += struct.pack("<BBHH", r["kind"], r.get("reserved", 0), len(title) // 2, len(address) // 2)
        out += title + address
    with open(path, "wb") as f:
        f.write(out)


def read(path):
    with open(path, "rb") as f:
        data = f.read()
    records, at = [], 0
    while at + 6 <= len(data):
        kind, reserved, t, a = struct.unpack_from("<BBHH", data, at)
        at += 6
        title = data[at:at + 2 * t]
        at += 2 * t
        address = data[at:at + 2 * a]
        at += 2 * a
        records.append({
            "kind": kind,
            "reserved": reserved,
            "title": title.decode("utf-16-le", "surrogatepass"),
            "address": address.decode("utf-16-le", "surrogatepass"),
        })
    return {"records": records, "tail": max(0, len(data) - at)}


def main(argv):
    if len(argv) == 4 and argv[1] == "write":
        with open(argv[3], encoding="utf-8") as f:
            write(argv[2], json.load(f))
        return 0
    if len(argv) == 3 and argv[1] == "read":
        print(json.dumps(read(argv[2]), ensure_ascii=True))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
