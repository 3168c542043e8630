// The mode 2 engine: Kaiser-windowed sinc evaluated from a table.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "dot.h"
#include "engines.h"
#include "resamplelib/resample.h"

namespace {

constexpr int kEntriesPerCrossing = 512;
constexpr double kFixedOne = 262144.0;  // 2^18: table positions in fixed point
constexpr int kFixedToIndex = 9;        // 2^18 / 512
// Largest per-phase coefficient store, in floats (1 MiB).
constexpr int64_t kMaxPhaseCache = 1 << 18;
// Phase rows are whole groups of this many floats; the zeros that complete
// a row multiply history samples up to this far past the window, which the
// history keeps as zeros behind its capacity.
constexpr int kRowGroup = 8;
constexpr int kHistorySlack = kRowGroup;

int round_to_group(int n) { return (n + kRowGroup - 1) / kRowGroup * kRowGroup; }

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

namespace {

// Coefficients of one wing: positions start, start + cutoff, ... in fixed
// point; the table gives value + position * slope.
inline void wing_coefficients(const SincInterpolator* e, uint32_t position, int count, float* coef) {
  const float* table = e->table;
  const uint32_t step = e->tableStep;
  for (int k = 0; k < count; ++k, position += step) {
    const float* entry = table + 2 * (position >> kFixedToIndex);
    coef[k] = entry[0] + float(position / kFixedOne) * entry[1];
  }
}

// The coefficients for the current time: the left wing reversed, so that
// both wings run forward through the history (coefficient i belongs to
// frame p - nl + 1 + i), then the right wing; at most taps floats.
void phase_coefficients(const SincInterpolator* e, float* coef, int* nl, int* nr) {
  const double t = e->time;
  *nl = int(e->halfLength - t);
  *nr = int(e->halfLength + t) - 1;
  wing_coefficients(e, uint32_t(t * e->cutoff * kFixedOne), *nl, coef);
  for (int k = 0; k < *nl / 2; ++k) std::swap(coef[k], coef[*nl - 1 - k]);
  wing_coefficients(e, uint32_t((1.0 - t) * e->cutoff * kFixedOne), *nr, coef + *nl);
}

// Repeats each of count coefficients once per channel, in place (from the
// end, so nothing is overwritten before it is read).
void expand_channels(float* coef, int count, int channels) {
  if (channels == 1) return;
  for (int k = count - 1; k >= 0; --k)
    for (int c = channels - 1; c >= 0; --c) coef[size_t(k) * channels + c] = coef[k];
}

void compute_frame(SincInterpolator* e, float* out) {
  const int ch = e->channels;
  int nl, nr;
  const float* coef;
  int count;
  if (e->phaseCoefficients) {
    coef = e->phaseCoefficients + size_t(e->phase) * size_t(e->phaseStride);
    nl = e->phaseTaps[2 * e->phase];
    nr = e->phaseTaps[2 * e->phase + 1];
    count = round_to_group((nl + nr) * ch);
  } else {
    phase_coefficients(e, e->coefficients, &nl, &nr);
    expand_channels(e->coefficients, nl + nr, ch);
    coef = e->coefficients;
    count = (nl + nr) * ch;
  }
  const float* first = e->history + size_t(e->readPos + e->centre - nl + 1) * ch;
  e->dot(coef, first, count, ch, out);
}

}  // namespace

namespace {

constexpr int kGroup = 8;

// The interleaved rows of the eight-output groups (see the record): for
// mono with every phase cached and a phase count of whole groups.
int build_groups(SincInterpolator* e) {
  if (e->channels != 1 || !e->phaseCoefficients || e->phaseCount % kGroup) return RESAMPLE_OK;
  const int groups = e->phaseCount / kGroup;
  const int count = e->phaseCount, step = e->phaseStep;
  // Spans first: lane l of a group starts reading at its read position
  // (relative to lane 0's) + centre - left wing + 1.
  e->groupSpans = static_cast<int*>(std::malloc(sizeof(int) * 3 * size_t(groups)));
  if (!e->groupSpans) return RESAMPLE_NO_MEMORY;
  int widest = 0;
  for (int g = 0; g < groups; ++g) {
    const int64_t n0 = int64_t(g) * kGroup;
    const int64_t pos0 = n0 * step / count;
    int first = 0, last = 0;
    for (int l = 0; l < kGroup; ++l) {
      const int64_t n = n0 + l;
      const int phase = int(n * step % count);
      const int rel = int(n * step / count - pos0);
      const int start = rel + e->centre - e->phaseTaps[2 * phase] + 1;
      const int end = start + e->phaseTaps[2 * phase] + e->phaseTaps[2 * phase + 1];
      if (l == 0 || start < first) first = start;
      if (l == 0 || end > last) last = end;
      if (l == kGroup - 1) e->groupSpans[3 * g + 2] = rel;
    }
    const int span = (last - first + 3) / 4 * 4;
    e->groupSpans[3 * g] = first;
    e->groupSpans[3 * g + 1] = span;
    if (span > widest) widest = span;
  }
  e->groupStride = widest * kGroup;
  if (int64_t(groups) * e->groupStride > kMaxPhaseCache) {
    std::free(e->groupSpans);
    e->groupSpans = nullptr;
    return RESAMPLE_OK;
  }
  const size_t align = kRowGroup * sizeof(float);
  e->groupBlock = std::calloc(size_t(groups) * size_t(e->groupStride) * sizeof(float) + align, 1);
  if (!e->groupBlock) return RESAMPLE_NO_MEMORY;
  const uintptr_t raw = reinterpret_cast<uintptr_t>(e->groupBlock);
  e->groupCoefficients = reinterpret_cast<float*>((raw + align - 1) / align * align);
  for (int g = 0; g < groups; ++g) {
    const int64_t n0 = int64_t(g) * kGroup;
    const int64_t pos0 = n0 * step / count;
    float* rows = e->groupCoefficients + size_t(g) * size_t(e->groupStride);
    for (int l = 0; l < kGroup; ++l) {
      const int64_t n = n0 + l;
      const int phase = int(n * step % count);
      const int start = int(n * step / count - pos0) + e->centre - e->phaseTaps[2 * phase] + 1;
      const int taps = e->phaseTaps[2 * phase] + e->phaseTaps[2 * phase + 1];
      const float* coef = e->phaseCoefficients + size_t(phase) * size_t(e->phaseStride);
      for (int k = 0; k < taps; ++k) rows[size_t(start - e->groupSpans[3 * g] + k) * kGroup + size_t(l)] = coef[k];
    }
  }
  return RESAMPLE_OK;
}

}  // namespace

int sinc_create(SincInterpolator** out, const KaiserDesign* design, int inputRate, int outputRate,
                int channels) {
  *out = nullptr;
  if (!design) return RESAMPLE_NO_DESIGN;
  if (design->fc > 1.0f) return RESAMPLE_CUTOFF_ABOVE_1;
  if (inputRate <= 0 || outputRate <= 0 || channels <= 0 || design->zeroCrossings <= 0 || !(design->fc > 0.0f))
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
  e->factor = double(outputRate) / inputRate;
  const int g = rate_gcd(inputRate, outputRate);
  e->phaseCount = outputRate / g;
  e->phaseStep = inputRate / g;
  e->channels = channels;
  e->historyCapacity = 2 * channels * e->taps;
  e->table = static_cast<float*>(std::malloc(sizeof(float) * 2 * size_t(e->tableSize)));
  e->history = static_cast<float*>(std::calloc(size_t(e->historyCapacity + kHistorySlack), sizeof(float)));
  e->coefficients = static_cast<float*>(std::malloc(sizeof(float) * size_t(e->taps + 2) * size_t(channels)));
  double* h = static_cast<double*>(std::malloc(sizeof(double) * size_t(e->tableSize)));
  if (!e->table || !e->history || !e->coefficients || !h) {
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

  e->phaseStride = round_to_group(e->taps * channels);
  const size_t phaseFloats = size_t(e->phaseStride);
  if (int64_t(e->phaseCount) * int64_t(phaseFloats) <= kMaxPhaseCache) {
    const size_t align = kRowGroup * sizeof(float);
    e->phaseBlock = std::calloc(size_t(e->phaseCount) * phaseFloats * sizeof(float) + align, 1);
    e->phaseTaps = static_cast<int*>(std::malloc(sizeof(int) * 2 * size_t(e->phaseCount)));
    if (!e->phaseBlock || !e->phaseTaps) {
      sinc_free(e);
      return RESAMPLE_NO_MEMORY;
    }
    const uintptr_t raw = reinterpret_cast<uintptr_t>(e->phaseBlock);
    e->phaseCoefficients = reinterpret_cast<float*>((raw + align - 1) / align * align);
    for (int p = 0; p < e->phaseCount; ++p) {
      e->time = double(p) / e->phaseCount;
      float* coef = e->phaseCoefficients + size_t(p) * phaseFloats;
      phase_coefficients(e, coef, &e->phaseTaps[2 * p], &e->phaseTaps[2 * p + 1]);
      expand_channels(coef, e->phaseTaps[2 * p] + e->phaseTaps[2 * p + 1], channels);
    }
    e->time = 0.0;
  }

  if (build_groups(e) != RESAMPLE_OK) {
    sinc_free(e);
    return RESAMPLE_NO_MEMORY;
  }
  sinc_set_kernel(e, RESAMPLE_KERNEL_AVX2);
  sinc_reset(e);
  *out = e;
  return RESAMPLE_OK;
}

int sinc_set_kernel(SincInterpolator* e, int kernel) {
  e->kernel = dot_kernel_choose(e->channels, ResampleKernel(kernel));
  e->dot = dot_kernel(ResampleKernel(e->kernel));
  // The plain loop stays one output at a time: it is the reference.
  e->dot8 = e->groupCoefficients ? dot8_kernel(ResampleKernel(e->kernel)) : nullptr;
  return e->kernel;
}

void sinc_reset(SincInterpolator* e) {
  // The history starts with taps frames of silence.
  std::memset(e->history, 0, sizeof(float) * size_t(e->historyCapacity + kHistorySlack));
  e->historyFill = e->channels * e->taps;
  e->readPos = e->phase = e->outputIndex = 0;
  e->time = 0.0;
  e->outputFill = e->inputConsumed = e->endOfInput = e->lastResult = 0;
}

void sinc_free(SincInterpolator* e) {
  if (!e) return;
  std::free(e->table);
  std::free(e->history);
  std::free(e->coefficients);
  std::free(e->phaseBlock);
  std::free(e->phaseTaps);
  std::free(e->groupBlock);
  std::free(e->groupSpans);
  std::free(e);
}

float sinc_coefficient(const SincInterpolator* e, double x) {
  const uint32_t fixed = uint32_t(x * kFixedOne);
  const int k = int(fixed >> kFixedToIndex);
  const float* entry = e->table + 2 * k;
  return float(entry[0] + float(fixed / kFixedOne) * entry[1]);
}

// Produces output frames while the block has room and the history holds taps
// frames beyond the read position. Answers the samples written.
int sinc_run(SincInterpolator* e, float* out, int room) {
  const int ch = e->channels;
  // The step in whole input frames and phases, so that no output divides.
  const int count = e->phaseCount, whole = e->phaseStep / count, part = e->phaseStep % count;
  const int lastRead = e->historyFill / ch - e->taps;
  int written = 0;
  while (room - written >= ch && e->readPos <= lastRead) {
    if (e->dot8 && e->outputIndex % kGroup == 0 && room - written >= kGroup) {
      const int* span = e->groupSpans + 3 * (e->outputIndex / kGroup);
      if (e->readPos + span[2] <= lastRead) {
        e->dot8(e->groupCoefficients + size_t(e->outputIndex / kGroup) * size_t(e->groupStride),
                e->history + e->readPos + span[0], span[1], out + written);
        written += kGroup;
        const int64_t advance = int64_t(e->phase) + int64_t(kGroup) * e->phaseStep;
        e->readPos += int(advance / count);
        e->phase = int(advance % count);
        e->outputIndex = (e->outputIndex + kGroup) % count;
        continue;
      }
    }
    compute_frame(e, out + written);
    written += ch;
    e->outputIndex = e->outputIndex + 1 == count ? 0 : e->outputIndex + 1;
    e->readPos += whole;
    e->phase += part;
    if (e->phase >= count) {
      e->phase -= count;
      ++e->readPos;
    }
    // Only the uncached path reads the time for the next output.
    if (!e->phaseCoefficients) e->time = double(e->phase) / count;
  }
  e->time = double(e->phase) / count;
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
