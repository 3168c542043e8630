// Temporal noise shaping of the encoder: per channel and frame the decision,
// quantised reflection coefficients, the all-zero filter over the spectrum,
// the per-band threshold factors, and the inverse (all-pole) filter. All
// settings are per instance.
#pragma once

#include <cstdint>

#include "mp4aenc/error.h"
#include "mp4aenc/tool_params.h"

constexpr int kTnsMaxOrderAny = 31;
constexpr int kTnsMaxBandsAny = 115;

struct TnsFilter {
  int order;
  int resolution;   // 3 or 4 bits
  int direction;    // 0 up, 1 down
  int startBand, stopBand;
  float gain;       // prediction gain of the analysis
  float reflection[kTnsMaxOrderAny + 1];  // from the analysis, index 1 .. order
  int16_t index[kTnsMaxOrderAny + 1];     // quantised, index 1 .. order
  float quantGain;  // 1 / prod(1 - k^2) of the quantised coefficients
  float a[kTnsMaxOrderAny + 1];           // direct form of the quantised filter
};

struct TnsWindow {
  int nFilters;  // 0 .. 2
  TnsFilter filter[2];
  int topBand;
  float predictionGain;  // of the analysis, also when TNS stays off
  float factors[kTnsMaxBandsAny];  // threshold factors, 1 where TNS does not touch
};

struct TnsBandRecord {
  int maxOrder;
  float gainLimit;  // long blocks use 4-bit coefficients above it (automatic mode)
  int nFilters;     // two filters need more than 1
  int startFreq;    // Hz
  int splitFreq;    // Hz
};

struct TnsInfo {
  int active;
  int orderLimitLong, orderLimitShort;
  int nWindows;
  TnsWindow window[8];
  float lagLong[kTnsMaxOrderAny + 1], lagLong2[kTnsMaxOrderAny + 1],
      lagShort[kTnsMaxOrderAny + 1];
  TnsBandRecord longRecord, shortRecord;
  TnsParam param;
  int enabled;
  // Settings ("tnr", "tnb", sync, "tnsra", "tnsCrit", "tnp").
  int resolution;
  int blockTypeMode;
  int sync;
  int rangeAnalysis;
  float crit;
  int debugLevel;
  float sampleRate;
  AudioObject object;
  int frameLength, nShort;
};

// A profile whose MPEG flag is neither 0 nor 1, or a failed allocation,
// answers a record and no state.
ErrorRecord* tns_create(TnsInfo** out, float sampleRate, int bitratePerChannel, int channelMode,
                        int enhancement, AudioObject profile, int frameLength, int nShort);
void tns_delete(TnsInfo* state);
ErrorRecord* tns_duplicate(TnsInfo* dst, const TnsInfo* src);

// The decision for one frame. spectrum: frameLength lines, for eight-short
// blocks interleaved (line k of window w at k * nShort + w). sfbOffsets: the
// band table of one window.
void tns_analyse(TnsInfo* state, const float* spectrum, const int* sfbOffsets, int nBands,
                 int blockType, int resolutionHint, int codedBands, int layerFlag);
// The louder channel's decision to the other (nothing when sync is off).
void tns_sync(TnsInfo* left, TnsInfo* right, const float* specLeft, const float* specRight,
              int frameLength);
// Quantises, filters the spectrum in place and sets the threshold factors.
void tns_filter(TnsInfo* state, float* spectrum, const int* sfbOffsets, int nBands, int blockType);
// The decided filters (all-zero, as tns_filter left them) on another
// spectrum of the same block, changing no state.
void tns_apply_filter(const TnsInfo* state, float* spectrum, const int* sfbOffsets, int nBands,
                      int blockType);
// Undoes tns_filter on a spectrum (all-pole filter over the same ranges).
void tns_inverse_filter(const TnsInfo* state, float* spectrum, const int* sfbOffsets, int nBands,
                        int blockType);
void tns_apply_to_thresholds(const TnsInfo* state, int window, int nBands, float* thresholds);

// Quantiser of ISO/IEC 13818-7: index = nearest(asin(k) * q), halves away
// from zero; answers the dequantised value sin(index / q).
float tns_quantise_coefficient(float k, int resolution, int16_t* index);
// Quantises a filter's reflection coefficients, drops trailing ones at or
// below 0.1 and (crit > 0) cuts the order; sets quantGain and a.
void tns_quantise_filter(TnsFilter* filter, float crit);
