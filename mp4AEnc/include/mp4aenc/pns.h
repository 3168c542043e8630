// Perceptual noise substitution: the parameter set of the operating point,
// the per-band noise measure, and the tool that marks, resolves (pairs) and
// substitutes noise-like bands.
#pragma once

#include "mp4aenc/error.h"
#include "mp4aenc/psymain.h"

struct PnsParam {
  int16_t startSfbLong, startSfbShort;
  float refHomogen, refPowDist, refSfm, refPsychTon, refGlobTon, tnsGainThr;
  int32_t minSfbWidth, shDftGroup, smoothLE, useHomogen, usePowDist, useSfm, usePsychTon, useGlobTon, useTnsGainThr;
  int32_t sampleRate;
  int32_t value1, value2;
  int32_t counters[3];  // [1] homogeneity and [2] power-distribution failures
};

struct PnsBands {
  float sampleRate, bandwidth;
  long bitrate;
  int nBands;
  const int* offsets;  // nBands + 1
};

// Picks the row of info table "pns-infoTabNr" (the last that matches the
// bitrate and bandwidth), then the typed parameters override it. Low-delay
// object types (23) use the six-row table.
ErrorRecord* pns_param_create(PnsParam* param, const PnsBands* longBands, const PnsBands* shortBands, int value1,
                              int value2, int audioObjectType);

// 1 when reference is not above 0; else by r = value / reference: 1 below
// low, falling linearly to 0 at high.
float ramp(float value, float reference, float low, float high);

// Spectral flatness of energies (geometric over arithmetic mean, each value
// scaled by 1e-10); 0 when their sum is 0.
double pns_flatness(const float* energy, int n);

// The noise measure per band (1 noise-like, 0 not). history: the smoothed
// long energies (nBands offsets[nBands] floats, kept by the caller);
// shortEnergy: 2 * b short power spectra, 128 apart; longEnergy: one long
// power spectrum; tonality per band.
// "pnsBandMode" other than 0: the measure works on 32 uniform bands, edges
// i * lines / 32; a scale-factor band takes the smallest measure of the
// uniform bands its lines fall in (band 32 * line / lines), 1 without lines.
constexpr int kPnsUniformBands = 32;
void pns_uniform_edges(int lines, int* edges);
void pns_measure_from_uniform(const float* uniform, int nBands, const int* offsets, int lines, float* measure);

void pns_noise_detection(float* history, const float* shortEnergy, const float* longEnergy, int nBands,
                         const int* offsets, float* noiseOut, PnsParam* param, const float* tonality, int b);

constexpr int kPnsBands = 120;
constexpr int kPnsNoValue = int(0x80000000u);

struct PnsState {
  int pnsMode;           // 0 all bands, 1 measure alone, 2 detection, 3 detection avoiding holes
  int blocktypeMode;     // 0x1 long, 0x2 short
  int bandMode;
  float corrMinEnergy, corrThreshold;
  float measure[kPnsBands];
  float energyPerWindow[kPnsBands];
  int value[kPnsBands];
  float correlation[kPnsBands];
  PnsParam longParam, shortParam;
  float history[1024];
};

struct PnsPrevious {
  int value[kPnsBands];
  unsigned char substituted[kPnsBands];
};

// Reads "pnsMode", "pnsBlocktypeMode", "pnsBandMode" (defaults as given).
ErrorRecord* PnsInit(PnsState** out, const PnsBands* longBands, const PnsBands* shortBands, int frameLength,
                     int audioObjectType, int pnsModeDefault, int blocktypeModeDefault, int bandModeDefault);
void PnsFree(PnsState* state);
// Band correlation of a common-window pair from the band energies of left,
// right and mid (0.5 (L + R)).
void PnsCorrelation(const PsyOut* left, const PsyOut* right, const PsyOut* mid, PnsState* l, PnsState* r);
// Marks 0x08 on noise-like bands (measure per band given by the caller in
// state->measure, or computed from it); allowed: optional per band.
void PnsDetect(PnsState* state, PsyOut* channel, int* allowed);
// M/S, intensity and PNS per band of a pair; msMask is the M/S mask.
void PnsPair(PsyOut* left, PsyOut* right, PnsState* l, PnsState* r, int* msMask);
// Noise energy values of the marked bands (2 log2 of the energy per window,
// neighbours within 60), their lines and energy cleared.
void PnsSubstitute(PnsState* state, PsyOut* channel, PnsPrevious* previous, int startBand);
