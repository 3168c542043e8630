// Files written by ffmpeg, read back and compared with ffprobe's packets; and
// a deterministic mutation run that must never crash the reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "fixture.h"
#include "elementary_streams.h"
#include "amrenc/amrenc.h"
#include "reader/mp4_file.h"

using namespace reader;

namespace {

std::string Run(const std::string& cmd) {
  std::string out;
#ifdef _WIN32
  (void)cmd;
#else
  std::FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
#endif
  return out;
}

bool HavePeer() {
#ifdef _WIN32
  return false;
#else
  return std::system("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1") == 0;
#endif
}

struct Packet {
  int64_t dts;
  uint32_t size;
  bool key;
};

// stream index -> packets in file order.
std::map<int, std::vector<Packet>> Probe(const std::string& path) {
  std::map<int, std::vector<Packet>> out;
  std::istringstream in(Run("ffprobe -v error -show_entries packet=stream_index,dts,size,flags -of csv=p=0 '" +
                            path + "'"));
  std::string line;
  while (std::getline(in, line)) {
    int idx;
    long long dts;
    unsigned size;
    char flags[16] = {};
    if (std::sscanf(line.c_str(), "%d,%lld,%u,%15s", &idx, &dts, &size, flags) == 4)
      out[idx].push_back({dts, size, flags[0] == 'K'});
  }
  return out;
}

std::unique_ptr<Mp4File> Open(const std::filesystem::path& p) {
  SharedWideString* w = SharedWideString::Create(platform::utf8ToUtf16(p.string()));
  std::unique_ptr<Mp4File> f(Mp4File::OpenFile(w));
  w->Release();
  return f;
}

// Every audio and video sample read back agrees with ffprobe's packets:
// size, time, key frame; and SeekTracks lands on the last key frame at or
// before the time asked for.
void ExpectSamplesMatchFfprobe(const std::filesystem::path& path, Mp4File& f) {
  auto packets = Probe(path.string());
  uint32_t ids[8];
  const uint32_t n = f.GetTrackIds(ids, 8);
  ASSERT_EQ(n, 2u);
  uint32_t capacity = 0;
  for (uint32_t i = 0; i < n; ++i) capacity = std::max(capacity, f.GetMaxSampleSize(ids[i]));
  std::vector<uint8_t> buf(capacity);
  uint32_t videoId = 0;
  const std::vector<Packet>* videoPackets = nullptr;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t id = ids[i];
    const bool video = f.GetTrackHandlerType(id) == int64_t(FourCC("vide"));
    SharedWideString* name = f.GetTrackCodecName(id);
    EXPECT_EQ(name->view(), video ? u"MP4V-ES" : u"AAC");
    name->Release();
    // ffprobe numbers streams in file order, as the movie keeps its tracks;
    // tracks the reader drops (scene, object descriptors, hints) come first
    // in the maker's files, so match by kind.
    const std::vector<Packet>* want = nullptr;
    for (auto& [index, list] : packets) {
      std::string type = Run("ffprobe -v error -select_streams " + std::to_string(index) +
                             " -show_entries stream=codec_type -of csv=p=0 '" + path.string() + "'");
      if (type.rfind(video ? "video" : "audio", 0) == 0) want = &list;
    }
    ASSERT_NE(want, nullptr);
    if (video) {
      videoId = id;
      videoPackets = want;
    }
    Mp4SampleTable* t = f.movie()->FindTrack(id)->SampleTable();
    ASSERT_EQ(t->SampleCount(), want->size());
    std::vector<bool> key(want->size(), !video);
    for (int64_t e, k = 0; video && (e = f.GetTableEntry(id, uint32_t(k))) >= 0; ++k) key[size_t(e - 1)] = true;
    for (size_t s = 0; s < want->size(); ++s) {
      const int32_t got = f.ReadSample(id, buf.data(), uint32_t(buf.size()), nullptr);
      ASSERT_EQ(got, int32_t((*want)[s].size)) << "track " << id << " sample " << s;
      EXPECT_EQ(int64_t(f.GetLastSampleTime(id)) - int64_t(t->startOffset), (*want)[s].dts - (*want)[0].dts) << s;
      EXPECT_EQ(key[s], (*want)[s].key) << s;
    }
    EXPECT_EQ(f.ReadSample(id, buf.data(), uint32_t(buf.size()), nullptr), 0);
  }
  ASSERT_NE(videoPackets, nullptr);
  const auto& v = *videoPackets;
  const int64_t scale = f.GetMediaTimescale(videoId);
  for (uint32_t ms : {0u, 500u, 800u, 1700u, 2400u}) {
    int64_t expect = 0;
    for (const Packet& p : v)
      if (p.key && (p.dts - v[0].dts) * 1000 / scale <= ms) expect = (p.dts - v[0].dts) * 1000 / scale;
    EXPECT_EQ(f.SeekTracks(ms, n, ids), uint32_t(expect)) << ms;
  }
}

}  // namespace

TEST(FfmpegPeer, SamplesAgreeWithFfprobe) {
  if (!HavePeer()) GTEST_SKIP() << "ffmpeg not reachable";
  const auto path = fixture::ScratchDir() / "peer.mp4";
  ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc=size=176x144:rate=15 -f lavfi -i "
                         "sine=frequency=440:sample_rate=8000 -t 4 -c:v mpeg4 -g 12 -bf 0 -c:a aac -b:a 16k '" +
                         path.string() + "'")
                            .c_str()),
            0);
  auto f = Open(path);
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(f->ok()) << MP4FileErrorName(f->error());
  // Not maker content: the open passes, with no content version to play by.
  EXPECT_FALSE(Mp4File::LastOpenHadKrmm());
  EXPECT_EQ(f->GetContentVersion(), 0);
  ExpectSamplesMatchFfprobe(path, *f);
  std::filesystem::remove(path);
}

TEST(WriterPeer, RecordingsOfOurWriterReadBack) {
  if (!HavePeer()) GTEST_SKIP() << "ffmpeg not reachable";
  const auto dir = fixture::ScratchDir();
  const std::string video = (dir / "mp4reader_in.m4v").string(), audio = (dir / "mp4reader_in.adts").string();
  const auto out = dir / "mp4reader_recording.mp4";
  ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc=size=176x144:rate=15 -frames:v 40 -c:v mpeg4 "
                         "-bf 0 -g 12 -f m4v '" + video + "'").c_str()), 0);
  ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i sine=frequency=500:sample_rate=16000 -t 2.5 -c:a aac "
                         "-b:a 24k -f adts '" + audio + "'").c_str()), 0);
  fileformat::tools::Recording in;
  in.video = video;
  in.aac = audio;
  // The writer spools into the current folder.
  const auto here = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  fileformat::tools::RecordResult r = fileformat::tools::recordMp4(out.string(), in);
  std::filesystem::current_path(here);
  ASSERT_TRUE(r.ok) << r.error;
  auto f = Open(out);
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(f->ok()) << MP4FileErrorName(f->error());
  EXPECT_TRUE(Mp4File::LastOpenHadKrmm());
  EXPECT_EQ(f->GetContentVersion() >> 8, 3);
  EXPECT_EQ(f->GetFileKind(), 3u);
  SharedWideString* text = f->GetKrmmText1();
  EXPECT_GT(text->length(), 0u);
  text->Release();
  ExpectSamplesMatchFfprobe(out, *f);
  for (const auto& p : {std::filesystem::path(video), std::filesystem::path(audio), out}) std::filesystem::remove(p);
}

namespace {

// Opens the bytes and, when they open, reads everything and seeks around.
// Returns the open's error code.
int32_t Exercise(const std::vector<uint8_t>& bytes) {
  fixture::TempFile file(bytes, "mut");
  auto f = Open(file.path);
  if (!f) return FILE_OPEN_FAILED;
  if (!f->ok()) return f->error();
  uint32_t ids[8];
  const uint32_t n = f->GetTrackIds(ids, 8);
  std::vector<uint8_t> buf(4096);
  for (uint32_t i = 0; i < n; ++i) {
    for (int k = 0; k < 64 && f->ReadSample(ids[i], buf.data(), uint32_t(buf.size()), nullptr) != 0; ++k) {
    }
    SampleRequest r;
    r.bufferCount = 1;
    r.buffers[0] = {uint32_t(buf.size()), buf.data()};
    uint32_t count = 8;
    f->PeekSamples(ids[i], &count, &r);
    count = 8;
    f->ResetTracks();
    f->ReadSamples(ids[i], &count, &r);
    f->GetTrackCodecName(ids[i])->Release();
    f->GetDecoderSpecificInfo(ids[i]);
  }
  f->SeekTracks(500, n, ids);
  f->SeekTracks(0xFFFFFFFF, n, ids);
  return EVERYTHING_FINE;
}

// Every refusal names one of the reader's codes.
void Check(const std::vector<uint8_t>& bytes, std::map<int32_t, int>& seen) {
  const int32_t code = Exercise(bytes);
  EXPECT_STRNE(MP4FileErrorName(code), "UNKNOWN_ERROR");
  EXPECT_NE(code, DEFAULT_ERROR);
  ++seen[code];
}

}  // namespace

TEST(Robustness, MutatedFilesNeverCrash) {
  const std::vector<uint8_t> good = fixture::Build().b;
  std::map<int32_t, int> seen;
  for (size_t len = 0; len < good.size(); len += 7) Check({good.begin(), good.begin() + long(len)}, seen);
  uint32_t seed = 12345;
  for (size_t i = 0; i < good.size(); i += 3) {
    auto bad = good;
    seed = seed * 1103515245 + 12345;
    bad[i] ^= uint8_t(1u << ((seed >> 16) % 8));
    Check(bad, seen);
  }
  // Size fields of every atom header set to 0, 1, 8 and 0xFFFFFFFF.
  for (size_t i = 4; i + 4 <= good.size(); ++i) {
    const char* t = reinterpret_cast<const char*>(&good[i]);
    if (!IsKnownAtomType(FourCC({t[0], t[1], t[2], t[3], 0}))) continue;
    for (uint32_t v : {0u, 1u, 8u, 0xFFFFFFFFu}) {
      auto bad = good;
      bad[i - 4] = uint8_t(v >> 24);
      bad[i - 3] = uint8_t(v >> 16);
      bad[i - 2] = uint8_t(v >> 8);
      bad[i - 1] = uint8_t(v);
      Check(bad, seen);
    }
  }
  // Table counts and descriptor lengths set to extremes.
  for (size_t i = 0; i + 4 <= good.size(); i += 4) {
    auto bad = good;
    bad[i] = bad[i + 1] = bad[i + 2] = bad[i + 3] = 0xFF;
    Check(bad, seen);
  }
  // Both outcomes occur: some mutations still open, most are refused.
  EXPECT_GT(seen[EVERYTHING_FINE], 0);
  EXPECT_GT(seen.size(), 10u);
}

// AMR frames of every frame type (speech modes 0-7 and the SID frame 8),
// with their padding bits set, go through the recorder's writer and come
// back through both of the player's paths: the raw runs the file source
// groups (payload with only the padding cleared, the frame type in the
// sample's description) and the decoder's IF2 frames, which the encoder
// library's own packer turns back into the same storage frames.
TEST(WriterPeer, AmrFramesOfEveryTypeReadBackAsWritten) {
  // Speech bits per frame type (the AMR standard's table).
  static const int kBits[9] = {95, 103, 118, 134, 148, 159, 204, 244, 39};
  const auto dir = fixture::ScratchDir();
  const std::string amr = (dir / "mp4reader_frames.amr").string();
  const auto out = dir / "mp4reader_amr.mp4";
  struct Frame {
    int type;
    std::vector<uint8_t> payload;  // as the file should keep it
  };
  std::vector<Frame> frames;
  std::vector<uint8_t> storage = {'#', '!', 'A', 'M', 'R', '\n'};
  uint32_t seed = 7;
  for (int i = 0; i < 27; ++i) {
    const int type = (i * 4) % 9;  // every type three times, neighbours of different types
    std::vector<uint8_t> payload(size_t((kBits[type] + 7) / 8));
    for (uint8_t& b : payload) {
      seed = seed * 1103515245 + 12345;
      b = uint8_t(seed >> 16);
    }
    payload.back() |= uint8_t(0xFF >> (kBits[type] % 8));  // padding bits set in the input
    storage.push_back(uint8_t(type << 3 | 4));
    storage.insert(storage.end(), payload.begin(), payload.end());
    payload.back() &= uint8_t(0xFF << (8 - kBits[type] % 8));
    frames.push_back({type, payload});
  }
  {
    std::FILE* f = std::fopen(amr.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(storage.data(), 1, storage.size(), f);
    std::fclose(f);
  }
  fileformat::tools::Recording in;
  in.amr = amr;
  const auto here = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  fileformat::tools::RecordResult r = fileformat::tools::recordMp4(out.string(), in);
  std::filesystem::current_path(here);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.samples, frames.size());

  auto f = Open(out);
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(f->ok()) << MP4FileErrorName(f->error());
  uint32_t ids[4];
  ASSERT_EQ(f->GetTrackIds(ids, 4), 1u);
  const uint32_t track = ids[0];
  ASSERT_EQ(f->GetObjectTypeIndication(track), 0xD0);

  // The file source's road: groups of ten, peeked then read in one run.
  size_t k = 0;
  while (k < frames.size()) {
    SampleRequest peek;
    uint32_t n = 10;
    f->PeekSamples(track, &n, &peek);
    ASSERT_GT(n, 0u) << "at frame " << k;
    std::vector<uint8_t> data(1024);
    SampleRequest read;
    read.bufferCount = 1;
    read.buffers[0] = {uint32_t(data.size()), data.data()};
    uint32_t got = n;
    const int32_t status = f->ReadSamples(track, &got, &read);
    ASSERT_TRUE(status == EVERYTHING_FINE || status == END_OF_TRACK) << status;
    ASSERT_EQ(got, n);
    size_t at = 0;
    for (uint32_t j = 0; j < got; ++j, ++k) {
      const Frame& want = frames[k];
      const Mp4SampleEntry* e = f->GetSampleDescription(track, peek.slots[j].descriptionIndex);
      ASSERT_TRUE(e && e->Dsi()) << "frame " << k;
      EXPECT_EQ(e->Dsi()->mode & 15, want.type) << "frame " << k;
      ASSERT_EQ(peek.slots[j].size, want.payload.size()) << "frame " << k;
      EXPECT_EQ(std::vector<uint8_t>(data.begin() + long(at), data.begin() + long(at + want.payload.size())),
                want.payload)
          << "frame " << k << ", type " << want.type;
      at += want.payload.size();
    }
  }

  // The decoder's road: IF2 frames, packed back by the encoder library.
  f->ResetTracks();
  for (size_t i = 0; i < frames.size(); ++i) {
    std::vector<uint8_t> if2(64);
    const int32_t got = f->ReadSample(track, if2.data(), uint32_t(if2.size()), nullptr);
    ASSERT_EQ(got, amr_if2_frame_bytes(frames[i].type)) << "frame " << i;
    std::vector<uint8_t> back(64);
    const int n = amr_if2_to_storage(if2.data(), back.data());
    std::vector<uint8_t> want = {uint8_t(frames[i].type << 3 | 4)};
    want.insert(want.end(), frames[i].payload.begin(), frames[i].payload.end());
    EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.begin() + n), want) << "frame " << i << ", type " << frames[i].type;
  }
  f.reset();  // Windows removes no file that is still open
  for (const auto& p : {std::filesystem::path(amr), out}) std::filesystem::remove(p);
}
