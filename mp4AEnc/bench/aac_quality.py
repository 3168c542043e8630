#!/usr/bin/env python3
"""Quality figures of a decoded stream against its source.

usage: aac_quality.py REF.wav DECODED.s16le
Prints: delay (samples, found by cross-correlation), segmental SNR (dB, per
1024-sample segment, clipped to -10..35, silent segments skipped) and an
NMR proxy: per frame and Bark band the error energy over a masking threshold
of the original (band energy spread by a simple two-slope function, minus
a fixed 14 dB offset); the mean NMR in dB and the share of bands above 0 dB.
"""
import sys
import wave

import numpy as np


def read(path):
    w = wave.open(path)
    d = np.frombuffer(w.readframes(w.getnframes()), "<i2").astype(float).reshape(-1, w.getnchannels())
    return d, w.getframerate()


def main():
    ref, rate = read(sys.argv[1])
    dec = np.frombuffer(open(sys.argv[2], "rb").read(), "<i2").astype(float).reshape(-1, ref.shape[1])
    a, b = ref[:, 0], dec[:, 0]
    span = min(len(a), 60000)
    corr = [np.dot(a[:span - 4096], b[d:d + span - 4096]) for d in range(0, 4096)]
    delay = int(np.argmax(corr))
    dec = dec[delay:delay + len(ref)]
    ref = ref[:len(dec)]
    L = 1024
    seg = []
    for i in range(0, len(dec) - L, L):
        p = np.sum(ref[i:i + L] ** 2)
        if p < 1e3 * L:
            continue
        e = np.sum((ref[i:i + L] - dec[i:i + L]) ** 2)
        seg.append(np.clip(10 * np.log10(p / max(e, 1e-9)), -10, 35))
    # Bark bands of a 2048-point spectrum.
    freqs = np.fft.rfftfreq(2 * L, 1.0 / rate)
    bark = 13 * np.arctan(0.00076 * freqs) + 3.5 * np.arctan((freqs / 7500.0) ** 2)
    band = np.minimum(bark.astype(int), 24)
    nb = band.max() + 1
    spread = np.zeros((nb, nb))
    for i in range(nb):
        for j in range(nb):
            dz = j - i
            # masker i on band j: -15 dB per Bark upwards, -27 dB downwards
            spread[i, j] = 10 ** ((-15 * dz if dz >= 0 else 27 * dz) / 10.0)
    win = np.hanning(2 * L)
    nmr, above = [], 0
    for ch in range(ref.shape[1]):
        for i in range(0, len(dec) - 2 * L, L):
            x = np.abs(np.fft.rfft(ref[i:i + 2 * L, ch] * win)) ** 2
            e = np.abs(np.fft.rfft((ref[i:i + 2 * L, ch] - dec[i:i + 2 * L, ch]) * win)) ** 2
            ex = np.bincount(band, x, nb)
            ee = np.bincount(band, e, nb)
            if ex.sum() < 1e6:
                continue
            mask = (spread.T @ ex) * 10 ** (-14 / 10.0) + 1e-3
            r = 10 * np.log10((ee + 1e-9) / mask)
            nmr.extend(r)
            above += int(np.sum(r > 0))
    nmr = np.array(nmr)
    print("delay %d segsnr %.2f nmr_mean %.2f above0 %.1f%%" %
          (delay, np.mean(seg), np.mean(nmr), 100.0 * above / max(len(nmr), 1)))


if __name__ == "__main__":
    main()
