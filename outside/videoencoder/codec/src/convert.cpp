// Conversions in integer arithmetic (coefficients in Q8).
#include <algorithm>

#include "videoenc/convert.h"

namespace {
inline uint8_t clip(int v) { return uint8_t(std::clamp(v, 0, 255)); }
}  // namespace

void venc_bgr24_to_yuv420(const uint8_t* rgb, int32_t stride, bool bottomUp, const YuvPlanes& out) {
  auto row = [&](int y) { return rgb + size_t(bottomUp ? out.height - 1 - y : y) * stride; };
  for (int y = 0; y < out.height; ++y) {
    const uint8_t* p = row(y);
    uint8_t* dy = out.y + size_t(y) * out.strideY;
    for (int x = 0; x < out.width; ++x, p += 3)
      dy[x] = clip(((66 * p[2] + 129 * p[1] + 25 * p[0] + 128) >> 8) + 16);
  }
  for (int y = 0; y < out.height / 2; ++y) {
    const uint8_t* a = row(2 * y);
    const uint8_t* b = row(2 * y + 1);
    uint8_t* du = out.u + size_t(y) * out.strideC;
    uint8_t* dv = out.v + size_t(y) * out.strideC;
    for (int x = 0; x < out.width / 2; ++x, a += 6, b += 6) {
      // The mean of the 2 x 2 pixels the chroma sample covers.
      const int bl = a[0] + a[3] + b[0] + b[3], g = a[1] + a[4] + b[1] + b[4], r = a[2] + a[5] + b[2] + b[5];
      du[x] = clip(((-38 * r - 74 * g + 112 * bl + 512) >> 10) + 128);
      dv[x] = clip(((112 * r - 94 * g - 18 * bl + 512) >> 10) + 128);
    }
  }
}

void venc_scale_yuv420(const ConstYuvPlanes& in, const YuvPlanes& out) {
  auto plane = [](const uint8_t* s, int ss, int sw, int sh, uint8_t* d, int ds, int dw, int dh) {
    for (int y = 0; y < dh; ++y) {
      const uint8_t* sr = s + size_t(int64_t(y) * sh / dh) * ss;
      uint8_t* dr = d + size_t(y) * ds;
      for (int x = 0; x < dw; ++x) dr[x] = sr[int64_t(x) * sw / dw];
    }
  };
  plane(in.y, in.strideY, in.width, in.height, out.y, out.strideY, out.width, out.height);
  plane(in.u, in.strideC, in.width / 2, in.height / 2, out.u, out.strideC, out.width / 2, out.height / 2);
  plane(in.v, in.strideC, in.width / 2, in.height / 2, out.v, out.strideC, out.width / 2, out.height / 2);
}

void venc_yuv420_to_bgr24(const ConstYuvPlanes& in, uint8_t* rgb, int32_t stride, bool bottomUp) {
  for (int y = 0; y < in.height; ++y) {
    uint8_t* d = rgb + size_t(bottomUp ? in.height - 1 - y : y) * stride;
    const uint8_t* py = in.y + size_t(y) * in.strideY;
    const uint8_t* pu = in.u + size_t(y / 2) * in.strideC;
    const uint8_t* pv = in.v + size_t(y / 2) * in.strideC;
    for (int x = 0; x < in.width; ++x, d += 3) {
      const int c = 298 * (py[x] - 16), e = pu[x / 2] - 128, f = pv[x / 2] - 128;
      d[0] = clip((c + 516 * e + 128) >> 8);
      d[1] = clip((c - 100 * e - 208 * f + 128) >> 8);
      d[2] = clip((c + 409 * f + 128) >> 8);
    }
  }
}
