// The audio path under Wine: the waveOut device over a scripted seam and over
// the real device (PulseAudio's null sink), the decoder binding with the
// stand-in libraries, and a clip played through binding, device and file
// source to its end.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "audio_decoder_binding.h"
#include "file_source.h"
#include "packet_list.h"
#include "player_fixture.h"
#include "source_test_support.h"
#include "wave_out_device.h"

using namespace source_test;

namespace {

// waveOut that answers from a script and records what it was asked.
class ScriptedWaveOut : public WaveOutApi {
 public:
  UINT GetNumDevs() override { return devices; }
  MMRESULT Open(HWAVEOUT* out, UINT, const WAVEFORMATEX*, DWORD_PTR, DWORD_PTR, DWORD flags) override {
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    ++opens;
    if (busyOpens > 0) {
      --busyOpens;
      return MMSYSERR_ALLOCATED;
    }
    *out = reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(0x1234));
    return MMSYSERR_NOERROR;
  }
  MMRESULT Close(HWAVEOUT) override { return MMSYSERR_NOERROR; }
  MMRESULT Reset(HWAVEOUT) override { return MMSYSERR_NOERROR; }
  MMRESULT Restart(HWAVEOUT) override { return MMSYSERR_NOERROR; }
  MMRESULT SetVolume(HWAVEOUT, DWORD v) override {
    volumes.push_back(v);
    return MMSYSERR_NOERROR;
  }
  void Sleep(DWORD ms) override { sleeps.push_back(ms); }
  UINT devices = 1;
  int busyOpens = 0, opens = 0;
  std::vector<DWORD> sleeps, volumes;
};

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  return out;
}

// Names the stand-ins' log for this test.
struct DecoderLog {
  std::filesystem::path path;
  explicit DecoderLog(const std::filesystem::path& dir) : path(dir / "decoder.log") {
    SetEnvironmentVariableW(L"STAND_IN_DECODER_LOG", path.wstring().c_str());
  }
  ~DecoderLog() { SetEnvironmentVariableW(L"STAND_IN_DECODER_LOG", nullptr); }
  std::string Text() const { return ReadAll(path); }
};

CodecEntry Entry(uint32_t type, const char16_t* file) {
  CodecEntry e{};
  e.type = type;
  std::u16string(file).copy(e.libraryFile, 32);
  return e;
}

// A file source over a clip, with its audio track selected.
struct Clip {
  RecordingHost host;
  std::unique_ptr<FileSource> source;
  uint32_t audioTrack = 0;
  Clip(const std::filesystem::path& path, PlayerContext* context) {
    source = std::make_unique<FileSource>(context, &host);
    EXPECT_EQ(source->Open(path.u16string().c_str(), nullptr), 0u);
    int32_t count = 0;
    TrackEntry* t = source->GetTrackList(&count);
    for (int32_t i = 0; i < count; ++i) {
      source->SelectTrack(t[i].trackId);
      if (source->audioTrackId == static_cast<int32_t>(t[i].trackId)) audioTrack = t[i].trackId;
    }
  }
};

class AudioPathTest : public ::testing::Test {
 protected:
  std::filesystem::path dir = ScratchDir();
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

}  // namespace

TEST(WaveOutDevice, FormatCheckAndVolumeWords) {
  struct Case {
    uint32_t channels, rate, bits, ok;
  } cases[] = {{1, 11025, 16, 1}, {2, 44100, 16, 1}, {1, 7999, 16, 0}, {3, 8000, 16, 0}, {1, 8000, 12, 0}};
  for (const Case& c : cases) {
    uint32_t ok = 9;
    WaveOutDevice d(&ok, c.channels, c.rate, c.bits, nullptr, 3);
    EXPECT_EQ(ok, c.ok) << c.channels << " " << c.rate << " " << c.bits;
  }
  ScriptedWaveOut api;
  uint32_t ok = 0;
  WaveOutDevice d(&ok, 1, 8000, 16, nullptr, 3, &api);
  ASSERT_EQ(d.Open(), 1u);
  d.SetVolume(40);
  EXPECT_EQ(d.VolumeWord(), 0x66666666u);
  EXPECT_EQ(d.GetVolume(), 40u);
  d.SetVolume(100);
  EXPECT_EQ(d.VolumeWord(), 0xFFFFFFFFu);
  EXPECT_EQ(api.volumes, (std::vector<DWORD>{0x66666666u, 0xFFFFFFFFu}));
  // Open again: refused, counters cleared.
  EXPECT_EQ(d.Open(), 0u);
  d.CloseDevice();
}

TEST(WaveOutDevice, BusyDeviceIsTriedFiveTimesThenReportedOnce) {
  TestPlayer p;
  p.Init();
  struct Case {
    int busy;
    uint32_t opened;
    int opens;
    size_t sleeps;
    bool reported;
  } cases[] = {{0, 1, 1, 0, false}, {2, 1, 3, 2, false}, {100, 0, 5, 5, true}};
  for (const Case& c : cases) {
    ScriptedWaveOut api;
    api.busyOpens = c.busy;
    uint32_t ok = 0;
    WaveOutDevice d(&ok, 1, 8000, 16, p.context(), 3, &api);
    const size_t before = p.observer.Calls().size();
    EXPECT_EQ(d.Open(), c.opened) << c.busy;
    EXPECT_EQ(api.opens, c.opens) << c.busy;
    EXPECT_EQ(api.sleeps, std::vector<DWORD>(c.sleeps, 250)) << c.busy;
    int reports = 0;
    const auto calls = p.observer.Calls();
    for (size_t i = before; i < calls.size(); ++i) reports += calls[i].rfind("ShowError 50006", 0) == 0;
    EXPECT_EQ(reports, c.reported ? 1 : 0) << c.busy;
    d.CloseDevice();
  }
  ScriptedWaveOut none;
  none.devices = 0;
  uint32_t ok = 0;
  WaveOutDevice d(&ok, 1, 8000, 16, p.context(), 3, &none);
  EXPECT_EQ(d.Open(), 0u);
  EXPECT_EQ(none.opens, 0);
}

TEST(WaveOutDevice, RingOfThreeOnTheRealDevice) {
  uint32_t ok = 0;
  WaveOutDevice d(&ok, 1, 8000, 16, nullptr, 3);
  ASSERT_EQ(ok, 1u);
  std::mutex lock;
  std::vector<uint32_t> done;
  struct Sink {
    std::mutex* lock;
    std::vector<uint32_t>* done;
  } sink{&lock, &done};
  d.SetCallback(
      [](void* c, uint32_t seq) {
        auto* s = static_cast<Sink*>(c);
        std::lock_guard<std::mutex> g(*s->lock);
        s->done->push_back(seq);
      },
      &sink);
  ASSERT_EQ(d.Open(), 1u) << "waveOut device (is PulseAudio running?)";
  ASSERT_TRUE(d.AllocateBuffers(1600));  // 100 ms each
  uint8_t* first = nullptr;
  for (uint32_t seq = 10; seq < 13; ++seq) {
    uint8_t* b = d.GetFreeBuffer();
    ASSERT_NE(b, nullptr);
    if (!first) first = b;
    std::memset(b, 0, 1600);
    ASSERT_EQ(d.QueueBuffer(seq), 1u);
  }
  EXPECT_EQ(d.GetFreeBuffer(), nullptr);
  EXPECT_LE(d.QueuedMs(), 300u);
  EXPECT_TRUE(d.WaitFree(2000));
  ASSERT_TRUE(PumpUntil([&] { return d.Outstanding() == 0; }, 3000));
  {
    std::lock_guard<std::mutex> g(lock);
    EXPECT_EQ(done, (std::vector<uint32_t>{10, 11, 12}));
  }
  EXPECT_EQ(d.QueuedMs(), 0u);
  // The slot's data block is used again, and a flush returns every buffer.
  EXPECT_EQ(d.GetFreeBuffer(), first);
  for (uint32_t seq = 20; seq < 23; ++seq) {
    std::memset(d.GetFreeBuffer(), 0, 1600);
    ASSERT_EQ(d.QueueBuffer(seq), 1u);
  }
  d.Flush();
  EXPECT_EQ(d.QueuedMs(), 0u);
  ASSERT_TRUE(PumpUntil([&] { return d.Outstanding() == 0; }, 3000));
  std::lock_guard<std::mutex> g(lock);
  EXPECT_EQ(done, (std::vector<uint32_t>{10, 11, 12, 20, 21, 22}));
  d.CloseDevice();
  EXPECT_FALSE(d.IsOpen());
}

TEST_F(AudioPathTest, BindingLoadsOnceForAmrAndAgainForAac) {
  TestPlayer p;
  p.Init();
  DecoderLog log(dir);
  WriteClip(dir / "amr.mp4", FileSpec{{{TrackSpec::kAmr, 20}}});
  WriteClip(dir / "aac.mp4", FileSpec{{{TrackSpec::kAac, 20, 64}}});
  Clip amr(dir / "amr.mp4", p.context());
  AudioDecoderBinding a(p.context(), amr.source.get(), &p.shell);
  ASSERT_EQ(a.LoadCodec(Entry(0, u"krgsmamr.dll"), 0, 400, amr.audioTrack), 0u);
  EXPECT_EQ(a.CodecType(), 0u);
  EXPECT_EQ(a.Settings().sampleRate, 8000u);
  EXPECT_EQ(a.Settings().channels, 1u);
  EXPECT_EQ(a.Settings().flag, 0u);
  EXPECT_EQ(a.UnitsPerSecond(), 1000u);
  EXPECT_EQ(a.BufferMs(), 200u);
  EXPECT_EQ(a.BufferBytes(), 3200u);
  EXPECT_EQ(a.RangeEnd(), 400u);
  ASSERT_EQ(a.LoadCodec(Entry(0, u"krgsmamr.dll"), 100, 300, amr.audioTrack), 0u);
  EXPECT_EQ(a.LoadCount(), 1u);
  EXPECT_EQ(a.RangeStart(), 100u);
  EXPECT_EQ(a.RangeEnd(), 300u);

  Clip aac(dir / "aac.mp4", p.context());
  AudioDecoderBinding b(p.context(), aac.source.get(), &p.shell);
  ASSERT_EQ(b.LoadCodec(Entry(2, u"kraac.dll"), 0, kPlayToEnd, aac.audioTrack), 0u);
  EXPECT_EQ(b.OutputFormat().sampleRate, 16000u);  // from the AudioSpecificConfig
  EXPECT_EQ(b.OutputFormat().channels, 1u);
  EXPECT_EQ(b.BufferMs(), 500u);
  EXPECT_EQ(b.BufferBytes(), 16000u);
  EXPECT_EQ(b.RangeEnd(), kPlayToEnd);
  b.LoadCodec(Entry(2, u"kraac.dll"), 0, kPlayToEnd, aac.audioTrack);
  EXPECT_EQ(b.LoadCount(), 1u) << "a configured binding keeps its library";

  const std::string text = log.Text();
  EXPECT_EQ(Lines(text, "krgsmamr: stand-in decoder library; it does not decode").size(), 1u);
  EXPECT_EQ(Lines(text, "sync windows first=350 second=250").size(), 2u);
  EXPECT_EQ(Lines(text, "init rate=16000 channels=1 units=1000").size(), 1u);
}

TEST_F(AudioPathTest, AacIsReloadedWhenNotConfigured) {
  TestPlayer p;
  p.Init();
  // A source without an AudioSpecificConfig: the library loads, refuses to
  // initialise, and the binding is never configured.
  FakeSource source(p.context(), 1);
  AudioDecoderBinding b(p.context(), &source, &p.shell);
  EXPECT_EQ(b.LoadCodec(Entry(2, u"kraac.dll"), 0, 100, 1), 34u);
  EXPECT_EQ(b.LoadCodec(Entry(2, u"kraac.dll"), 0, 100, 1), 34u);
  EXPECT_EQ(b.LoadCount(), 2u);
  EXPECT_EQ(b.OpenDevice(), 37u);
}

TEST_F(AudioPathTest, MissingExportsOrObjectGive34) {
  TestPlayer p;
  p.Init();
  FakeSource source(p.context(), 1);
  struct Case {
    const char16_t* file;
    bool loaded;
  } cases[] = {{u"winmm.dll", true}, {u"null_decoder.dll", false}, {u"no_such_decoder.dll", false}};
  for (const Case& c : cases) {
    AudioDecoderBinding b(p.context(), &source, &p.shell);
    EXPECT_EQ(b.LoadCodec(Entry(0, c.file), 0, 100, 1), 34u);
    EXPECT_EQ(b.Library() != nullptr, c.loaded);
    EXPECT_EQ(b.Decoder(), nullptr);
    EXPECT_EQ(b.CodecType(), 3u);
    EXPECT_EQ(b.OpenDevice(), 37u);
  }
}

namespace {
// A source whose next statuses come from a list.
class ScriptedSource : public FakeSource {
 public:
  using FakeSource::FakeSource;
  uint32_t GetAudioFrame(uint8_t* b, uint32_t, uint32_t, uint32_t* ts, uint32_t* length) override {
    const uint32_t s = statuses[next++ % statuses.size()];
    b[0] = 1;
    *length = 2;
    *ts = 16000;  // 2000 ms at 8000 units per second
    return s;
  }
  uint32_t SetAudioTrack(uint32_t) override { return 8000; }
  std::vector<uint32_t> statuses;
  size_t next = 0;
};
}  // namespace

TEST_F(AudioPathTest, ReadFrameStatusesAndTheClock) {
  TestPlayer p;
  p.Init();
  DecoderLog log(dir);
  ScriptedSource source(p.context(), 1);
  AudioDecoderBinding b(p.context(), &source, &p.shell);
  ASSERT_EQ(b.LoadCodec(Entry(1, u"krevrc.dll"), 0, kPlayToEnd, 1), 0u);
  EXPECT_EQ(b.Settings().flag, 1u);
  EXPECT_TRUE(log.Text().find("sync windows first=2800 second=2000") != std::string::npos);
  uint8_t frame[16];
  uint32_t ts = 0, length = 0;
  // Within five buffers of the start every read is a resynchronisation point.
  source.statuses = {28, 26, 5, 0};
  b.SetResyncState(3, 0, 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(b.ReadFrame(frame, 16, &ts, &length), 1u) << i;
  // Later the source's statuses are mapped: end, not now (after a 20 ms
  // sleep), and a discontinuity that restarts the count.
  b.SetResyncState(9, 0, 0);
  source.next = 0;
  EXPECT_EQ(b.ReadFrame(frame, 16, &ts, &length), 3u);
  const DWORD before = GetTickCount();
  EXPECT_EQ(b.ReadFrame(frame, 16, &ts, &length), 4u);
  EXPECT_GE(GetTickCount() - before, 15u);
  EXPECT_EQ(b.ReadFrame(frame, 16, &ts, &length), 1u);
  EXPECT_EQ(b.ResyncSequence(), 9u);
  EXPECT_EQ(b.BaseTimeMs(), 2000u);

  // Buffer 7 played after a resynchronisation at 5 with base 2000.
  b.SetResyncState(8, 5, 2000);
  p.parts.clock->now = 123;
  AudioDecoderBinding::OnWaveDone(&b, 4);
  EXPECT_EQ(p.parts.clock->now, 123u);
  AudioDecoderBinding::OnWaveDone(&b, 7);
  EXPECT_EQ(p.parts.clock->now, 2600u);
}

TEST_F(AudioPathTest, AmrClipPlaysToItsEndThroughTheDevice) {
  TestPlayer p;
  p.Init();
  DecoderLog log(dir);
  const uint32_t frames = 75;  // 1.5 s
  WriteClip(dir / "amr.mp4", FileSpec{{{TrackSpec::kAmr, frames, 20, 7}}});
  Clip clip(dir / "amr.mp4", p.context());
  clip.host.state = kStatePlaying;
  AudioDecoderBinding b(p.context(), clip.source.get(), &p.shell);
  ASSERT_EQ(b.LoadCodec(Entry(0, u"krgsmamr.dll"), 0, kPlayToEnd, clip.audioTrack), 0u);
  ASSERT_EQ(clip.source->SetPlayRange(0, kPlayToEnd), 0u);
  p.engine()->SetState(kStatePlaying);
  ASSERT_EQ(b.OpenDevice(), 0u) << "waveOut device (is PulseAudio running?)";
  b.SetPlayRange(0, kPlayToEnd);
  const DWORD start = GetTickCount();
  ASSERT_EQ(b.Start(), 0u);
  ASSERT_EQ(WaitForSingleObject(b.Thread(), 10000), WAIT_OBJECT_0);
  const DWORD elapsed = GetTickCount() - start;
  // Every frame went to the library once, in groups of ten.
  const auto lines = Lines(log.Text(), "frame ");
  ASSERT_EQ(lines.size(), 8u);
  uint32_t sample = 0;
  for (const std::string& line : lines) {
    const uint32_t n = sample + 10 <= frames ? 10 : frames - sample;
    std::vector<uint8_t> payload;
    for (uint32_t i = 0; i < n; ++i) {
      auto f = Payload(0, sample + i, AmrBytes(7));
      f.back() &= 0xF0;  // the writer clears the unused bits of a 12.2 frame
      payload.insert(payload.end(), f.begin(), f.end());
    }
    char want[64];
    std::snprintf(want, sizeof(want), " t=%u len=%u n=%u ", sample * 20, 1 + n + n * AmrBytes(7), n);
    EXPECT_NE(line.find(want), std::string::npos) << line;
    char hash[32];
    std::snprintf(hash, sizeof(hash), "hash=%08X", static_cast<unsigned>(Adler32(payload.data(), payload.size())));
    EXPECT_NE(line.find(hash), std::string::npos) << line;
    sample += n;
  }
  // 1.5 s of audio in 200 ms buffers: eight buffers, played in real time.
  EXPECT_EQ(b.BuffersQueued(), 8u);
  EXPECT_EQ(p.parts.clock->now, 1600u);
  EXPECT_GE(elapsed, 1400u);
  EXPECT_FALSE(b.Device()->IsOpen());
}
