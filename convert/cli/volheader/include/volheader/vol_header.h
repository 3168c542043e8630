// The MPEG-4 visual configuration at the front of a version-2.0 video layer's
// first sample, rewritten as a reduced header with a fixed profile and tool
// set for version 3.0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "volheader/bits.h"

namespace volheader {

struct VolHeaderInfo {
  bool shortHeader = false;
  uint32_t layerId = 0;
  uint32_t timeIncrementResolution = 0;
  int timeIncrementBits = 1;
  uint32_t fixedVopRate = 0;
  uint32_t fixedVopTimeIncrement = 0;
  uint32_t width = 0, height = 0;
  uint32_t resyncMarkerDisable = 0, dataPartitioned = 0, reversibleVlc = 0;
  uint32_t scalability = 0;
  uint32_t hierarchyType = 0, refLayerId = 0, refLayerSamplingDirection = 0;
  uint32_t samplingFactors[4] = {};
};

constexpr size_t kMaxVolHeader = 48;

// What passes between the converter and the rewrite: the sample, its byte
// count (replaced by the old header's length) and the new header.
struct VolRewrite {
  const uint8_t* data = nullptr;
  size_t length = 0;
  uint8_t out[kMaxVolHeader] = {};
  size_t outLength = 0;
};

// layer 0: base layer or still image; any other: enhancement layer.
bool RewriteVolHeader(VolRewrite* r, int layer);
bool FindVolHeaderEnd(const uint8_t* data, size_t* length);
int ParseVolHeader(BitReader& in, VolHeaderInfo* info, int layer);
int WriteVolHeader(BitBuffer& out, const VolHeaderInfo& info, uint32_t profile);

}  // namespace volheader
