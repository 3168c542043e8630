#include <cstring>
#include <memory>
#include <string>

#include "engine/player_ids.h"
#include "player_fixture.h"

namespace {

std::string Take(char* text) {
  std::unique_ptr<char[]> owned(text);
  return text ? std::string(text) : std::string();
}

// The value of one "KEY=value" field of the device string.
std::string Field(const std::string& info, const std::string& key) {
  const size_t at = info.find(key + "=");
  if (at == std::string::npos) return "<missing>";
  const size_t from = at + key.size() + 1;
  return info.substr(from, info.find(';', from) - from);
}

}  // namespace

TEST(Context, ClientIdentificationTexts) {
  TestPlayer p;
  p.Init();
  EXPECT_EQ(Take(p.context()->BuildUserAgent()), "WMF/1.1,Orlomer 3.0,ENGL");
  EXPECT_EQ(Take(p.context()->BuildNetworkType()), "UNKNOWN");

  const std::string info = Take(p.context()->BuildDeviceInfo());
  EXPECT_EQ(info.rfind("MANUF=INTEL;PROC=", 0), 0u) << info;
  EXPECT_EQ(Field(info, "OS").rfind("WINDOWS/", 0), 0u) << info;
  EXPECT_NE(Field(info, "PROC"), "<missing>");
  EXPECT_GT(std::stoll(Field(info, "MEM")), 0) << info;
  const std::string display = Field(info, "DISPLAY");
  EXPECT_TRUE(display == "C888" || display == "A888" || display == "C565" || display == "C555" ||
              display == "P256" || display == "G400" || display == "????")
      << info;
  // Every probed rate is one of the eight texts, without a trailing comma.
  std::string rates = Field(info, "AUDIO_SAMPLING_RATES");
  EXPECT_TRUE(rates.empty() || rates.back() != ',') << info;
  size_t start = 0;
  while (!rates.empty() && start <= rates.size()) {
    const size_t comma = std::min(rates.find(',', start), rates.size());
    const std::string r = rates.substr(start, comma - start);
    EXPECT_TRUE(r == "8.0" || r == "11.025" || r == "16.0" || r == "22.050" || r == "24.0" || r == "32.0" ||
                r == "44.1" || r == "48.0")
        << r;
    start = comma + 1;
  }
  const std::string bits = Field(info, "AUDIO BITS/SAMPLE");
  EXPECT_TRUE(bits.empty() || bits == "8" || bits == "16" || bits == "8,16") << info;
  EXPECT_EQ(info.substr(info.size() - std::strlen(";AUDIO_WAVEFORM=pcm")), ";AUDIO_WAVEFORM=pcm");
}

TEST(Context, ReportErrorStopsUnlessAdvisory) {
  TestPlayer p;
  p.parts.configure = AmrAndVideoFile;
  p.Init(u"c:\\a.mp4");
  p.FinishStartup();
  ASSERT_EQ(p.engine()->GetState(), kStatePlaying);
  p.observer.Clear();
  p.context()->ReportError(ids::kMsgVideoOnly, static_cast<const char16_t*>(nullptr), 0, true);
  EXPECT_EQ(p.engine()->GetState(), kStatePlaying);
  EXPECT_EQ(p.observer.Calls(), std::vector<std::string>{"ShowError 50071"});
  EXPECT_EQ(p.controller->Status()->clipActive, 1u);

  p.observer.Clear();
  p.context()->ReportError(50404, "Datei f\xC3\xBCr Clip fehlt", 0, true);
  EXPECT_EQ(p.engine()->GetState(), kStateStopped);
  EXPECT_EQ(p.parts.source->finishes, 1);
  EXPECT_EQ(p.observer.Calls(), (std::vector<std::string>{"SetPlayerState 7", "ShowStatusText 60126",
                                                          "ShowError 50404 Datei f\xC3\xBCr Clip fehlt"}));
  EXPECT_EQ(p.controller->Status()->clipActive, 0u);

  // An engine already stopped is left alone, but the size error stops anyway.
  p.observer.Clear();
  p.observer.answer = IDYES;
  EXPECT_EQ(p.context()->ReportError(ids::kMsgClipTooLarge, static_cast<const char16_t*>(nullptr), 4, false), IDYES);
  EXPECT_EQ(p.observer.Calls().back(), "ShowError 51181 style 4");
}

TEST(Context, ForwardsAndEngineQueries) {
  TestPlayer p;
  p.Init();
  p.controller->Open(u"rtsp://server/clip");
  PlayerContext* c = p.context();
  EXPECT_EQ(c->GetEngineState(), kStateOpened);
  EXPECT_EQ(c->GetVideoWindow(), p.window.hwnd);
  EXPECT_EQ(c->GetInstance(), GetModuleHandleW(nullptr));
  c->SetPosition(4321);
  EXPECT_EQ(c->GetPosition(), 4321u);
  c->SetPlayerState(4, true);  // not a download: the engine keeps its state
  EXPECT_EQ(p.engine()->GetState(), kStateOpened);
  c->SetBufferLevel(40);
  c->SetProgress(77);
  c->EnableCommand(41102, 0);
  c->SetStatusText(ids::kStatusBuffering);
  EXPECT_TRUE(InOrder(p.observer.Calls(), {"SetPlayerState 4", "SetBufferLevel 40", "SetProgress 77",
                                           "EnableCommand 41102 0", "ShowStatusText 60130"}));
  EXPECT_EQ(c->CheckConnection(0), 1u);
  uint32_t a = 5, b = 6;
  EXPECT_EQ(c->GetClockInfo(&a, &b), 0u);
  EXPECT_EQ(c->SelectCodec(u"AMR", 0, 1000, 7), 0u);
  EXPECT_EQ(p.engine()->GetState(), kStateOpened);
  EXPECT_EQ(p.parts.audio->codecs, std::vector<std::string>{"AMR"});

  TestPlayer d;
  d.Init();
  d.shell.dwords[u"Restart"] = 1;
  d.shell.strings[u"LastDownload"] = u"http://server/a.mp4";
  d.controller->Open(u"http://server/a.mp4");
  d.context()->SetPlayerState(2, true);
  EXPECT_EQ(d.engine()->GetState(), kStatePlaying);
}

TEST(Context, DebugLogWindowOnlyWithTheDebugSetting) {
  {
    TestPlayer p;
    p.Init();
    p.context()->WriteDebugLine(0, 14, u"dropped");
    p.controller->Shutdown();
    EXPECT_TRUE(p.shell.debugLines.empty());
  }
  TestPlayer p;
  p.shell.dwords[u"Debug"] = 1;
  p.Init();
  p.context()->WriteDebugLine(0, 28, u"frames 12");
  p.controller->Shutdown();
  EXPECT_EQ(p.shell.debugLines, (std::vector<std::string>{"0,28 frames 12", "closed"}));
}
