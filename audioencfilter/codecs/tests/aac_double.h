// A double of the AAC encoder library's calls: records what the codec
// object asks, and answers one pending frame per encode call with a length
// the test chooses. It encodes nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audioencfilter/aac_library.h"

struct AacDouble {
  // What the codec object asked.
  int objectType = -1, sampleRate = 0, bitrate = 0, channels = 0;
  std::vector<int> offsets, strides;
  std::string coreName;
  std::vector<int> keys;  // every paramCtl entry, in order
  int bitstreamFormat = -1;
  bool optionSet = false, printed = false, closed = false, writerClosed = false;
  int encodeCalls = 0;
  std::vector<float> firstFrame;  // the samples of the first encode call
  // What it answers.
  uint32_t frameBytes = 200;
  bool failOpen = false, failEncode = false;

  static AacDouble* current;
  static const AacLibrary table;
};
