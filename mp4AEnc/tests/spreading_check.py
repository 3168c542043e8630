#!/usr/bin/env python3
"""Checks the partition tables' spreading function against numpy.

usage: spreading_check.py PSY_DUMP_PROGRAM
The program prints the partition centres and its sparse spreading matrix;
this script computes the model-2 spreading function of every pair with
numpy, applies the same slopes, cut-off (1e-5) and normalisation, and
compares. Prints '1 passed, 0 failed' or exits non-zero.
"""
import subprocess
import sys

import numpy as np


def main():
    out = subprocess.run([sys.argv[1]], check=True, capture_output=True, text=True).stdout
    tables, current = {}, None
    for line in out.splitlines():
        f = line.split()
        if f[0] == "table":
            current = {"n": int(f[2]), "lower": float(f[3]), "upper": float(f[4]),
                       "noLower": int(f[5]), "noMasking": int(f[6]),
                       "centre": [], "norm": [], "spread": {}}
            tables[f[1]] = current
        elif f[0] == "centre":
            current["centre"].append(float(f[2]))
        elif f[0] == "norm":
            current["norm"].append(float(f[2]))
        elif f[0] == "spread":
            current["spread"][(int(f[1]), int(f[2]))] = float(f[3])
    failures = 0
    for name, t in tables.items():
        z = np.array(t["centre"], dtype=np.float32).astype(np.float64)
        # dz[i, j]: maskee i minus masker j, scaled by the slope of its side.
        dz = z[:, None] - z[None, :]
        dz = np.where(dz >= 0, dz * t["upper"], dz * t["lower"])
        u = dz - 0.5
        x = np.where((dz >= 0.5) & (dz <= 2.5) & (t["noMasking"] == 0), 8 * (u * u - 2 * u), 0.0)
        v = dz + 0.474
        y = 15.811 + 7.5 * v - 17.5 * np.sqrt(1 + v * v)
        s = np.where(y <= -100, 0.0, 10 ** ((x + y) / 10))
        if t["noLower"]:
            s = np.where(z[:, None] - z[None, :] < 0, 0.0, s)
        want_norm = 1.0 / s.sum(axis=1)
        got_norm = np.array(t["norm"])
        if not np.allclose(got_norm, want_norm, rtol=1e-5):
            print(name, "normalisation differs, worst", np.max(np.abs(got_norm / want_norm - 1)))
            failures += 1
        got = np.zeros_like(s)
        for (i, j), value in t["spread"].items():
            got[i, j] = value
        # Every value kept must match; every value dropped must be negligible.
        kept = got != 0
        if not np.allclose(got[kept], s[kept], rtol=1e-5):
            print(name, "spreading values differ")
            failures += 1
        if np.any(s[~kept] > 1e-5 * 1.0001):
            print(name, "a value above 1e-5 was dropped")
            failures += 1
        if kept.sum() < t["n"] * 3:
            print(name, "too few spreading values kept")
            failures += 1
    print("%d passed, %d failed" % (1 if failures == 0 else 0, 1 if failures else 0))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
