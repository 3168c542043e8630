#!/usr/bin/env bash
# Runs the psychoacoustic front's benchmark and, in the same run, a numpy
# peer of the same transforms (windowed MDCT of a long block and of eight
# short blocks through numpy's FFT, inverse MDCT with window).
# Usage: bench/psy_bench.sh build/native-bench/mp4AEnc/mp4aenc_psy_bench
set -euo pipefail
"$1" --benchmark_min_time=0.5
/usr/bin/python3 - <<'PY'
import timeit
import numpy as np

def mdct_setup(n):
    k = np.arange(n // 2)
    j = np.arange(n)
    # MDCT by an n-point FFT of the pre-twiddled block, then a post-twiddle.
    pre = np.exp(-1j * np.pi * j / n)
    post = np.exp(-1j * np.pi * (n / 4 + 0.5) * (2 * k + 1) / n)
    win = np.sin(np.pi / n * (j + 0.5)).astype(np.float32)
    return pre, post, win

def mdct(x, pre, post, win):
    return np.real(np.fft.fft(x * win * pre)[: len(x) // 2] * post)

def imdct(c, pre, post, win):
    n = 2 * len(c)
    full = np.concatenate([c * np.conj(post), np.zeros(n // 2)])
    return np.real(np.fft.ifft(full) * np.conj(pre)) * win * 2

rng = np.random.default_rng(1)
x = rng.normal(0, 3000, 2048).astype(np.float32)
L = mdct_setup(2048)
S = mdct_setup(256)
shorts = [x[448 + 128 * k: 448 + 128 * k + 256] for k in range(8)]
c = mdct(x, *L)

for name, fn in [
    ("numpy window long", lambda: x * L[2]),
    ("numpy MDCT long", lambda: mdct(x, *L)),
    ("numpy MDCT eight short", lambda: [mdct(s, *S) for s in shorts]),
    ("numpy IMDCT long + window", lambda: imdct(c, *L)),
]:
    n = 2000
    t = min(timeit.repeat(fn, number=n, repeat=3)) / n
    print("%-28s %8.2f us" % (name, t * 1e6))
PY
