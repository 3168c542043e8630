// The bandwidth rows and threshold parameter sets of the psychoacoustic model
// (psy_tables.cpp); the lookups are in psy_conf.cpp.
#pragma once

#include "mp4aenc/psy_conf.h"

struct BandwidthRow {
  int channelMode;
  int minBitrate, maxBitrate;  // per channel, inclusive
  float minRate, maxRate;      // sample rate, inclusive
  float longBw, shortBw;       // Hz
  float longHighBw, shortHighBw;
};

struct ThrRow {
  int minBitrate, maxBitrate;  // per channel, inclusive
  ThrParamSet longSets[3];     // variant 0 (the encoder's), 1 (pairs), 2 (others)
  ThrParamSet shortSets[3];
};

extern const BandwidthRow kBandwidthRows[];
extern const int kBandwidthRowCount;
// Low-delay object types (5, 23) are never opened here: their tables are
// empty.
extern const BandwidthRow* const kBandwidthRowsLowDelay;
extern const int kBandwidthRowCountLowDelay;
extern const ThrRow kThrRows[];
extern const int kThrRowCount;
extern const ThrRow* const kThrRowsLowDelay;
extern const int kThrRowCountLowDelay;
