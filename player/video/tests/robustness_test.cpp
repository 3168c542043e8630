// Damaged input: truncated units, flipped bits and garbage never read out of
// bounds (ASan in the native build), always make progress, and a unit with no
// picture in it is reported as a failure.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "peer.h"
#include "synth.h"
#include "video/vdec.h"

using namespace vdectest;

namespace {

struct Decoder {
  VideoDecoder dec{};
  std::vector<uint8_t> out;
  Decoder(bool shortHeader, const std::vector<uint8_t>& config, int w, int h) {
    if (shortHeader) {
      EXPECT_EQ(vdec_create_single(&dec, w, h), 1);
    } else {
      const uint8_t* cfg[1] = {config.data()};
      const int32_t sizes[1] = {int32_t(config.size())};
      EXPECT_EQ(vdec_create(&dec, cfg, sizes, 1), 1);
    }
    out.resize(size_t(w) * h * 3 / 2);
  }
  ~Decoder() { vdec_destroy(&dec); }
  // Feeds one unit until it is used up; counts pictures.
  int feed(std::vector<uint8_t> unit) {
    uint8_t* in[1] = {unit.data()};
    int32_t size[1] = {int32_t(unit.size())};
    int pictures = 0;
    while (size[0] > 0) {
      int32_t ts[1] = {-1};
      const int32_t before = size[0];
      const int r = vdec_decode_frame(&dec, in, ts, size, out.data());
      pictures += r;
      EXPECT_TRUE(r == 0 || size[0] < before) << "no progress";
      if (r == 0 || size[0] >= before) break;
    }
    return pictures;
  }
};

void damage(const std::vector<std::vector<uint8_t>>& units, bool shortHeader,
            const std::vector<uint8_t>& config, int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  // Truncated units.
  {
    Decoder d(shortHeader, config, w, h);
    for (const auto& u : units)
      for (int k = 0; k < 8; ++k)
        d.feed(std::vector<uint8_t>(u.begin(), u.begin() + long(u.size() * size_t(k) / 8)));
  }
  // Flipped bits, a few per unit, in a running sequence so that damage also
  // reaches the pictures predicted from damaged ones.
  for (int round = 0; round < 4; ++round) {
    Decoder d(shortHeader, config, w, h);
    for (const auto& u : units) {
      std::vector<uint8_t> v(u);
      const int flips = 1 + int(rng() % 6);
      for (int f = 0; f < flips; ++f) v[rng() % v.size()] ^= uint8_t(1u << (rng() % 8));
      d.feed(v);
    }
  }
  // Garbage without a start code is no picture.
  {
    Decoder d(shortHeader, config, w, h);
    std::vector<uint8_t> junk(300);
    for (auto& b : junk) b = uint8_t(rng() | 0x01);
    EXPECT_EQ(d.feed(junk), 0);
    EXPECT_EQ(d.feed({0, 0, 1}), 0);
  }
}

}  // namespace

TEST(Robustness, DamagedHandBuiltStreams) {
  const auto vol = makeVol(VolParams{});
  std::vector<std::vector<uint8_t>> units;
  for (int i = 0; i < 4; ++i) {
    VopParams p;
    p.timeIncrement = i;
    units.push_back(makeFlatIntraVop(99, p));
  }
  damage(units, false, vol, 176, 144, 1);
  std::vector<std::vector<uint8_t>> pictures;
  for (int i = 0; i < 4; ++i) pictures.push_back(makeShortHeaderIntra(2, i, 5, 90 + i, 110));
  damage(pictures, true, {}, 176, 144, 2);
}

TEST(Robustness, DamagedFfmpegStreams) {
  if (!ffmpegAvailable()) GTEST_SKIP() << "ffmpeg not reachable";
  struct Case {
    const char* args;
    const char* format;
  };
  for (const Case& c : {Case{"-c:v mpeg4 -g 1 -bf 0 -qscale:v 3", "m4v"},
                        Case{"-c:v h263 -g 1 -qscale:v 3", "h263"},
                        Case{"-c:v mpeg4 -g 8 -bf 0 -qscale:v 3 -flags +mv4 -ps 200", "m4v"},
                        Case{"-c:v mpeg4 -g 8 -bf 0 -qscale:v 3 -data_partitioning 1 -ps 200 -threads 4", "m4v"},
                        Case{"-c:v mpeg4 -g 8 -bf 0 -qscale:v 3", "m4v"},
                        Case{"-c:v h263 -g 8 -qscale:v 3 -ps 200", "h263"}}) {
    SCOPED_TRACE(c.args);
    const Clip clip = makeClip(c.args, 176, 144, 8, c.format);
    ASSERT_FALSE(clip.stream.empty());
    const bool sh = std::string(c.format) == "h263";
    std::vector<uint8_t> config;
    const auto units = sh ? splitH263(clip.stream) : splitMpeg4(clip.stream, &config);
    damage(units, sh, config, 176, 144, 3);
  }
}
