// Colour conversion against ffmpeg's (studio-range BT.601) and scaling.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "videoenc/convert.h"

namespace {

struct Colour {
  uint8_t b, g, r;
  uint8_t y, u, v;  // BT.601 studio range, as ffmpeg's rgb24 -> yuv420p gives them
};

TEST(Convert, PrimaryColoursGoToTheirStudioRangeValuesAndBack) {
  const Colour cases[] = {
      {0, 0, 0, 16, 128, 128},     {255, 255, 255, 235, 128, 128}, {0, 0, 255, 82, 90, 240},
      {0, 255, 0, 145, 54, 34},    {255, 0, 0, 41, 240, 110},      {128, 128, 128, 126, 128, 128},
  };
  for (const Colour& c : cases) {
    // A 4 x 4 picture of one colour, bottom-up with a padded stride.
    std::vector<uint8_t> rgb(4 * 16);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) {
        rgb[size_t(y) * 16 + 3 * x] = c.b;
        rgb[size_t(y) * 16 + 3 * x + 1] = c.g;
        rgb[size_t(y) * 16 + 3 * x + 2] = c.r;
      }
    uint8_t y[16], u[4], v[4];
    venc_bgr24_to_yuv420(rgb.data(), 16, true, YuvPlanes{y, u, v, 4, 2, 4, 4});
    EXPECT_NEAR(y[5], c.y, 1);
    EXPECT_NEAR(u[3], c.u, 1);
    EXPECT_NEAR(v[3], c.v, 1);
    std::vector<uint8_t> back(4 * 12);
    venc_yuv420_to_bgr24(ConstYuvPlanes{y, u, v, 4, 2, 4, 4}, back.data(), 12, false);
    EXPECT_NEAR(back[0], c.b, 3);
    EXPECT_NEAR(back[1], c.g, 3);
    EXPECT_NEAR(back[2], c.r, 3);
  }
}

TEST(Convert, BottomUpRowsComeOutTopDown) {
  // Row 0 of a bottom-up DIB is the picture's last row.
  std::vector<uint8_t> rgb(2 * 6, 0);
  for (int i = 0; i < 6; ++i) rgb[i] = 255;  // first stored row white
  uint8_t y[4], u[1], v[1];
  venc_bgr24_to_yuv420(rgb.data(), 6, true, YuvPlanes{y, u, v, 2, 1, 2, 2});
  EXPECT_EQ(y[0], 16);
  EXPECT_EQ(y[2], 235);
  venc_bgr24_to_yuv420(rgb.data(), 6, false, YuvPlanes{y, u, v, 2, 1, 2, 2});
  EXPECT_EQ(y[0], 235);
}

TEST(Convert, ScalingPicksTheNearestSamples) {
  struct K {
    int sw, sh, dw, dh;
  };
  for (const K& k : {K{8, 8, 4, 4}, K{4, 4, 8, 8}, K{320, 240, 176, 144}, K{176, 144, 176, 144}}) {
    std::vector<uint8_t> s(size_t(k.sw) * k.sh * 3 / 2), d(size_t(k.dw) * k.dh * 3 / 2);
    for (int y = 0; y < k.sh; ++y)
      for (int x = 0; x < k.sw; ++x) s[size_t(y) * k.sw + x] = uint8_t(x * 255 / (k.sw - 1));
    const size_t sy = size_t(k.sw) * k.sh, dy = size_t(k.dw) * k.dh;
    venc_scale_yuv420(ConstYuvPlanes{s.data(), s.data() + sy, s.data() + sy * 5 / 4, k.sw, k.sw / 2, k.sw, k.sh},
                      YuvPlanes{d.data(), d.data() + dy, d.data() + dy * 5 / 4, k.dw, k.dw / 2, k.dw, k.dh});
    for (int x = 0; x < k.dw; ++x) EXPECT_EQ(d[size_t(k.dh - 1) * k.dw + x], s[size_t(x) * k.sw / k.dw]);
  }
}

}  // namespace
