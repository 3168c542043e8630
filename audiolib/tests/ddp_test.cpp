// CD-image input on DDP images that python makes: the open codes, gap
// arithmetic, start and end from the subcode, and the track's bytes.
#include <gtest/gtest.h>

#include "helpers.h"

namespace {

// Image files hold byte (offset % 251) at every offset.
int16_t image_sample(int64_t byteOffset) {
  return int16_t(uint16_t(byteOffset % 251) | uint16_t(((byteOffset + 1) % 251) << 8));
}

std::string track(int number, int sectors, const std::string& extra = "") {
  return "{\"track\": " + std::to_string(number) + ", \"sectors\": " + std::to_string(sectors) +
         ", \"name\": \"IMG\"" + extra + "}";
}

std::string pq(const std::string& trackNo, int m, int s, int f, int index = 1) {
  return "{\"track\": " + trackNo + ", \"index\": " + std::to_string(index) + ", \"time\": [" + std::to_string(m) +
         ", " + std::to_string(s) + ", " + std::to_string(f) + "]}";
}

struct Image {
  const char* name;
  std::string json;  // the fields after "dir"
};

std::vector<Image> images() {
  std::string many;
  for (int i = 1; i <= 101; ++i) many += (i > 1 ? ", " : "") + track(i, 1);
  return {
      // Track 1: 10 sectors with 2 s generated on each side; track 2 follows
      // in the same file with one included sector of pregap and of postgap.
      {"two", "\"tracks\": [" + track(1, 10) + ", " + track(2, 5, ", \"pre2\": 1, \"post\": 1, \"offset\": 23520") +
                  "], \"subcode\": [" + pq("1", 0, 2, 0) + ", " + pq("2", 0, 4, 10) + ", " + pq("\"AA\"", 0, 4, 15) +
                  "], \"files\": {\"IMG\": 40000}"},
      // The start inside the generated pregap, the end inside the postgap.
      {"gaps", "\"tracks\": [" + track(1, 10) + "], \"subcode\": [" + pq("1", 0, 1, 0) + ", " +
                   pq("\"AA\"", 0, 9, 0) + "], \"files\": {\"IMG\": 30000}"},
      // No end in the subcode: the table gives the track (start at 0).
      {"noend", "\"tracks\": [" + track(1, 10, ", \"pre1\": 1, \"pre2\": 1, \"offset\": 100") +
                    "], \"subcode\": [" + pq("1", 0, 0, 0) + "], \"files\": {\"IMG\": 30000}"},
      // Three sectors, one each of included pregap and postgap: one to read.
      {"short", "\"tracks\": [" + track(1, 3, ", \"pre2\": 1, \"post\": 1") + "], \"subcode\": [" + pq("1", 0, 0, 0) +
                    "], \"files\": {\"IMG\": 7056}"},
      {"version", "\"version\": \"DDP 1.01\", \"tracks\": []"},
      {"book", "\"book\": \"X\", \"tracks\": []"},
      {"notcd", "\"cd\": \"DV\", \"tracks\": []"},
      {"nomap", "\"no_map\": true, \"tracks\": []"},
      {"noid", "\"no_id\": true, \"tracks\": []"},
      {"backwards", "\"tracks\": [" + track(1, 10) + "], \"subcode\": [" + pq("1", 0, 3, 0) + ", " +
                        pq("2", 0, 2, 50) + "], \"files\": {\"IMG\": 30000}"},
      {"nostart", "\"tracks\": [" + track(1, 10) + "], \"subcode\": [" + pq("1", 0, 2, 0, 0) + "]"},
      {"data", "\"tracks\": [" + track(1, 10, ", \"data\": \"CD\"") + "], \"subcode\": [" + pq("1", 0, 2, 0) + ", " +
                   pq("\"AA\"", 0, 2, 10) + "], \"files\": {\"IMG\": 30000}"},
      {"past", "\"tracks\": [" + track(1, 10) + "], \"subcode\": [" + pq("1", 9, 0, 0) + ", " + pq("\"AA\"", 9, 1, 0) +
                   "], \"files\": {\"IMG\": 30000}"},
      {"many", "\"tracks\": [" + many + "], \"subcode\": [" + pq("1", 0, 2, 0) + "]"},
      {"nopq", "\"write_subcode\": false, \"tracks\": [" + track(1, 10) + "], \"subcode\": [" + pq("1", 0, 2, 0) + "]"},
      {"noimage", "\"tracks\": [" + track(1, 10) + "], \"subcode\": [" + pq("1", 0, 2, 0) + ", " +
                      pq("\"AA\"", 0, 2, 10) + "]"},
  };
}

class DdpInput : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!peers_available()) return;
    std::string spec = "[";
    for (const Image& i : images())
      spec += std::string(spec.size() > 1 ? ", " : "") + "{\"dir\": \"audiolib_ddp_" + i.name + "\", " + i.json + "}";
    spit("audiolib_ddp_spec.json", spec + "]");
    run("rm -rf audiolib_ddp_*/");
    run(fixtures_script() + " ddp audiolib_ddp_spec.json", &made_);
  }
  void SetUp() override {
    if (!peers_available()) GTEST_SKIP() << "the images come from python on the Linux host";
    ASSERT_EQ(made_, 0);
  }
  // Opens track `number` of image `name`; the code, and stderr in *log.
  static int open(const char* name, int number, AudioFileHandle** h, std::string* log = nullptr) {
    AudioFileFormat f{};
    f.bitrate = number;
    int type = AUDIOFILE_CD;
    ::testing::internal::CaptureStderr();
    const int rc = audiofile_open(h, (std::string("audiolib_ddp_") + name + "/").c_str(), AUDIOFILE_READ, &type, &f);
    const std::string err = ::testing::internal::GetCapturedStderr();
    if (log) *log = err;
    if (rc == 0) {
      EXPECT_EQ(type, AUDIOFILE_CD);
      EXPECT_EQ(f.sampleRate, 44100);
      EXPECT_EQ(f.channels, 2);
      EXPECT_EQ(f.littleEndian, 1);
    }
    return rc;
  }
  static std::vector<int16_t> read_all(AudioFileHandle* h) {
    std::vector<int16_t> all;
    int16_t piece[4096];
    for (int got = 0; audiofile_read_short(h, piece, 4096, &got) == 0 && got > 0;) all.insert(all.end(), piece, piece + got);
    return all;
  }
  static int made_;
};
int DdpInput::made_ = -1;

TEST_F(DdpInput, FailureCodes) {
  const struct {
    const char* image;
    int track;
    int code;
  } cases[] = {
      {"noid", 1, 7},    {"version", 1, 8},  {"book", 1, 8},  {"notcd", 1, 8},  {"nomap", 1, 9},
      {"backwards", 1, 10}, {"nostart", 1, 11}, {"data", 1, 11}, {"two", 3, 11},  {"past", 1, 11},
      {"many", 1, 11},   {"nopq", 1, 14},    {"noimage", 1, 16},
  };
  for (const auto& c : cases) {
    AudioFileHandle* h = nullptr;
    EXPECT_EQ(open(c.image, c.track, &h), c.code) << c.image;
    EXPECT_EQ(h, nullptr);
  }
  std::string log;
  AudioFileHandle* h = nullptr;
  open("version", 1, &h, &log);
  EXPECT_NE(log.find("Wrong DDP-Version!\n"), std::string::npos);
  open("data", 1, &h, &log);
  EXPECT_NE(log.find("Track 1 is not an audio track!\n"), std::string::npos);
}

TEST_F(DdpInput, TwoSecondsInIsByte352800AndGapsAreGenerated) {
  AudioFileHandle* h = nullptr;
  std::string log;
  ASSERT_EQ(open("two", 1, &h, &log), 0);
  // 00:02:00 is 150 sectors: the end of track 1's generated pregap, so its
  // data start at the file's first byte and run 10 sectors.
  EXPECT_NE(log.find("    Track 1 starts at CD a-time 0:2:0\n"), std::string::npos) << log;
  EXPECT_NE(log.find("    0 bytes pregap included, 352800 bytes to generate\n"), std::string::npos);
  EXPECT_NE(log.find("    0 bytes postgap included, 352800 bytes to generate\n"), std::string::npos);
  EXPECT_NE(log.find("Track 1 data starts at byte 0 in file IMG and has 23520 bytes\n"), std::string::npos) << log;
  const auto all = read_all(h);
  audiofile_close(h);
  ASSERT_EQ(all.size(), 11760u);
  EXPECT_EQ(all[0], image_sample(0));
  EXPECT_EQ(all[11759], image_sample(23518));
}

TEST_F(DdpInput, SecondTrackGivesItsOwnBytes) {
  AudioFileHandle* h = nullptr;
  std::string log;
  ASSERT_EQ(open("two", 2, &h, &log), 0);
  EXPECT_NE(log.find("    2352 bytes pregap included, 0 bytes to generate\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Track 2 data starts at byte 23520 in file IMG and has 11760 bytes\n"), std::string::npos) << log;
  const auto all = read_all(h);
  audiofile_close(h);
  ASSERT_EQ(all.size(), 5880u);
  for (size_t i = 0; i < all.size(); i += 997) EXPECT_EQ(all[i], image_sample(23520 + 2 * int64_t(i))) << i;
}

TEST_F(DdpInput, MarkersInGeneratedGapsMoveToTheTrack) {
  AudioFileHandle* h = nullptr;
  std::string log;
  ASSERT_EQ(open("gaps", 1, &h, &log), 0);
  EXPECT_NE(log.find("Track start marker is in generated pregap"), std::string::npos);
  EXPECT_NE(log.find("Track end marker is in generated postgap"), std::string::npos);
  EXPECT_EQ(read_all(h).size(), 11760u);
  audiofile_close(h);
}

TEST_F(DdpInput, WithoutAnEndTheTableGivesTheTrack) {
  AudioFileHandle* h = nullptr;
  std::string log;
  ASSERT_EQ(open("noend", 1, &h, &log), 0);
  // 10 sectors, two of them included pregap: 8 sectors from byte 100 + 4704.
  EXPECT_NE(log.find("data starts at byte 4804 in file IMG and has 18816 bytes"), std::string::npos) << log;
  const auto all = read_all(h);
  audiofile_close(h);
  ASSERT_EQ(all.size(), 9408u);
  EXPECT_EQ(all[0], image_sample(4804));
}

TEST_F(DdpInput, ReadingPastTheTrackEnd) {
  AudioFileHandle* h = nullptr;
  ASSERT_EQ(open("short", 1, &h), 0);  // one sector: 1176 samples
  std::vector<int16_t> b(1000);
  int got = 0;
  ASSERT_EQ(audiofile_read_short(h, b.data(), 576, &got), 0);
  EXPECT_EQ(got, 576);
  ASSERT_EQ(audiofile_read_short(h, b.data(), 1000, &got), 0);
  EXPECT_EQ(got, 600);
  ASSERT_EQ(audiofile_read_short(h, b.data(), 1000, &got), 0);
  EXPECT_EQ(got, 0);
  audiofile_close(h);
}

}  // namespace
