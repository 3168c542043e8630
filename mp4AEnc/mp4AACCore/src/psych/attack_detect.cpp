#include "attack_detect.h"

#include <cmath>
#include <cstdlib>

#include "mp4aenc/psy_conf.h"

ErrorRecord* attack_detector_init(AttackDetector* d, const CbParam* cb, float lowBark, int slots,
                                  const char* module) {
  d->nPart = cb->count;
  d->width = cb->width;
  d->centre = cb->centre;
  d->lowBark = lowBark;
  const size_t n = size_t(cb->count);
  d->quietDb = static_cast<float*>(std::malloc(sizeof(float) * n));
  d->quietLin = static_cast<float*>(std::malloc(sizeof(float) * n));
  d->level = static_cast<float*>(std::malloc(sizeof(float) * n));
  d->rise = static_cast<float*>(std::calloc(size_t(slots), sizeof(float)));
  d->fall = static_cast<float*>(std::calloc(size_t(slots), sizeof(float)));
  if (!d->quietDb || !d->quietLin || !d->level || !d->rise || !d->fall)
    return error_create(module, __LINE__, nullptr, "out of memory");
  for (size_t i = 0; i < n; ++i) {
    const float t = cb->quietLow[i];
    d->quietDb[i] = t > 0.0f ? float(10.0 * std::log10(double(t)) - 5.0) : -135.0f;
    d->quietLin[i] = float(std::pow(10.0, d->quietDb[i] / 10.0));
  }
  if (ErrorRecord* err = fifo_create(&d->history, slots, cb->count))
    return error_add_trace(module, __LINE__, nullptr, err);
  for (int s = 0; s < slots; ++s) fifo_push(d->history, d->quietDb);
  return nullptr;
}

void attack_detector_free(AttackDetector* d) {
  std::free(d->quietDb);
  std::free(d->quietLin);
  std::free(d->level);
  std::free(d->rise);
  std::free(d->fall);
  fifo_free(d->history);
  d->quietDb = d->quietLin = d->level = d->rise = d->fall = nullptr;
  d->history = nullptr;
}

void attack_detector_measure(AttackDetector* d, const float* spectrum) {
  double all = 0.0, low = 0.0;
  int line = 0;
  for (int p = 0; p < d->nPart; ++p) {
    double e = 0.0;
    for (int k = 0; k < d->width[p]; ++k, ++line) {
      const double re = spectrum[2 * line], im = spectrum[2 * line + 1];
      e += re * re + im * im;
    }
    // A non-finite block counts as silence rather than poisoning the history.
    const float db = (e > d->quietLin[p] && std::isfinite(e)) ? float(10.0 * std::log10(e))
                                                               : d->quietDb[p];
    d->level[p] = db;
    const double lin = std::pow(10.0, db / 10.0);
    all += lin;
    if (d->centre[p] < d->lowBark) low += lin;
  }
  fifo_push(d->history, d->level);
  const int depths = d->history->slotCount - 1;
  for (int k = 0; k < depths; ++k) {
    const float* older = fifo_get(d->history, k + 1);
    double rise = 0.0, fall = 0.0;
    for (int p = 0; p < d->nPart; ++p) {
      const double diff = (double(d->level[p]) - older[p]) * d->width[p] / 6.0;
      if (diff > 0.0)
        rise += diff;
      else
        fall -= diff;
    }
    d->rise[k] = float(rise);
    d->fall[k] = float(fall);
  }
  d->lowRatio = float(low / (all + 1e-10));
}

int attack_first_test(AttackDetector* d, float base, int prevAttack, int* depth, int maxDepth) {
  int mark = 0;
  for (int b = 0; b < *depth; ++b) {
    float threshold = base + 50.0f * b;
    if (d->lowRatio > 0.8f && d->rise[b] > threshold) threshold *= 2.0f;
    if (d->rise[b] > threshold || (prevAttack && d->rise[b] > 1000.0f)) {
      mark = 1;
      *depth = 0;
      break;
    }
  }
  if (*depth < maxDepth) ++*depth;
  return mark;
}

int attack_second_test(AttackDetector* d, int* depth, int maxDepth) {
  int mark = 0;
  for (int b = 0; b < *depth; ++b) {
    float threshold = 200.0f;
    if (d->lowRatio > 0.8f && d->fall[b] > threshold) threshold *= 2.0f;
    if (d->fall[b] > threshold) {
      mark = 4;
      *depth = 0;
      break;
    }
  }
  if (*depth < maxDepth) ++*depth;
  return mark;
}
