// The encoder on ffmpeg-made sequences: ffmpeg decodes its output without an
// error, our decoder reproduces its reconstruction to the bit, intra
// pictures come at the interval asked for, and the rate control lands near
// its target.
#include <gtest/gtest.h>

#include <cstring>

#include "sequences.h"
#include "video/vdec.h"
#include "videoenc/venc.h"

using namespace venctest;

namespace {

VencSettings settings(int w, int h, int bitRate, int interval, int full = 0) {
  VencSettings s{};
  s.width = w;
  s.height = h;
  s.bitRate = bitRate;
  s.frameRate = 25;
  s.intraInterval = interval;
  s.quantiser = 8;
  s.searchRange = 15;
  s.fullSearch = full;
  return s;
}

struct Case {
  const char* name;
  const char* source;
  const char* filter;
  int width, height, frames, bitRate, interval, fullSearch;
};

const Case kCases[] = {
    {"qcif_testsrc2", "testsrc2", "", 176, 144, 30, 96000, 10, 0},
    {"qcif_scroll_full", "testsrc2", "scroll=h=0.004:v=0.003", 176, 144, 20, 128000, -1, 1},
    {"height_120_mandelbrot", "mandelbrot", "", 160, 120, 20, 64000, 8, 0},
    {"size_128x96_fixed_qp", "testsrc2", "scroll=h=-0.01", 128, 96, 16, 0, 5, 0},
    {"cif_testsrc2", "testsrc2", "", 352, 288, 12, 384000, 6, 0},
};

class EncoderPeer : public ::testing::TestWithParam<Case> {};

TEST_P(EncoderPeer, FfmpegDecodesAndOurDecoderMatchesTheReconstruction) {
  if (!ffmpegAvailable()) GTEST_SKIP() << "ffmpeg not available";
  const Case& c = GetParam();
  const Sequence seq = makeSequence(c.source, c.width, c.height, c.frames, c.filter);
  ASSERT_EQ(seq.frames(), c.frames);
  const Encoded e = encode(seq, settings(c.width, c.height, c.bitRate, c.interval, c.fullSearch));
  ASSERT_TRUE(e.ok);
  ASSERT_LE(e.config.size(), size_t(VENC_MAX_CONFIG));

  // ffmpeg: no error with -xerror, every picture out, close to our pictures
  // (its inverse transform differs from ours in rounding only).
  const PeerDecode p = ffmpegDecode(e, c.width, c.height);
  EXPECT_EQ(p.exitCode, 0) << p.errors;
  EXPECT_TRUE(p.errors.empty()) << p.errors;
  ASSERT_EQ(p.yuv.size(), seq.yuv.size());
  for (int i = 0; i < c.frames; ++i) {
    EXPECT_GT(psnr(p.yuv.data() + size_t(i) * seq.frameBytes(), e.recon[size_t(i)].data(),
                   size_t(c.width) * c.height),
              34.0)
        << "picture " << i;
    // and the pictures resemble the source
    EXPECT_GT(psnr(seq.frame(i), e.recon[size_t(i)].data(), size_t(c.width) * c.height), 24.0)
        << "picture " << i;
  }

  // Our decoder: the same pictures to the bit.
  VideoDecoder dec;
  const uint8_t* cfg[1] = {e.config.data()};
  const int32_t cfgSize[1] = {int32_t(e.config.size())};
  ASSERT_EQ(vdec_create(&dec, cfg, cfgSize, 1), 1);
  EXPECT_EQ(vdec_get_width(&dec), c.width);
  std::vector<uint8_t> out(seq.frameBytes());
  for (size_t i = 0; i < e.units.size(); ++i) {
    std::vector<uint8_t> buf(e.units[i]);
    uint8_t* in[1] = {buf.data()};
    int32_t ts[1] = {-1};
    int32_t size[1] = {int32_t(buf.size())};
    ASSERT_EQ(vdec_decode_frame(&dec, in, ts, size, out.data()), 1) << "picture " << i;
    EXPECT_EQ(vdec_is_intra(&dec), e.info[i].intra) << "picture " << i;
    EXPECT_EQ(vdec_get_timestamp(&dec), int(i * 40)) << "picture " << i;
    ASSERT_EQ(std::memcmp(out.data(), e.recon[i].data(), out.size()), 0) << "picture " << i;
  }
  vdec_destroy(&dec);
}

INSTANTIATE_TEST_SUITE_P(Sequences, EncoderPeer, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Intra pictures follow the interval (-1: the first only), and a forced one
// restarts the count.
TEST(Encoder, IntraPicturesFollowTheInterval) {
  struct K {
    int interval;
    std::vector<int> forced;
    std::vector<int> expected;
  };
  const K cases[] = {
      {-1, {}, {0}},
      {0, {}, {0}},
      {1, {}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
      {4, {}, {0, 4, 8}},
      {4, {6}, {0, 4, 6, 10}},
      {-1, {3, 7}, {0, 3, 7}},
  };
  std::vector<uint8_t> frame(64 * 48 * 3 / 2);
  for (const K& k : cases) {
    VideoEncoder enc;
    const VencSettings s = settings(64, 48, 0, k.interval);
    ASSERT_EQ(venc_create(&enc, &s), 1);
    std::vector<uint8_t> out(size_t(venc_max_frame_bytes(&enc)));
    std::vector<int> intra;
    for (int i = 0; i < 12; ++i) {
      for (size_t p = 0; p < frame.size(); ++p) frame[p] = uint8_t(p * 7 + i * 3);
      const VencPicture pic{frame.data(), frame.data() + 64 * 48, frame.data() + 64 * 48 * 5 / 4, 64, 32};
      bool force = false;
      for (int f : k.forced) force |= f == i;
      VencFrameInfo info{};
      const int n = venc_encode(&enc, &pic, uint32_t(i * 66), force, out.data(), int32_t(out.size()), &info);
      ASSERT_GT(n, 0);
      // The picture's own coding type says the same as the info.
      EXPECT_EQ(vdec_frame_type(out.data(), n), info.intra ? 0 : 1);
      if (info.intra) intra.push_back(i);
    }
    EXPECT_EQ(intra, k.expected) << "interval " << k.interval;
    venc_destroy(&enc);
  }
}

TEST(Encoder, RateLandsNearTheTarget) {
  if (!ffmpegAvailable()) GTEST_SKIP() << "ffmpeg not available";
  struct K {
    int w, h, bitRate;
  };
  for (const K& k : {K{176, 144, 64000}, K{176, 144, 256000}, K{352, 288, 512000}}) {
    const Sequence seq = makeSequence("testsrc2", k.w, k.h, 100);
    ASSERT_EQ(seq.frames(), 100);
    const Encoded e = encode(seq, settings(k.w, k.h, k.bitRate, 50));
    ASSERT_TRUE(e.ok);
    size_t bytes = 0;
    for (const auto& u : e.units) bytes += u.size();
    const double rate = bytes * 8.0 / (100 / 25.0);
    EXPECT_NEAR(rate / k.bitRate, 1.0, 0.15) << k.w << "x" << k.h << " at " << k.bitRate << ": " << rate;
  }
}

TEST(Encoder, RefusesBadSettingsAndShortBuffers) {
  VideoEncoder enc;
  struct K {
    int w, h;
  };
  for (const K& k : {K{0, 0}, K{15, 16}, K{177, 144}, K{176, 143}, K{4096, 16}, K{16, 2050}}) {
    const VencSettings s = settings(k.w, k.h, 0, -1);
    EXPECT_EQ(venc_create(&enc, &s), 0) << k.w << "x" << k.h;
    EXPECT_EQ(enc.error, VENC_ERROR_ARGUMENT);
    EXPECT_EQ(enc.state, nullptr);
  }
  EXPECT_EQ(venc_create(&enc, nullptr), 0);

  const VencSettings s = settings(32, 32, 0, -1);
  ASSERT_EQ(venc_create(&enc, &s), 1);
  std::vector<uint8_t> frame(32 * 32 * 3 / 2, 128);
  const VencPicture pic{frame.data(), frame.data() + 1024, frame.data() + 1280, 32, 16};
  std::vector<uint8_t> out(size_t(venc_max_frame_bytes(&enc)));
  EXPECT_EQ(venc_encode(&enc, &pic, 0, 0, out.data(), int32_t(out.size()) - 1, nullptr), 0);
  EXPECT_EQ(enc.error, VENC_ERROR_BUFFER);
  const VencPicture narrow{frame.data(), frame.data() + 1024, frame.data() + 1280, 31, 16};
  EXPECT_EQ(venc_encode(&enc, &narrow, 0, 0, out.data(), int32_t(out.size()), nullptr), 0);
  EXPECT_EQ(enc.error, VENC_ERROR_ARGUMENT);
  // Nothing was coded: the next picture is still the first, intra.
  VencFrameInfo info{};
  EXPECT_GT(venc_encode(&enc, &pic, 0, 0, out.data(), int32_t(out.size()), &info), 0);
  EXPECT_EQ(info.intra, 1);
  uint8_t small[8];
  EXPECT_EQ(venc_config(&enc, small, sizeof small), 0);
  venc_destroy(&enc);
  venc_destroy(&enc);  // twice is harmless
}

}  // namespace
