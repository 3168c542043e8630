// The version-2 reader on files made by the tests' generator from ffmpeg's
// MPEG-4 video and our AMR encoder's frames.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "amr_fixture.h"
#include "platform/os.h"
#include "reader/mp4_error.h"
#include "v2reader/mpeg4_file_v2_reader.h"

using namespace v2reader;
using convert_testing::ReadFile;
using Bytes = std::vector<uint8_t>;

namespace {

std::string Scratch(const std::string& name) {
  static const std::string dir = [] {
    std::string d = "/tmp/v2reader_test_" + std::to_string(getpid());
    std::system(("mkdir -p " + d).c_str());
    return d;
  }();
  static const struct Cleanup {
    ~Cleanup() { std::system(("rm -rf '" + dir + "'").c_str()); }
  } cleanup;
  return dir + "/" + name;
}

void Sh(const std::string& cmd) { ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd; }

// The shared inputs: 30 frames of 176x144 video at 15 fps (I-frame every 10)
// and 40 AMR frames.
class V2 : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    video_ = Scratch("clip.m4v");
    amr_ = Scratch("clip.amr");
    Sh("ffmpeg -v error -y -f lavfi -i testsrc=size=176x144:rate=15 -frames:v 30 -c:v mpeg4 -bf 0 -g 10 -f m4v '" +
        video_ + "'");
    ASSERT_TRUE(convert_testing::WriteFile(amr_, convert_testing::MakeAmr(40, 7)));
  }

  static std::string Make(const std::string& name, const std::string& options) {
    std::string out = Scratch(name);
    std::string cmd = "python3 '" SUITE_SOURCE_DIR "/convert/testing/make_v2.py' '" + out + "' " + options;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return out;
  }
  static std::string Both() { return "--video '" + video_ + "' --amr '" + amr_ + "'"; }

  static std::unique_ptr<CMpeg4FileV2Reader> Open(const std::string& path) {
    return CMpeg4FileV2Reader::Open(platform::utf8ToUtf16(path));
  }

  static inline std::string video_, amr_;
};

// The elementary stream cut at its VOP start codes, as the generator does.
std::vector<Bytes> VideoSamples(const Bytes& es) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 3 < es.size(); ++i)
    if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0xB6) starts.push_back(i);
  std::vector<Bytes> out;
  for (size_t k = 0; k < starts.size(); ++k)
    out.emplace_back(es.begin() + (k ? starts[k] : 0), k + 1 < starts.size() ? es.begin() + starts[k + 1] : es.end());
  return out;
}

TEST_F(V2, ParseFailuresCarryTheReadersCodes) {
  struct Case {
    const char* fault;
    int32_t code;
  } cases[] = {
      {"ftyp-first", reader::READ_UNKNOWN_ATOM},
      {"mdat-last", reader::READ_MEDIA_DATA_ATOM_FAILED},
      {"two-moov", reader::DUPLICATE_MOVIE_ATOMS},
      {"no-iods-mvhd", reader::NO_OBJECT_DESCRIPTOR_ATOM_PRESENT},
  };
  for (const Case& c : cases) {
    auto r = Open(Make(std::string(c.fault) + ".mp4", Both() + " --fault " + c.fault));
    ASSERT_TRUE(r) << c.fault;
    EXPECT_FALSE(r->ok()) << c.fault;
    EXPECT_EQ(r->error(), c.code) << c.fault;
  }
  EXPECT_FALSE(CMpeg4FileV2Reader::Open(u"/nonexistent/file.mp4")) << "a file that cannot be opened gives no reader";
}

TEST_F(V2, ReadsTextsTracksAndEverySampleBack) {
  auto r = Open(Make("both.mp4", Both()));
  ASSERT_TRUE(r && r->ok()) << (r ? r->error() : -2);
  EXPECT_TRUE(r->HasClipTexts());
  const char16_t* texts[] = {u"Content V2.0", u"A version two clip", u"An author", u"(c) Kestrune", u"A description", u"G"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(r->ClipText(i), texts[i]) << i;
  EXPECT_EQ(r->FileType(), 3);
  EXPECT_EQ(r->Scalability(), 0);
  EXPECT_EQ(r->PresentationTimeScale(), 1000u);

  Bytes es = ReadFile(video_);
  std::vector<Bytes> samples = VideoSamples(es);
  ASSERT_EQ(samples.size(), 30u);
  // The VOL header is everything in front of the first VOP.
  const Bytes* vol = r->VolHeader(0);
  ASSERT_TRUE(vol);
  ASSERT_GT(vol->size(), 10u);
  EXPECT_TRUE(std::equal(vol->begin(), vol->end(), es.begin())) << "the VOL is the stream's head";
  EXPECT_EQ(r->VolHeader(1), nullptr);

  size_t biggest = 0;
  for (auto& s : samples) biggest = std::max(biggest, s.size());
  EXPECT_EQ(r->VideoBufferSize(0), biggest);
  EXPECT_EQ(r->VideoTimeScale(0), 1000u);
  EXPECT_EQ(r->VideoTimeScale(1), 0xFFFFFFFFu);
  EXPECT_EQ(r->VideoDuration(0), 30u * 67);
  EXPECT_EQ(r->CurrentVideoSampleNumber(), 0u);
  EXPECT_EQ(r->CurrentVideoTimestamp(), 0xFFFFFFFFu) << "nothing returned yet";

  Bytes buf(biggest);
  for (size_t i = 0; i < samples.size(); ++i) {
    int32_t got = r->NextVideoSample(buf.data(), int32_t(buf.size()));
    ASSERT_EQ(got, int32_t(samples[i].size())) << i;
    EXPECT_TRUE(std::equal(samples[i].begin(), samples[i].end(), buf.begin())) << i;
    EXPECT_EQ(r->CurrentVideoTimestamp(), 67u * i) << i;
    EXPECT_EQ(r->CurrentVideoSampleNumber(), i + 1);
    uint8_t flags = 9, layer = 9;
    ASSERT_TRUE(r->CurrentVideoHintRecord(&flags, &layer));
    EXPECT_EQ(layer, 0);
  }
  EXPECT_EQ(r->NextVideoSample(buf.data(), int32_t(buf.size())), 0);

  // Audio: the storage-format frames, 20 ms apart.
  Bytes amr = ReadFile(amr_);
  size_t pos = 6;
  for (uint32_t i = 0; i < 40; ++i) {
    int32_t got = r->NextAudioSample(0, buf.data(), int32_t(buf.size()));
    ASSERT_EQ(got, 32) << i;
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + got, amr.begin() + long(pos))) << i;
    pos += size_t(got);
    EXPECT_EQ(r->CurrentAudioTimestamp(0), 20u * i);
  }
  EXPECT_EQ(r->NextAudioSample(0, buf.data(), int32_t(buf.size())), 0);
  EXPECT_EQ(r->AudioBufferSize(0), 32u);
  EXPECT_EQ(r->AudioBitrate(0), 40u * 32 * 8);
  EXPECT_EQ(r->NextAudioSample(1, buf.data(), int32_t(buf.size())), 0);
  EXPECT_TRUE(r->HasVideoHintTrack(0));
  EXPECT_TRUE(r->HasAudioHintTrack(0));
  EXPECT_FALSE(r->HasVideoHintTrack(1));

  r->ResetPlayback();
  EXPECT_EQ(r->NextVideoSample(buf.data(), int32_t(buf.size())), int32_t(samples[0].size()));
}

TEST_F(V2, ASmallBufferGetsMinusTheSizeAndTheCursorStays) {
  auto r = Open(Make("small.mp4", Both()));
  ASSERT_TRUE(r && r->ok());
  std::vector<Bytes> samples = VideoSamples(ReadFile(video_));
  Bytes buf(samples[0].size());
  ASSERT_EQ(r->NextVideoSample(buf.data(), 10), -int32_t(samples[0].size()));
  EXPECT_EQ(r->CurrentVideoTimestamp(), 0xFFFFFFFFu);
  ASSERT_EQ(r->NextVideoSample(buf.data(), int32_t(buf.size())), int32_t(samples[0].size()));
  EXPECT_EQ(buf, samples[0]);
  EXPECT_EQ(r->CurrentVideoTimestamp(), 0u);
  ASSERT_EQ(r->NextAudioSample(0, buf.data(), 5), -32);
  ASSERT_EQ(r->NextAudioSample(0, buf.data(), 32), 32);
  ASSERT_EQ(r->NextAudioSample(0, buf.data(), 32), 32);
  EXPECT_EQ(r->CurrentAudioTimestamp(0), 20u) << "a refused read moved no time stamp";
}

TEST_F(V2, HintRecordsGiveStartTimesLayersAndStillImages) {
  {
    auto r = Open(Make("start.mp4", Both() + " --video-start 500 --audio-start 120"));
    ASSERT_TRUE(r && r->ok());
    Bytes buf(1 << 16);
    ASSERT_GT(r->NextVideoSample(buf.data(), int32_t(buf.size())), 0);
    EXPECT_EQ(r->CurrentVideoTimestamp(), 500u);
    ASSERT_GT(r->NextVideoSample(buf.data(), int32_t(buf.size())), 0);
    EXPECT_EQ(r->CurrentVideoTimestamp(), 567u);
    ASSERT_GT(r->NextAudioSample(0, buf.data(), int32_t(buf.size())), 0);
    EXPECT_EQ(r->CurrentAudioTimestamp(0), 120u);
  }
  {
    auto r = Open(Make("layers.mp4", "--video '" + video_ + "' --layer2 '" + video_ + "' --layer2-start 33"));
    ASSERT_TRUE(r && r->ok());
    EXPECT_EQ(r->FileType(), 2);
    EXPECT_EQ(r->Scalability(), 1);
    ASSERT_TRUE(r->VolHeader(1));
    EXPECT_EQ((*r->VolHeader(1))[7], 0x21) << "the second layer's VOL has layer id 1";
    Bytes buf(1 << 16);
    for (int i = 0; i < 6; ++i) {
      ASSERT_GT(r->NextVideoSample(buf.data(), int32_t(buf.size())), 0) << i;
      uint8_t flags, layer;
      ASSERT_TRUE(r->CurrentVideoHintRecord(&flags, &layer));
      EXPECT_EQ(layer, i % 2) << i;
      EXPECT_EQ(flags, (i % 2) << 4) << i;
      EXPECT_EQ(r->CurrentVideoTimestamp(), (i % 2 ? 33u : 0u) + 67u * (i / 2)) << i;
      EXPECT_EQ(r->CurrentVideoSampleNumber(), uint32_t(i / 2 + 1)) << i;
    }
    EXPECT_EQ(r->CurrentLayeredVideoTimestamp(0), 2u * 67);
  }
  {
    auto r = Open(Make("still.mp4", Both() + " --still"));
    ASSERT_TRUE(r && r->ok());
    EXPECT_EQ(r->FileType(), 4 | 1) << "krsi 2 turns the video file into a still-image file";
  }
  {
    // The hint tracks come first and name tracks not yet listed.
    auto r = Open(Make("hintfirst.mp4", Both() + " --fault hint-first"));
    ASSERT_TRUE(r && r->ok());
    EXPECT_FALSE(r->HasVideoHintTrack(0));
    EXPECT_FALSE(r->HasAudioHintTrack(0));
    Bytes buf(1 << 16);
    EXPECT_EQ(r->NextVideoSample(buf.data(), int32_t(buf.size())), 0);
    EXPECT_EQ(r->CurrentVideoTimestamp(), 0xFFFFFFFFu);
    EXPECT_GT(r->NextLayeredVideoSample(0, buf.data(), int32_t(buf.size())), 0) << "the layer is read directly";
  }
}

TEST_F(V2, ClipTextsFromSkipOrNone) {
  auto skip = Open(Make("skip.mp4", Both() + " --skip-krmm --title 'Skip title'"));
  ASSERT_TRUE(skip && skip->ok());
  EXPECT_EQ(skip->ClipText(1), u"Skip title");
  auto none = Open(Make("none.mp4", Both() + " --no-krmm"));
  ASSERT_TRUE(none && none->ok());
  EXPECT_FALSE(none->HasClipTexts());
  EXPECT_EQ(none->ClipText(0), u"");
  auto tooLong = Open(Make("long.mp4", Both() + " --title " + std::string(300, 'x')));
  ASSERT_TRUE(tooLong);
  EXPECT_EQ(tooLong->error(), reader::READ_USER_DATA_ATOM_FAILED) << "a text longer than 256 characters";
}

TEST_F(V2, SamplesAtATimeStartFromASyncSample) {
  auto r = Open(Make("seek.mp4", Both()));
  ASSERT_TRUE(r && r->ok());
  std::vector<Bytes> samples = VideoSamples(ReadFile(video_));
  Bytes buf(1 << 16);
  // Video sample 14 (938 ms) lies after the sync sample 10.
  ASSERT_EQ(r->VideoSampleAtTime(14 * 67 + 5, buf.data(), int32_t(buf.size())), int32_t(samples[10].size()));
  EXPECT_EQ(r->CurrentLayeredVideoTimestamp(0), 10u * 67);
  EXPECT_EQ(r->NextLayeredVideoSample(0, buf.data(), int32_t(buf.size())), int32_t(samples[11].size()));
  // Audio has no sync table: every frame is one.
  ASSERT_EQ(r->AudioSampleAtTime(105, buf.data(), int32_t(buf.size()), 0), 32);
  EXPECT_EQ(r->CurrentAudioTimestamp(0), 100u);
  EXPECT_EQ(r->CurrentAudioSampleNumber(0), 6u);
  ASSERT_EQ(r->AudioSampleAt(0.5, buf.data(), int32_t(buf.size()), 0), 32);
  EXPECT_EQ(r->CurrentAudioTimestamp(0), 400u);
  EXPECT_EQ(r->AudioSampleAtTime(0, buf.data(), int32_t(buf.size()), 3), 0);
}

// Mutated files: flipped bytes, cut ends and patched sizes never crash, and
// a failure is one of the reader's codes.
TEST_F(V2, MutatedFilesFailCleanly) {
  Bytes good = ReadFile(Make("mutate.mp4", Both() + " --video-start 10"));
  ASSERT_FALSE(good.empty());
  std::mt19937 rng(7);
  std::string path = Scratch("mutant.mp4");
  int opened = 0;
  for (int round = 0; round < 400; ++round) {
    Bytes m = good;
    switch (round % 4) {
      case 0:
        for (int k = 0; k < 4; ++k) m[rng() % m.size()] ^= uint8_t(1 + rng() % 255);
        break;
      case 1:
        m.resize(rng() % m.size());
        break;
      case 2: {
        // A size field somewhere in the movie set to 0, 1 or something huge.
        size_t at = m.size() - 1 - rng() % 3000;
        const uint32_t sizes[] = {0, 1, 7, 0xFFFFFFFF, 0x7FFFFFFF};
        uint32_t v = sizes[rng() % 5];
        for (int b = 0; b < 4; ++b) m[at + size_t(b)] = uint8_t(v >> (24 - 8 * b));
        break;
      }
      default:
        for (int k = 0; k < 16; ++k) m[m.size() - 1 - rng() % 3000] = uint8_t(rng());
    }
    ASSERT_TRUE(convert_testing::WriteFile(path, m));
    auto r = Open(path);
    ASSERT_TRUE(r);
    if (!r->ok()) {
      EXPECT_GE(r->error(), 1);
      EXPECT_LE(r->error(), 56);
      continue;
    }
    ++opened;
    Bytes buf(1 << 16);
    for (int i = 0; i < 200 && r->NextVideoSample(buf.data(), int32_t(buf.size())) > 0; ++i) {
    }
    for (int i = 0; i < 200 && r->NextAudioSample(0, buf.data(), int32_t(buf.size())) > 0; ++i) {
    }
    r->AudioSampleAt(0.7, buf.data(), int32_t(buf.size()), 0);
    r->VideoSampleAtTime(1000, buf.data(), int32_t(buf.size()));
  }
  EXPECT_GT(opened, 0) << "some mutants still parse and are read through";
}

}  // namespace
