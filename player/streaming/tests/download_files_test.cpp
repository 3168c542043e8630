// The download's records and its state file: byte offsets as stored, the
// three flushed steps, progress words, reading back for a resume, and what
// a short or hostile state file gives.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "streaming/download_files.h"

using namespace streaming;

namespace {

std::vector<uint8_t> ReadAll(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

uint32_t Word(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

template <size_t N>
void Put(char (&field)[N], const char* text) {
  std::strncpy(field, text, N - 1);
}
template <size_t N>
void Put(char16_t (&field)[N], const char16_t* text) {
  size_t i = 0;
  for (; text[i] && i < N - 1; ++i) field[i] = text[i];
  field[i] = 0;
}

DownloadRequest SampleRequest(const std::u16string& base) {
  DownloadRequest r{};
  Put(r.url, u"http://127.0.0.1:8080/clips/a.mp4");
  Put(r.host, u"127.0.0.1");
  Put(r.port, u"8080");
  Put(r.basePath, base.c_str());
  Put(r.version, "3.0");
  Put(r.userAgent, "WMF/1.1,Orlomer 3.0,ENGL");
  Put(r.userNetwork, "UNKNOWN");
  Put(r.deviceInfo, "OS=WINNT");
  Put(r.user, "ann");
  Put(r.authentication, "auth");
  Put(r.expiration, "exp");
  Put(r.application, "app");
  Put(r.filler, "fill");
  Put(r.signature, "sig");
  r.idleLimit = 30;
  r.startMs = 1234;
  r.storageSize = 0x7FFFFFFF;
  r.stateFlags = 3;
  return r;
}

class DownloadFilesTest : public ::testing::Test {
 protected:
  std::filesystem::path dir = std::filesystem::absolute("download_out") / ::testing::UnitTest::GetInstance()->current_test_info()->name();
  void SetUp() override {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  std::u16string Base() const { return (dir / "krdl").u16string(); }
};

}  // namespace

TEST(DownloadRecords, FieldsSitAtTheirOffsets) {
  DownloadRequest r = SampleRequest(u"C:\\dl\\krdl");
  uint8_t out[DownloadRequest::kSize];
  WriteDownloadRequest(r, out);
  struct Case {
    uint32_t offset;
    std::string text;
    bool wide;
  } cases[] = {
      {4, "http://127.0.0.1:8080/clips/a.mp4", true},
      {516, "127.0.0.1", true},
      {616, "8080", true},
      {666, "C:\\dl\\krdl", true},
      {1178, "3.0", false},
      {1186, "WMF/1.1,Orlomer 3.0,ENGL", false},
      {1236, "UNKNOWN", false},
      {1286, "OS=WINNT", false},
      {1542, "ann", false},
      {1592, "auth", false},
      {1848, "exp", false},
      {1898, "app", false},
      {1948, "fill", false},
      {2048, "sig", false},
  };
  for (const Case& c : cases) {
    std::string got;
    for (uint32_t i = c.offset; out[i]; i += c.wide ? 2 : 1) got.push_back(char(out[i]));
    EXPECT_EQ(got, c.text) << "offset " << c.offset;
  }
  EXPECT_EQ(Word(out + 2304), 30u);
  EXPECT_EQ(Word(out + 2308), 1234u);
  EXPECT_EQ(Word(out + 2312), 0x7FFFFFFFu);
  EXPECT_EQ(Word(out + 2316), 3u);

  DownloadRequest back{};
  ReadDownloadRequest(out, back);
  EXPECT_EQ(std::memcmp(&back, &r, sizeof r), 0);

  TrackRequest t{};
  Put(t.clip, u"Clip");
  Put(t.date, "20261210T120000");
  t.trackIds[0] = 1;
  t.trackIds[1] = 2;
  t.trackCount = 2;
  t.carried = 9;
  t.storedValue = 3;
  uint8_t tb[TrackRequest::kSize];
  WriteTrackRequest(t, tb);
  EXPECT_EQ(tb[0], 'C');
  EXPECT_EQ(std::string(reinterpret_cast<char*>(tb + 512)), "20261210T120000");
  EXPECT_EQ(Word(tb + 564), 1u);
  EXPECT_EQ(Word(tb + 568), 2u);
  EXPECT_EQ(Word(tb + 604), 2u);
  EXPECT_EQ(Word(tb + 608), 9u);
  EXPECT_EQ(Word(tb + 612), 3u);
  TrackRequest tback{};
  ReadTrackRequest(tb, tback);
  EXPECT_EQ(std::memcmp(&tback, &t, sizeof t), 0);
}

TEST(DownloadRecords, TextsAndCountsFromAFileAreBounded) {
  uint8_t raw[DownloadRequest::kSize];
  std::memset(raw, 'A', sizeof raw);
  DownloadRequest r{};
  ReadDownloadRequest(raw, r);
  EXPECT_EQ(std::strlen(r.userAgent), sizeof r.userAgent - 1);
  EXPECT_EQ(std::strlen(r.signature), sizeof r.signature - 1);
  EXPECT_EQ(r.url[255], 0);
  uint8_t traw[TrackRequest::kSize];
  std::memset(traw, 0xFF, sizeof traw);
  TrackRequest t{};
  ReadTrackRequest(traw, t);
  EXPECT_EQ(t.trackCount, TrackRequest::kMaxTracks);
  EXPECT_EQ(t.date[51], 0);
  uint8_t craw[DownloadClipInfo::kSize];
  std::memset(craw, 'x', sizeof craw);
  DownloadClipInfo info{};
  ReadDownloadClipInfo(craw, info);
  EXPECT_LE(info.mediaCount, DownloadClipInfo::kMaxMedia);
  EXPECT_EQ(std::strlen(info.sessionName), 255u);
}

TEST_F(DownloadFilesTest, StateFileGrowsInThreeFlushedSteps) {
  DownloadFiles files;
  ASSERT_TRUE(files.SetBasePath(Base().c_str()));
  const auto state = dir / "krdl.dat";
  DownloadRequest r = SampleRequest(Base());
  ASSERT_TRUE(files.CreateState(r));
  auto bytes = ReadAll(state);  // read while open: each step is flushed
  ASSERT_EQ(bytes.size(), 2328u);
  EXPECT_EQ(Word(bytes.data()), 1234u);         // start position
  EXPECT_EQ(Word(bytes.data() + 4), 0x7FFFFFFFu);  // storage size
  uint8_t expect[DownloadRequest::kSize];
  WriteDownloadRequest(r, expect);
  EXPECT_EQ(std::memcmp(bytes.data() + 8, expect, sizeof expect), 0);

  TrackRequest t{};
  t.trackCount = 1;
  t.trackIds[0] = 7;
  t.storedValue = 3;
  DownloadClipInfo info{};
  info.mediaCount = 1;
  std::strcpy(info.sessionName, "Title");
  ASSERT_TRUE(files.AppendTracks(t, info));
  EXPECT_EQ(ReadAll(state).size(), 6152u);
  ASSERT_TRUE(files.AppendTotalLength(222728));
  ASSERT_TRUE(files.WriteProgress(4000, 50000));
  bytes = ReadAll(state);
  ASSERT_EQ(bytes.size(), 6156u);
  EXPECT_EQ(Word(bytes.data()), 4000u);
  EXPECT_EQ(Word(bytes.data() + 4), 50000u);
  EXPECT_EQ(Word(bytes.data() + 6152), 222728u);
  files.Close();

  DownloadSavedState saved;
  ASSERT_TRUE(files.OpenState(saved));
  EXPECT_EQ(saved.playbackTimeMs, 4000);
  EXPECT_EQ(saved.received, 50000);
  EXPECT_EQ(saved.totalLength, 222728);
  EXPECT_EQ(saved.tracks.trackIds[0], 7u);
  EXPECT_EQ(saved.tracks.storedValue, 3u);
  EXPECT_STREQ(saved.clipInfo.sessionName, "Title");
  EXPECT_TRUE(saved.haveTracks);
  EXPECT_TRUE(saved.haveClipInfo);
  EXPECT_EQ(std::memcmp(&saved.request, &r, sizeof r), 0);
}

TEST_F(DownloadFilesTest, AShortStateFileLeavesTheRestAsItWas) {
  DownloadFiles files;
  ASSERT_TRUE(files.SetBasePath(Base().c_str()));
  ASSERT_TRUE(files.CreateState(SampleRequest(Base())));
  files.Close();
  DownloadSavedState saved;
  saved.totalLength = -5;
  saved.tracks.storedValue = 77;
  ASSERT_TRUE(files.OpenState(saved));
  EXPECT_EQ(saved.playbackTimeMs, 1234);
  EXPECT_EQ(saved.totalLength, -5);
  EXPECT_EQ(saved.tracks.storedValue, 77u);
  EXPECT_FALSE(saved.haveTracks);
  EXPECT_FALSE(saved.haveClipInfo);
}

TEST_F(DownloadFilesTest, DataFileIsSizedAndWrittenAtOffsets) {
  DownloadFiles files;
  ASSERT_TRUE(files.SetBasePath(Base().c_str()));
  ASSERT_TRUE(files.OpenData(true, 1000));
  const uint8_t part[3] = {1, 2, 3};
  ASSERT_TRUE(files.WriteData(500, part, 3));
  auto bytes = ReadAll(dir / "krdl.tmp");
  ASSERT_EQ(bytes.size(), 1000u);
  EXPECT_EQ(bytes[500], 1);
  EXPECT_EQ(bytes[502], 3);
  EXPECT_EQ(bytes[0], 0);
  files.Close();
  // Resuming keeps what is there; a lost file is made anew.
  ASSERT_TRUE(files.OpenData(false, 0));
  ASSERT_TRUE(files.WriteData(0, part, 1));
  files.Close();
  EXPECT_EQ(ReadAll(dir / "krdl.tmp")[500], 1);
  std::filesystem::remove(dir / "krdl.tmp");
  ASSERT_TRUE(files.OpenData(false, 0));
  ASSERT_TRUE(files.WriteData(10, part, 3));
  files.Close();
  EXPECT_EQ(ReadAll(dir / "krdl.tmp").size(), 13u);
}

TEST_F(DownloadFilesTest, NamesThatDoNotFitAreRefused) {
  DownloadFiles files;
  const std::u16string fits(251, u'a');   // + ".dat" + terminator = 256
  const std::u16string over(252, u'a');
  EXPECT_TRUE(files.SetBasePath(fits.c_str()));
  EXPECT_EQ(std::u16string(files.StateName()), fits + u".dat");
  EXPECT_FALSE(files.SetBasePath(over.c_str()));
  EXPECT_EQ(files.StateName()[0], 0);
  EXPECT_FALSE(files.CreateState(DownloadRequest{}));
  DownloadSavedState saved;
  EXPECT_FALSE(files.OpenState(saved));
  EXPECT_FALSE(files.OpenData(true, 10));
}
