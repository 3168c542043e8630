// The mode 2 engine: Kaiser-windowed sinc evaluated from a table.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "resamplelib/resample.h"

namespace {

constexpr int kEntriesPerCrossing = 512;
constexpr double kFixedOne = 262144.0;  // 2^18: table positions in fixed point
constexpr int kFixedToIndex = 9;        // 2^18 / 512

}  // namespace

double bessel_i0(double x) {
  double sum = 1.0, term = 1.0, half = x / 2.0;
  for (int k = 1; k < 500; ++k) {
    term *= (half / k) * (half / k);
    sum += term;
    if (term < 1e-21 * sum) break;
  }
  return sum;
}

void resample_kaiser_complete(KaiserDesign* d) {
  const float a = d->attenuation;
  d->beta = a * (0.126f - a * 0.0001f) - 1.5297f;
  d->zeroCrossings = int32_t(
      2.0f * ((std::exp(14.5f * (d->rollOff - 0.87f)) - 1.0f) * std::pow(d->beta, 0.83f) + d->beta + 2.0f));
}

void resample_kaiser(KaiserDesign* d, int inputRate, int outputRate) {
  const float lowerNyquist = float(inputRate < outputRate ? inputRate : outputRate) * 0.5f;
  const float passEdge = lowerNyquist - lowerNyquist * 0.1f;
  d->rollOff = passEdge / lowerNyquist;
  d->attenuation = 90.0f;
  d->fc = 2.0f * passEdge / float(inputRate);
  resample_kaiser_complete(d);
}

int sinc_create(SincInterpolator** out, const KaiserDesign* design, double factor, int channels) {
  *out = nullptr;
  if (!design) return RESAMPLE_NO_DESIGN;
  if (design->fc > 1.0f) return RESAMPLE_CUTOFF_ABOVE_1;
  if (!(factor > 0.0) || channels <= 0 || design->zeroCrossings <= 0 || !(design->fc > 0.0f))
    return RESAMPLE_BAD_ARGUMENT;
  const uint32_t step = uint32_t(double(design->fc) * kFixedOne);
  if (step == 0) return RESAMPLE_ZERO_STEP;

  auto* e = static_cast<SincInterpolator*>(std::calloc(1, sizeof(SincInterpolator)));
  if (!e) return RESAMPLE_NO_MEMORY;
  e->design = *design;
  e->tableStep = step;
  e->cutoff = step / kFixedOne;
  e->tableSize = design->zeroCrossings * kEntriesPerCrossing;
  e->halfLength = design->zeroCrossings / e->cutoff;
  e->taps = int(2.0 * design->zeroCrossings / e->cutoff);
  e->centre = int(e->halfLength - 1.0);
  e->factor = factor;
  e->channels = channels;
  e->historyCapacity = 2 * channels * e->taps;
  e->table = static_cast<float*>(std::malloc(sizeof(float) * 2 * size_t(e->tableSize)));
  e->history = static_cast<float*>(std::calloc(size_t(e->historyCapacity), sizeof(float)));
  double* h = static_cast<double*>(std::malloc(sizeof(double) * size_t(e->tableSize)));
  if (!e->table || !e->history || !h) {
    std::free(h);
    sinc_free(e);
    return RESAMPLE_NO_MEMORY;
  }

  // Prototype: sinc with 512 entries per zero crossing, Kaiser window.
  const double i0Beta = bessel_i0(design->beta);
  h[0] = 1.0;
  for (int i = 1; i < e->tableSize; ++i) {
    double c = i * 3.1415926 / kEntriesPerCrossing;
    double r = double(i) / (e->tableSize - 1);
    h[i] = std::sin(c) / c * bessel_i0(design->beta * std::sqrt(1.0 - r * r)) / i0Beta;
  }
  // value + x * slope, with x the absolute position in zero crossings, gives
  // the linear interpolation between neighbouring entries.
  const double gain = e->cutoff * 0.99;
  for (int i = 0; i < e->tableSize; ++i) {
    double slope = i < e->tableSize - 1 ? gain * kEntriesPerCrossing * (h[i + 1] - h[i]) : 0.0;
    e->table[2 * i] = float(gain * h[i] - double(i) / kEntriesPerCrossing * slope);
    e->table[2 * i + 1] = float(slope);
  }
  std::free(h);

  // The history starts with taps frames of silence.
  e->historyFill = channels * e->taps;
  *out = e;
  return RESAMPLE_OK;
}

void sinc_free(SincInterpolator* e) {
  if (!e) return;
  std::free(e->table);
  std::free(e->history);
  std::free(e);
}

float sinc_coefficient(const SincInterpolator* e, double x) {
  const uint32_t fixed = uint32_t(x * kFixedOne);
  const int k = int(fixed >> kFixedToIndex);
  const float* entry = e->table + 2 * k;
  return float(entry[0] + float(fixed / kFixedOne) * entry[1]);
}

namespace {

// One wing of taps: coefficients at positions start, start + cutoff, ... in
// fixed point; input frames one step of `dir` frames apart.
template <int Channels>
inline void wing(const SincInterpolator* e, const float* frame, int dir, int count, uint32_t position,
                 int channels, double* acc) {
  const float* table = e->table;
  const uint32_t step = e->tableStep;
  const int stride = dir * channels;
  for (int k = 0; k < count; ++k, position += step, frame += stride) {
    const float* entry = table + 2 * (position >> kFixedToIndex);
    const float coef = entry[0] + float(position / kFixedOne) * entry[1];
    if constexpr (Channels > 0) {
      for (int c = 0; c < Channels; ++c) acc[c] += double(coef) * frame[c];
    } else {
      for (int c = 0; c < channels; ++c) acc[c] += double(coef) * frame[c];
    }
  }
}

template <int Channels>
void compute_frame(const SincInterpolator* e, float* out) {
  constexpr int kMaxChannels = 16;
  const int ch = Channels > 0 ? Channels : e->channels;
  double acc[kMaxChannels] = {};
  const double t = e->time;
  const float* p = e->history + size_t(e->readPos + e->centre) * ch;
  const int nl = int(e->halfLength - t);
  const int nr = int(e->halfLength + t) - 1;
  wing<Channels>(e, p, -1, nl, uint32_t(t * e->cutoff * kFixedOne), ch, acc);
  wing<Channels>(e, p + ch, 1, nr, uint32_t((1.0 - t) * e->cutoff * kFixedOne), ch, acc);
  for (int c = 0; c < ch; ++c) out[c] = float(acc[c]);
}

}  // namespace

// Produces output frames while the block has room and the history holds taps
// frames beyond the read position. Answers the samples written.
int sinc_run(SincInterpolator* e, float* out, int room) {
  const int ch = e->channels;
  int written = 0;
  const double advance = 1.0 / e->factor;
  while (room - written >= ch && e->historyFill - e->readPos * ch >= ch * e->taps) {
    switch (ch) {
      case 1: compute_frame<1>(e, out + written); break;
      case 2: compute_frame<2>(e, out + written); break;
      default: compute_frame<0>(e, out + written); break;
    }
    written += ch;
    e->time += advance;
    if (e->time >= 1.0) {
      int whole = int(e->time);
      e->readPos += whole;
      e->time -= whole;
    }
  }
  return written;
}

// Moves the unread history to the start and appends up to `count` samples
// (zeros when `in` is null). Answers the samples taken.
int sinc_append(SincInterpolator* e, const float* in, int count) {
  const int ch = e->channels;
  int unreadStart = e->readPos * ch;
  if (unreadStart > e->historyFill) unreadStart = e->historyFill;
  std::memmove(e->history, e->history + unreadStart, sizeof(float) * size_t(e->historyFill - unreadStart));
  e->historyFill -= unreadStart;
  e->readPos -= unreadStart / ch;
  int n = e->historyCapacity - e->historyFill;
  if (n > count) n = count;
  if (in) std::memcpy(e->history + e->historyFill, in, sizeof(float) * size_t(n));
  else std::memset(e->history + e->historyFill, 0, sizeof(float) * size_t(n));
  e->historyFill += n;
  return n;
}
