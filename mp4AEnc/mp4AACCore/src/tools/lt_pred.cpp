#include "mp4aenc/lt_pred.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mp4aenc/fft.h"
#include "mp4aenc/ms_stereo.h"
#include "mp4aenc/param.h"

const float kLtpCoefficient[kLtpCoefficients] = {0.570829f, 0.696616f, 0.813004f, 0.911304f,
                                                 0.984900f, 1.067894f, 1.194601f, 1.369533f};

namespace {

const char kModule[] = "mp4AEnc/mp4AACCore/src/tools/lt_pred";

void no_prediction(LtpSideInfo& info, int nBands) {
  info.numBands = nBands < kLtpMaxBands ? nBands : kLtpMaxBands;
  info.dataPresent = 0;
  info.lagWritten = 0;
  info.lastLag = -1;
  info.sideBits = 0;
  std::memset(info.used, 0, sizeof info.used);
}

// Every frame: the band-flag history and the pending resets move one frame
// back (slot 0 is filled after the frame is written), the counter advances.
void advance(LtpState* s) {
  for (int k = kLtpFlagFrames - 1; k > 0; --k) {
    std::memcpy(s->flagHistory[k], s->flagHistory[k - 1], sizeof s->flagHistory[k]);
    s->pendingReset[k] = s->pendingReset[k - 1];
  }
  std::memset(s->flagHistory[0], 0, sizeof s->flagHistory[0]);
  s->pendingReset[0] = 0;
  ++s->frameCounter;
}

// Splits the transform of two real sequences packed as re + i im: X and Y
// at bin k from Z(k) and Z(n - k).
void split(const float* z, int n, int k, double* xr, double* xi, double* yr, double* yi) {
  const int m = k ? n - k : 0;
  const double ar = z[2 * k], ai = z[2 * k + 1], br = z[2 * m], bi = z[2 * m + 1];
  *xr = 0.5 * (ar + br), *xi = 0.5 * (ai - bi);
  *yr = 0.5 * (ai + bi), *yi = -0.5 * (ar - br);
}

// corr[lag] and energy[lag] of the windowed history segment of every lag
// against the windowed signal: two cross-correlations from two packed
// transforms and one inverse.
void correlate(LtpState* s, const float* h, const float* w2x, const float* w2) {
  const int n = 2 * s->bufLen, base = s->bufLen - s->winLen;
  float* a = s->fftA;
  float* b = s->fftB;
  std::memset(a, 0, sizeof(float) * 2 * size_t(n));
  std::memset(b, 0, sizeof(float) * 2 * size_t(n));
  for (int i = 0; i < s->bufLen; ++i) a[2 * i] = h[i], a[2 * i + 1] = h[i] * h[i];
  for (int i = 0; i < s->winLen; ++i) b[2 * i] = w2x[i], b[2 * i + 1] = w2[i];
  fft_complex(a, n, -1);
  fft_complex(b, n, -1);
  // Y = conj(X) H + i conj(W) H2: the inverse holds the correlation in its
  // real part and the energy in its imaginary part. Bins k and n - k are
  // read and written together.
  for (int k = 0; k <= n / 2; ++k) {
    const int m = k ? n - k : 0;
    double hr, hi, h2r, h2i, xr, xi, wr, wi;
    split(a, n, k, &hr, &hi, &h2r, &h2i);
    split(b, n, k, &xr, &xi, &wr, &wi);
    const double cr = xr * hr + xi * hi, ci = xr * hi - xi * hr;
    const double er = wr * h2r + wi * h2i, ei = wr * h2i - wi * h2r;
    a[2 * k] = float(cr - ei);
    a[2 * k + 1] = float(ci + er);
    if (m != k) {
      a[2 * m] = float(cr + ei);
      a[2 * m + 1] = float(er - ci);
    }
  }
  fft_complex(a, n, 1);
  for (int lag = 0; lag < base; ++lag) {
    const int d = base - lag;
    s->corr[lag] = a[2 * d] / float(n);
    s->energy[lag] = a[2 * d + 1] / float(n);
  }
}

// The exact figures at one lag.
void exact_at(const LtpState* s, const float* h, const float* w2x, const float* w2, int lag, double* corr,
              double* energy) {
  const float* seg = h + (s->bufLen - s->winLen - lag);
  double c = 0.0, e = 0.0;
  for (int i = 0; i < s->winLen; ++i) {
    c += double(w2x[i]) * seg[i];
    e += double(w2[i]) * double(seg[i]) * seg[i];
  }
  *corr = c, *energy = e;
}

bool listed(const LtpState* s, int count, int lag) {
  for (int i = 0; i < count; ++i)
    if (s->candidates[i].lag == lag) return true;
  return false;
}

}  // namespace

int LtpCoefIndex(float alpha) {
  int best = 0;
  float bestDistance = std::fabs(alpha - kLtpCoefficient[0]);
  for (int i = 1; i < kLtpCoefficients; ++i) {
    const float d = std::fabs(alpha - kLtpCoefficient[i]);
    if (d < bestDistance) bestDistance = d, best = i;
  }
  return best;
}

ErrorRecord* LtpInit(LtpState** out, int frameLength, int lagsDefault, int resetDefault,
                     const AudioObject* object) {
  *out = nullptr;
  if (!object || !object->mpeg4)
    return error_create(kModule, __LINE__, nullptr, "LTP selected with an MPEG-2 Profile");
  const int aot = object->objectType;
  if (aot != 4 && aot != 5 && aot != 6 && aot != 7 && aot != 19 && aot != 20 && aot != 23)
    return error_create(kModule, __LINE__, nullptr, "LTP selected with wrong object type");
  if (frameLength <= 0 || frameLength > 1024)
    return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");
  auto* s = static_cast<LtpState*>(std::calloc(1, sizeof(LtpState)));
  if (!s) return error_create(kModule, __LINE__, nullptr, "out of memory");
  s->frameLength = frameLength;
  s->winLen = 2 * frameLength;
  s->bufLen = 4 * frameLength;
  int lags[1] = {lagsDefault < 1 ? 1 : lagsDefault > s->winLen ? s->winLen : lagsDefault};
  float weight[1] = {0.7f};
  int reset[1] = {resetDefault};
  int noGlobalFlag = 0;
  param_get_int_vector("ltpLags", 1, 1, s->winLen, "Number of pitch lags checked for LTP, default: 1",
                       "For each lag one MDCT is performed", lags);
  param_get_float_vector("ltpSIWeight", 1, 0.0f, 1.0f,
                         "weighting factor for side info in prediction gain (default: 0.7)", nullptr, weight);
  param_get_flag("ltpForceNewLag", "always write new lag", nullptr, &s->forceNewLag);
  // Read so that it is listed and accepted; streams of these object types
  // always carry predictor_data_present, since no decoder reads them without.
  param_get_flag("noLtpWriteGlobalFlag", "do not write global prediction flag as proposed for MPEG4V1",
                 nullptr, &noGlobalFlag);
  param_get_int_vector(
      "ltpResetPeriod", 1, 1, 1000, "number of frames between two LTP resets (default: no reset)",
      "LTP doesn't need any reset for stability reasons, but it is useful for random access and error "
      "resilience",
      reset);
  s->lags = lags[0];
  s->siWeight = weight[0];
  s->resetPeriod = reset[0];
  s->resetOn = reset[0] > 0;
  s->info.lagAlways = aot == 5 || aot == 23 ? 0 : 1;
  s->info.lastLag = -1;
  const size_t fftFloats = 4 * size_t(s->bufLen);
  s->history = static_cast<int*>(std::calloc(size_t(s->bufLen), sizeof(int)));
  s->time = static_cast<float*>(std::calloc(size_t(s->winLen), sizeof(float)));
  s->block = static_cast<float*>(std::calloc(size_t(s->winLen), sizeof(float)));
  s->weighted = static_cast<float*>(std::calloc(size_t(s->winLen), sizeof(float)));
  s->squared = static_cast<float*>(std::calloc(size_t(s->winLen), sizeof(float)));
  s->past = static_cast<float*>(std::calloc(size_t(s->bufLen), sizeof(float)));
  s->corr = static_cast<float*>(std::calloc(size_t(s->winLen), sizeof(float)));
  s->energy = static_cast<float*>(std::calloc(size_t(s->winLen), sizeof(float)));
  s->fftA = static_cast<float*>(std::calloc(fftFloats, sizeof(float)));
  s->fftB = static_cast<float*>(std::calloc(fftFloats, sizeof(float)));
  s->candidates = static_cast<LtpCandidate*>(std::calloc(size_t(s->lags), sizeof(LtpCandidate)));
  if (!s->history || !s->time || !s->block || !s->weighted || !s->squared || !s->past || !s->corr ||
      !s->energy || !s->fftA || !s->fftB || !s->candidates) {
    LtpFree(s);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  *out = s;
  return nullptr;
}

void LtpFree(LtpState* s) {
  if (!s) return;
  std::free(s->history);
  std::free(s->time);
  std::free(s->block);
  std::free(s->weighted);
  std::free(s->squared);
  std::free(s->past);
  std::free(s->corr);
  std::free(s->energy);
  std::free(s->fftA);
  std::free(s->fftB);
  std::free(s->candidates);
  std::free(s);
}

ErrorRecord* LtpFrame(LtpState* s, const TnsInfo* tns, const FloatModuloBuffer* timeFifo, const float* window,
                      int nBands, const int* bandWidths, const float* thresholds, float* spectrum,
                      float* bandPe, int blockType, int frameLength, int nShortWindows, const int* allowed) {
  if (!s || !bandWidths || !thresholds || !spectrum || nBands < 0)
    return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");
  LtpSideInfo& info = s->info;
  const int lastLag = info.lastLag;
  no_prediction(info, nBands);
  // Resets are due by the counter, in short frames too: a reset frame
  // keeps every band from its source.
  if (s->resetOn && s->frameCounter % s->resetPeriod == 0)
    for (int k = 0; k < kLtpFlagFrames; ++k) s->pendingReset[k] = 1;
  if (blockType != 0 && blockType != 1 && blockType != 3) {
    advance(s);
    return nullptr;
  }
  if (!timeFifo || !window || frameLength != s->frameLength || nShortWindows <= 0) {
    advance(s);
    return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");
  }
  const int nLtp = info.numBands;
  int offsets[kLtpMaxBands + 1] = {0};
  for (int b = 0; b < nLtp; ++b) offsets[b + 1] = offsets[b] + bandWidths[b];
  const int tnsBands = nBands < 128 ? nBands : 128;
  int allOffsets[129] = {0};
  for (int b = 0; b < tnsBands; ++b) allOffsets[b + 1] = allOffsets[b] + bandWidths[b];

  // 2. The signal the block's transform covers, and the history as floats.
  FloatModuloBufferLookBack(timeFifo, s->time, unsigned(s->winLen),
                            unsigned((frameLength / 2) / nShortWindows + 3 * frameLength));
  for (int i = 0; i < s->bufLen; ++i) s->past[i] = float(s->history[i]);
  float maxAbs = 0.0f;
  for (int i = 0; i < s->winLen; ++i) {
    s->squared[i] = window[i] * window[i];
    s->weighted[i] = s->squared[i] * s->time[i];
  }
  for (int i = 0; i < s->bufLen; ++i) maxAbs = std::fmax(maxAbs, std::fabs(s->past[i]));
  if (maxAbs == 0.0f) {  // nothing to predict from
    advance(s);
    return nullptr;
  }
  // 3. Correlation and energy of every lag.
  const int nLags = s->bufLen - s->winLen;
  correlate(s, s->past, s->weighted, s->squared);
  // The transforms' rounding is relative to the largest energy: below that
  // floor a lag holds no history.
  float maxEnergy = 0.0f;
  for (int lag = 0; lag < nLags; ++lag) maxEnergy = std::fmax(maxEnergy, s->energy[lag]);
  const float floor = std::fmax(FLT_MIN, 1e-5f * maxEnergy);

  // 4. Candidates: the last lag first (unless a new one is forced), then
  // the best normalised correlations.
  int count = 0;
  for (int round = 0; round < s->lags; ++round) {
    int lag = -1;
    if (round == 0 && lastLag >= 0 && lastLag < nLags && !s->forceNewLag) {
      lag = lastLag;
    } else {
      float best = 0.0f;
      for (int l = 0; l < nLags; ++l) {
        if (!(s->energy[l] > floor) || listed(s, count, l)) continue;
        const float v = s->corr[l] / std::sqrt(s->energy[l]);
        if (lag < 0 || v > best) best = v, lag = l;
      }
    }
    if (lag < 0) break;
    if (listed(s, count, lag)) continue;
    double c = 0.0, e = 0.0;
    exact_at(s, s->past, s->weighted, s->squared, lag, &c, &e);
    const float alpha = e > FLT_MIN ? float(c / e) : 0.0f;
    s->candidates[count++] = {lag, LtpCoefIndex(alpha), 0.0f};
  }

  // 6. Each candidate's prediction and gain.
  float peOrig[kLtpMaxBands];
  for (int b = 0; b < nLtp; ++b) peOrig[b] = MsBandPe(spectrum + offsets[b], bandWidths[b], thresholds[b]);
  const int base = s->bufLen - s->winLen;
  float bestGain = 0.0f;
  int winner = -1;
  int usedBest[kLtpMaxBands] = {0};
  for (int c = 0; c < count; ++c) {
    LtpCandidate& cand = s->candidates[c];
    const float coef = kLtpCoefficient[cand.coefIndex];
    const float* seg = s->past + (base - cand.lag);
    for (int i = 0; i < s->winLen; ++i) s->block[i] = window[i] * seg[i] * coef;
    dft_mdct_phase(s->block, s->winLen);
    for (int k = 0; k < frameLength; ++k) s->spectrum[k] = 2.0f * s->block[2 * k];
    if (tns && tns->active) tns_apply_filter(tns, s->spectrum, allOffsets, tnsBands, blockType);
    // Bands whose source frames were coded as noise or intensity (or a
    // neighbour was), or lie before a reset.
    std::memset(s->forbidden, 0, sizeof s->forbidden);
    for (int k = 0; k < kLtpFlagFrames; ++k) {
      const int lo = -2 * frameLength + k * frameLength, hi = 2 * frameLength + k * frameLength;
      if (!(lo < cand.lag && cand.lag < hi)) continue;
      for (int b = 0; b < nLtp; ++b) {
        const int* f = s->flagHistory[k];
        if (s->pendingReset[k] || f[b] || (b > 0 && f[b - 1]) || (b + 1 < kLtpFlagBands && f[b + 1]))
          s->forbidden[b] = 1;
      }
    }
    int used[kLtpMaxBands] = {0};
    float gain = 0.0f;
    float residual[1024];
    for (int b = 0; b < nLtp; ++b) {
      if (s->forbidden[b] || (allowed && !allowed[b])) continue;
      for (int k = offsets[b]; k < offsets[b + 1]; ++k) residual[k] = spectrum[k] - s->spectrum[k];
      const float pe = MsBandPe(residual + offsets[b], bandWidths[b], thresholds[b]);
      if (!(pe < peOrig[b])) continue;
      used[b] = 1;
      gain += std::round(peOrig[b]) - std::round(pe);
    }
    const int lagWritten = info.lagAlways || cand.lag != lastLag || s->forceNewLag;
    const int bits = nLtp + (lagWritten ? 14 : 4);
    cand.value = gain - float(bits) * s->siWeight;
    if (cand.value > bestGain) {
      bestGain = cand.value;
      winner = c;
      std::memcpy(usedBest, used, sizeof used);
      std::memcpy(info.predicted, s->spectrum, sizeof(float) * size_t(frameLength));
      info.sideBits = bits;
      info.lagWritten = lagWritten;
    }
  }
  // 7. The winner's residual replaces the used bands.
  if (winner >= 0) {
    const LtpCandidate& cand = s->candidates[winner];
    info.dataPresent = 1;
    info.lastLag = cand.lag;
    info.coefIndex = cand.coefIndex;
    std::memcpy(info.used, usedBest, sizeof usedBest);
    for (int b = 0; b < nLtp; ++b) {
      if (!info.used[b]) continue;
      for (int k = offsets[b]; k < offsets[b + 1]; ++k) spectrum[k] -= info.predicted[k];
    }
  } else {
    info.sideBits = 0;
  }
  if (bandPe)
    for (int b = 0; b < nLtp; ++b)
      bandPe[b] = info.used[b] ? MsBandPe(spectrum + offsets[b], bandWidths[b], thresholds[b]) : peOrig[b];
  // 8.
  advance(s);
  return nullptr;
}

void LtpAddPrediction(const LtpState* s, float* spectrum, const int* bandWidths) {
  if (!s || !s->info.dataPresent) return;
  int offset = 0;
  for (int b = 0; b < s->info.numBands; ++b) {
    if (s->info.used[b])
      for (int k = offset; k < offset + bandWidths[b]; ++k) spectrum[k] += s->info.predicted[k];
    offset += bandWidths[b];
  }
}

namespace {
int to_16bit(float v) {
  const double r = v < 0.0f ? -std::floor(-double(v) + 0.5) : std::floor(double(v) + 0.5);
  return r < -32768.0 ? -32768 : r > 32767.0 ? 32767 : int(r);
}
}  // namespace

void LtpUpdateHistory(LtpState* s, const float* fullFrame, const float* overlapHalf) {
  const int n = s->frameLength;
  std::memmove(s->history, s->history + s->winLen / 2, sizeof(int) * size_t(s->bufLen - s->winLen / 2));
  for (int i = 0; i < n; ++i) {
    s->history[n + i] = to_16bit(fullFrame[i]);
    s->history[2 * n + i] = to_16bit(overlapHalf[i]);
    s->history[3 * n + i] = 0;
  }
}
