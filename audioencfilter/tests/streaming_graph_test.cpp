// The encoding loop in real Wine filter graphs: packets and their bytes,
// sample times, events, statistics, the EVRC stream over the Qpl.dll
// stand-in, a missing Qpl.dll, and a sink that holds its buffers.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "audioencfilter/filter.h"
#include "encoder_graph.h"
#include "tonquill_fixture.h"

namespace {

class StreamingGraph : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(regsvr32(false), 0u); }
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

std::vector<GraphEvent> eventsOf(const std::vector<GraphEvent>& all, long code) {
  std::vector<GraphEvent> out;
  for (const GraphEvent& e : all)
    if (e.code == code) out.push_back(e);
  return out;
}

std::vector<Packet> packetsOf(const TestSink::Sample& s) {
  std::vector<Packet> packets;
  EXPECT_TRUE(ParsePackets(s.data, &packets));
  return packets;
}

struct StopCall {
  IMediaFilter* mf;
  HANDLE done;
  HRESULT hr;
};

DWORD WINAPI PauseThenStop(void* p) {
  auto* c = static_cast<StopCall*>(p);
  c->mf->Pause();
  c->hr = c->mf->Stop();
  SetEvent(c->done);
  return 0;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), long(bytes.size()));
}

}  // namespace

TEST_F(StreamingGraph, TwentyMillisecondsAtTwelvePointTwoGiveOnePacket) {
  EncoderGraph g(CreateRegisteredEncoder(), 8000, 2, 1);
  ASSERT_EQ(g.Config()->SetAMR(0, TRUE, 0, 0, 12200), S_OK);
  ASSERT_EQ(g.Connect(), S_OK);
  ASSERT_TRUE(SUCCEEDED(g.RunToEnd()));
  ASSERT_EQ(g.Sink()->Received(), 1);
  const TestSink::Sample s = g.Sink()->Samples()[0];
  ASSERT_EQ(s.data.size(), 37u);
  EXPECT_EQ(std::vector<BYTE>(s.data.begin(), s.data.begin() + 5), (std::vector<BYTE>{0x00, 0x00, 0x01, 0x20, 0x00}));
  EXPECT_EQ(s.data[5], 0x07);  // the storage frame's header: mode 7
  EXPECT_TRUE(s.hasTime);
  EXPECT_EQ(s.start, 0);
  EXPECT_EQ(s.stop, 200000);
  EXPECT_EQ(s.mediaStart, 0);
  EXPECT_EQ(s.mediaStop, 160);
  EXPECT_TRUE(eventsOf(g.Events(), EC_KR_ERROR).empty());
}

TEST_F(StreamingGraph, NoCodecConfiguredFallsBackToAmr475WithIdentifierZero) {
  EncoderGraph g(CreateRegisteredEncoder(), 8000, 2, 2);
  ASSERT_EQ(g.Connect(), S_OK);
  ASSERT_TRUE(SUCCEEDED(g.RunToEnd()));
  const auto errors = eventsOf(g.Events(), EC_KR_ERROR);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].p1, 2);
  EXPECT_EQ(HRESULT(errors[0].p2), HRESULT(0x800A0BDB));
  ASSERT_EQ(g.Sink()->Received(), 2);
  for (const TestSink::Sample& s : g.Sink()->Samples()) {
    const auto packets = packetsOf(s);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].type, 0);
    EXPECT_EQ(packets[0].streamId, 0);
    ASSERT_EQ(packets[0].frames.size(), 1u);
    EXPECT_EQ(packets[0].frames[0].size(), 13u);
    EXPECT_EQ(packets[0].frames[0][0], 0x00);
  }
}

TEST_F(StreamingGraph, TheDefaultRuleReenablesSlotZeroWithItsModeAndIdentifier) {
  EncoderGraph g(CreateRegisteredEncoder(), 8000, 2, 1);
  ASSERT_EQ(g.Config()->SetAMR(0, TRUE, 4, 0, 12200), S_OK);
  // The group flag follows the latest call: AMR is off, slot 0 still enabled.
  ASSERT_EQ(g.Config()->SetAMR(1, FALSE, 5, 0, 4750), S_OK);
  ASSERT_EQ(g.Connect(), S_OK);
  ASSERT_TRUE(SUCCEEDED(g.RunToEnd()));
  const auto errors = eventsOf(g.Events(), EC_KR_ERROR);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(HRESULT(errors[0].p2), KRM_E_USE_DEFAULT_CODEC);
  ASSERT_EQ(g.Sink()->Received(), 1);
  const auto packets = packetsOf(g.Sink()->Samples()[0]);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].streamId, 4);
  EXPECT_EQ(packets[0].frames[0].size(), 32u);
}

TEST_F(StreamingGraph, TimesFollowTheCodecPositionAndStatisticsAddUp) {
  EncoderGraph g(CreateRegisteredEncoder(), 8000, 2, 50);
  ASSERT_EQ(g.Config()->SetAMR(1, TRUE, 9, 0, 12200), S_OK);
  ASSERT_EQ(g.Connect(), S_OK);
  ASSERT_TRUE(SUCCEEDED(g.RunToEnd()));
  const auto samples = g.Sink()->Samples();
  ASSERT_EQ(samples.size(), 50u);
  for (size_t i = 0; i < samples.size(); ++i) {
    // time = position x 10^7 / rate, position in 8 kHz samples
    EXPECT_EQ(samples[i].mediaStart, LONGLONG(i * 160));
    EXPECT_EQ(samples[i].start, REFERENCE_TIME(i * 160) * 10000000 / 8000);
    EXPECT_EQ(samples[i].stop, REFERENCE_TIME((i + 1) * 160) * 10000000 / 8000);
    EXPECT_EQ(packetsOf(samples[i])[0].streamId, 9);
  }
  IAudEncStats* st = g.Stats();
  int k = -1, b = -1, n = -1;
  EXPECT_EQ(st->GetAMRSamples(1, &n), S_OK);
  EXPECT_EQ(n, 50);
  EXPECT_EQ(st->GetAMRBytes(1, &k, &b), S_OK);
  EXPECT_EQ(k * 1024 + b, 50 * 32);  // frames only, no headers
  EXPECT_EQ(st->GetInputBytes(&k, &b), S_OK);
  EXPECT_EQ(k * 1024 + b, 50 * 640);
  EXPECT_EQ(st->GetInputSamples(&n), S_OK);
  EXPECT_EQ(n, 50);
  EXPECT_EQ(st->GetEmptyInputs(&n), S_OK);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(st->GetStreamTime(0, 1, &n), S_OK);
  EXPECT_EQ(n, 1000);
  EXPECT_EQ(st->GetInputTime(&n), S_OK);
  EXPECT_EQ(n, 1000);
  short index = 0, type = 1;
  EXPECT_EQ(st->GetActiveStream(&index, &type), S_OK);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(type, 0);
  ASSERT_EQ(g.Stop(), S_OK);
}

TEST_F(StreamingGraph, StampsLaggingTheBytesBySixHundredMillisecondsRaiseTheDrift) {
  EncoderGraph g(CreateRegisteredEncoder(), 8000, 2, 60);
  ASSERT_EQ(g.Config()->SetAMR(0, TRUE, 0, 0, 4750), S_OK);
  g.Source()->ShiftTimes(40, -6000000);
  ASSERT_EQ(g.Connect(), S_OK);
  ASSERT_TRUE(SUCCEEDED(g.RunToEnd()));
  ASSERT_EQ(g.Stop(), S_OK);
  const auto drift = eventsOf(g.Events(), EC_KR_AUDIO_DRIFT);
  // From the sample that lags on, every sample while the lag stays >= 500 ms.
  ASSERT_EQ(drift.size(), 20u);
  for (const GraphEvent& e : drift) {
    EXPECT_EQ(e.p1, 2);
    EXPECT_EQ(e.p2, 600);
  }
}

TEST_F(StreamingGraph, SamplesOfTwelveAndAHalfMillisecondsRaiseNoFalseDrift) {
  // 100 sample frames at 8 kHz: a byte clock that dropped the half
  // millisecond of each sample would lag 500 ms after 1000 samples.
  EncoderGraph g(CreateRegisteredEncoder(), 8000, 2, 1100);
  g.Source()->SetSampleFrames(100);
  ASSERT_EQ(g.Config()->SetAMR(0, TRUE, 0, 0, 4750), S_OK);
  ASSERT_EQ(g.Connect(), S_OK);
  ASSERT_TRUE(SUCCEEDED(g.RunToEnd()));
  ASSERT_EQ(g.Stop(), S_OK);
  EXPECT_EQ(g.Source()->Delivered(), 1100);
  EXPECT_TRUE(eventsOf(g.Events(), EC_KR_AUDIO_DRIFT).empty());
  int n = 0;
  EXPECT_EQ(g.Stats()->GetAMRSamples(0, &n), S_OK);
  EXPECT_EQ(n, (1100 * 100 + 159) / 160);  // the last partial frame at the end of the stream
}

TEST_F(StreamingGraph, ADownstreamRefusalReachesTheSource) {
  EncoderGraph g(CreateRegisteredEncoder(), 8000, 2, 10);
  ASSERT_EQ(g.Config()->SetAMR(0, TRUE, 0, 0, 4750), S_OK);
  g.Sink()->AnswerAt(3, S_FALSE);
  ASSERT_EQ(g.Connect(), S_OK);
  ASSERT_TRUE(SUCCEEDED(g.RunToEnd()));
  ASSERT_EQ(g.Stop(), S_OK);
  EXPECT_EQ(g.Source()->LastDeliverResult(), S_FALSE);
  EXPECT_EQ(g.Source()->Delivered(), 2);  // the source stopped at the refusal
}

TEST_F(StreamingGraph, TwoAmrStreamsAndEvrcShareTheSpeechSample) {
  const std::string log = TestDir() + "qpl_graph.log";
  DeleteFileA(log.c_str());
  SetEnvironmentVariableA("QPL_LOG", log.c_str());
  EncoderGraph g(CreateRegisteredEncoder(), 8000, 2, 50);
  ASSERT_EQ(g.Config()->SetAMR(0, TRUE, 5, 0, 12200), S_OK);
  ASSERT_EQ(g.Config()->SetAMR(1, TRUE, 6, 0, 4750), S_OK);
  ASSERT_EQ(g.Config()->SetEVRC(0, TRUE, 7, 0, 9200), S_OK);
  ASSERT_EQ(g.Connect(), S_OK);
  ASSERT_TRUE(SUCCEEDED(g.RunToEnd()));
  ASSERT_EQ(g.Stop(), S_OK);
  SetEnvironmentVariableA("QPL_LOG", nullptr);
  EXPECT_TRUE(eventsOf(g.Events(), EC_KR_ERROR).empty());
  const auto samples = g.Sink()->Samples();
  ASSERT_EQ(samples.size(), 50u);
  std::string amr = "#!AMR\n", qcp;
  for (const TestSink::Sample& s : samples) {
    const auto packets = packetsOf(s);
    ASSERT_EQ(packets.size(), 3u);
    const int ids[3] = {5, 6, 7}, types[3] = {0, 0, 1};
    const size_t sizes[3] = {32, 13, 23};
    for (int p = 0; p < 3; ++p) {
      EXPECT_EQ(packets[p].type, types[p]);
      EXPECT_EQ(packets[p].streamId, ids[p]);
      ASSERT_EQ(packets[p].frames.size(), 1u);
      EXPECT_EQ(packets[p].frames[0].size(), sizes[p]);
    }
    // RFC 4867 storage: header (FT << 3) | 4, then the frame's speech bytes.
    const auto& f = packets[0].frames[0];
    amr += char(f[0] << 3 | 4);
    amr.append(f.begin() + 1, f.end());
    qcp.append(packets[2].frames[0].begin(), packets[2].frames[0].end());
  }
  // For the ffmpeg check that runs after this test.
  writeFile(TestDir() + "graph_amr0.amr", amr);
  writeFile(TestDir() + "graph_evrc.frames", qcp);
  int n = 0;
  EXPECT_EQ(g.Stats()->GetEVRCSamples(0, &n), S_OK);
  EXPECT_EQ(n, 50);

  std::ifstream in(log);
  std::string line, all;
  int frames = 0;
  while (std::getline(in, line)) {
    all += line + "\n";
    if (line.rfind("EncodeFrame(1): 160 samples", 0) == 0) ++frames;
  }
  EXPECT_NE(all.find("not a speech coder"), std::string::npos) << all;
  EXPECT_NE(all.find("Open(1)"), std::string::npos);
  EXPECT_EQ(frames, 50);
}

TEST_F(StreamingGraph, WithoutQplOnlyTheEvrcStreamFails) {
  const std::string dll = TestDir() + "Qpl.dll", away = TestDir() + "Qpl.dll.away";
  ASSERT_TRUE(MoveFileA(dll.c_str(), away.c_str()));
  {
    EncoderGraph g(CreateRegisteredEncoder(), 8000, 2, 10);
    ASSERT_EQ(g.Config()->SetAMR(0, TRUE, 0, 0, 12200), S_OK);
    ASSERT_EQ(g.Config()->SetEVRC(0, TRUE, 1, 0, 9200), S_OK);
    ASSERT_EQ(g.Connect(), S_OK);
    EXPECT_TRUE(SUCCEEDED(g.RunToEnd()));
    ASSERT_EQ(g.Stop(), S_OK);
    const auto errors = eventsOf(g.Events(), EC_KR_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(HRESULT(errors[0].p2), AUDENC_E_EVRC_INIT);
    ASSERT_EQ(g.Sink()->Received(), 10);
    for (const TestSink::Sample& s : g.Sink()->Samples()) {
      const auto packets = packetsOf(s);
      ASSERT_EQ(packets.size(), 1u);
      EXPECT_EQ(packets[0].type, 0);
    }
    int skipped = 0;
    EXPECT_EQ(g.Stats()->GetSkipped(1, 0, &skipped), S_OK);
    EXPECT_EQ(skipped, 10);
  }
  ASSERT_TRUE(MoveFileA(away.c_str(), dll.c_str()));
}

TEST_F(StreamingGraph, ASinkHoldingEveryBufferNeverDeadlocksTheStop) {
  EncoderGraph g(CreateRegisteredEncoder(), 8000, 2, 50);
  ASSERT_EQ(g.Config()->SetAMR(0, TRUE, 0, 0, 12200), S_OK);
  g.Sink()->HoldSamples(2);  // both of the filter's output buffers
  ASSERT_EQ(g.Connect(), S_OK);
  ASSERT_TRUE(SUCCEEDED(g.RunToEnd(1000)));
  EXPECT_EQ(g.Sink()->Received(), 2);
  EXPECT_FALSE(g.Source()->Finished());  // the filter waits for a buffer
  // Stopping the filter itself (not the graph) must wake that wait.
  IMediaFilter* mf = nullptr;
  ASSERT_EQ(g.Filter()->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&mf)), S_OK);
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  StopCall call = {mf, done, E_PENDING};
  HANDLE thread = CreateThread(nullptr, 0, PauseThenStop, &call, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(done, 5000), WAIT_OBJECT_0) << "the filter's Stop hung";
  EXPECT_EQ(call.hr, S_OK);
  WaitForSingleObject(thread, 5000);
  CloseHandle(thread);
  CloseHandle(done);
  mf->Release();
  EXPECT_TRUE(SUCCEEDED(g.Stop()));
  EXPECT_TRUE(g.Source()->WaitFinished(5000));
}

TEST_F(StreamingGraph, AacOpensAndGivesItsConfiguration) {
  EncoderGraph g(CreateRegisteredEncoder(), 8000, 2, 1);
  int rate = 0, bitrate = 32000;
  short channels = 2;
  ASSERT_EQ(g.Config()->SetAAC(0, TRUE, 3, &rate, &bitrate, &channels), S_OK);
  BYTE config[64];
  int length = -1;
  EXPECT_EQ(g.Config()->GetAACConfig(0, config, &length), S_OK);
  // AudioSpecificConfig: LC (object type 2 in the first five bits), two
  // channels; the frames themselves are proven in the codec's contract test.
  ASSERT_EQ(length, 2);
  EXPECT_EQ(config[0] >> 3, 2);
  EXPECT_EQ((config[1] >> 3) & 15, 2);
  // The flag stays: a second SetAAC is busy until Reset.
  EXPECT_EQ(g.Config()->SetAAC(0, TRUE, 3, &rate, &bitrate, &channels), AUDENC_E_AAC_BUSY);
  EXPECT_EQ(g.Config()->Reset(), S_OK);
}
