#include "resamplelib/decimator.h"

#include <cmath>
#include <cstring>
#include <new>

#include "../polyphase/dot.h"
#include "decimator_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

double bessel_i0(double x);  // sinc_interp.cpp

namespace {

const double kPi = 3.14159265358979323846;

// Kaiser-windowed half-band low-pass at `rate` (cut-off at a quarter of
// it, so every other tap but the centre is zero), flat to passEdge and
// `attenuation` dB down from rate / 2 - passEdge; odd length, 0 Hz gain 1.
std::vector<float> design_half_band(int rate, double passEdge, double attenuation) {
  const double transition = 2.0 * kPi * (rate / 2.0 - 2.0 * passEdge) / rate;
  int n = int(std::ceil((attenuation - 7.95) / (2.285 * transition))) + 1;
  while (n % 4 != 3) ++n;  // the centre on an odd index: the odd row has one tap
  const double beta = 0.1102 * (attenuation - 8.7);
  const int centre = (n - 1) / 2;
  std::vector<double> h(static_cast<size_t>(n), 0.0);
  double sum = 0.0;
  for (int k = 0; k < n; ++k) {
    const int x = k - centre;
    if (x != 0 && x % 2 == 0) continue;
    const double sinc = x == 0 ? 0.5 : std::sin(kPi * 0.5 * x) / (kPi * x);
    const double r = double(x) / centre;
    h[size_t(k)] = sinc * bessel_i0(beta * std::sqrt(1.0 - r * r));
    sum += h[size_t(k)];
  }
  std::vector<float> taps(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) taps[size_t(k)] = float(h[size_t(k)] / sum);
  return taps;
}

}  // namespace

bool DecimatorChain::Open(int inputRate, int outputRate, int channels, double passEdge, double stopEdge,
                          double stopBandDb, int outputFrames) {
  stages_.clear();
  scratch_.clear();
  inputRate_ = inputRate;
  channels_ = channels;
  factor_ = 1;
  SetKernel(kAvx2);
  try {
    int rate = inputRate;
    // Below a ratio of 4 the single sinc stage costs little more, and the
    // converter keeps its finer input steps.
    while (inputRate >= 4 * outputRate && int(stages_.size()) < kMaxStages && rate % 2 == 0 &&
           rate / 2 >= outputRate * 5 / 4) {
      Stage s;
      s.rate = rate;
      // What folds into [0, stopEdge] lies above rate / 2 - stopEdge, so the
      // half-band's flat part reaches stopEdge (beyond passEdge). 3 dB above
      // the target: the length formula is an estimate.
      s.taps = design_half_band(rate, stopEdge > passEdge ? stopEdge : passEdge, stopBandDb + 3.0);
      s.history = int(s.taps.size() - 1) / 2;
      for (size_t k = 0; k < s.taps.size(); ++k) {
        if (s.taps[k] == 0.0f) continue;
        (k % 2 ? s.oddAt : s.evenAt).push_back(int(k / 2));
        (k % 2 ? s.oddTaps : s.evenTaps).push_back(s.taps[k]);
      }
      stages_.push_back(std::move(s));
      rate /= 2;
      factor_ *= 2;
    }
    // Stage k takes factor / 2^k x outputFrames frames a call.
    int frames = factor_ * outputFrames;
    for (Stage& s : stages_) {
      s.even.assign(size_t(channels), std::vector<float>(size_t(s.history + frames / 2), 0.0f));
      s.odd = s.even;
      frames /= 2;
    }
    if (!stages_.empty()) scratch_.assign(size_t(factor_ / 2 * outputFrames), 0.0f);
  } catch (const std::bad_alloc&) {
    stages_.clear();
    factor_ = 1;
    return false;
  }
  return true;
}

double DecimatorChain::DelaySeconds() const {
  double d = 0.0;
  for (const Stage& s : stages_) d += (double(s.taps.size()) - 1.0) / 2.0 / s.rate;
  return d;
}

int DecimatorChain::TailFrames() const {
  int frames = 0, step = 1;
  for (const Stage& s : stages_) {
    frames += int(s.taps.size() - 1) * step;
    step *= 2;
  }
  return (frames + factor_ - 1) / factor_ * factor_;
}

void DecimatorChain::Reset() {
  for (Stage& s : stages_)
    for (int c = 0; c < channels_; ++c) {
      std::fill(s.even[size_t(c)].begin(), s.even[size_t(c)].end(), 0.0f);
      std::fill(s.odd[size_t(c)].begin(), s.odd[size_t(c)].end(), 0.0f);
    }
}

void DecimatorChain::Process(const int16_t* in, int frames, float* out) { Run(in, frames, out); }
void DecimatorChain::Process(const float* in, int frames, float* out) { Run(in, frames, out); }

template <typename T>
void DecimatorChain::Run(const T* in, int frames, float* out) {
  const int ch = channels_;
  if (stages_.empty()) {
    for (int i = 0; i < frames * ch; ++i) out[i] = in ? float(in[i]) : 0.0f;
    return;
  }
  // The input, split per channel into the first stage's even and odd rows.
  Stage& first = stages_[0];
  int count = frames / 2;
  for (int c = 0; c < ch; ++c) {
    float* __restrict e = first.even[size_t(c)].data() + first.history;
    float* __restrict o = first.odd[size_t(c)].data() + first.history;
    if (!in) {
      std::memset(e, 0, sizeof(float) * size_t(count));
      std::memset(o, 0, sizeof(float) * size_t(count));
      continue;
    }
    const T* __restrict x = in + c;
    if (ch == 1) {
      // A constant stride lets the compiler vectorise the split.
      for (int i = 0; i < count; ++i) {
        e[i] = float(x[2 * i]);
        o[i] = float(x[2 * i + 1]);
      }
    } else {
      for (int i = 0; i < count; ++i, x += 2 * ch) {
        e[i] = float(x[0]);
        o[i] = float(x[ch]);
      }
    }
  }
  for (size_t k = 0; k < stages_.size(); ++k, count /= 2) {
    Stage& s = stages_[k];
    for (int c = 0; c < ch; ++c) {
      float* y = scratch_.data();
      Filter(s, c, count, y);
      if (k + 1 < stages_.size()) {
        Split(stages_[k + 1], c, y, count);
      } else {
        for (int j = 0; j < count; ++j) out[size_t(j) * size_t(ch) + size_t(c)] = y[j];
      }
    }
  }
}

DecimatorChain::Kernel DecimatorChain::SetKernel(Kernel k) {
  // The dot-product kernels need the same processor features.
  kernel_ = Kernel(dot_kernel_choose(1, ResampleKernel(k)));
  return kernel_;
}

// Filters count outputs of one channel; then the newest `history` samples
// move to the front for the next call.
void DecimatorChain::Filter(Stage& s, int channel, int count, float* y) const {
  float* e = s.even[size_t(channel)].data();
  float* o = s.odd[size_t(channel)].data();
  const DecimatorBranches b = {e, o, s.evenAt.data(), s.evenTaps.data(), int(s.evenAt.size()),
                               s.oddAt.data(), s.oddTaps.data(), int(s.oddAt.size())};
  switch (kernel_) {
    case kAvx2: decimate_avx2(b, count, y); break;
    case kSse2: decimate_sse2(b, count, y); break;
    default: decimate_plain(b, 0, count, y); break;
  }
  std::memmove(e, e + count, sizeof(float) * size_t(s.history));
  std::memmove(o, o + count, sizeof(float) * size_t(s.history));
}

void DecimatorChain::Split(Stage& s, int channel, const float* y, int count) {
  float* e = s.even[size_t(channel)].data() + s.history;
  float* o = s.odd[size_t(channel)].data() + s.history;
  for (int i = 0; i < count / 2; ++i) {
    e[i] = y[2 * i];
    o[i] = y[2 * i + 1];
  }
}

void decimate_plain(const DecimatorBranches& b, int from, int count, float* y) {
  for (int j = from; j < count; ++j) {
    double sum = 0.0;
    for (int i = 0; i < b.evenCount; ++i) sum += double(b.evenTaps[i]) * b.even[j + b.evenAt[i]];
    for (int i = 0; i < b.oddCount; ++i) sum += double(b.oddTaps[i]) * b.odd[j + b.oddAt[i]];
    y[j] = float(sum);
  }
}

#if defined(__SSE2__)

void decimate_sse2(const DecimatorBranches& b, int count, float* y) {
  int j = 0;
  // 16 outputs at a time, each tap broadcast once over them.
  for (; j + 16 <= count; j += 16) {
    __m128 a0 = _mm_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
    for (int i = 0; i < b.evenCount; ++i) {
      const __m128 c = _mm_set1_ps(b.evenTaps[i]);
      const float* x = b.even + j + b.evenAt[i];
      a0 = _mm_add_ps(a0, _mm_mul_ps(c, _mm_loadu_ps(x)));
      a1 = _mm_add_ps(a1, _mm_mul_ps(c, _mm_loadu_ps(x + 4)));
      a2 = _mm_add_ps(a2, _mm_mul_ps(c, _mm_loadu_ps(x + 8)));
      a3 = _mm_add_ps(a3, _mm_mul_ps(c, _mm_loadu_ps(x + 12)));
    }
    for (int i = 0; i < b.oddCount; ++i) {
      const __m128 c = _mm_set1_ps(b.oddTaps[i]);
      const float* x = b.odd + j + b.oddAt[i];
      a0 = _mm_add_ps(a0, _mm_mul_ps(c, _mm_loadu_ps(x)));
      a1 = _mm_add_ps(a1, _mm_mul_ps(c, _mm_loadu_ps(x + 4)));
      a2 = _mm_add_ps(a2, _mm_mul_ps(c, _mm_loadu_ps(x + 8)));
      a3 = _mm_add_ps(a3, _mm_mul_ps(c, _mm_loadu_ps(x + 12)));
    }
    _mm_storeu_ps(y + j, a0);
    _mm_storeu_ps(y + j + 4, a1);
    _mm_storeu_ps(y + j + 8, a2);
    _mm_storeu_ps(y + j + 12, a3);
  }
  decimate_plain(b, j, count, y);
}

#else

void decimate_sse2(const DecimatorBranches& b, int count, float* y) { decimate_plain(b, 0, count, y); }

#endif
