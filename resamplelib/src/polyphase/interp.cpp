// The small interpolation kernels of modes 3 and 4.
#include <cstdlib>

#include "resamplelib/polyphase.h"

static const char kModule[] = "resamplelib/src/polyphase/interp";

float interp_kernel(int family, int type, double x, const float* s, int stride) {
  const double s0 = s[0], s1 = s[stride];
  if (family == 1) {
    if (type == 0 || type == 2) return float(s0);
    if (type == 1) return float(s0 + (s1 - s0) * x);
    return 0.0f;
  }
  const double s2 = s[2 * stride];
  const double x2 = x * x, x3 = x2 * x;
  if (type == 2) return float((x2 / 2 + 0.5 - x) * s0 + (x + 0.5 - x2) * s1 + x2 / 2 * s2);
  if (type == 3) {
    const double s3 = s[3 * stride];
    return float(((x2 - x) / 2 + (1 - x3) / 6) * s0 + (x3 / 2 - x2 + 2.0 / 3) * s1 +
                 ((x + x2 - x3) / 2 + 1.0 / 6) * s2 + x3 / 6 * s3);
  }
  return 0.0f;
}

namespace {
constexpr int kLookAhead = 3;   // frames after the current one a kernel reads
constexpr int kMaxChannels = 16;
}  // namespace

struct Interpolator {
  int family, type, channels;
  int inputRate, outputRate;
  int quotient, remainder;  // input frames per output: quotient + remainder / outputRate
  int position;             // frame index into history + input
  int fraction;             // in 1 / outputRate
  int held;                 // frames in history
  float history[kLookAhead * kMaxChannels];
};

void interp_set_rates(Interpolator* ip, int inputRate, int outputRate) {
  if (inputRate <= 0 || outputRate <= 0) return;
  ip->inputRate = inputRate;
  ip->outputRate = outputRate;
  ip->quotient = inputRate / outputRate;
  ip->remainder = inputRate % outputRate;
  ip->fraction %= outputRate;
}

ErrorRecord* interp_create(Interpolator** out, int family, int type, int channels, int inputRate,
                           int outputRate) {
  *out = nullptr;
  if ((family != 0 && family != 1) || channels < 1 || channels > kMaxChannels || inputRate <= 0 ||
      outputRate <= 0)
    return error_create(kModule, __LINE__, nullptr, "Invalid input parameters");
  auto* ip = static_cast<Interpolator*>(std::calloc(1, sizeof(Interpolator)));
  if (!ip) return error_create(kModule, __LINE__, nullptr, "out of memory");
  ip->family = family;
  ip->type = type;
  ip->channels = channels;
  interp_set_rates(ip, inputRate, outputRate);
  *out = ip;
  return nullptr;
}

void interp_free(Interpolator* ip) { std::free(ip); }

int interp_process(Interpolator* ip, const float* in, int frames, float* out, int outCapacity) {
  const int ch = ip->channels;
  const int total = ip->held + frames;
  float window[(kLookAhead + 1) * kMaxChannels];
  int written = 0;
  while (written < outCapacity && ip->position + kLookAhead < total) {
    // The four frames from the current position, from history or input.
    for (int f = 0; f <= kLookAhead; ++f) {
      int idx = ip->position + f;
      const float* src = idx < ip->held ? ip->history + idx * ch : in + (idx - ip->held) * ch;
      for (int c = 0; c < ch; ++c) window[f * ch + c] = src[c];
    }
    const double x = double(ip->fraction) / ip->outputRate;
    for (int c = 0; c < ch; ++c) out[written * ch + c] = interp_kernel(ip->family, ip->type, x, window + c, ch);
    ++written;
    ip->position += ip->quotient;
    ip->fraction += ip->remainder;
    if (ip->fraction >= ip->outputRate) {
      ip->fraction -= ip->outputRate;
      ++ip->position;
    }
  }
  // Keep the last frames for the next call and rebase the position on them.
  const int keep = total < kLookAhead ? total : kLookAhead;
  float last[kLookAhead * kMaxChannels];
  for (int f = 0; f < keep; ++f) {
    int idx = total - keep + f;
    const float* src = idx < ip->held ? ip->history + idx * ch : in + (idx - ip->held) * ch;
    for (int c = 0; c < ch; ++c) last[f * ch + c] = src[c];
  }
  for (int i = 0; i < keep * ch; ++i) ip->history[i] = last[i];
  ip->position -= total - keep;
  if (ip->position < 0) ip->position = 0;  // output was full: the rest is dropped
  ip->held = keep;
  return written;
}
