// The custom source under Wine: the host's own pictures and PCM, fed buffer
// by buffer through the engine into the custom source filters, come out of
// the authoring chain as an MP4 file that mp4info, our reader and ffmpeg
// judge; the options, stream settings and buffer pool refuse what no build
// can use. Runs in the source tests' prefix (see the CMakeLists).
#include "encode_host.h"  // first: it brings windows.h

#include <gtest/gtest.h>

#include <amvideo.h>
#include <evcode.h>
#include <mmreg.h>
#include <uuids.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "customsource/customsource.h"
#include "mediaengine/errors.h"
#include "mediaengine/media.h"
#include "mediaengine/server.h"
#include "peers.h"
#include "test_util.h"

using namespace mediaengine;

namespace {

constexpr int kWidth = 176, kHeight = 144, kFrames = 75;
constexpr int kRowBytes = kWidth * 3;  // a multiple of 4: no padding
constexpr int kFrameBytes = kRowBytes * kHeight;

std::string Dir() { return TestDir() + "customsource\\"; }
std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

AM_MEDIA_TYPE VideoType(VIDEOINFOHEADER* vih) {
  *vih = {};
  vih->AvgTimePerFrame = 10000000 / 15;
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = kWidth;
  vih->bmiHeader.biHeight = kHeight;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = 24;
  vih->bmiHeader.biSizeImage = kFrameBytes;
  AM_MEDIA_TYPE mt = {};
  mt.majortype = MEDIATYPE_Video;
  mt.subtype = MEDIASUBTYPE_RGB24;
  mt.bFixedSizeSamples = TRUE;
  mt.lSampleSize = kFrameBytes;
  mt.formattype = FORMAT_VideoInfo;
  mt.cbFormat = sizeof *vih;
  mt.pbFormat = reinterpret_cast<BYTE*>(vih);
  return mt;
}

// 16-bit PCM at 8 kHz, two channels: what the audio encoder filter takes.
AM_MEDIA_TYPE AudioType(WAVEFORMATEX* wf) {
  *wf = {};
  wf->wFormatTag = WAVE_FORMAT_PCM;
  wf->nChannels = 2;
  wf->nSamplesPerSec = 8000;
  wf->wBitsPerSample = 16;
  wf->nBlockAlign = 4;
  wf->nAvgBytesPerSec = 32000;
  AM_MEDIA_TYPE mt = {};
  mt.majortype = MEDIATYPE_Audio;
  mt.subtype = MEDIASUBTYPE_PCM;
  mt.bFixedSizeSamples = TRUE;
  mt.lSampleSize = 4;
  mt.formattype = FORMAT_WaveFormatEx;
  mt.cbFormat = sizeof *wf;
  mt.pbFormat = reinterpret_cast<BYTE*>(wf);
  return mt;
}

struct Description {
  BYTE bytes[kCustomDescriptionBytes] = {};
  explicit Description(const wchar_t* name) { std::memcpy(bytes, name, (wcslen(name) + 1) * 2); }
};

std::string problem;  // why the inputs could not be made, if so

class CustomSourceTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::vector<std::string> failed =
        RegisterCompanions({"Medlark.dll", "KRVideoEncoder.dll", "KRStreamMux.dll", "KRStreamer.dll",
                            "KRFrameGrabber.dll", "Tonquill.dll", "KRPropertiesFile.dll", "KRCustomSource.dll"});
    ASSERT_TRUE(failed.empty()) << failed[0] << " did not register";
    CreateDirectoryA(Dir().c_str(), nullptr);
    if (!UnderWine()) problem = "the inputs are made by the host's ffmpeg, through Wine";
  }
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(com_.Result())); }
  ComScope com_;
};

TEST_F(CustomSourceTest, OptionsStreamsAndPoolsRefuseWhatNoBuildCanUse) {
  IUnknown* engine = nullptr;
  ASSERT_EQ(CreateKRMediaObject(nullptr, IID_IUnknown, reinterpret_cast<void**>(&engine)), S_OK);
  IGenFromCustom* custom = nullptr;
  IKRMediaConfig* config = nullptr;
  ASSERT_EQ(engine->QueryInterface(IID_IGenFromCustom, reinterpret_cast<void**>(&custom)), S_OK);
  ASSERT_EQ(engine->QueryInterface(IID_IKRMediaConfig, reinterpret_cast<void**>(&config)), S_OK);
  EncodeJob job;
  job.output = Wide(Dir() + "refused.mp4");
  job.streamType = 2;
  ASSERT_EQ(ApplyJob(config, job), S_OK);
  auto* media = static_cast<COKRMedia*>(engine);
  const auto& impl = *static_cast<CImpIGenFromCustom*>(custom);
  VIDEOINFOHEADER vih;
  WAVEFORMATEX wf;
  AM_MEDIA_TYPE video = VideoType(&vih), audio = AudioType(&wf);
  Description block(L"pictures");
  BYTE bytes[16] = {};
  const LONG_PTR data = reinterpret_cast<LONG_PTR>(bytes);

  // In order: each row runs on what the rows before it left.
  struct Row {
    const char* what;
    std::function<HRESULT()> call;
    HRESULT expected;
    LONG audioOption, videoOption;
  };
  const Row rows[] = {
      {"both options start as audio from the file, video custom", [] { return S_OK; }, S_OK, 0, 2},
      {"a buffer before any build", [&] { return custom->SetBuffer(0, data, 16, 0, 1); },
       KRM_E_WRONG_INITIALIZATION, 0, 2},
      {"a buffer for stream 2", [&] { return custom->SetBuffer(2, data, 16, 0, 1); }, KRM_E_BAD_PARAMETER, 0, 2},
      {"stop without a graph", [&] { return custom->Stop(0); }, KRM_E_BAD_STATE, 0, 2},
      {"option 3 sets both", [&] { return custom->SetSourceOption(3, 1); }, S_OK, 1, 1},
      {"a source of 1 is refused at the start", [&] { return custom->StartEncode(1); }, KRM_E_WRONG_INITIALIZATION,
       1, 1},
      {"value 3", [&] { return custom->SetSourceOption(1, 3); }, KRM_E_UNKNOWN_MEDIA_SOURCE, 1, 1},
      {"value -1", [&] { return custom->SetSourceOption(2, -1); }, KRM_E_UNKNOWN_MEDIA_SOURCE, 1, 1},
      {"option 4", [&] { return custom->SetSourceOption(4, 0); }, KRM_E_UNKNOWN_SOURCE_OPTION, 1, 1},
      {"option 5 sets nothing", [&] { return custom->SetSourceOption(5, 2); }, S_OK, 1, 1},
      {"both from the file", [&] { return custom->SetSourceOption(3, 0); }, S_OK, 0, 0},
      {"two file streams are refused", [&] { return custom->StartEncode(1); }, KRM_E_WRONG_INITIALIZATION, 0, 0},
      {"video custom", [&] { return custom->SetSourceOption(2, 2); }, S_OK, 0, 2},
      {"audio type for the video stream",
       [&] { return custom->ConfigMediaSource(0, block.bytes, &audio); }, KRM_E_WRONG_CUSTOM_CONFIG, 0, 2},
      {"stream 2", [&] { return custom->ConfigMediaSource(2, block.bytes, &video); }, KRM_E_BAD_PARAMETER, 0, 2},
      {"no block", [&] { return custom->ConfigMediaSource(0, nullptr, &video); }, KRM_E_BAD_PARAMETER, 0, 2},
      {"the stream was left without a type, which the filter refuses",
       [&] { return custom->StartEncode(1); }, KRM_E_WRONG_CUSTOM_CONFIG, 0, 2},
      {"count 0", [&] { return custom->InitCustom(1, 0, 4096); }, KRM_E_CUSTOM_BUFFER_COUNT, 0, 2},
      {"size 0", [&] { return custom->InitCustom(1, 4, 0); }, KRM_E_CUSTOM_BUFFER_SIZE, 0, 2},
      {"init stream 2", [&] { return custom->InitCustom(2, 4, 4096); }, KRM_E_BAD_PARAMETER, 0, 2},
      {"the video stream's type", [&] { return custom->ConfigMediaSource(0, block.bytes, &video); }, S_OK, 0, 2},
      {"a pool the engine keeps but the filter cannot make", [&] { return custom->InitCustom(0, 5000, 4096); },
       S_OK, 0, 2},
      {"is no success at the start", [&] { return custom->StartEncode(1); }, KRM_E_WRONG_CUSTOM_CONFIG, 0, 2},
      {"a pool of two pictures", [&] { return custom->InitCustom(0, 2, kFrameBytes); }, S_OK, 0, 2},
      {"built, not run", [&] { return custom->StartEncode(0); }, S_OK, 0, 2},
      {"first picture queued", [&] { return custom->SetBuffer(0, data, 16, 0, 66); }, S_OK, 0, 2},
      {"second picture queued", [&] { return custom->SetBuffer(0, data, 16, 66, 133); }, S_OK, 0, 2},
      {"a full queue: offer it again", [&] { return custom->SetBuffer(0, data, 16, 133, 200); }, KRCS_E_TRY_AGAIN,
       0, 2},
      {"the filter's own codes pass", [&] { return custom->SetBuffer(0, data, 16, 200, 100); }, KRCS_E_BAD_TIMES, 0,
       2},
      {"a graph that stopped", [&] { return custom->Stop(0); }, S_OK, 0, 2},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(r.call(), r.expected) << r.what;
    EXPECT_EQ(impl.AudioOption(), r.audioOption) << r.what;
    EXPECT_EQ(impl.VideoOption(), r.videoOption) << r.what;
  }
  EXPECT_EQ(media->GraphState(), 1);

  // Preview types: the capture picture is the live source's.
  EXPECT_EQ(custom->SetPreviewType(1), KRM_E_WRONG_MODE);
  EXPECT_EQ(media->PreviewType(), 2);
  EXPECT_EQ(custom->SetPreviewType(0), S_OK);
  EXPECT_EQ(media->PreviewType(), 0);
  config->Release();
  custom->Release();
  engine->Release();
}

// The host's run: both streams custom, fed as the pictures and sound come.
class CustomFeed {
 public:
  std::vector<BYTE> frames, pcm;
  int retries = 0;         // offers answered 0x800A07D7
  HRESULT refused = S_OK;  // the first other failure

  void Offer(IGenFromCustom* custom, LONG stream, const BYTE* bytes, LONG length, LONG start, LONG stop) {
    for (int tries = 0; tries < 4000; ++tries) {
      const HRESULT hr = custom->SetBuffer(stream, reinterpret_cast<LONG_PTR>(bytes), length, start, stop);
      if (hr != KRCS_E_TRY_AGAIN) {
        if (FAILED(hr) && refused == S_OK) refused = hr;
        return;
      }
      ++retries;
      Sleep(2);
    }
    if (refused == S_OK) refused = KRCS_E_TRY_AGAIN;
  }
  // Picture i and the PCM of its time; the pictures go bottom-up, as a
  // DirectShow RGB24 picture is.
  void Feed(IGenFromCustom* custom) {
    std::vector<BYTE> picture(kFrameBytes);
    const LONG samples = LONG(pcm.size() / 4);
    for (int i = 0; i < kFrames && refused == S_OK; ++i) {
      const BYTE* top = frames.data() + size_t(i) * kFrameBytes;
      for (int r = 0; r < kHeight; ++r)
        std::memcpy(picture.data() + size_t(kHeight - 1 - r) * kRowBytes, top + size_t(r) * kRowBytes, kRowBytes);
      const LONG start = i * 1000 / 15, stop = (i + 1) * 1000 / 15;
      Offer(custom, 0, picture.data(), kFrameBytes, start, stop);
      const LONG first = LONG(int64_t(i) * 8000 / 15), last = std::min(samples, LONG(int64_t(i + 1) * 8000 / 15));
      if (last > first) Offer(custom, 1, pcm.data() + size_t(first) * 4, (last - first) * 4, start, stop);
    }
    Offer(custom, 0, nullptr, 0, 0, 0);
    Offer(custom, 1, nullptr, 0, 0, 0);
  }
};

TEST_F(CustomSourceTest, TheHostsPicturesAndSoundBecomeAnMp4) {
  if (!problem.empty()) GTEST_SKIP() << problem;
  // The host's media: 75 pictures of ffmpeg's test pattern, 5 s of a tone.
  const std::string rgb = Dir() + "frames.rgb", raw = Dir() + "sound.pcm";
  Ran made = RunUnix("/usr/bin/ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=176x144:rate=15 -frames:v 75 "
                     "-f rawvideo -pix_fmt bgr24 " + UnixPath(rgb) + " -f lavfi -i sine=frequency=440:sample_rate=8000 "
                     "-t 5 -ac 2 -f s16le -map 1:a " + UnixPath(raw),
                     "ffmpeg-custom", 60000);
  ASSERT_EQ(made.exitCode, 0) << made.output;
  CustomFeed feed;
  const std::string frames = ReadWholeFile(rgb), pcm = ReadWholeFile(raw);
  ASSERT_EQ(frames.size(), size_t(kFrameBytes) * kFrames);
  ASSERT_EQ(pcm.size(), 5u * 8000 * 4);
  feed.frames.assign(frames.begin(), frames.end());
  feed.pcm.assign(pcm.begin(), pcm.end());

  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(L"KRMedia.KRMedia.1", &clsid), S_OK);
  IUnknown* engine = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&engine)),
            S_OK);
  IKRMediaConfig* config = nullptr;
  IGenFromCustom* custom = nullptr;
  IGenFromFile* file = nullptr;  // the engine's FreeDSEvent
  ASSERT_EQ(engine->QueryInterface(IID_IKRMediaConfig, reinterpret_cast<void**>(&config)), S_OK);
  ASSERT_EQ(engine->QueryInterface(IID_IGenFromCustom, reinterpret_cast<void**>(&custom)), S_OK);
  ASSERT_EQ(engine->QueryInterface(IID_IGenFromFile, reinterpret_cast<void**>(&file)), S_OK);
  const std::string out = Dir() + "custom.mp4";
  std::remove(out.c_str());
  EncodeJob job;
  job.output = Wide(out);
  ASSERT_EQ(ApplyJob(config, job), S_OK);
  HWND window = MakeEventWindow();
  ASSERT_EQ(config->SetEventWindow(window, 0x5F4), S_OK);
  VIDEOINFOHEADER vih;
  WAVEFORMATEX wf;
  AM_MEDIA_TYPE video = VideoType(&vih), audio = AudioType(&wf);
  Description pictures(L"pictures"), sound(L"sound");
  EXPECT_EQ(custom->SetPreviewType(0), S_OK);
  EXPECT_EQ(custom->SetSourceOption(3, 2), S_OK);
  EXPECT_EQ(custom->InitCustom(0, 4, kFrameBytes), S_OK);
  EXPECT_EQ(custom->InitCustom(1, 8, 4096), S_OK);
  ASSERT_EQ(custom->ConfigMediaSource(0, pictures.bytes, &video), S_OK);
  ASSERT_EQ(custom->ConfigMediaSource(1, sound.bytes, &audio), S_OK);
  ASSERT_EQ(custom->StartEncode(1), S_OK);

  feed.Feed(custom);
  EXPECT_EQ(feed.refused, S_OK);
  EncodeResult r;
  const EventCalls events = {
      [custom](LONG* code, LONG_PTR* p1, LONG_PTR* p2) { return custom->GetDSEvent(code, p1, p2); },
      [file](LONG code, LONG_PTR p1, LONG_PTR p2) { return file->FreeDSEvent(code, p1, p2); }};
  EXPECT_TRUE(PumpEvents(events, window, EC_COMPLETE, 60000, &r, nullptr)) << "EC_COMPLETE by 0x5F4";
  EXPECT_EQ(custom->Stop(0), S_OK);
  EXPECT_TRUE(PumpEvents(events, window, 32778, 30000, &r, nullptr)) << "32778 after the stop";
  std::printf("custom road: %d offers answered 0x800A07D7 (a full queue) and offered again\n", feed.retries);
  DestroyWindow(window);
  file->Release();
  custom->Release();
  config->Release();
  engine->Release();

  const Ran info = RunWindows(TestDir() + "mp4info.exe", "\"" + out + "\"", "mp4info-custom");
  EXPECT_EQ(info.exitCode, 0) << info.output;
  EXPECT_NE(info.output.find("content version 3.0"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("MP4V-ES, time scale 1000, media duration 5000, 75 samples"), std::string::npos)
      << info.output;
  EXPECT_NE(info.output.find("AMR, time scale"), std::string::npos) << info.output;

  // Every picture decodes, and each is the one the host gave, upright: the
  // decoded video against the host's pictures.
  // Both sides counted by picture, so that the millisecond stamps of the
  // file and the raw pictures' rate pair the same pictures.
  const std::string stats = Dir() + "psnr.log";
  std::remove(stats.c_str());
  const Ran psnr = RunUnix("/usr/bin/ffmpeg -nostdin -v info -xerror -i " + UnixPath(out) +
                               " -f rawvideo -pix_fmt bgr24 -s 176x144 -r 15 -i " + UnixPath(rgb) +
                               " -lavfi '[0:v]settb=1/15,setpts=N[a];[1:v]settb=1/15,setpts=N[b];[a][b]psnr=stats_file=" +
                               UnixPath(stats) + "' -an -f null - 2>&1 | grep -o 'average:[0-9.]*'",
                           "ffmpeg-custom-psnr", 60000);
  ASSERT_EQ(psnr.exitCode, 0) << psnr.output;
  const std::string perPicture = ReadWholeFile(stats);
  int compared = 0;
  for (size_t p = perPicture.find("n:"); p != std::string::npos; p = perPicture.find("\nn:", p + 1)) ++compared;
  EXPECT_EQ(compared, kFrames) << perPicture;
  const double db = std::atof(psnr.output.c_str() + psnr.output.find(':') + 1);
  std::printf("custom road: decoded pictures against the host's, %.2f dB on average\n", db);
  // About 27 dB at this rate; the same pictures upside down score 13.
  EXPECT_GT(db, 22.0) << psnr.output;

  // The AMR frames our reader reads pass ffmpeg's decoder: 5 s of 20 ms frames.
  const std::string amr = out + ".amr";
  const Ran dump = RunWindows(TestDir() + "mp4_amr_dump.exe", "\"" + out + "\" \"" + amr + "\"", "custom-dump");
  ASSERT_EQ(dump.exitCode, 0) << dump.output;
  const Ran ff = RunUnix("/usr/bin/ffmpeg -nostdin -v error -xerror -f amr -i " + UnixPath(amr) +
                             " -f framecrc - | grep -c '^0,'",
                         "ffmpeg-custom-amr");
  const int amrFrames = std::atoi(ff.output.c_str());
  EXPECT_GE(amrFrames, 245) << ff.output;
  EXPECT_LE(amrFrames, 251) << ff.output;
}

}  // namespace
