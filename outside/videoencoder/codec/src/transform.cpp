// Forward 8 x 8 DCT in floating point, separable. Only the encoder's choice
// of levels depends on it; the reconstruction uses the decoder's inverse.
#include <cmath>

#include "venc_internal.h"

namespace venc {

namespace {

struct Basis {
  float m[8][8];  // m[k][n] = c(k) / 2 cos((2n + 1) k pi / 16)
  Basis() {
    for (int k = 0; k < 8; ++k)
      for (int n = 0; n < 8; ++n)
        m[k][n] = float((k ? 0.5 : 0.5 / std::sqrt(2.0)) * std::cos((2 * n + 1) * k * 3.14159265358979323846 / 16));
  }
};

}  // namespace

void forwardDct(const int16_t* in, int32_t* out) {
  static const Basis b;
  float tmp[64];
  for (int r = 0; r < 8; ++r) {
    const int16_t* row = in + 8 * r;
    for (int k = 0; k < 8; ++k) {
      float s = 0;
      for (int n = 0; n < 8; ++n) s += b.m[k][n] * float(row[n]);
      tmp[8 * r + k] = s;
    }
  }
  for (int c = 0; c < 8; ++c) {
    for (int k = 0; k < 8; ++k) {
      float s = 0;
      for (int n = 0; n < 8; ++n) s += b.m[k][n] * tmp[8 * n + c];
      out[8 * k + c] = int32_t(std::lrintf(s));
    }
  }
}

}  // namespace venc
