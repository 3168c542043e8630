// The AAC stream through the filter in a real Wine graph, over the double of
// the AAC encoder library (the product has no encoder core yet): SetAAC,
// the AudioSpecificConfig, the AAC sample beside the speech sample, and
// their times.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "aac_double.h"
#include "audioencfilter/filter.h"
#include "encoder_graph.h"

namespace {

IBaseFilter* CreateInProcessEncoder() {
  HRESULT hr = S_OK;
  CUnknown* object = CKRAudEncFlt::CreateInstance(nullptr, &hr);
  if (!object) return nullptr;
  object->NonDelegatingAddRef();
  IBaseFilter* filter = nullptr;
  object->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter));
  object->NonDelegatingRelease();
  return filter;
}

class AacGraph : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    AacDouble::current = &lib;
    UseAacLibrary(&AacDouble::table);
  }
  void TearDown() override {
    UseAacLibrary(nullptr);
    AacDouble::current = nullptr;
    CoUninitialize();
  }
  AacDouble lib;
};

}  // namespace

TEST_F(AacGraph, AacAndAmrPacketsLeaveInTheirOwnSamples) {
  lib.frameBytes = 300;
  EncoderGraph g(CreateInProcessEncoder(), 44100, 2, 100);
  int rate = 0, bitrate = 64000;
  short channels = 2;
  ASSERT_EQ(g.Config()->SetAAC(0, TRUE, 3, &rate, &bitrate, &channels), S_OK);
  EXPECT_EQ(rate, 44100);
  EXPECT_EQ(channels, 2);
  BYTE asc[64];
  int length = 0;
  ASSERT_EQ(g.Config()->GetAACConfig(0, asc, &length), S_OK);
  ASSERT_EQ(length, 2);
  EXPECT_EQ(asc[0], 0x12);
  EXPECT_EQ(asc[1], 0x10);
  EXPECT_EQ(g.Config()->SetAAC(0, TRUE, 3, &rate, &bitrate, &channels), AUDENC_E_AAC_BUSY);
  // The speech stream now takes 44.1 kHz input and resamples it.
  ASSERT_EQ(g.Config()->SetAMR(0, TRUE, 1, 0, 12200), S_OK);
  ASSERT_EQ(g.Connect(), S_OK);
  ASSERT_TRUE(SUCCEEDED(g.RunToEnd()));
  ASSERT_EQ(g.Stop(), S_OK);

  int aacFrames = 0, amrFrames = 0;
  bool aacSeen = false, speechBeforeAac = false;
  LONGLONG nextAac = 0;
  for (const TestSink::Sample& s : g.Sink()->Samples()) {
    std::vector<Packet> packets;
    ASSERT_TRUE(ParsePackets(s.data, &packets));
    ASSERT_EQ(packets.size(), 1u);  // never both in one sample
    const Packet& p = packets[0];
    if (p.type == 2) {
      aacSeen = true;
      EXPECT_EQ(p.streamId, 3);
      EXPECT_EQ(s.mediaStart, nextAac);
      EXPECT_EQ(s.mediaStop, s.mediaStart + LONGLONG(1024 * p.frames.size()));
      EXPECT_EQ(s.start, s.mediaStart * 10000000 / 44100);
      EXPECT_EQ(s.stop, s.mediaStop * 10000000 / 44100);
      nextAac = s.mediaStop;
      for (const auto& f : p.frames) {
        ASSERT_EQ(f.size(), 300u);
        EXPECT_EQ(f[0], BYTE(aacFrames + 1));  // the double's frames, in order
        ++aacFrames;
      }
    } else {
      EXPECT_EQ(p.type, 0);
      EXPECT_EQ(p.streamId, 1);
      amrFrames += int(p.frames.size());
      if (!aacSeen) speechBeforeAac = true;
    }
  }
  // The first 20 ms are too short for an AAC frame, not for AMR.
  EXPECT_TRUE(speechBeforeAac);
  // At the end of the stream the partial AAC frame (completed with silence)
  // and the AMR converter's tail come out too: 2 s in, 2 s out.
  EXPECT_EQ(aacFrames, 88200 / 1024 + 1);
  EXPECT_EQ(amrFrames, 101);  // 16000 samples plus the converter's 31-sample delay
  int n = 0, k = 0, b = 0;
  EXPECT_EQ(g.Stats()->GetAACSamples(0, &n), S_OK);
  EXPECT_EQ(n, aacFrames);
  EXPECT_EQ(g.Stats()->GetAACBytes(0, &k, &b), S_OK);
  EXPECT_EQ(k * 1024 + b, 300 * aacFrames);
  EXPECT_EQ(lib.objectType, 2);
  EXPECT_EQ(lib.channels, 2);
}

TEST_F(AacGraph, TheFirstRefusedDeliveryIsTheAnswerWhenBothSamplesGo) {
  lib.frameBytes = 100;
  EncoderGraph g(CreateInProcessEncoder(), 24000, 2, 20);
  int rate = 0, bitrate = 24000;
  short channels = 2;
  ASSERT_EQ(g.Config()->SetAAC(0, TRUE, 3, &rate, &bitrate, &channels), S_OK);
  ASSERT_EQ(rate, 24000);
  ASSERT_EQ(g.Config()->SetAMR(0, TRUE, 0, 0, 4750), S_OK);
  // 20 ms at 24 kHz is 480 sample frames: the third input sample completes
  // the first AAC frame, so it delivers a speech sample, then an AAC sample.
  g.Sink()->AnswerAt(3, S_FALSE);
  ASSERT_EQ(g.Connect(), S_OK);
  ASSERT_TRUE(SUCCEEDED(g.RunToEnd()));
  ASSERT_EQ(g.Stop(), S_OK);
  const auto samples = g.Sink()->Samples();
  ASSERT_GE(samples.size(), 4u);
  EXPECT_EQ(samples[1].data[0], 0);
  EXPECT_EQ(samples[2].data[0], 0);  // speech, refused
  EXPECT_EQ(samples[3].data[0], 2);  // AAC, accepted: the answer stays S_FALSE
  EXPECT_EQ(g.Source()->LastDeliverResult(), S_FALSE);
  EXPECT_EQ(g.Source()->Delivered(), 2);
}

TEST_F(AacGraph, AFailedAacInitLeavesNoCodecAndCountsItsSamplesAsSkipped) {
  lib.failOpen = true;
  EncoderGraph g(CreateInProcessEncoder(), 8000, 2, 5);
  int rate = 0, bitrate = 48000;
  short channels = 2;
  EXPECT_EQ(g.Config()->SetAAC(0, TRUE, 3, &rate, &bitrate, &channels), AUDENC_E_AAC_INIT);
  ASSERT_EQ(g.Config()->SetAMR(0, TRUE, 0, 0, 4750), S_OK);
  ASSERT_EQ(g.Connect(), S_OK);
  ASSERT_TRUE(SUCCEEDED(g.RunToEnd()));
  ASSERT_EQ(g.Stop(), S_OK);
  // AMR goes on; the enabled AAC slot without a codec fails every sample.
  EXPECT_EQ(g.Sink()->Received(), 5);
  int skipped = 0;
  EXPECT_EQ(g.Stats()->GetSkipped(2, 0, &skipped), S_OK);
  EXPECT_EQ(skipped, 5);
}
