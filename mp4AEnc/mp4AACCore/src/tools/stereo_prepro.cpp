#include "mp4aenc/stereo_prepro.h"

#include <cmath>
#include <cstdlib>

#include "mp4aenc/param.h"

static const char kModule[] = "mp4AEnc/mp4AACCore/src/tools/stereo_prepro";

ErrorRecord* stereo_prepro_create(StereoPrepro** out, int channels, long bitrate,
                                  float sampleRate) {
  *out = nullptr;
  int on = 0;
  param_get_flag("stPrePro", "use stereo preprocessing :dynamic attenuation of side channel "
                 "depending on the ratiobetween mid and side channel energy", nullptr, &on);
  if (!on) return nullptr;
  if (channels <= 0 || bitrate <= 0 || !(sampleRate > 0.0f))
    return error_create(kModule, __LINE__, nullptr, "invalid function parameters");

  auto* s = static_cast<StereoPrepro*>(std::calloc(1, sizeof(StereoPrepro)));
  if (!s) return error_create(kModule, __LINE__, nullptr, "out of memory");
  s->bitsPerChannelFrame = float(double(bitrate) * 1024.0 / sampleRate / channels);
  s->constAtt = 0.0f;
  param_get_float("ConstAtt", 0.0f, 200.0f, nullptr, nullptr, &s->constAtt);
  s->maxAtt = 12.0f;
  param_get_float("stPreproMax", 0.0f, 20.0f, "stereo preproc max Impact [dB]", nullptr, &s->maxAtt);
  s->resolution = 0.5f;
  param_get_float("stPreproRes", 0.0f, 1.0f, "stereo preproc table lookup resolution [db]", nullptr,
                  &s->resolution);
  s->attInc = sampleRate * 7.8125e-6f;
  param_get_float("AttInc", 0.0f, 10.0f, nullptr, nullptr, &s->attInc);
  s->attDec = sampleRate * 6.25e-7f;
  param_get_float("AttDec", 0.0f, 10.0f, nullptr, nullptr, &s->attDec);
  s->smMin = 5.0f;
  param_get_float("SMMin", -100.0f, 0.0f, nullptr, nullptr, &s->smMin);
  s->smMax = 25.0f;
  param_get_float("SMMax", -10.0f, 100.0f, nullptr, nullptr, &s->smMax);
  s->impFac = 0.0f;
  param_get_float("ImpFac", 0.0f, 500.0f, "PEImpFac", nullptr, &s->impFac);
  float impFacMod = 1.0f;
  param_get_float("impFacMod", 0.0f, 500.0f, "PEImpFacModifier", nullptr, &impFacMod);
  if (s->impFac == 0.0f) s->impFac = float(impFacMod * 2.4e10 / (double(bitrate) * bitrate));
  s->peMin = 250.0f;
  s->peMax = 550.0f;
  s->peFactorMax = 100.0f;
  if (s->constAtt > 0.0f) s->maxAtt = s->constAtt;
  // A zero resolution would divide by zero; one table entry per 0.5 dB is
  // the design value.
  if (!(s->resolution > 0.0f)) s->resolution = 0.5f;
  s->attenuation = s->maxAtt * std::fmax(0.0f, 1.0f - float(bitrate) / 96000.0f);

  s->tableSize = int(s->maxAtt / s->resolution) + 1;
  s->midWeight = static_cast<float*>(std::malloc(sizeof(float) * size_t(s->tableSize)));
  s->sideWeight = static_cast<float*>(std::malloc(sizeof(float) * size_t(s->tableSize)));
  if (!s->midWeight || !s->sideWeight) {
    stereo_prepro_free(s);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  s->midWeight[0] = 1.0f;
  s->sideWeight[0] = 0.0f;
  for (int i = 1; i < s->tableSize; ++i) {
    double u = std::pow(10.0, -(i * double(s->resolution)) / 20.0);
    s->midWeight[i] = float((1.0 + u) / 2.0);
    s->sideWeight[i] = float((1.0 - u) / 2.0);
  }
  *out = s;
  return nullptr;
}

void stereo_prepro_free(StereoPrepro* state) {
  if (!state) return;
  std::free(state->midWeight);
  std::free(state->sideWeight);
  std::free(state);
}

void stereo_prepro_frame(StereoPrepro* s, float* left, float* right, int n) {
  if (!s) return;
  s->ratio = float(0.1 * 10.0 * std::log10((double(s->sideEnergy) + 1.0) / (double(s->midEnergy) + 1.0)) +
                   0.9 * s->ratio);
  float stereoFactor;
  if (s->ratio <= s->smMin) stereoFactor = 1.0f;
  else if (s->ratio > s->smMax) stereoFactor = 0.0f;
  else stereoFactor = (s->smMax - s->ratio) / (s->smMax - s->smMin);

  float x = s->entropy / s->bitsPerChannelFrame * 1000.0f;
  float peFactor = 0.0f;
  if (x > s->peMin) {
    float r = (x - s->peMin) / (s->peMax - s->peMin);
    peFactor = std::fmin(r * r, s->peFactorMax);
  }

  float target;
  if (s->constAtt > 0.0f) {
    target = s->constAtt;
  } else {
    target = std::fmin(peFactor * s->impFac * stereoFactor, s->maxAtt);
    target = std::fmin(target, s->attenuation + s->attInc);
    target = std::fmax(target, s->attenuation - s->attDec);
  }
  s->attenuation = target;

  // The table holds one entry per `resolution` dB, so the attenuation is
  // scaled to it before rounding (indexing by dB would apply only half of it
  // at the default 0.5 dB resolution).
  int index = int(std::lround(s->attenuation / s->resolution));
  if (index < 0) index = 0;
  if (index >= s->tableSize) index = s->tableSize - 1;
  const float a = s->midWeight[index], b = s->sideWeight[index];
  for (int i = 0; i < n; ++i) {
    float l = left[i], r = right[i];
    left[i] = a * l + b * r;
    right[i] = b * l + a * r;
  }
}

void stereo_prepro_post(StereoPrepro* s, float midEnergy, float sideEnergy, float entropy) {
  if (!s) return;
  s->midEnergy = midEnergy;
  s->sideEnergy = sideEnergy;
  s->entropy = entropy;
}
