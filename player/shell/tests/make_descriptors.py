#!/usr/bin/env python3
"""make_descriptors.py OUT: writes clip descriptor files, one per case, and
OUT/cases.txt with a line per file: name, expected result, URL kind and the
stored URL ('-' for none). The layout is written here independently of the
player's reader: little-endian words, texts without terminators."""
import os
import struct
import sys


def descriptor(version=0x0300, header=0x1234, title=b"Clip title", second=b"Second text", clip_flag=1,
               f36=b"A" * 36, f20=b"B" * 20, f16=b"C" * 16, name=b"entry-name".ljust(40, b"."),
               url=b"FILE://C:\\clips\\a.mp4", value1=0, value2=0, flags=0, flag_word=0, trailer=b"",
               length=None):
    body = struct.pack("<HHH", version, header, len(title)) + title
    body += struct.pack("<H", len(second)) + second
    body += bytes([clip_flag]) + f36 + f20 + f16 + name
    body += struct.pack("<H", len(url)) + url
    body += struct.pack("<IIIHH", value1, value2, flags, flag_word, len(trailer)) + trailer
    return struct.pack("<H", len(body) if length is None else length) + body


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    ok, bad = 0, 18
    live = dict(flags=0b000011, value1=0, value2=0xFFFFFFFF)  # bit 1 with bit 0, the values it needs
    cases = [
        ("file_upper", ok, 1, "C:\\clips\\a.mp4", {}),
        ("file_lower", ok, 1, "clip.mp4", dict(url=b"file://clip.mp4")),
        ("rtsp_lower", ok, 2, "rtsp://127.0.0.1/live", dict(url=b"rtsp://127.0.0.1/live")),
        ("rtsp_upper", ok, 2, "RTSP://127.0.0.1/x", dict(url=b"RTSP://127.0.0.1/x")),
        ("other_kind", ok, 0, "clip", dict(url=b"clip")),
        ("latin1_url", ok, 1, "C:\\d\u00e9j\u00e0.mp4", dict(url=b"file://C:\\d\xe9j\xe0.mp4")),
        ("version_0301", ok, 1, "C:\\clips\\a.mp4", dict(version=0x0301)),
        ("version_0201", bad, 0, "-", dict(version=0x0201)),
        ("version_0400", bad, 0, "-", dict(version=0x0400)),
        ("title_256", ok, 1, "C:\\clips\\a.mp4", dict(title=b"t" * 256)),
        ("title_257", bad, 0, "-", dict(title=b"t" * 257)),
        ("second_256", ok, 1, "C:\\clips\\a.mp4", dict(second=b"s" * 256)),
        ("second_257", bad, 0, "-", dict(second=b"s" * 257)),
        ("length_zero", bad, 0, "-", dict(length=0)),
        ("length_past_end", bad, 0, "-", dict(length=4000)),
        ("http_live", ok, 3, "http://127.0.0.1/a.mp4", dict(url=b"http://127.0.0.1/a.mp4", **live)),
        ("bit1_value1", bad, 0, "-", dict(live, value1=5)),
        ("bit1_value2", bad, 0, "-", dict(live, value2=0xFFFFFFFE)),
        ("bit1_header_bit0", bad, 0, "-", dict(live, flag_word=1)),
        ("bit1_header_bit1_trailer", bad, 0, "-", dict(live, flag_word=2, trailer=b"http://x/")),
        ("bit1_header_bit1_no_trailer", ok, 1, "C:\\clips\\a.mp4", dict(live, flag_word=2)),
        ("bit1_without_bit0", bad, 0, "-", dict(live, flags=0b10)),
        ("bit1_modes", ok, 1, "C:\\clips\\a.mp4", dict(live, flags=0b111111)),
        ("bit2_alone", bad, 0, "-", dict(flags=0b100)),
        ("bit3_alone", bad, 0, "-", dict(flags=0b1000)),
        ("bit4_alone", bad, 0, "-", dict(flags=0b10000)),
        ("bit5_alone", bad, 0, "-", dict(flags=0b100000)),
        ("bit0_alone", ok, 1, "C:\\clips\\a.mp4", dict(flags=0b1)),
        ("http_without_bit1", bad, 0, "-", dict(url=b"HTTP://127.0.0.1/a.mp4")),
        ("trailer", ok, 2, "rtsp://h/x", dict(url=b"rtsp://h/x", flag_word=0b110, trailer=b"http://127.0.0.1/next")),
    ]
    with open(os.path.join(out, "cases.txt"), "w", encoding="utf-8") as listing:
        for name, result, kind, url, fields in cases:
            with open(os.path.join(out, name + ".kcd"), "wb") as f:
                f.write(descriptor(**fields))
            listing.write(f"{name} {result} {kind} {url}\n")
        # Files too short for their length field.
        for name, data in (("empty", b""), ("one_byte", b"\x05")):
            with open(os.path.join(out, name + ".kcd"), "wb") as f:
                f.write(data)
            listing.write(f"{name} {bad} 0 -\n")


if __name__ == "__main__":
    main()
