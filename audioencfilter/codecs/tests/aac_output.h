// The output record a test hands the AAC codec object: an area of the
// capacity plus one frame, and the frame-length list.
#pragma once

#include <cstdint>
#include <vector>

#include "audioencfilter/aac_codec.h"

struct AacOutput {
  std::vector<uint8_t> area;
  std::vector<uint32_t> lengths = std::vector<uint32_t>(kAacFrameListLength);
  EncodedFrames frames = {};
  explicit AacOutput(uint32_t capacity) : area(capacity + kAacMaxFrameBytes) {
    frames.data = area.data();
    frames.frameLengths = lengths.data();
  }
};
