#!/usr/bin/env python3
"""An independent reader of raw data blocks, for the writer tests.

usage: ics_parse.py TABLES_DIR RATE HEX
Reads one raw_data_block (SCE, CPE, LFE, FIL, END; prediction data as
AAC-LTP's) with the Huffman books and
band tables of the shared tables folder and prints what it found as JSON:
per element its fields, per channel stream the sections, scalefactors, TNS
data and quantised values; fill elements with their counts; the bits read.
"""
import json
import os
import sys


def rows(path):
    with open(path) as f:
        return [l.split() for l in f if l.strip() and not l.startswith("#")]


class Bits:
    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos
        self.size = len(data) * 8
        self.value = int.from_bytes(data, "big")

    def get(self, n):
        if self.pos + n > self.size:
            raise ValueError("read past the end at bit %d" % self.size)
        self.pos += n
        return (self.value >> (self.size - self.pos)) & ((1 << n) - 1)


def vlc(path, nvalues):
    """Codewords keyed by (length, value)."""
    table = {}
    for r in rows(path):
        table[(len(r[1]), int(r[1], 2))] = [int(x) for x in r[3:3 + nvalues]]
    return table


def decode(bits, table):
    length = code = 0
    while True:
        code = (code << 1) | bits.get(1)
        length += 1
        if (length, code) in table:
            return table[(length, code)]
        if length > 20:
            raise ValueError("no codeword at bit %d" % bits.pos)


class Reader:
    """The books and band tables of one sample rate, read once."""

    def __init__(self, tables, rate):
        aac = os.path.join(tables, "aac")
        by_rate = {int(r[1]): r for r in rows(os.path.join(aac, "swb_table_by_rate.txt"))}
        if rate not in by_rate:
            raise ValueError("rate %d not in the table" % rate)
        r = by_rate[rate]
        self.long_off = [int(x[1]) for x in rows(os.path.join(aac, r[4] + ".txt"))]
        self.short_off = [int(x[1]) for x in rows(os.path.join(aac, r[5] + ".txt"))]
        self.scf = vlc(os.path.join(aac, "huffman_scalefactor.txt"), 1)
        self.books = {}
        for b in range(1, 12):
            self.books[b] = vlc(os.path.join(aac, "huffman_spectrum_cb%02d.txt" % b), 4 if b <= 4 else 2)

    def block(self, bits):
        """Reads one raw_data_block from bits; answers its elements and the
        CRC regions an ADTS error check protects, as (start, end, limit) in
        bit positions: 192 bits of each channel element from its instance tag
        (a pair's up to its second channel), 128 of a pair's second channel."""
        long_off, short_off, scf, books = self.long_off, self.short_off, self.scf, self.books
        regions = []

        def ltp_data(max_sfb):
            """ltp_data of an AAC-LTP long window: present bit, 11-bit lag,
            coefficient, one used bit per band up to 40."""
            if not bits.get(1):
                return {"present": 0}
            return {"present": 1, "lag": bits.get(11), "coef": bits.get(3),
                    "used": [bits.get(1) for _ in range(min(max_sfb, 40))]}

        def ics_info(pair=False):
            info = {"reserved": bits.get(1), "window_sequence": bits.get(2), "window_shape": bits.get(1)}
            if info["window_sequence"] == 2:
                info["max_sfb"] = bits.get(4)
                grouping = bits.get(7)
                groups = [1]
                for w in range(6, -1, -1):
                    if (grouping >> w) & 1:
                        groups[-1] += 1
                    else:
                        groups.append(1)
                info["groups"] = groups
            else:
                info["max_sfb"] = bits.get(6)
                info["predictor_data_present"] = bits.get(1)
                if info["predictor_data_present"]:
                    info["ltp"] = [ltp_data(info["max_sfb"]) for _ in range(2 if pair else 1)]
                info["groups"] = [1]
            return info

        def ics(common, info):
            out = {"global_gain": bits.get(8)}
            if not common:
                info = ics_info()
                out["ics_info"] = info
            short = info["window_sequence"] == 2
            off = short_off if short else long_off
            nb = len(off) - 1
            lenbits, esc = (3, 7) if short else (5, 31)
            sections, books_of = [], []
            for g in info["groups"]:
                k, gsec, gbooks = 0, [], [0] * info["max_sfb"]
                while k < info["max_sfb"]:
                    cb = bits.get(4)
                    length, pieces = 0, []
                    while True:
                        v = bits.get(lenbits)
                        pieces.append(v)
                        length += v
                        if v != esc:
                            break
                    gsec.append({"book": cb, "length": length, "pieces": pieces})
                    for b in range(k, k + length):
                        gbooks[b] = cb
                    k += length
                sections.append(gsec)
                books_of.append(gbooks)
            out["sections"] = sections
            # Noise bands (13) carry noise energies on their own chain, the
            # first as 9 bits from global_gain - 90; intensity bands (14, 15)
            # positions.
            sf, last = [], out["global_gain"]
            noise, position, first_noise = out["global_gain"] - 90, 0, True
            for gb in books_of:
                gs = []
                for cb in gb:
                    if cb == 0:
                        gs.append(None)
                        continue
                    if cb == 13:
                        noise += bits.get(9) - 256 if first_noise else decode(bits, scf)[0]
                        first_noise = False
                        gs.append(noise)
                        continue
                    if cb in (14, 15):
                        position += decode(bits, scf)[0]
                        gs.append(position)
                        continue
                    last += decode(bits, scf)[0]
                    gs.append(last)
                sf.append(gs)
            out["scalefactors"] = sf
            out["pulse_data_present"] = bits.get(1)
            tns_present = bits.get(1)
            out["tns"] = None
            if tns_present:
                wins = []
                for _ in range(8 if short else 1):
                    n_filt = bits.get(1 if short else 2)
                    w = {"n_filt": n_filt, "filters": []}
                    if n_filt:
                        res = bits.get(1)
                        w["coef_res"] = res
                        for _ in range(n_filt):
                            f = {"length": bits.get(4 if short else 6), "order": bits.get(3 if short else 5)}
                            if f["order"]:
                                f["direction"] = bits.get(1)
                                f["coef_compress"] = bits.get(1)
                                nbits = res + 3 - f["coef_compress"]
                                coefs = []
                                for _ in range(f["order"]):
                                    v = bits.get(nbits)
                                    if v >= 1 << (nbits - 1):
                                        v -= 1 << nbits
                                    coefs.append(v)
                                f["coef"] = coefs
                            w["filters"].append(f)
                    wins.append(w)
                out["tns"] = wins
            out["gain_control_data_present"] = bits.get(1)
            values = []
            for gi, g in enumerate(info["groups"]):
                for b in range(info["max_sfb"]):
                    cb = books_of[gi][b]
                    n = g * (off[b + 1] - off[b])
                    if cb == 0 or cb > 11:
                        values += [0] * n
                        continue
                    dim = 4 if cb <= 4 else 2
                    unsigned = cb in (3, 4, 7, 8, 9, 10, 11)
                    for _ in range(n // dim):
                        t = list(decode(bits, books[cb]))
                        if unsigned:
                            t = [-v if v and bits.get(1) else v for v in t]
                        if cb == 11:
                            for i, v in enumerate(t):
                                if abs(v) == 16:
                                    nb_ = 4
                                    while bits.get(1):
                                        nb_ += 1
                                    m = (1 << nb_) + bits.get(nb_)
                                    t[i] = -m if v < 0 else m
                        values += t
            out["values"] = values
            return out

        elements = []
        while True:
            ident = bits.get(3)
            if ident == 7:
                elements.append({"type": "END"})
                break
            if ident in (0, 3):
                at = bits.pos
                e = {"type": "SCE" if ident == 0 else "LFE", "tag": bits.get(4), "ics": [ics(False, None)]}
                regions.append((at, bits.pos, 192))
                elements.append(e)
            elif ident == 1:
                at = bits.pos
                e = {"type": "CPE", "tag": bits.get(4), "common_window": bits.get(1)}
                info = None
                if e["common_window"]:
                    info = ics_info(pair=True)
                    e["ics_info"] = info
                    e["ms_mask_present"] = bits.get(2)
                    if e["ms_mask_present"] == 1:
                        e["ms_used"] = [bits.get(1) for _ in info["groups"] for _ in range(info["max_sfb"])]
                e["ics"] = [ics(e["common_window"], info)]
                regions.append((at, bits.pos, 192))
                at = bits.pos
                e["ics"].append(ics(e["common_window"], info))
                regions.append((at, bits.pos, 128))
                elements.append(e)
            elif ident == 6:
                count = bits.get(4)
                e = {"type": "FIL", "count": count}
                if count == 15:
                    e["esc_count"] = bits.get(8)
                    count += e["esc_count"] - 1
                e["payload_bytes"] = count
                e["payload"] = [bits.get(8) for _ in range(count)]
                elements.append(e)
            else:
                raise ValueError("element %d not read here" % ident)
        return elements, regions


def main():
    tables, rate, frame = sys.argv[1], int(sys.argv[2]), bytes.fromhex(sys.argv[3])
    try:
        reader = Reader(tables, rate)
    except ValueError as e:
        sys.exit(str(e))
    bits = Bits(frame)
    try:
        elements, _ = reader.block(bits)
    except ValueError as e:
        sys.exit(str(e))
    print(json.dumps({"elements": elements, "bits": bits.pos, "frame_bits": len(frame) * 8}))


if __name__ == "__main__":
    main()
