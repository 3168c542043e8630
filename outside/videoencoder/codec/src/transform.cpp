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

namespace {

// One 8-point pass by its even and odd halves: the sums x[n] + x[7 - n] give
// the even outputs, the differences the odd ones (half the products).
inline void pass(const Basis& b, const float* in, int inStride, float* out, int outStride) {
  float sum[4], diff[4];
  for (int n = 0; n < 4; ++n) {
    sum[n] = in[n * inStride] + in[(7 - n) * inStride];
    diff[n] = in[n * inStride] - in[(7 - n) * inStride];
  }
  for (int k = 0; k < 8; k += 2) {
    out[k * outStride] = b.m[k][0] * sum[0] + b.m[k][1] * sum[1] + b.m[k][2] * sum[2] + b.m[k][3] * sum[3];
    out[(k + 1) * outStride] =
        b.m[k + 1][0] * diff[0] + b.m[k + 1][1] * diff[1] + b.m[k + 1][2] * diff[2] + b.m[k + 1][3] * diff[3];
  }
}

}  // namespace

void forwardDct(const int16_t* in, int32_t* out) {
  static const Basis b;
  float x[64], tmp[64], res[64];
  for (int i = 0; i < 64; ++i) x[i] = float(in[i]);
  for (int r = 0; r < 8; ++r) pass(b, x + 8 * r, 1, tmp + 8 * r, 1);
  for (int c = 0; c < 8; ++c) pass(b, tmp + c, 8, res + c, 8);
  for (int i = 0; i < 64; ++i) out[i] = int32_t(std::lrintf(res[i]));
}

}  // namespace venc
