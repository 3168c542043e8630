// The channel element map: which channels form which syntax element, with
// each element's coding-tool switches, and the sampling frequency index.
#pragma once

#include "mp4aenc/error.h"

enum AacElementKind { kAacSingle = 0, kAacPair = 1, kAacCoupling = 2, kAacLfe = 3 };

constexpr int kAacMaxChannels = 9;
constexpr int kAacMaxElements = 9;

// In this order: temporal noise shaping, prediction, noise substitution,
// long-term prediction.
struct AacToolSwitches {
  int tns, prediction, pns, ltp;
};

struct AacChannelElement {
  int kind;
  int tag;
  int first, second;  // channel indices; second only for pairs
  int channels;
  int ms, intensity;  // pairs only
  AacToolSwitches left, right;  // single-channel elements use left
};

struct AacChannelMapHeader {
  int elementCount;
  int configuration;  // channel configuration number
  int firstIsPair;
  int channels;       // the count the map was built from
  AacChannelElement* elements;
};

struct AacChannelMap {
  AacChannelMapHeader header;
  AacChannelElement elements[kAacMaxElements];
};

// Builds the map for 1-6 or 8 channels with the default switches (temporal
// noise shaping and mid/side on, the rest off; long-term prediction on when
// ltp is set). "this number of channels is not supported" otherwise.
ErrorRecord* aac_channel_map_build(AacChannelMap* map, int channels, int ltp);

// Adds a coupling element that couples to the elements listed (indices into
// the map); only single and pair elements can be targets. Without switches
// of its own (null), every single-channel target takes over the coupling
// element's switches.
ErrorRecord* aac_channel_map_add_coupling(AacChannelMap* map, int channel, const int* targets,
                                          int targetCount, const AacToolSwitches* switches);

// Position of the rate in 96000, 88200, 64000, 48000, 44100, 32000, 24000,
// 22050, 16000, 12000, 11025, 8000; -1 for any other rate.
int aac_sampling_index(long sampleRate);
long aac_sampling_rate(int index);  // 0 outside 0..11
