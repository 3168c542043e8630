// The archive recorder inside a whole server (linked statically, so the test
// can stand between the recorder and the file writer): streaming and file
// output together, the file read back with the player's reader and judged
// by ffmpeg, samples in time order, a full disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "amrenc/amrenc.h"
#include "fileformat/mp4_file_writer.h"
#include "platform/os.h"
#include "reader/mp4_file.h"
#include "server_host.h"
#include "server_parts.h"

using namespace flumera_test;

namespace {

WinsockScope winsock;

const std::string kSource = SUITE_TEST_DATA_DIR;

struct Added {
  uint32_t track, size, time, flag;
};

// What the recorder did to the writer.
struct Log {
  std::mutex m;
  std::vector<Added> samples;
  std::u16string base, tag;
  uint32_t kind = 0;
  int failAfter = -1;  // the spool refuses samples from this one on (a full disk)
  void Clear() {
    std::lock_guard<std::mutex> l(m);
    samples.clear();
    failAfter = -1;
  }
} g_log;

class LoggingWriter : public fileformat::MP4FileWriter {
 public:
  bool AddSample(uint32_t track, const uint8_t* data, uint32_t size, uint32_t time, uint32_t flag) override {
    {
      std::lock_guard<std::mutex> l(g_log.m);
      g_log.samples.push_back({track, size, time, flag});
      if (g_log.failAfter >= 0 && int(g_log.samples.size()) > g_log.failAfter) return false;
    }
    return MP4FileWriter::AddSample(track, data, size, time, flag);
  }
};

std::unique_ptr<fileformat::MP4WriterApi> MakeLoggingWriter(uint32_t kind, uint32_t hint, std::u16string base,
                                                            std::u16string tag) {
  g_log.kind = kind;
  g_log.base = base;
  g_log.tag = tag;
  auto w = std::make_unique<LoggingWriter>();
  w->SetSpoolBaseName(std::move(base));
  w->SetSpoolTag(std::move(tag));
  w->Open(kind, hint, 0, 0);
  return w;
}

struct UseLoggingWriter {
  UseLoggingWriter() { ArchiveRecorder::SetWriterFactory(&MakeLoggingWriter); }
  ~UseLoggingWriter() { ArchiveRecorder::SetWriterFactory(nullptr); }
} useLoggingWriter;


// A session with a kind-1 client that plays (so the archive starts with the
// first admission), then media: audio fed `leadMs` ahead of the video.
struct Recording {
  explicit Recording(unsigned long outputMask, const std::wstring& file, uint32_t leadMs = 0)
      : setup(Setup(outputMask, file)), host(setup) {
    EXPECT_EQ(host.Request(KRM_PRIME), 0);
    player = std::make_unique<Client>(host.rtspPort);
    const std::string url = "rtsp://127.0.0.1/live";
    player->SendText(Request("SETUP", url, 1, "Transport: RTP/AVP;unicast;client_port=7000-7001\r\n"));
    EXPECT_EQ(player->Reply().substr(0, 15), "RTSP/1.0 200 OK");
    player->SendText(Request("PLAY", url, 2, "Session: " + std::to_string(host.session->sessionNumber) + "\r\n"));
    EXPECT_EQ(player->Reply().substr(0, 15), "RTSP/1.0 200 OK");
    Message m;
    EXPECT_TRUE(host.WaitFor(KRM_PLAY_REPLY, &m, 5000));
    amr = AmrFrames(100);
    const Clip& clip = TheClip();
    size_t v = 0, a = 0;
    while (v < clip.units.size() || a < amr.size()) {
      const uint32_t vt = uint32_t(v * 1000 / 15), at = uint32_t(a * 20);
      if (v < clip.units.size() && (a >= amr.size() || vt + leadMs <= at)) {
        host.FeedVideo(clip.units[v], clip.keys[v] ? 0x00 : 0x10, vt, 66);
        ++v;
      } else {
        const size_t n = std::min<size_t>(5, amr.size() - a);
        host.FeedAmr(std::vector<Bytes>(amr.begin() + std::ptrdiff_t(a), amr.begin() + std::ptrdiff_t(a + n)), at, 20);
        a += n;
      }
    }
    Sleep(500);
  }
  static SessionSetup Setup(unsigned long outputMask, const std::wstring& file) {
    SessionSetup s;
    s.outputMask = outputMask;
    s.outputFile = file;
    s.videoConfig = TheClip().config;
    return s;
  }
  SessionSetup setup;
  Host host;
  std::unique_ptr<Client> player;
  std::vector<Bytes> amr;
};

struct TrackRead {
  std::string codec;
  uint32_t samples = 0, duration = 0;
  std::vector<Bytes> data;
};

std::vector<TrackRead> ReadBack(const std::string& path) {
  std::vector<TrackRead> out;
  reader::SharedWideString* name = reader::SharedWideString::Create(platform::utf8ToUtf16(path));
  std::unique_ptr<reader::Mp4File> f(reader::Mp4File::OpenFile(name));
  name->Release();
  if (!f || !f->ok()) return out;
  uint32_t ids[16];
  const uint32_t n = f->GetTrackIds(ids, 16);
  for (uint32_t i = 0; i < n; ++i) {
    TrackRead t;
    reader::SharedWideString* codec = f->GetTrackCodecName(ids[i]);
    t.codec = codec ? platform::utf16ToUtf8(codec->view()) : "";
    if (codec) codec->Release();
    t.duration = f->GetMediaDuration(ids[i]);
    std::vector<uint8_t> buf(f->GetMaxSampleSize(ids[i]) + 8);
    uint32_t description = 0;
    int32_t got;
    while ((got = f->ReadSample(ids[i], buf.data(), uint32_t(buf.size()), &description)) > 0) {
      ++t.samples;
      if (t.codec == "AMR") {
        // The reader hands AMR to the decoder as IF2; back to the storage form.
        uint8_t storage[32];
        const int n = amr_if2_to_storage(buf.data(), storage);
        t.data.emplace_back(storage, storage + n);
      } else {
        t.data.emplace_back(buf.begin(), buf.begin() + got);
      }
    }
    out.push_back(std::move(t));
  }
  return out;
}

const TrackRead* FindTrack(const std::vector<TrackRead>& tracks, const std::string& codec) {
  for (const TrackRead& t : tracks)
    if (t.codec == codec) return &t;
  return nullptr;
}

TEST(Archive, StreamingPlusFile) {
  g_log.Clear();
  std::remove("archive_stream.mp4");
  const uint32_t lead = 400;  // the audio runs ahead
  {
    Recording r(5, L"archive_stream.mp4", lead);
    EXPECT_EQ(r.host.Request(KRM_STOP), 0);
    Message m;
    ASSERT_TRUE(r.host.WaitFor(KRM_ARCHIVE_DONE, &m, 10000));
    EXPECT_EQ(m.extra, 1u);
    EXPECT_EQ(r.host.Count(KRM_ARCHIVE_SAMPLE_FAILED), 0);
    // Written in time order across the tracks, though the audio came 400 ms
    // early: buffers are ordered, so a sample is never behind one written
    // before it by more than an audio buffer (five 20 ms frames).
    std::lock_guard<std::mutex> l(g_log.m);
    ASSERT_EQ(g_log.samples.size(), 130u);
    uint32_t newest = 0;
    for (size_t i = 0; i < g_log.samples.size(); ++i) {
      EXPECT_LT(newest, g_log.samples[i].time + 100) << "sample " << i;
      newest = std::max(newest, g_log.samples[i].time);
    }
    EXPECT_EQ(g_log.base, u"archive_stream");
    EXPECT_EQ(g_log.kind, 3u);
  }
  const std::vector<TrackRead> tracks = ReadBack("archive_stream.mp4");
  const TrackRead* video = FindTrack(tracks, "MP4V-ES");
  const TrackRead* amr = FindTrack(tracks, "AMR");
  ASSERT_NE(video, nullptr);
  ASSERT_NE(amr, nullptr);
  const Clip& clip = TheClip();
  EXPECT_EQ(video->samples, clip.units.size());
  EXPECT_EQ(amr->samples, 100u);
  // Both last about two seconds (60 ms apart at most: one frame's step).
  EXPECT_NEAR(double(video->duration), double(amr->duration), 70.0);
  EXPECT_NEAR(double(amr->duration), 2000.0, 40.0);
  for (size_t i = 0; i < clip.units.size() && i < video->data.size(); ++i)
    EXPECT_TRUE(video->data[i] == clip.units[i]) << "video sample " << i;
  // The AMR frames read back as a storage file for ffmpeg.
  Bytes amrFile = {'#', '!', 'A', 'M', 'R', '\n'};
  const std::vector<Bytes> fed = AmrFrames(100);
  for (size_t i = 0; i < amr->data.size(); ++i) {
    amrFile.insert(amrFile.end(), amr->data[i].begin(), amr->data[i].end());
    if (i < fed.size()) {
      EXPECT_TRUE(fed[i] == amr->data[i]) << "frame " << i;
    }
  }
  {
    FILE* f = std::fopen("archive_stream.amr", "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(amrFile.data(), 1, amrFile.size(), f);
    std::fclose(f);
  }
  if (!UnderWine()) GTEST_SKIP() << "ffmpeg is started through Wine";
  const std::string dir = WorkDirUnix();
  const std::string out = dir + "/" + ScratchDir("archive_check");
  std::remove((out + "/done").c_str());
  ASSERT_TRUE(StartProgram("/usr/bin/python3 " + kSource + "/tests/ffmpeg_check.py " + out + " mp4 " + dir +
                           "/archive_stream.mp4 amr " + dir + "/archive_stream.amr"));
  ASSERT_TRUE(WaitForFile(out + "/done", 60000));
  const std::string check = ReadText(out + "/check.json");
  EXPECT_NE(check.find("\"video_decodes\": true"), std::string::npos) << check;
  EXPECT_NE(check.find("\"amr_decodes\": true"), std::string::npos) << check;
  EXPECT_NE(check.find("\"video_frames\": 30"), std::string::npos) << check;
}

TEST(Archive, SamplesOfOneBuffer) {
  g_log.Clear();
  Recording r(5, L"archive_samples.mp4");
  EXPECT_EQ(r.host.Request(KRM_STOP), 0);
  std::lock_guard<std::mutex> l(g_log.m);
  // A video buffer of n bytes is a sample of n - 2; each AMR frame one
  // sample, one byte shorter, 20 ms after the one before.
  std::vector<Added> video, audio;
  uint32_t videoTrack = 0xFFFFFFFFu;  // added first, so the lower identifier
  for (const Added& a : g_log.samples) videoTrack = std::min(videoTrack, a.track);
  for (const Added& a : g_log.samples) {
    (a.track == videoTrack ? video : audio).push_back(a);
  }
  ASSERT_EQ(video.size(), TheClip().units.size());
  for (size_t i = 0; i < video.size(); ++i) {
    EXPECT_EQ(video[i].size, TheClip().units[i].size()) << i;
    EXPECT_EQ(video[i].flag, TheClip().keys[i] ? 0u : 4u) << i;
  }
  ASSERT_EQ(audio.size(), 100u);
  for (size_t i = 0; i < audio.size(); ++i) {
    EXPECT_EQ(audio[i].size, r.amr[i].size() - 1) << i;
    EXPECT_EQ(audio[i].time, 20 * i) << i;
    EXPECT_EQ(audio[i].flag, 7u) << i;
  }
}

// The packets of one buffer code the same stretch of sound, one per stream:
// each stream's frames start at the buffer's stamp.
TEST(Archive, EachPacketOfABufferStartsAtItsStamp) {
  g_log.Clear();
  SessionSetup setup = Recording::Setup(4, L"archive_packets.mp4");
  setup.mediaMask = 1;
  setup.aac = true;  // a second stream, id 2
  Host host(setup);
  ASSERT_EQ(host.Request(KRM_PRIME), 0);
  ASSERT_EQ(host.Request(KRM_PLAY), 0);
  const std::vector<Bytes> amr = AmrFrames(3);
  Bytes packets = {1, 1, uint8_t(amr.size())};  // codec, stream id 1, count
  for (const Bytes& f : amr) {
    packets.push_back(uint8_t(f.size())), packets.push_back(uint8_t(f.size() >> 8));
    packets.push_back(uint8_t((f[0] >> 3) & 0x0F));
    packets.insert(packets.end(), f.begin() + 1, f.end());
  }
  const Bytes second(40, 0x21);
  packets.insert(packets.end(), {3, 2, 3});
  for (int i = 0; i < 3; ++i) {
    packets.insert(packets.end(), {uint8_t(second.size()), 0});
    packets.insert(packets.end(), second.begin(), second.end());
  }
  host.FeedAudioPackets(packets, 1000, 20, 3);
  Sleep(500);
  EXPECT_EQ(host.Request(KRM_STOP), 0);
  std::lock_guard<std::mutex> l(g_log.m);
  std::vector<uint32_t> amrTimes, secondTimes;
  for (const Added& a : g_log.samples) (a.size == second.size() ? secondTimes : amrTimes).push_back(a.time);
  EXPECT_EQ(amrTimes, (std::vector<uint32_t>{1000, 1020, 1040}));
  EXPECT_EQ(secondTimes, (std::vector<uint32_t>{1000, 1020, 1040}));
}

TEST(Archive, NamesAndFullDisk) {
  struct Case {
    const wchar_t* file;
    const wchar_t* archive;
    const char16_t* base;
    int failAfter;
  };
  const Case cases[] = {
      {L"named.mp4", L"", u"named", -1},
      {L"plain.out", L"", u"", -1},               // no ".mp4": an empty base name
      {L"given.mp4", L"archive-base", u"archive-base", -1},
      {L"full.mp4", L"", u"full", 10},            // the disk fills after ten samples
  };
  for (const Case& c : cases) {
    g_log.Clear();
    SessionSetup s = Recording::Setup(4, c.file);
    s.archiveName = c.archive;
    s.mediaMask = 2;
    Host h(s);
    {
      std::lock_guard<std::mutex> l(g_log.m);
      g_log.failAfter = c.failAfter;
    }
    ASSERT_EQ(h.Request(KRM_PRIME), 0);
    ASSERT_EQ(h.Request(KRM_PLAY), 0);  // the archive alone starts at Play
    for (int i = 0; i < 30; ++i) h.FeedVideo(TheClip().units[size_t(i)], TheClip().keys[size_t(i)] ? 0 : 0x10, uint32_t(i * 66), 66);
    Sleep(300);
    EXPECT_EQ(h.Request(KRM_STOP), 0);
    Message m;
    ASSERT_TRUE(h.WaitFor(KRM_ARCHIVE_DONE, &m, 10000));
    EXPECT_EQ(m.extra, 1u);  // what reached the spool is still written
    EXPECT_EQ(h.Count(KRM_ARCHIVE_SAMPLE_FAILED), c.failAfter < 0 ? 0 : 1);  // once
    std::lock_guard<std::mutex> l(g_log.m);
    EXPECT_EQ(g_log.base, c.base);
    // After the refusal the recorder stops adding.
    EXPECT_EQ(g_log.samples.size(), c.failAfter < 0 ? 30u : size_t(c.failAfter + 1));
  }
}

}  // namespace
