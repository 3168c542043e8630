#include "player_context.h"

#include <cstring>
#include <string>

#include "engine/client_identity.h"
#include "engine/player_ids.h"
#include "media_source.h"
#include "platform/os.h"
#include "player_controller.h"
#include "player_engine.h"
#include "streaming/client_services.h"

PlayerContext::PlayerContext(PlayerEngine* e, EngineNotifier* n, TickClock* c)
    : engine(e), notifier(n), clock(c) {}

PlayerContext::~PlayerContext() {
  engine = nullptr;
  notifier = nullptr;
  clock = nullptr;
}

uint32_t PlayerContext::GetEngineState() { return engine->GetState(); }

int PlayerContext::ReportError(uint32_t id, const char16_t* text, uint32_t argument, bool releaseSource) {
  if (id != ids::kMsgVideoOnly) {
    if (engine->GetState() < kStateStopping || id == ids::kMsgClipTooLarge) engine->Stop(releaseSource);
    notifier->SetPlayerState(kPlayerStopped);
    notifier->ShowStatusText(ids::kStatusClear);
  }
  return notifier->ShowError(id, text, argument);
}

int PlayerContext::ReportError(uint32_t id, const char* utf8Text, uint32_t argument, bool releaseSource) {
  // Server status messages carry the server's own UTF-8 text.
  const std::u16string text = utf8Text ? platform::utf8ToUtf16(utf8Text) : std::u16string();
  return ReportError(id, utf8Text ? text.c_str() : static_cast<const char16_t*>(nullptr), argument,
                     releaseSource);
}

void PlayerContext::SetStatusText(uint32_t id) { notifier->ShowStatusText(id); }

void PlayerContext::SetPlayerState(uint32_t state, bool alsoEngine) {
  if (engine->GetSourceType() == kSourceDownload && alsoEngine) engine->SetState(state);
  notifier->SetPlayerState(state);
}

uint32_t PlayerContext::StreamFinished(uint32_t part) { return engine->OnSourceEnd(part); }
uint32_t PlayerContext::CheckConnection(uint32_t value) { return engine->CheckConnection(value); }

void PlayerContext::SetPosition(uint32_t ms) {
  std::lock_guard<std::mutex> guard(holdLock);
  if (held)
    heldAt = ms;
  else if (clock)
    clock->SetTime(ms);
}

uint32_t PlayerContext::GetPosition() {
  std::lock_guard<std::mutex> guard(holdLock);
  if (held) return heldAt;
  return clock ? clock->GetTime() : 0;
}

void PlayerContext::HoldClock() {
  std::lock_guard<std::mutex> guard(holdLock);
  if (held) return;
  heldAt = clock ? clock->GetTime() : 0;
  held = true;
}

void PlayerContext::ReleaseClock() {
  std::lock_guard<std::mutex> guard(holdLock);
  if (!held) return;
  held = false;
  // The clock ran on underneath: set it back to where the hold stood.
  if (clock) clock->SetTime(heldAt);
}

void PlayerContext::DropClockHold() {
  std::lock_guard<std::mutex> guard(holdLock);
  held = false;
}

void PlayerContext::NotifyVideoSize(uint32_t width, uint32_t height, uint32_t flag) {
  notifier->SetVideoGeometry(width, height, flag);
}

HWND PlayerContext::GetVideoWindow() { return notifier ? notifier->GetMainWindow() : nullptr; }
HINSTANCE PlayerContext::GetInstance() { return notifier ? notifier->GetInstance() : nullptr; }
void PlayerContext::SetBufferLevel(uint32_t percent) { notifier->SetBufferLevel(percent); }
void PlayerContext::SetProgress(uint32_t value) { notifier->SetProgress(value); }
void PlayerContext::GetStatus(ClipEntryInfo* out) { notifier->GetEntryInfo(out); }
uint32_t PlayerContext::Play(int32_t positionMs) { return engine->Play(positionMs); }
void PlayerContext::SetText(const char16_t* text) { notifier->SetText(text); }
void PlayerContext::EnableCommand(uint32_t id, uint32_t enable) { notifier->EnableCommand(id, enable); }

uint32_t PlayerContext::SelectCodec(const char16_t* name, uint32_t startMs, uint32_t endMs, uint32_t trackId) {
  engine->SetState(kStateOpened);
  return engine->SelectCodec(name, startMs, endMs, trackId);
}

uint32_t PlayerContext::OpenComplete(uint32_t code) {
  if (code != 0) engine->SetState(kStateNotOpened);
  return notifier->OpenComplete(code);
}

void PlayerContext::WriteDebugLine(uint32_t x, uint32_t y, const char16_t* text) {
  engine->WriteDebugLine(x, y, text);
}

uint32_t PlayerContext::ReleaseDownloadLock() { return engine->ReleaseDownloadLock(); }

// Defined here so that the media source base builds without Windows headers.
void MediaSource::SignalOpenResult(uint32_t code) {
  if (context) context->OpenComplete(code);
}

namespace {

char* NewText(const std::string& s) {
  char* out = new char[s.size() + 1];
  std::memcpy(out, s.c_str(), s.size() + 1);
  return out;
}

// OS and PROC values from the version and system information.
void SystemValues(DeviceInfoValues* v) {
  OSVERSIONINFOW ver = {};
  ver.dwOSVersionInfoSize = sizeof(ver);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExW(&ver);
#pragma GCC diagnostic pop
  SYSTEM_INFO si = {};
  GetSystemInfo(&si);
  const bool nt = ver.dwPlatformId == VER_PLATFORM_WIN32_NT;
  v->os = OsText(nt, ver.dwMajorVersion, ver.dwMinorVersion);
  v->processor = nt ? ProcessorTextNt(si.wProcessorArchitecture, si.wProcessorLevel)
                    : ProcessorText9x(si.dwProcessorType);
}

// A 1 x 1 bitmap compatible with the window's device context tells the
// pixel layout of a 16-bit display.
int ProbeDisplay(HDC dc) {
  HBITMAP bmp = CreateCompatibleBitmap(dc, 1, 1);
  if (!bmp) return -1;
  struct {
    BITMAPINFOHEADER h;
    DWORD masks[256];
  } info = {};
  info.h.biSize = sizeof(BITMAPINFOHEADER);
  GetDIBits(dc, bmp, 0, 1, nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  if (info.h.biCompression == BI_BITFIELDS)
    GetDIBits(dc, bmp, 0, 1, nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bmp);
  const bool fields = info.h.biCompression == BI_BITFIELDS;
  return DisplayProbe(info.h.biBitCount, fields, info.masks[0], info.masks[1], info.masks[2]);
}

std::u16string DisplayValue(HWND window) {
  HDC dc = GetDC(window);
  if (!dc) return u"????";
  const int bits = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
  const int probe = bits == 16 ? ProbeDisplay(dc) : 0;
  ReleaseDC(window, dc);
  return DisplayText(static_cast<uint32_t>(bits), probe);
}

uint32_t SupportedRates() {
  uint32_t supported = 0;
  for (int i = 0; i < 8; ++i) {
    WAVEFORMATEX f = {};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 2;
    f.nSamplesPerSec = kProbeRatesHz[i];
    f.wBitsPerSample = 16;
    f.nBlockAlign = 4;
    f.nAvgBytesPerSec = kProbeRatesHz[i] * 4;
    if (waveOutOpen(nullptr, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY) != WAVERR_BADFORMAT)
      supported |= 1u << i;
  }
  return supported;
}

}  // namespace

char* PlayerContext::BuildDeviceInfo() {
  DeviceInfoValues v;
  SystemValues(&v);
  MEMORYSTATUSEX mem = {};
  mem.dwLength = sizeof(mem);
  GlobalMemoryStatusEx(&mem);
  const uint64_t kb = mem.ullAvailPhys / 1000;
  v.memoryKb = kb > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(kb);
  v.display = DisplayValue(GetVideoWindow());
  v.samplingRates = SamplingRatesText(SupportedRates());
  WAVEOUTCAPSW caps = {};
  const bool haveCaps = waveOutGetDevCapsW(WAVE_MAPPER, &caps, sizeof(caps)) == MMSYSERR_NOERROR;
  const DWORD f8 = WAVE_FORMAT_1M08 | WAVE_FORMAT_1S08 | WAVE_FORMAT_2M08 | WAVE_FORMAT_2S08 |
                   WAVE_FORMAT_4M08 | WAVE_FORMAT_4S08;
  const DWORD f16 = WAVE_FORMAT_1M16 | WAVE_FORMAT_1S16 | WAVE_FORMAT_2M16 | WAVE_FORMAT_2S16 |
                    WAVE_FORMAT_4M16 | WAVE_FORMAT_4S16;
  v.bitsPerSample = BitsPerSampleText(haveCaps && (caps.dwFormats & f8), haveCaps && (caps.dwFormats & f16));
  return NewText(ComposeDeviceInfo(v));
}

char* PlayerContext::BuildUserAgent() {
  wchar_t language[16] = {};
  LoadStringW(GetInstance(), ids::kStrLanguage, language, 16);
  return NewText(ComposeUserAgent(reinterpret_cast<const char16_t*>(language)));
}

char* PlayerContext::BuildNetworkType() { return NewText("UNKNOWN"); }
