// The EVRC codec object over the Qpl.dll stand-in beside this program, and
// the filter's end-of-stream report, in-process.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "audioencfilter/evrc_codec.h"
#include "audioencfilter/filter.h"
#include "encoder_graph.h"
#include "tonquill_fixture.h"

namespace {
std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
}  // namespace

TEST(EvrcCodec, FramesFromTheCoderAndOneCoderForRepeatedInits) {
  const std::string log = TestDir() + "qpl_codec.log";
  DeleteFileA(log.c_str());
  SetEnvironmentVariableA("QPL_LOG", log.c_str());
  {
    CAudEncEVRC evrc;
    AudioCodecConfig config = {16, 8000, 8000, 2, 0, 0, 1, 0, 0, 0, 0};
    ASSERT_EQ(evrc.Init(2300, &config), 0);
    EXPECT_EQ(config.codecSampleRate, 8000u);
    EXPECT_EQ(config.codecChannels, 1u);
    ASSERT_EQ(evrc.Init(2300, &config), 0);  // the coder is reused
    std::vector<int16_t> pcm(2 * 400, 1000);
    std::vector<uint8_t> area(2300);
    std::vector<uint32_t> lengths(kSpeechFrameListLength);
    EncodedFrames frames = {area.data(), 0, lengths.data(), 0, 0};
    PcmBlock block = {reinterpret_cast<uint8_t*>(pcm.data()), uint32_t(pcm.size() * 2), 0, 0, 400};
    ASSERT_EQ(evrc.Encode(&block, &frames), 0);
    ASSERT_EQ(frames.frameCount, 2u);
    EXPECT_EQ(lengths[0], 23u);
    EXPECT_EQ(area[0], 4);  // full rate
    EXPECT_EQ(area[23], 4);
    ASSERT_EQ(evrc.Drain(&frames), 0);  // 80 samples left: one last frame
    EXPECT_EQ(frames.frameCount, 1u);
    EXPECT_EQ(frames.endPosition, 480u);
    evrc.Close();
  }
  SetEnvironmentVariableA("QPL_LOG", nullptr);
  const std::string text = readFile(log);
  size_t creations = 0;
  for (size_t p = text.find("QPLCreateInstance"); p != std::string::npos; p = text.find("QPLCreateInstance", p + 1))
    ++creations;
  EXPECT_EQ(creations, 1u) << text;
  EXPECT_NE(text.find("Release: coder freed after 3 frames"), std::string::npos) << text;

  // A library that is not there fails this object's Init only.
  CAudEncEVRC missing(L"NoSuchQpl.dll");
  AudioCodecConfig config = {16, 8000, 8000, 2, 0, 0, 1, 0, 0, 0, 0};
  EXPECT_EQ(missing.Init(2300, &config), -2);
  EXPECT_EQ(missing.Close(), 0);
  config.inputChannels = 0;
  EXPECT_EQ(missing.Init(2300, &config), -9);
}

TEST(EndReport, FourLinesCountTheRun) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    HRESULT hr = S_OK;
    CUnknown* object = CKRAudEncFlt::CreateInstance(nullptr, &hr);
    ASSERT_NE(object, nullptr);
    object->NonDelegatingAddRef();
    IBaseFilter* filter = nullptr;
    object->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    object->NonDelegatingRelease();
    auto* encoder = static_cast<CKRAudEncFlt*>(filter);
    EncoderGraph g(filter, 8000, 2, 50);
    ASSERT_EQ(g.Config()->SetAMR(0, TRUE, 0, 0, 12200), S_OK);
    ASSERT_EQ(g.Connect(), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.RunToEnd()));
    ASSERT_EQ(g.Stop(), S_OK);
    const std::string report = encoder->LastReport();
    // One packet per sample: 3 header bytes, a 2-byte length, 32 frame bytes.
    EXPECT_NE(report.find(" CKRAudEncFlt::StopStreaming(),GSM-AMR 50 samples,KBytes=1,Bytes=576,Skipped=0,min=37,"
                          "max=37,time=1000\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find(" CKRAudEncFlt::StopStreaming(),Input samples=50,skipped=0,31 KB 256 B,min=640,max=640,"
                          "time=1000\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("EVRC 0 samples"), std::string::npos);
    EXPECT_NE(report.find("AAC 0 samples"), std::string::npos);
  }
  CoUninitialize();
}
