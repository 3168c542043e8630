// Mid/side coding of a channel pair with a common window: the per-band
// decision by perceptual entropy and the forward and inverse transforms of
// the spectra.
#pragma once

#include "mp4aenc/error.h"
#include "mp4aenc/psymain.h"

// Bits of PsyOut::jsFlags.
enum {
  kJsMs = 0x01,
  kJsIntensity = 0x02,
  kJsCleared = 0x04,  // cleared whenever a band becomes intensity-coded
  kJsPns = 0x08,
  kJsPnsCorrelated = 0x10,
  kJsLtp = 0x20,
  kJsMsOnIntensity = 0x40,
};

struct MsState {
  float scale;  // 0.5
  float msFac;  // "msFac": bigger prefers M/S
  int debug;    // "msDeb": 0 decide, 1 every band, 2 odd bands
  int isms;     // "isms": M/S on intensity bands
  int maskFeature;
  int mask[8 * kPsyMaxBands];  // the last decision: kJsMs, kJsPnsCorrelated, kJsMsOnIntensity
  float sumGain, sumLoss;      // of the last decision (debug mode 0)
};

// Reads "msFac" and "isms".
ErrorRecord* MsStereoInit(MsState** out, int debugMode, int noMsMask);
// Frees and clears the handle; a null handle is an error.
ErrorRecord* MsStereoFree(MsState** handle);

// The mid and side records of a pair: spectra (L + R) / 2 and (L - R) / 2,
// band energies from them, and one threshold per band for both: the smaller
// of the pair's, lowered where both mid and side lie above it (as the
// model's common threshold: T * sqrt(1 / (min / max + 1))).
void MsFillMidSide(const PsyOut* left, const PsyOut* right, PsyOut* mid, PsyOut* side);

// Decides M/S per band from startBand up and applies it: left and right take
// the mid and side bands (spectrum, energy, threshold). Both records' flags
// carry kJsMs on the M/S bands; the state keeps the mask.
ErrorRecord* MsStereoDecide(MsState* state, PsyOut* left, PsyOut* right, const PsyOut* mid, const PsyOut* side,
                            int startBand);

// The lines of the bands whose flags carry kJsMs: a, b := (a + b) * 0.5,
// (a - b) * 0.5 (forward) or a + b, a - b (inverse). Grouped layout: per
// group, per band, the group's windows one after another; offsets are one
// window's band offsets.
void MsForward(const int* jsFlags, int groups, const int* groupLength, int bands, int maxSfb, const int* offsets,
               float* a, float* b);
void MsInverse(const int* jsFlags, int groups, const int* groupLength, int bands, int maxSfb, const int* offsets,
               float* a, float* b);

// Band entropy of a grouped band (its lines and threshold); 0 for a
// threshold at or below the smallest normal float.
float MsBandPe(const float* lines, int width, float threshold);
