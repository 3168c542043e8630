// Predicted pictures, video packets, data partitioning and group-of-blocks
// headers, compared with ffmpeg's decode of the same streams; and damaged
// packets concealed without harm to the rest of the picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "peer.h"
#include "video/vdec.h"

using namespace vdectest;

namespace {

void report(const std::string& name, const Result& r) {
  std::printf("  %-44s %3d pictures, PSNR-Y mean %.2f dB, worst %.2f dB\n", name.c_str(),
              int(r.psnr.size()), r.mean(), r.worst());
}

struct InterCase {
  const char* name;
  const char* args;
  int width, height, frames;
  bool shortHeader;
  double minMean, minWorst;
};

}  // namespace

TEST(InterPeer, MatchesFfmpegDecode) {
  if (!ffmpegAvailable()) GTEST_SKIP() << "ffmpeg not reachable";
  const InterCase cases[] = {
      {"mpeg4 4MV g30", "-c:v mpeg4 -g 30 -bf 0 -qscale:v 4 -flags +mv4", 176, 144, 30, false, 55, 48},
      {"mpeg4 4MV g30 CIF", "-c:v mpeg4 -g 30 -bf 0 -qscale:v 8 -flags +mv4", 352, 288, 30, false, 55,
       48},
      {"mpeg4 packets g30", "-c:v mpeg4 -g 30 -bf 0 -qscale:v 3 -ps 300", 176, 144, 30, false, 55, 48},
      {"mpeg4 partitioned g30",
       "-c:v mpeg4 -g 30 -bf 0 -qscale:v 4 -flags +mv4 -data_partitioning 1 -ps 300 -threads 4", 176, 144, 30,
       false, 55, 48},
      {"mpeg4 180x120 g30", "-c:v mpeg4 -g 30 -bf 0 -qscale:v 4 -flags +mv4", 180, 120, 30, false, 55,
       48},
      {"mpeg4 matrices g30", "-c:v mpeg4 -g 30 -bf 0 -qscale:v 4 -mpeg_quant 1", 176, 144, 30, false,
       55, 48},
      {"h263 GOB headers g30", "-c:v h263 -g 30 -qscale:v 4 -ps 150", 176, 144, 30, true, 55, 48},
      {"h263 CIF g30", "-c:v h263 -g 30 -qscale:v 8", 352, 288, 30, true, 55, 48},
      // One long run: no drift builds up over a long group of pictures.
      {"mpeg4 partitioned 4MV g300",
       "-c:v mpeg4 -g 300 -bf 0 -qscale:v 3 -flags +mv4 -data_partitioning 1 -ps 300 -threads 4", 176, 144, 300,
       false, 55, 42},
  };
  for (const InterCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Clip clip = makeClip(c.args, c.width, c.height, c.frames, c.shortHeader ? "h263" : "m4v");
    ASSERT_FALSE(clip.stream.empty());
    ASSERT_EQ(clip.frames(), c.frames);
    const Result r = decodeAndCompare(clip, c.shortHeader);
    report(c.name, r);
    EXPECT_EQ(r.decoded, c.frames);
    ASSERT_EQ(int(r.psnr.size()), c.frames);
    EXPECT_GE(r.mean(), c.minMean);
    EXPECT_GE(r.worst(), c.minWorst);
  }
}

namespace {

// Offsets of the byte-aligned resync markers in a VOP.
std::vector<size_t> packetStarts(const std::vector<uint8_t>& u) {
  std::vector<size_t> at;
  for (size_t i = 5; i + 2 < u.size(); ++i)
    // A resync marker is 16 + fcode - 1 zeros and a one, byte-aligned; a
    // start code (00 00 01) is not one.
    if (!u[i] && !u[i + 1] && u[i + 2] >= 2) at.push_back(i);
  return at;
}

// PSNR of each 16-row band of picture k between two decodes.
std::vector<double> bandPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int w, int h) {
  std::vector<double> out;
  for (int y = 0; y < h; y += 16) out.push_back(psnrY(a.data() + size_t(y) * w, b.data() + size_t(y) * w, w, 16));
  return out;
}

struct Decoded {
  std::vector<std::vector<uint8_t>> pictures;
};

Decoded decodeAll(const std::vector<uint8_t>& config, const std::vector<std::vector<uint8_t>>& units,
                  int w, int h) {
  Decoded d;
  VideoDecoder dec;
  const uint8_t* cfg[1] = {config.data()};
  const int32_t sizes[1] = {int32_t(config.size())};
  EXPECT_EQ(vdec_create(&dec, cfg, sizes, 1), 1);
  std::vector<uint8_t> out(size_t(w) * h * 3 / 2);
  for (const auto& u : units) {
    std::vector<uint8_t> buf(u);
    uint8_t* in[1] = {buf.data()};
    int32_t ts[1] = {-1};
    int32_t size[1] = {int32_t(buf.size())};
    if (vdec_decode_frame(&dec, in, ts, size, out.data()) == 1) d.pictures.push_back(out);
  }
  vdec_destroy(&dec);
  return d;
}

}  // namespace

// A damaged and a missing video packet in one predicted picture: the stream
// decodes to the end, the macroblock rows the damage does not reach match the
// clean decode exactly, and the damaged picture stays close to it.
TEST(InterPeer, DamagedPacketsAreConcealed) {
  if (!ffmpegAvailable()) GTEST_SKIP() << "ffmpeg not reachable";
  for (const char* args : {"-c:v mpeg4 -g 30 -bf 0 -qscale:v 4 -ps 150",
                           "-c:v mpeg4 -g 30 -bf 0 -qscale:v 4 -ps 150 -data_partitioning 1 -threads 4"}) {
    SCOPED_TRACE(args);
    const int w = 176, h = 144;
    const Clip clip = makeClip(args, w, h, 12, "m4v");
    ASSERT_FALSE(clip.stream.empty());
    std::vector<uint8_t> config;
    const auto units = splitMpeg4(clip.stream, &config);
    ASSERT_EQ(units.size(), 12u);
    const Decoded clean = decodeAll(config, units, w, h);
    ASSERT_EQ(clean.pictures.size(), 12u);

    const size_t k = 6;  // a predicted picture
    const auto starts = packetStarts(units[k]);
    ASSERT_GE(starts.size(), 3u);
    for (int mode = 0; mode < 2; ++mode) {
      auto damaged = units;
      auto& u = damaged[k];
      if (mode == 0) {
        for (size_t i = starts[0] + 6; i < starts[1] - 2; ++i) u[i] ^= 0x5A;  // garble packet 1
      } else {
        u.erase(u.begin() + long(starts[1]), u.begin() + long(starts[2]));  // drop packet 2
      }
      const Decoded got = decodeAll(config, damaged, w, h);
      ASSERT_EQ(got.pictures.size(), 12u) << "mode " << mode;
      for (size_t i = 0; i < k; ++i) EXPECT_EQ(got.pictures[i], clean.pictures[i]);
      const auto bands = bandPsnr(got.pictures[k], clean.pictures[k], w, h);
      int exact = 0;
      for (double b : bands) exact += b >= 99;
      EXPECT_GE(exact, 4) << "mode " << mode;  // rows outside the damaged packet
      EXPECT_GE(psnrY(got.pictures[k].data(), clean.pictures[k].data(), w, h), 25.0) << "mode " << mode;
      // The damage fades with the next intra picture, not before.
      EXPECT_GE(psnrY(got.pictures[11].data(), clean.pictures[11].data(), w, h), 25.0);
    }
  }
}

// The post-filter works on the output only: switching it on and off between
// pictures leaves every later decoded picture as it was.
TEST(InterPeer, PostFilterChangesOnlyTheOutput) {
  if (!ffmpegAvailable()) GTEST_SKIP() << "ffmpeg not reachable";
  const int w = 176, h = 144;
  const Clip clip = makeClip("-c:v mpeg4 -g 12 -bf 0 -qscale:v 10 -flags +mv4 -ps 300", w, h, 12, "m4v");
  ASSERT_FALSE(clip.stream.empty());
  std::vector<uint8_t> config;
  const auto units = splitMpeg4(clip.stream, &config);
  auto run = [&](int (*mode)(int)) {
    std::vector<std::vector<uint8_t>> pics;
    VideoDecoder dec;
    const uint8_t* cfg[1] = {config.data()};
    const int32_t sizes[1] = {int32_t(config.size())};
    EXPECT_EQ(vdec_create(&dec, cfg, sizes, 1), 1);
    std::vector<uint8_t> out(size_t(w) * h * 3 / 2);
    for (size_t i = 0; i < units.size(); ++i) {
      EXPECT_EQ(vdec_set_postfilter(&dec, mode(int(i))), 1);
      std::vector<uint8_t> buf(units[i]);
      uint8_t* in[1] = {buf.data()};
      int32_t ts[1] = {-1};
      int32_t size[1] = {int32_t(buf.size())};
      EXPECT_EQ(vdec_decode_frame(&dec, in, ts, size, out.data()), 1);
      pics.push_back(out);
    }
    vdec_destroy(&dec);
    return pics;
  };
  const auto plain = run([](int) { return 0; });
  const auto toggled = run([](int i) { return i % 2 ? 3 : 0; });
  const auto always = run([](int i) { return 1 + i % 3; });
  int filteredDiffer = 0;
  for (size_t i = 0; i < plain.size(); ++i) {
    if (i % 2 == 0) {
      EXPECT_EQ(toggled[i], plain[i]) << "picture " << i;
    }
    filteredDiffer += toggled[i] != plain[i];
    // Filtered pictures stay close to the decoded ones.
    EXPECT_GE(psnrY(always[i].data(), plain[i].data(), w, h), 30.0) << "picture " << i;
  }
  EXPECT_GT(filteredDiffer, 0);  // the filter did something
}
