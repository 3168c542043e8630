// Intensity stereo defaults by bitrate and sample rate.
#include "mp4aenc/tool_params.h"

static const char kModule[] = "mp4AEnc/mp4AACCore/src/tools/isparam";

namespace {

struct IsRow {
  unsigned minRate, maxRate;
  float minFs, maxFs;
  IsParam a, b;
};

const IsRow kIsRows[] = {
    {16000, 31999, 8000, 15999, {120, 0.7f, 2500, 3500, 1.0f, 3}, {200, 0.7f, 2500, 3500, 0.4f, 3}},
    {16000, 31999, 16000, 32000, {120, 0.7f, 3000, 4000, 1.0f, 3}, {200, 0.7f, 3000, 4000, 0.4f, 3}},
    {32000, 39999, 16000, 44100, {120, 0.7f, 3300, 6000, 1.0f, 3}, {200, 0.7f, 6500, 7000, 0.4f, 3}},
    {40000, 55999, 22050, 48000, {120, 0.7f, 4500, 6000, 0.7f, 3}, {200, 0.7f, 6500, 7000, 0.3f, 3}},
    {56000, 79999, 22050, 48000, {120, 0.7f, 5000, 8000, 0.4f, 4}, {200, 0.7f, 7000, 9000, 0.25f, 4}},
    {80000, 95999, 32000, 48000, {120, 0.7f, 6000, 10000, 0.2f, 4}, {200, 0.7f, 6000, 10000, 0.2f, 4}},
    {96000, 127999, 32000, 48000, {120, 0.7f, 7000, 10000, 0.2f, 4}, {200, 0.7f, 7000, 10000, 0.15f, 4}},
    {128000, 256000, 32000, 48000, {120, 0.7f, 10000, 14000, 0.1f, 4}, {200, 0.7f, 10000, 14000, 0.1f, 4}},
};

}  // namespace

ErrorRecord* is_param_lookup(IsParam* out, int mode, unsigned bitrate, float sampleRate) {
  if (mode >= 0 && mode <= 3) {
    for (const IsRow& r : kIsRows) {
      if (bitrate < r.minRate || bitrate > r.maxRate || sampleRate < r.minFs ||
          sampleRate > r.maxFs)
        continue;
      *out = mode == 2 ? r.b : r.a;
      return nullptr;
    }
  }
  return error_create(kModule, 98, nullptr,
                      "no Intensity parameter set for given bitrate/sampling rate combination");
}
