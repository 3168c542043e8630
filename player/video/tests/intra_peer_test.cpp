// Intra pictures compared with ffmpeg's decode of the same streams.
#include <gtest/gtest.h>

#include <cstdio>

#include "peer.h"

using namespace vdectest;

namespace {

struct IntraCase {
  const char* name;
  const char* args;
  int width, height;
  bool shortHeader;
};

void report(const char* name, const Result& r) {
  std::printf("  %-28s %3d pictures, PSNR-Y mean %.2f dB, worst %.2f dB\n", name,
              int(r.psnr.size()), r.mean(), r.worst());
}

}  // namespace

TEST(IntraPeer, MatchesFfmpegDecode) {
  if (!ffmpegAvailable()) GTEST_SKIP() << "ffmpeg not reachable";
  const IntraCase cases[] = {
      {"mpeg4 128x96 q2", "-c:v mpeg4 -g 1 -bf 0 -qscale:v 2", 128, 96, false},
      {"mpeg4 176x144 q5", "-c:v mpeg4 -g 1 -bf 0 -qscale:v 5", 176, 144, false},
      {"mpeg4 176x144 q31", "-c:v mpeg4 -g 1 -bf 0 -qscale:v 31", 176, 144, false},
      {"mpeg4 352x288 q8", "-c:v mpeg4 -g 1 -bf 0 -qscale:v 8", 352, 288, false},
      {"mpeg4 180x120 q4", "-c:v mpeg4 -g 1 -bf 0 -qscale:v 4", 180, 120, false},
      {"mpeg4 176x144 q3 matrices", "-c:v mpeg4 -g 1 -bf 0 -qscale:v 3 -mpeg_quant 1", 176, 144,
       false},
      {"h263 176x144 q4", "-c:v h263 -g 1 -qscale:v 4", 176, 144, true},
      {"h263 128x96 q12", "-c:v h263 -g 1 -qscale:v 12", 128, 96, true},
      {"h263 352x288 q2", "-c:v h263 -g 1 -qscale:v 2", 352, 288, true},
  };
  for (const IntraCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Clip clip = makeClip(c.args, c.width, c.height, 6, c.shortHeader ? "h263" : "m4v");
    ASSERT_FALSE(clip.stream.empty());
    ASSERT_EQ(clip.frames(), 6);
    const Result r = decodeAndCompare(clip, c.shortHeader);
    report(c.name, r);
    EXPECT_EQ(r.decoded, 6);
    ASSERT_EQ(r.psnr.size(), 6u);
    EXPECT_GE(r.worst(), 50.0);
  }
}
