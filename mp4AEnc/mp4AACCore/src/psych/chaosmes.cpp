// Chaos (unpredictability) of each spectral line: how far it strays from a
// prediction out of the two older spectra, or how little it stands out from
// its neighbours along frequency.
#include <cfloat>
#include <cmath>
#include <vector>

#include "mp4aenc/thr_blocks.h"

static const char kModule[] = "mp4AEnc/mp4AACCore/src/psych/chaosmes";

static void predicted(const float* older, const float* previous, const float* current, int nLines,
                      float defaultValue, bool geometric, float* out) {
  for (int k = 0; k < nLines; ++k) {
    const double r2 = older[2 * k], i2 = older[2 * k + 1];
    const double r1 = previous[2 * k], i1 = previous[2 * k + 1];
    const double r0 = current[2 * k], i0 = current[2 * k + 1];
    const double e2 = r2 * r2 + i2 * i2, e1 = r1 * r1 + i1 * i1, e0 = r0 * r0 + i0 * i0;
    if (e2 < 1e-6 || e1 < 1e-6 || e0 < 1e-6) {
      out[k] = defaultValue;
      continue;
    }
    const double m2 = std::sqrt(e2), m1 = std::sqrt(e1), m0 = std::sqrt(e0);
    // The phase step from the older to the previous line, as a unit rotation.
    const double c = (r1 * r2 + i1 * i2) / (m1 * m2), s = (i1 * r2 - r1 * i2) / (m1 * m2);
    // Rotate the older value twice by that step and scale it to the
    // extrapolated magnitude.
    const double c2 = c * c - s * s, s2 = 2.0 * c * s;
    const double scale = geometric ? (m1 / m2) * (m1 / m2) : 2.0 * m1 / m2 - 1.0;
    const double pr = scale * (r2 * c2 - i2 * s2), pi = scale * (r2 * s2 + i2 * c2);
    const double dr = r0 - pr, di = i0 - pi;
    const double mp = std::sqrt(pr * pr + pi * pi);
    out[k] = float(std::sqrt(dr * dr + di * di) / (m0 + mp));
  }
}

// Peakiness along frequency; the edges copy their neighbours.
static void peakiness(const float* current, int nLines, bool squaredRatio, float* out) {
  if (nLines <= 0) return;
  std::vector<double> m(static_cast<size_t>(nLines));
  for (int k = 0; k < nLines; ++k)
    m[size_t(k)] = std::sqrt(double(current[2 * k]) * current[2 * k] +
                             double(current[2 * k + 1]) * current[2 * k + 1]);
  if (nLines < 6) {
    for (int k = 0; k < nLines; ++k) out[k] = 1.0f;
    return;
  }
  for (int k = 2; k < nLines - 3; ++k) {
    const double e = m[size_t(k)] - 0.5 * (m[size_t(k - 2)] + m[size_t(k + 2)]);
    double c;
    if (!squaredRatio) {
      double t = e / std::max(m[size_t(k)], double(FLT_MIN));
      if (t < 0.0) t = 0.0;
      c = (1.0 - t) * (1.0 - t);
      c = c < 0.0 ? 0.0 : (c > 1.0 ? 1.0 : c);
    } else {
      c = (e >= 0.0 && m[size_t(k)] != 0.0) ? (1.0 - e / m[size_t(k)]) * (1.0 - e / m[size_t(k)])
                                             : 1.0;
    }
    out[k] = float(c);
  }
  out[0] = out[1] = out[2];
  const float tail = (out[nLines - 6] + out[nLines - 5] + out[nLines - 4]) / 3.0f;
  out[nLines - 3] = out[nLines - 2] = out[nLines - 1] = tail;
}

ErrorRecord* CalculateChaosMeasure(const float* older, const float* previous, const float* current,
                                   int nLines, int nLimit, float defaultValue, int method,
                                   float* out) {
  switch (method) {
    case 0:
    case 1:
      predicted(older, previous, current, nLines, defaultValue, method == 1, out);
      return nullptr;
    case 2:
    case 3:
      peakiness(current, nLines, method == 3, out);
      return nullptr;
    case 4: {
      const int nLow = std::min(nLimit + 5, nLines);
      std::vector<float> low(static_cast<size_t>(nLow > 0 ? nLow : 1));
      peakiness(current, nLow, false, low.data());
      predicted(older, previous, current, nLines, defaultValue, false, out);
      for (int k = 0; k < nLimit && k < nLow; ++k) out[k] = std::min(out[k], low[size_t(k)]);
      return nullptr;
    }
    default:
      return error_create(kModule, __LINE__, nullptr,
                          "CalculateChaosMeasure() called with unknown chaos method");
  }
}
