// The file source road under Wine: ffmpeg-made files opened through Wine's
// file source and its GStreamer parsers, encoded through the engine (created
// by ProgID, driven as the control drives it) into MP4 files that our reader,
// mp4info and ffmpeg judge. Runs in a Wine prefix of its own (see the
// CMakeLists): it registers the engine and the filters there.
#include "encode_host.h"  // first: it brings windows.h

#include <gtest/gtest.h>

#include <evcode.h>
#include <uuids.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "mediaengine/errors.h"
#include "mediaengine/media.h"
#include "mediaengine/server.h"
#include "peers.h"
#include "test_util.h"

using namespace mediaengine;

namespace {

std::string Dir() { return TestDir() + "filesource\\"; }
std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// What Wine's parsers could not open here, if anything (printed by each test
// that needs them).
std::string bridgeProblem;

std::string Ffmpeg(const std::string& args, const std::string& out, const char* tag) {
  const Ran r = RunUnix("/usr/bin/ffmpeg -nostdin -v error -y " + args + " " + UnixPath(out), tag, 120000);
  return r.exitCode == 0 ? "" : "ffmpeg failed: " + r.output;
}

class FileSourceTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // COM stays initialised for the whole run: Wine's GStreamer parsers end
    // their threads after the graph is gone, and an uninitialise would unload
    // their code under them.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::vector<std::string> failed =
        RegisterCompanions({"Medlark.dll", "KRVideoEncoder.dll", "KRStreamMux.dll", "KRStreamer.dll",
                            "KRFrameGrabber.dll", "Tonquill.dll", "KRPropertiesFile.dll"});
    ASSERT_TRUE(failed.empty()) << failed[0] << " did not register";
    CreateDirectoryA(Dir().c_str(), nullptr);
    if (!UnderWine()) {
      bridgeProblem = "the inputs are made by the host's ffmpeg, through Wine";
      return;
    }
    // The input the audio encoder filter takes: 16-bit PCM, 8 kHz, two channels.
    const std::string sound = "-f lavfi -i sine=frequency=440:sample_rate=8000 -ac 2 -c:a pcm_s16le";
    for (const std::string& problem :
         {Ffmpeg("-f lavfi -i testsrc2=size=176x144:rate=15 " + sound + " -t 10 -c:v rawvideo -pix_fmt bgr24",
                 Dir() + "clip.avi", "ffmpeg-avi"),
          Ffmpeg("-f lavfi -i testsrc2=size=176x144:rate=15 -t 2 -c:v rawvideo -pix_fmt bgr24", Dir() + "mute.avi",
                 "ffmpeg-mute"),
          Ffmpeg(sound + " -t 3", Dir() + "speech.wav", "ffmpeg-wav")}) {
      if (!problem.empty()) {
        bridgeProblem = problem;
        return;
      }
    }
    FILE* text = std::fopen((Dir() + "notes.txt").c_str(), "wb");
    std::fputs("not a media file\n", text);
    std::fclose(text);
    // Wine opens AVI and WAV through its GStreamer bridge: find out first
    // whether this prefix can.
    IGraphBuilder* graph = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(&graph)))) {
      bridgeProblem = "no filter graph manager";
      return;
    }
    for (const char* name : {"clip.avi", "speech.wav"}) {
      const HRESULT hr = graph->RenderFile(Wide(Dir() + name).c_str(), nullptr);
      if (FAILED(hr)) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "Wine's file source could not render %s (0x%08lx): its GStreamer bridge (winegstreamer with "
                      "gstreamer1.0-plugins-base and -good of this prefix's kind) is missing here",
                      name, static_cast<unsigned long>(hr));
        bridgeProblem = text;
        break;
      }
    }
    graph->Release();
  }
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_.Result()));
    if (!bridgeProblem.empty()) GTEST_SKIP() << bridgeProblem;
  }
  // Our reader's view of a file, through mp4info.
  static Ran Info(const std::string& file, const char* tag) {
    return RunWindows(TestDir() + "mp4info.exe", "\"" + file + "\"", tag);
  }
  // The AMR frames our reader reads, judged by ffmpeg's own decoder; answers
  // the decoded frame count, or -1.
  static int AmrFramesFfmpegDecodes(const std::string& file, const char* tag) {
    const std::string amr = file + ".amr";
    const Ran dump = RunWindows(TestDir() + "mp4_amr_dump.exe", "\"" + file + "\" \"" + amr + "\"",
                                (std::string(tag) + "-dump").c_str());
    EXPECT_EQ(dump.exitCode, 0) << dump.output;
    const Ran ff = RunUnix("/usr/bin/ffmpeg -nostdin -v error -xerror -f amr -i " + UnixPath(amr) +
                               " -f framecrc -",
                           tag);
    EXPECT_EQ(ff.exitCode, 0) << ff.output;
    if (ff.exitCode != 0) return -1;
    int frames = 0;
    for (size_t p = ff.output.find("\n0,"); p != std::string::npos; p = ff.output.find("\n0,", p + 1)) ++frames;
    return frames;
  }
  static int VideoFramesFfmpegDecodes(const std::string& file, const char* tag) {
    const Ran ff = RunUnix("/usr/bin/ffmpeg -nostdin -v error -xerror -i " + UnixPath(file) +
                               " -map 0:v -f framecrc -",
                           tag);
    EXPECT_EQ(ff.exitCode, 0) << ff.output;
    int frames = 0;
    for (size_t p = ff.output.find("\n0,"); p != std::string::npos; p = ff.output.find("\n0,", p + 1)) ++frames;
    return frames;
  }
  ComScope com_;
};

TEST_F(FileSourceTest, WhatAFileHolds) {
  IUnknown* engine = nullptr;
  ASSERT_EQ(CreateKRMediaObject(nullptr, IID_IUnknown, reinterpret_cast<void**>(&engine)), S_OK);
  IGenFromFile* source = nullptr;
  ASSERT_EQ(engine->QueryInterface(IID_IGenFromFile, reinterpret_cast<void**>(&source)), S_OK);
  struct {
    const char* name;
    HRESULT result;
    int width, height, bits;
    float rate;
    int duration, audio, video;
  } cases[] = {
      {"clip.avi", S_OK, 176, 144, 24, 15.0f, 10, 1, 1},
      {"mute.avi", S_OK, 176, 144, 24, 15.0f, 2, 0, 1},
      {"speech.wav", S_OK, 0, 0, 0, 0.0f, 3, 1, 0},
      {"notes.txt", KRM_E_SOURCE_FORMAT, 0, 0, 0, 0.0f, 0, 0, 0},
  };
  for (const auto& c : cases) {
    KRSourceFileInfo info;
    std::memset(&info, 0xAB, sizeof info);
    const std::wstring name = Wide(Dir() + c.name);
    EXPECT_EQ(source->GetSourceFileInfo(name.c_str(), &info), c.result) << c.name;
    EXPECT_EQ(info.width, c.width) << c.name;
    EXPECT_EQ(info.height, c.height) << c.name;
    EXPECT_EQ(info.bitsPerPixel, c.bits) << c.name;
    EXPECT_NEAR(info.frameRate, c.rate, 0.01) << c.name;
    EXPECT_EQ(info.duration, c.duration) << c.name;
    EXPECT_EQ(info.audioStreams, c.audio) << c.name;
    EXPECT_EQ(info.videoStreams, c.video) << c.name;
    EXPECT_EQ(std::wstring(info.fileName), c.result == S_OK ? name : L"") << c.name;
  }
  KRSourceFileInfo info;
  EXPECT_EQ(source->GetSourceFileInfo(nullptr, &info), E_INVALIDARG);
  EXPECT_EQ(source->GetSourceFileInfo(L"x.avi", nullptr), E_INVALIDARG);

  // Names, preview types, images, and a source that was never started.
  EXPECT_EQ(source->SetSourceFileName(std::wstring(255, L'a').c_str()), S_OK);
  EXPECT_EQ(source->SetSourceFileName(std::wstring(256, L'a').c_str()), KRM_E_STRING_TOO_LONG);
  EXPECT_EQ(source->SetPreviewType(1), S_OK);
  EXPECT_EQ(static_cast<COKRMedia*>(engine)->PreviewType(), 2);
  BYTE image[64] = {};
  EXPECT_EQ(source->SaveImgFile(L"x.bmp", 3, image), KRM_E_WRONG_IMAGE_FORMAT);
  EXPECT_EQ(source->SaveImgFile(nullptr, 1, image), KRM_E_BAD_PARAMETER);
  EXPECT_EQ(source->Stop(), KRM_E_BAD_STATE);
  double t = -1;
  EXPECT_EQ(source->GetStreamTime(&t), E_FAIL);
  EXPECT_EQ(t, 0.0);
  source->Release();
  engine->Release();
}

TEST_F(FileSourceTest, AviToMp4) {
  EncodeJob job;
  job.input = Wide(Dir() + "clip.avi");
  const std::string file = Dir() + "clip.mp4";
  job.output = Wide(file);
  std::remove(file.c_str());
  EncodeResult r;
  RunFileEncode(job, &r);
  ASSERT_EQ(r.created, S_OK) << "KRMedia.KRMedia.1 by ProgID";
  ASSERT_EQ(r.started, S_OK);
  EXPECT_TRUE(r.complete) << "EC_COMPLETE by 0x5F4 and GetDSEvent";
  EXPECT_GT(r.notices, 0);
  EXPECT_EQ(r.stopped, S_OK);
  EXPECT_TRUE(r.archived) << "32778 after the stop";
  // The stream time grows during the run and never goes back.
  ASSERT_FALSE(r.streamTimes.empty());
  for (size_t i = 1; i < r.streamTimes.size(); ++i) EXPECT_GE(r.streamTimes[i], r.streamTimes[i - 1]);
  EXPECT_GT(r.streamTimes.back(), r.streamTimes.front());
  std::printf("AVI road: 10 s of input in %.2f s (%.1f s of input per second), stream time samples %zu\n",
              r.wallSeconds, 10.0 / r.wallSeconds, r.streamTimes.size());

  const Ran info = Info(file, "mp4info-avi");
  EXPECT_EQ(info.exitCode, 0) << info.output;
  EXPECT_NE(info.output.find("content version 3.0"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("title \"Kestrune file road\""), std::string::npos) << info.output;
  // 15 pictures a second for 10 s.
  EXPECT_NE(info.output.find("MP4V-ES, time scale 1000, media duration 10000, 150 samples"), std::string::npos)
      << info.output;
  EXPECT_NE(info.output.find("AMR, time scale"), std::string::npos) << info.output;
  EXPECT_EQ(VideoFramesFfmpegDecodes(file, "ffmpeg-avi-video"), 150);
  const int amr = AmrFramesFfmpegDecodes(file, "ffmpeg-avi-amr");
  EXPECT_GE(amr, 495) << "10 s of 20 ms frames";
  EXPECT_LE(amr, 501);
}

TEST_F(FileSourceTest, WavToAnAmrOnlyFile) {
  EncodeJob job;
  job.input = Wide(Dir() + "speech.wav");
  const std::string file = Dir() + "speech.mp4";
  job.output = Wide(file);
  job.streamType = 1;
  std::remove(file.c_str());
  EncodeResult r;
  RunFileEncode(job, &r);
  ASSERT_EQ(r.started, S_OK);
  EXPECT_TRUE(r.complete);
  EXPECT_TRUE(r.archived);
  const Ran info = Info(file, "mp4info-wav");
  EXPECT_EQ(info.exitCode, 0) << info.output;
  EXPECT_EQ(info.output.find("MP4V-ES"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("AMR, time scale"), std::string::npos) << info.output;
  const int amr = AmrFramesFfmpegDecodes(file, "ffmpeg-wav-amr");
  EXPECT_GE(amr, 145);
  EXPECT_LE(amr, 151);
}

TEST_F(FileSourceTest, AFileWithoutSoundGoesOnWithVideoAlone) {
  EncodeJob job;
  job.input = Wide(Dir() + "mute.avi");
  const std::string file = Dir() + "mute.mp4";
  job.output = Wide(file);
  std::remove(file.c_str());
  EncodeResult r;
  RunFileEncode(job, &r);
  ASSERT_EQ(r.started, S_OK) << "the -2 path is no failure";
  EXPECT_TRUE(r.complete);
  EXPECT_TRUE(r.archived);
  const Ran info = Info(file, "mp4info-mute");
  EXPECT_EQ(info.exitCode, 0) << info.output;
  EXPECT_NE(info.output.find("MP4V-ES, time scale 1000, media duration 2000, 30 samples"), std::string::npos)
      << info.output;
  EXPECT_EQ(info.output.find("AMR"), std::string::npos) << info.output;
  EXPECT_EQ(VideoFramesFfmpegDecodes(file, "ffmpeg-mute"), 30);
}

TEST_F(FileSourceTest, AStreamWaitsRunPendingUntilTheNextStart) {
  IUnknown* engine = nullptr;
  ASSERT_EQ(CreateKRMediaObject(nullptr, IID_IUnknown, reinterpret_cast<void**>(&engine)), S_OK);
  IKRMediaConfig* config = nullptr;
  IGenFromFile* source = nullptr;
  IKRMediaGraph* graph = nullptr;
  ASSERT_EQ(engine->QueryInterface(IID_IKRMediaConfig, reinterpret_cast<void**>(&config)), S_OK);
  ASSERT_EQ(engine->QueryInterface(IID_IGenFromFile, reinterpret_cast<void**>(&source)), S_OK);
  ASSERT_EQ(engine->QueryInterface(IID_IKRMediaGraph, reinterpret_cast<void**>(&graph)), S_OK);
  EncodeJob job;
  job.input = Wide(Dir() + "mute.avi");
  job.output = Wide(Dir() + "pending.mp4");
  job.outputType = 12;
  // A port of this process's own, on this machine only as the server binds it.
  job.rtspPort = LONG(20000 + GetCurrentProcessId() % 20000);
  ASSERT_EQ(ApplyJob(config, job), S_OK);
  HWND window = MakeEventWindow();
  ASSERT_EQ(config->SetEventWindow(window, 0x5F4), S_OK);
  source->SetPreviewType(0);
  ASSERT_EQ(source->SetSourceFileName(job.input.c_str()), S_OK);
  EXPECT_EQ(source->StartEncode(1), S_OK);
  LONG state = 0;
  EXPECT_EQ(graph->GetGraphState(&state), S_OK);
  EXPECT_EQ(state, 1) << "built, not started";
  EXPECT_TRUE(static_cast<COKRMedia*>(engine)->RunPending());
  EXPECT_EQ(source->StartEncode(1), S_OK) << "the second start only runs the graph";
  EXPECT_EQ(graph->GetGraphState(&state), S_OK);
  EXPECT_EQ(state, 3);
  EXPECT_EQ(source->StartEncode(1), KRM_E_MUST_BE_STOPPED);
  EXPECT_EQ(source->Stop(), S_OK);
  EncodeResult r;
  PumpEvents(source, window, 32778, 10000, &r, nullptr);
  DestroyWindow(window);
  graph->Release();
  source->Release();
  config->Release();
  engine->Release();
}

}  // namespace
