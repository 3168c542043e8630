// Intensity stereo of a channel pair with a common window: per band an
// intensity spectrum, position and threshold from the pair's analysis
// spectra, the border band above which the pair is coded as one spectrum
// and a position, and the application to the pair's records.
#pragma once

#include "mp4aenc/error.h"
#include "mp4aenc/ms_stereo.h"
#include "mp4aenc/psymain.h"

// Per-band arrays hold group * bands per window + band.
constexpr int kIsBands = 120;
constexpr int kIsNoPosition = int(0x80000000u);

// One set for long and one for short blocks, from the intensity table of
// the operating point (set A long, set B short).
struct IsBorderParams {
  float peAllowance;  // per frame: (mean frame bits of the pair - bit offset) * PE per bit
  int minBorder, defBorder;
  float weight;    // of the allowance's overshoot
  int hysteresis;  // bands
  float peToBits;  // 1 / PE per bit
};

struct IsState {
  int position[kIsBands];  // -30..30; decoders scale the right channel by 2^(-position / 4)
  int outOfPhase[kIsBands];
  int isOn[kIsBands];      // of the last decision
  int forced[kIsBands];    // "isb", "ism1", "ism2" (by band of a window)
  int firstForced;         // kIsBands: none
  float gain[kIsBands], energy[kIsBands], threshold[kIsBands], pe[kIsBands];
  float peLeft[kIsBands], peRight[kIsBands];  // left and right at the analysis
  float spectrum[1024];    // grouped order, as the records'
  int lastBorder, sameCount, prevBlockType;
  int iso, ict, ictCounter;  // the conformance counter is this instance's
  int isMode;                // "isMode": 0 entropy demand, 1 workload, 2 regions
  IsBorderParams longBorder, shortBorder;
  float bitSave;  // of the last border decision
};

// Reads "isb", "ism1", "ism2", "isf", "isMode", "iso" and "ict". pairBitrate
// and sampleRate pick the table row (its error when none holds them).
ErrorRecord* IntensityInit(IsState** out, float sampleRate, long pairBitrate, int frameLength,
                           const int* longOffsets, int nLongBands, const int* shortOffsets, int nShortBands);
void IntensityFree(IsState* state);

// After a start block, on a stop block, or without a common window every
// band is reset; a start block leaves the short default border, a stop
// block the long one.
void IntensityBlockSwitch(IsState* state, int blockType, int commonWindow);

// The border parameters of a block type.
const IsBorderParams* IntensityBorderParams(const IsState* state, int blockType);

// Positions, phases, the intensity spectrum, energies and thresholds per
// band from minBorder up. Spectra: one complex analysis spectrum (re, im
// interleaved) per window of the frame, nLines lines each (1024 long, 128
// short); left and right are the records before mid/side.
void IntensityAnalyse(IsState* state, int nLines, const float* const* leftSpectra, const float* const* rightSpectra,
                      const PsyOut* left, const PsyOut* right, const IsBorderParams* border);

// The border band per group and the bands coded as intensity (isOn);
// loadPe is the reservoir's fill (0..1), workload the channel's. Adds the
// saving in bits to *bitSave. "unknown IS evaluation method" for a mode
// outside 0..2.
ErrorRecord* IntensityBorder(IsState* state, const float* peLeft, const float* peRight, const PsyOut* left,
                             const IsBorderParams* border, float loadPe, float workload, float* bitSave);

// Intensity bands: flags kJsIntensity (without kJsMs and kJsLtp), the left record
// takes the intensity spectrum, energy and threshold, the right is cleared.
// Other bands lose their intensity state.
void IntensityApply(IsState* state, PsyOut* left, PsyOut* right, MsState* ms);
