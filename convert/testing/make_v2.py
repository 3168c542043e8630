#!/usr/bin/env python3
"""Writes a version-2.0 MP4 content file for the conversion tests.

Layout: a 'udta' (or 'skip') atom holding 'krmm' and six UTF-16BE texts, the
'mdat', then the 'moov' with 'iods', 'mvhd' and the tracks; no 'ftyp'. Video
samples are an MPEG-4 visual elementary stream cut at its VOP start codes, so
the VOL travels in front of the first sample; audio samples are AMR frames in
the storage format (header byte and payload). Hint tracks carry their
per-sample records in their first sample description ('krbl', 'krts',
'krss', 'krau', 'krsi').

  make_v2.py OUT [--video F.m4v] [--fps N] [--layer2 F.m4v] [--amr F.amr]
             [--still] [--no-krmm] [--skip-krmm] [--title T] [--no-video-hint]
             [--video-start MS] [--layer2-start MS] [--audio-start MS]
             [--fault ftyp-first|mdat-last|two-moov|no-iods-mvhd|hint-first]
"""
import argparse
import struct


def be32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def atom(kind, *parts):
    body = b"".join(parts)
    return be32(8 + len(body)) + kind.encode("ascii") + body


def full(kind, version, flags, *parts):
    return atom(kind, bytes([version]) + struct.pack(">I", flags)[1:], *parts)


def descriptor(tag, body):
    n = len(body)
    size = bytes([0x80 | (n >> 21) & 0x7F, 0x80 | (n >> 14) & 0x7F, 0x80 | (n >> 7) & 0x7F, n & 0x7F])
    return bytes([tag]) + size + body


def text16(s):
    return s.encode("utf-16-be") + b"\0\0"


class Bits:
    def __init__(self):
        self.bits = []

    def put(self, value, n):
        for i in range(n - 1, -1, -1):
            self.bits.append((value >> i) & 1)

    def stuff(self):
        self.put(0, 1)
        while len(self.bits) % 8:
            self.put(1, 1)

    def bytes(self):
        out = bytearray()
        for i in range(0, len(self.bits), 8):
            v = 0
            for b in self.bits[i:i + 8]:
                v = v << 1 | b
            out.append(v)
        return bytes(out)


def enhancement_vol(width, height, resolution):
    """A video object and an enhancement-layer VOL (layer id 1, scalability
    set), as version-2.0 scalable content carries in its second layer."""
    b = Bits()
    b.put(0x00000100, 32)
    b.put(0x00000121, 32)
    b.put(0, 1)            # random_accessible_vol
    b.put(2, 8)            # simple scalable
    b.put(0, 1)            # is_object_layer_identifier
    b.put(1, 4)            # aspect_ratio_info
    b.put(0, 1)            # vol_control_parameters
    b.put(0, 2)            # rectangular
    b.put(1, 1)
    b.put(resolution, 16)
    b.put(1, 1)
    b.put(0, 1)            # fixed_vop_rate
    b.put(1, 1)
    b.put(width, 13)
    b.put(1, 1)
    b.put(height, 13)
    b.put(1, 1)
    b.put(0, 1)            # interlaced
    b.put(1, 1)            # obmc_disable
    b.put(0, 1)            # sprite_enable
    b.put(0, 1)            # not_8_bit
    b.put(0, 1)            # quant_type
    b.put(1, 1)            # complexity_estimation_disable
    b.put(1, 1)            # resync_marker_disable
    b.put(0, 1)            # data_partitioned
    b.put(1, 1)            # scalability
    b.put(0, 1)            # hierarchy_type
    b.put(0, 4)            # ref_layer_id
    b.put(0, 1)            # ref_layer_sampling_direc
    for _ in range(4):
        b.put(1, 5)        # sampling factors
    b.put(0, 1)            # enhancement_type
    b.stuff()
    return b.bytes()


def split_video(es):
    """Samples cut at VOP start codes; headers travel with the next VOP."""
    starts = []
    i = es.find(b"\x00\x00\x01\xb6")
    while i >= 0:
        starts.append(i)
        i = es.find(b"\x00\x00\x01\xb6", i + 4)
    samples = []
    for k, s in enumerate(starts):
        begin = 0 if k == 0 else s
        end = starts[k + 1] if k + 1 < len(starts) else len(es)
        samples.append(es[begin:end])
    config = es[:starts[0]] if starts else b""
    syncs = [k for k, s in enumerate(starts) if es[s + 4] >> 6 == 0]
    return samples, config, syncs


def split_amr(data):
    sizes = [13, 14, 16, 18, 20, 21, 27, 32, 6, 0, 0, 0, 0, 0, 0, 1]
    assert data.startswith(b"#!AMR\n")
    pos, frames = 6, []
    while pos < len(data):
        n = sizes[(data[pos] >> 3) & 0x0F]
        frames.append(data[pos:pos + n])
        pos += n
    return frames


class Track:
    def __init__(self, tid, handler, samples=(), delta=0, syncs=None, entry=b"", ref=None):
        self.tid, self.handler, self.samples = tid, handler, list(samples)
        self.delta, self.syncs, self.entry, self.ref = delta, syncs, entry, ref
        self.offsets = []

    def duration(self):
        return self.delta * len(self.samples)


def es_descriptor(object_type, stream_type, samples, config):
    biggest = max((len(s) for s in samples), default=0)
    total = sum(len(s) for s in samples)
    rate = total * 8 if samples else 0
    dc = bytes([object_type, stream_type << 2 | 1]) + struct.pack(">I", biggest)[1:] + be32(rate) + be32(rate)
    if config:
        dc += descriptor(0x05, config)
    body = struct.pack(">H", 1) + b"\0" + descriptor(0x04, dc) + descriptor(0x06, b"\x02")
    return full("esds", 0, 0, descriptor(0x03, body))


def visual_entry(samples, config, width, height):
    body = b"\0" * 6 + struct.pack(">H", 1) + b"\0" * 16 + struct.pack(">HH", width, height)
    body += be32(0x00480000) * 2 + be32(0) + struct.pack(">H", 1) + b"\0" * 32 + struct.pack(">hh", 24, -1)
    return atom("mp4v", body, es_descriptor(0x20, 4, samples, config))


def audio_entry(samples):
    body = b"\0" * 6 + struct.pack(">H", 1) + b"\0" * 8 + struct.pack(">HHHH", 1, 16, 0, 0) + be32(8000 << 16)
    return atom("mp4a", body, es_descriptor(0xD0, 5, samples, b""))


def hint_entry(kind, records):
    return atom(kind, b"\0" * 6 + struct.pack(">H", 1) + be32(len(records)) + b"".join(records))


def trak(t):
    handler = {"vide": "vide", "soun": "soun", "hint": "hint"}[t.handler]
    tkhd = full("tkhd", 0, 1, be32(0), be32(0), be32(t.tid), be32(0), be32(t.duration()), b"\0" * 8,
                b"\0" * 8, struct.pack(">9I", 0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000), be32(0), be32(0))
    mdhd = full("mdhd", 0, 0, be32(0), be32(0), be32(1000), be32(t.duration()), b"\0\0\0\0")
    hdlr = full("hdlr", 0, 0, be32(0), handler.encode(), b"\0" * 12, b"v2 handler\0")
    header = {"vide": full("vmhd", 0, 1, b"\0" * 8), "soun": full("smhd", 0, 0, b"\0" * 4),
              "hint": full("hmhd", 0, 0, b"\0" * 16)}[t.handler]
    dinf = atom("dinf", full("dref", 0, 0, be32(1), full("url ", 0, 1)))
    runs = []
    for _ in t.samples:
        if runs and runs[-1][1] == t.delta:
            runs[-1][0] += 1
        else:
            runs.append([1, t.delta])
    stts = full("stts", 0, 0, be32(len(runs)), b"".join(be32(c) + be32(d) for c, d in runs))
    # Chunks of up to three samples, so offsets inside a chunk matter.
    chunks = [t.offsets[i] for i in range(0, len(t.samples), 3)]
    stsc_entries = []
    for i in range(len(chunks)):
        n = min(3, len(t.samples) - 3 * i)
        if not stsc_entries or stsc_entries[-1][1] != n:
            stsc_entries.append((i + 1, n))
    stsc = full("stsc", 0, 0, be32(len(stsc_entries)), b"".join(be32(c) + be32(n) + be32(1) for c, n in stsc_entries))
    stsz = full("stsz", 0, 0, be32(0), be32(len(t.samples)), b"".join(be32(len(s)) for s in t.samples))
    stco = full("stco", 0, 0, be32(len(chunks)), b"".join(be32(o) for o in chunks))
    stsd = full("stsd", 0, 0, be32(1), t.entry)
    parts = [stsd, stts, stsc, stsz, stco]
    if t.syncs is not None:
        parts.append(full("stss", 0, 0, be32(len(t.syncs)), b"".join(be32(s + 1) for s in t.syncs)))
    stbl = atom("stbl", *parts)
    mdia = atom("mdia", mdhd, hdlr, atom("minf", header, dinf, stbl))
    children = [tkhd]
    if t.ref is not None:
        children.append(atom("tref", atom("hint", be32(t.ref))))
    children.append(mdia)
    return atom("trak", *children)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("out")
    p.add_argument("--video")
    p.add_argument("--fps", type=float, default=15)
    p.add_argument("--layer2")
    p.add_argument("--amr")
    p.add_argument("--still", action="store_true")
    p.add_argument("--no-krmm", action="store_true")
    p.add_argument("--skip-krmm", action="store_true")
    p.add_argument("--title", default="A version two clip")
    p.add_argument("--no-video-hint", action="store_true")
    p.add_argument("--video-start", type=int, default=0)
    p.add_argument("--layer2-start", type=int, default=0)
    p.add_argument("--audio-start", type=int, default=0)
    p.add_argument("--fault")
    a = p.parse_args()

    tracks, video_records, next_id = [], [], 1
    video_tracks = []
    delta = int(round(1000 / a.fps))
    if a.video:
        samples, config, syncs = split_video(open(a.video, "rb").read())
        w, h = 176, 144
        t = Track(next_id, "vide", samples, delta, syncs, visual_entry(samples, config, w, h))
        next_id += 1
        tracks.append(t)
        video_tracks.append(t)
        if a.layer2:
            s2, _, sy2 = split_video(open(a.layer2, "rb").read())
            vol = enhancement_vol(w, h, int(round(a.fps)))
            first = s2[0]
            vop = first[first.find(b"\x00\x00\x01\xb6"):]
            s2[0] = vol + vop
            t2 = Track(next_id, "vide", s2, delta, sy2, visual_entry(s2, vol, w, h))
            next_id += 1
            tracks.append(t2)
            video_tracks.append(t2)
    audio = None
    if a.amr:
        frames = split_amr(open(a.amr, "rb").read())
        audio = Track(next_id, "soun", frames, 20, None, audio_entry(frames))
        next_id += 1
        tracks.append(audio)

    hints = []
    if video_tracks and not a.no_video_hint:
        # One record per video sample in decode order: the base layer's
        # samples, each followed by the enhancement layer's of the same index.
        starts = [a.video_start, a.layer2_start]
        order = []
        for i in range(max(len(v.samples) for v in video_tracks)):
            for layer, v in enumerate(video_tracks):
                if i < len(v.samples):
                    order.append(layer)
        records = []
        for k, layer in enumerate(order):
            start = starts[k] if k < 2 else 0
            records.append(bytes([0, layer << 4]) + struct.pack(">H", start) + be32(0) + b"\0")
        kind = "krts" if len(video_tracks) == 2 else "krbl"
        hints.append(Track(next_id, "hint", [], 0, None, hint_entry(kind, records), video_tracks[0].tid))
        next_id += 1
    if audio:
        records = [struct.pack(">H", a.audio_start if i == 0 else 0) + be32(len(f)) + b"\0"
                   for i, f in enumerate(audio.samples)]
        hints.append(Track(next_id, "hint", [], 0, None, hint_entry("krau", records), audio.tid))
        next_id += 1
    if a.still:
        hints.append(Track(next_id, "hint", [], 0, None, hint_entry("krsi", [be32(1) + be32(0) + be32(2) + b"\0"])))
        next_id += 1

    texts = ["Content V2.0", a.title, "An author", "(c) Kestrune", "A description", "G"]
    krmm = atom("skip" if a.skip_krmm else "udta", b"krmm", *[text16(s) for s in texts])
    head = b""
    if a.fault == "ftyp-first":
        head = atom("ftyp", b"mp42", be32(0), b"mp42isom")
    if not a.no_krmm:
        head += krmm

    media = [t for t in tracks]
    payload = b"".join(s for t in media for s in t.samples)
    base = len(head) + 8
    pos = base
    for t in media:
        for s in t.samples:
            t.offsets.append(pos)
            pos += len(s)
    mdat = atom("mdat", payload)

    duration = max((t.duration() for t in media), default=0)
    iods = full("iods", 0, 0, descriptor(0x10, struct.pack(">H", 0x004F) + b"\xff\xff\xfe\x02\xff"))
    mvhd = full("mvhd", 0, 0, be32(0), be32(0), be32(1000), be32(duration), be32(0x10000), b"\x01\x00",
                b"\0" * 10, struct.pack(">9I", 0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000), b"\0" * 24,
                be32(next_id))
    all_tracks = media + hints
    if a.fault == "hint-first":
        all_tracks = hints + media
    body = [] if a.fault == "no-iods-mvhd" else [iods, mvhd]
    moov = atom("moov", *body, *[trak(t) for t in all_tracks])

    if a.fault == "mdat-last":
        # The media data moves behind the movie: its offsets are off, but the
        # parse stops before they matter.
        data = head + moov + mdat
    elif a.fault == "two-moov":
        data = head + mdat + moov + moov
    else:
        data = head + mdat + moov
    open(a.out, "wb").write(data)


if __name__ == "__main__":
    main()
