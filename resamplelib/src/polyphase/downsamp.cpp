// Integer-factor down-sampler in direct form: y[n] = sum_k h[k] x[nM - k].
#include <cstdlib>
#include <cstring>

#include "resamplelib/polyphase.h"

static const char kModule[] = "resamplelib/src/polyphase/downsamp";

struct DownSampler {
  int factor;
  int blockLength;
  int taps;
  double* h;
  float* history;  // the last taps - 1 inputs, oldest first
};

ErrorRecord* downsamp_create(DownSampler** out, int factor, int blockLength, double cutoff, int* delay) {
  *out = nullptr;
  if (factor < 1 || blockLength < factor || blockLength % factor || !(cutoff > 0.0 && cutoff <= 0.5))
    return error_create(kModule, __LINE__, nullptr, "Invalid input parameters");
  FilterDesign d{};
  d.gain = 1.0;
  d.attenuation = 90;
  d.cutoff = cutoff;
  d.transition = 0.1 * cutoff;
  polyfilt_design(&d);
  // Whole periods of the factor on both sides of the centre tap.
  if ((d.taps - 1) % (2 * factor) != 0) {
    d.taps = 2 * factor * ((d.taps - 1) / (2 * factor)) + 1;
    polyfilt_design(&d);
  }
  auto* ds = static_cast<DownSampler*>(std::calloc(1, sizeof(DownSampler)));
  if (ds) {
    ds->h = static_cast<double*>(std::calloc(size_t(d.taps), sizeof(double)));
    ds->history = static_cast<float*>(std::calloc(size_t(d.taps), sizeof(float)));
  }
  if (!ds || !ds->h || !ds->history) {
    downsamp_free(ds);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  ds->factor = factor;
  ds->blockLength = blockLength;
  ds->taps = d.taps;
  d.coefficients = ds->h;
  if (ErrorRecord* err = polyfilt_sinc(&d)) {
    downsamp_free(ds);
    return error_add_trace(kModule, __LINE__, nullptr, err);
  }
  if (delay) *delay = (d.taps - 1) / 2;
  *out = ds;
  return nullptr;
}

void downsamp_free(DownSampler* ds) {
  if (!ds) return;
  std::free(ds->h);
  std::free(ds->history);
  std::free(ds);
}

const double* downsamp_filter(const DownSampler* ds, int* taps) {
  *taps = ds->taps;
  return ds->h;
}

ErrorRecord* downsamp_process(DownSampler* ds, const float* in, int count, float* out) {
  if (count < 0 || count % ds->factor || count > ds->blockLength)
    return error_create(kModule, __LINE__, nullptr, "Invalid input parameters");
  const int keep = ds->taps - 1;
  // Input index i of this block is history[keep + i] for i < 0.
  auto sample = [&](int i) { return i >= 0 ? in[i] : ds->history[keep + i]; };
  for (int n = 0; n < count / ds->factor; ++n) {
    double sum = 0.0;
    const int at = n * ds->factor;
    for (int k = 0; k < ds->taps; ++k) sum += ds->h[k] * sample(at - k);
    out[n] = float(sum);
  }
  // Keep the newest taps - 1 inputs.
  if (count >= keep) {
    std::memcpy(ds->history, in + count - keep, sizeof(float) * size_t(keep));
  } else {
    std::memmove(ds->history, ds->history + count, sizeof(float) * size_t(keep - count));
    std::memcpy(ds->history + keep - count, in, sizeof(float) * size_t(count));
  }
  return nullptr;
}
