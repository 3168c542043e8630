// The internal decoder's reconstruction.
#include "mp4aenc/tf_int_dec.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mp4aenc/bitmux.h"
#include "mp4aenc/filterbank.h"
#include "mp4aenc/ms_stereo.h"

namespace {

const char kModule[] = "mp4AEnc/mp4Filter/src/tfdec/tf_int_dec";
constexpr int kLong = 1024, kShort = 128, kWindows = 8;

struct Channel {
  float output[kLong];
  float overlap[kLong];
  int lastShape;
};

}  // namespace

struct TfIntDec {
  int channels;
  long sampleRate;
  Channel* chan;
  // Rising window halves by shape (0 sine, 1 KBD).
  float longRise[2][kLong];
  float shortRise[2][kShort];
  float spectrum[kLong], grouped[kLong], block[2 * kLong], t[2 * kLong];
  float second[kLong];
  TfPredictionAdd addPrediction;
  const void* predictionArg;
};

ErrorRecord* tf_int_dec_create(TfIntDec** out, int channels, int frameLength, long sampleRate) {
  *out = nullptr;
  if (frameLength != kLong)
    return error_create(kModule, __LINE__, nullptr, "internal decoder: frame length %d not supported", frameLength);
  if (channels < 1 || channels > kAacMaxChannels)
    return error_create(kModule, __LINE__, nullptr, "number of channels too large");
  auto* d = static_cast<TfIntDec*>(std::calloc(1, sizeof(TfIntDec)));
  if (d) d->chan = static_cast<Channel*>(std::calloc(size_t(channels), sizeof(Channel)));
  if (!d || !d->chan) {
    std::free(d);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  d->channels = channels;
  d->sampleRate = sampleRate;
  for (int shape = 0; shape < 2; ++shape) {
    ErrorRecord* err = CalculateWindow(d->longRise[shape], 2 * kLong, shape, 1);
    if (!err) err = CalculateShortWindow(d->shortRise[shape], 2 * kShort, shape, 1);
    if (err) {
      tf_int_dec_free(d);
      return error_add_trace(kModule, __LINE__, "tf_int_dec_create", err);
    }
  }
  *out = d;
  return nullptr;
}

void tf_int_dec_set_prediction(TfIntDec* d, TfPredictionAdd add, const void* arg) {
  d->addPrediction = add;
  d->predictionArg = arg;
}

void tf_int_dec_free(TfIntDec* d) {
  if (!d) return;
  std::free(d->chan);
  std::free(d);
}

void tf_dequantise(const AacChannelResult* r, float* grouped) {
  std::memset(grouped, 0, sizeof(float) * kLong);
  int groupStart = 0;
  for (int g = 0; g < r->groups; ++g) {
    const int len = r->groupLength[g];
    for (int b = 0; b < r->maxSfb; ++b) {
      const int i = g * kPsyMaxBands + b;
      // Zero bands; noise and intensity bands carry no quantised values.
      if (r->book[i] == 0 || r->book[i] > 11) continue;
      for (int k = groupStart + len * r->bandOffset[b]; k < groupStart + len * r->bandOffset[b + 1]; ++k) {
        const float v = aac_dequantise(r->q[k], r->sf[i]);
        grouped[k] = r->q[k] < 0 ? -v : v;
      }
    }
    groupStart += len * r->bandOffset[r->bandsPerWindow];
  }
}

void tf_intensity(const AacChannelResult* l, const AacChannelResult* r, const float* first, float* second) {
  int groupStart = 0;
  for (int g = 0; g < l->groups; ++g) {
    const int len = l->groupLength[g];
    for (int b = 0; b < l->maxSfb; ++b) {
      const int i = g * kPsyMaxBands + b;
      if (r->book[i] != kAacIntensityBook && r->book[i] != kAacIntensityBook2) continue;
      float scale = std::exp2(-0.25f * float(r->sf[i]));
      if ((r->book[i] == kAacIntensityBook2) != aac_ms_used(l->jsFlags[i])) scale = -scale;
      for (int k = groupStart + len * l->bandOffset[b]; k < groupStart + len * l->bandOffset[b + 1]; ++k)
        second[k] = scale * first[k];
    }
    groupStart += len * l->bandOffset[l->bandsPerWindow];
  }
}

void tf_regroup(const AacChannelResult* r, const float* grouped, float* out) {
  if (r->blockType != 2) {
    std::memcpy(out, grouped, sizeof(float) * kLong);
    return;
  }
  std::memset(out, 0, sizeof(float) * kLong);
  int pos = 0, w0 = 0;
  for (int g = 0; g < r->groups; ++g) {
    for (int b = 0; b < r->bandsPerWindow; ++b)
      for (int w = w0; w < w0 + r->groupLength[g]; ++w)
        for (int k = r->bandOffset[b]; k < r->bandOffset[b + 1]; ++k) out[k * kWindows + w] = grouped[pos++];
    w0 += r->groupLength[g];
  }
}

namespace {

// The block of one channel: inverse transforms, windowed, in 2 * kLong
// samples; the left half of the first window takes the previous shape.
void synthesise(TfIntDec* d, const AacChannelResult* r, int prevShape, const float* spec, float* block) {
  const int shape = r->windowShape ? 1 : 0;
  const int P = (kLong - kShort) / 2;
  std::memset(block, 0, sizeof(float) * 2 * kLong);
  if (r->blockType == 2) {
    float x[kShort];
    for (int w = 0; w < kWindows; ++w) {
      for (int k = 0; k < kShort; ++k) x[k] = spec[k * kWindows + w];
      mdct_block_fft(x, d->t, 2 * kShort);
      const float* rise = d->shortRise[w == 0 ? prevShape : shape];
      float* out = block + P + w * kShort;
      for (int i = 0; i < kShort; ++i) out[i] += d->t[i] * rise[i];
      for (int i = 0; i < kShort; ++i) out[kShort + i] += d->t[kShort + i] * d->shortRise[shape][kShort - 1 - i];
    }
    return;
  }
  mdct_block_fft(spec, d->t, 2 * kLong);
  // Left half: long rise, or the stop window's zeros, short rise and ones.
  for (int i = 0; i < kLong; ++i) {
    float w;
    if (r->blockType == 3) w = i < P ? 0.0f : i < P + kShort ? d->shortRise[prevShape][i - P] : 1.0f;
    else w = d->longRise[prevShape][i];
    block[i] = d->t[i] * w;
  }
  for (int i = 0; i < kLong; ++i) {
    float w;
    if (r->blockType == 1) w = i < P ? 1.0f : i < P + kShort ? d->shortRise[shape][kShort - 1 - (i - P)] : 0.0f;
    else w = d->longRise[shape][kLong - 1 - i];
    block[kLong + i] = d->t[kLong + i] * w;
  }
}

void reconstruct(TfIntDec* d, int c, const AacChannelResult* r, const TnsInfo* tns, const float* grouped) {
  tf_regroup(r, grouped, d->spectrum);
  if (d->addPrediction) d->addPrediction(d->predictionArg, c, d->spectrum);
  if (tns && tns->active)
    tns_inverse_filter(tns, d->spectrum, r->bandOffset, r->bandsPerWindow, r->blockType);
  Channel& ch = d->chan[c];
  synthesise(d, r, ch.lastShape, d->spectrum, d->block);
  for (int i = 0; i < kLong; ++i) {
    ch.output[i] = ch.overlap[i] + d->block[i];
    ch.overlap[i] = d->block[kLong + i];
  }
  ch.lastShape = r->windowShape ? 1 : 0;
}

}  // namespace

ErrorRecord* tf_int_dec_frame(TfIntDec* d, const AacChannelMap* map, const AacChannelResult* const* results,
                              const TnsInfo* const* tns) {
  if (!d || !map || !results) return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");
  for (int e = 0; e < map->header.elementCount; ++e) {
    const AacChannelElement& el = map->elements[e];
    const int a = el.first;
    if (a < 0 || a >= d->channels || !results[a]) return error_create(kModule, __LINE__, nullptr, "error in internal decoder");
    if (el.kind != kAacPair) {
      tf_dequantise(results[a], d->grouped);
      reconstruct(d, a, results[a], tns ? tns[a] : nullptr, d->grouped);
      continue;
    }
    const int b = el.second;
    if (b < 0 || b >= d->channels || !results[b]) return error_create(kModule, __LINE__, nullptr, "error in internal decoder");
    const AacChannelResult* l = results[a];
    const AacChannelResult* r = results[b];
    tf_dequantise(l, d->grouped);
    tf_dequantise(r, d->second);
    if (l->commonWindow) {
      int flags[kAacMaxGroupBands];
      for (int i = 0; i < kAacMaxGroupBands; ++i) flags[i] = l->jsFlags[i] & kJsMs;
      MsInverse(flags, l->groups, l->groupLength, l->bandsPerWindow, l->maxSfb, l->bandOffset, d->grouped, d->second);
      tf_intensity(l, r, d->grouped, d->second);
    }
    reconstruct(d, a, l, tns ? tns[a] : nullptr, d->grouped);
    reconstruct(d, b, r, tns ? tns[b] : nullptr, d->second);
  }
  return nullptr;
}

const float* tf_int_dec_output(const TfIntDec* d, int c) {
  return d && c >= 0 && c < d->channels ? d->chan[c].output : nullptr;
}
const float* tf_int_dec_overlap(const TfIntDec* d, int c) {
  return d && c >= 0 && c < d->channels ? d->chan[c].overlap : nullptr;
}
