// Scalefactor estimation and loudness functions: the starting global gain
// and per-band scalefactors of the quantisation loops, the scalefactor
// difference rule, the perceptual entropy of a band, and the loudness
// model (threshold in quiet, loudness index, specific loudness).
#pragma once

#include "mp4aenc/error.h"

constexpr int kScfMaxDifference = 60;  // range of the scalefactor code

// Perceptual entropy of one band of `width` lines against threshold thr:
// count of lines with e = width * x^2 / thr > 1 plus half the log2 of the
// product of min(e, 1e9) (the product held at 1e290). thr must exceed
// FLT_MIN and width be positive, else a record (" threshold <= FLT_MIN",
// " zero sfb width") and *peOut stays as it was.
ErrorRecord* pe_calc(const float* lines, float thr, int width, float* peOut);

// Starting global gain from the largest of the bands' peak values (|x|^(3/4)
// domain): ceil(max(16/3 log2(m) - 69.3324 [+ (1 - m/S) * 35], 0)); 0 for
// silence. peaks holds one value per band.
int global_gain_estimate(int nBands, const float* peaks, int useSpread);
// Per band: scalefactor estimate (0 .. 20, flag 1 when non-zero) and the
// uncapped rounded value. values are |x|^(3/4) per line.
void scf_estimate(int nBands, const float* threshold, const float* energy, const int* widths,
                  const float* values, int globalGain, int* scfOut, int* flagsOut,
                  int* roundedOut);
// |x|, the sign (-1, 0, 1) and |x|^(3/4) per line.
void quantise_prepare(const float* in, float* absOut, int* signOut, float* powOut, int count);
// 1 when consecutive bands that carry energy differ by at most 60.
int scf_difference_ok(int nBands, const float* bandEnergy, const int* scalefactors);
// Per band max(1, (int)(2 log2 ratio)) when ratio >= minRatio, else 0.
void amplification_steps(int nBands, const float* ratios, float minRatio, int* out);
// Adds min(step, maxStep) to each band's scalefactor. When the result breaks
// the difference rule, the steps are taken back and the global gain is
// lowered by the largest step instead. Answers the largest step applied.
int scf_amplify(int nBands, const float* bandEnergy, const int* steps, int maxStep,
                int* scalefactors, int* globalGain);

// Loudness model.
float threshold_in_quiet(float f);  // f capped at 24000 Hz
float loudness_index(float f);
float loudness_constant(float thrQuiet, float index);
float specific_loudness(float thrQuiet, float index, float constant, float energy);
// type 0: values * factors; 1: energies * 9.876543e-6 * 0.253125 + values *
// factors * 0.5; 2: 2 * energies; a band whose value is 0 gets 1.
void rel_band_weight(int n, const float* values, const float* factors, const float* energies,
                     int type, float* out);
// Per band the sum of squares of width values taken every step floats.
void band_energy_strided(const float* spectrum, int step, int nBands, const int* widths,
                         float* out);
int op_hook(void);
