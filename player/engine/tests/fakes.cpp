#include "fakes.h"

#include <cstring>

#include "platform/os.h"

std::string Narrow(const char16_t* s) { return s ? platform::utf16ToUtf8(s) : "(null)"; }

int RecordingObserver::ShowError(uint32_t id, const char16_t* text, uint32_t style) {
  Add("ShowError " + std::to_string(id) + (text ? " " + Narrow(text) : "") +
      (style ? " style " + std::to_string(style) : ""));
  return answer;
}

void RecordingObserver::OnClipEnd() {
  clipEndThread = GetCurrentThreadId();
  Add("OnClipEnd");
}

void RecordingObserver::SetProgressRecord(const ClipProperties* p) {
  lastRecord = *p;
  Add("SetProgressRecord " + std::to_string(p->startMs) + " " + std::to_string(p->endMs));
}

void RecordingObserver::Add(const std::string& s) {
  std::lock_guard<std::mutex> g(lock);
  calls.push_back(s);
}

std::vector<std::string> RecordingObserver::Calls() {
  std::lock_guard<std::mutex> g(lock);
  return calls;
}

std::vector<std::string> RecordingObserver::Calls(const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& c : Calls())
    if (c.rfind(prefix, 0) == 0) out.push_back(c);
  return out;
}

bool RecordingObserver::Has(const std::string& line) {
  for (const std::string& c : Calls())
    if (c == line) return true;
  return false;
}

void RecordingObserver::Clear() {
  std::lock_guard<std::mutex> g(lock);
  calls.clear();
}

bool FakeClipFile::GetEntryRecord(int32_t i, ClipAccessInfo* out) {
  *out = ClipAccessInfo{};
  std::strcpy(out->user, "viewer");
  out->startMs = At(i).startMs;
  out->endMs = At(i).endMs;
  return true;
}

namespace {

class FakeDialup : public DialupConnection {
 public:
  explicit FakeDialup(uint32_t c) : connected(c) {}
  uint32_t EnsureConnected() override { return connected; }
  uint32_t CheckConnection(uint32_t) override { return connected; }
  uint32_t IsDialing() override { return 0; }
  void CloseHandle() override {}
  uint32_t connected;
};

// Setting names by the string-table ids the engine side uses.
std::u16string NameOf(uint32_t id) {
  switch (id) {
    case 60143: return u"PostProcessing";
    case 60144: return u"MaximumBufferedData";
    case 60160: return u"FilePath";
    case 60161: return u"Instance";
    case 60162: return u"Restart";
    case 60163: return u"LastDownload";
    case 60164: return u"LastTitle";
    case 60165: return u"MinimumOverhead";
    default: return u"?";
  }
}

}  // namespace

ClipFile* FakeShell::NewClipFile() {
  ++clipFilesMade;
  ClipFile* f = nextClipFile ? nextClipFile : new FakeClipFile;
  nextClipFile = nullptr;
  return f;
}

DialupConnection* FakeShell::NewDialupConnection(PlayerContext*) { return new FakeDialup(connected); }

bool FakeShell::ReadSettingDword(HINSTANCE, const char16_t* name, uint32_t* v) {
  std::lock_guard<std::mutex> g(lock);
  auto it = dwords.find(name);
  if (it == dwords.end()) return false;
  *v = it->second;
  return true;
}

bool FakeShell::ReadSettingDwordById(HINSTANCE i, uint32_t id, uint32_t* v) {
  return ReadSettingDword(i, NameOf(id).c_str(), v);
}

bool FakeShell::ReadSettingString(HINSTANCE, const char16_t* name, char16_t* buffer) {
  std::lock_guard<std::mutex> g(lock);
  auto it = strings.find(name);
  if (it == strings.end()) return false;
  const size_t n = std::min<size_t>(it->second.size(), 255);
  std::memcpy(buffer, it->second.c_str(), n * sizeof(char16_t));
  buffer[n] = 0;
  return true;
}

bool FakeShell::ReadSettingStringById(HINSTANCE i, uint32_t id, char16_t* buffer) {
  return ReadSettingString(i, NameOf(id).c_str(), buffer);
}

void FakeShell::WriteSettingDwordById(HINSTANCE, uint32_t id, uint32_t v) {
  std::lock_guard<std::mutex> g(lock);
  dwords[NameOf(id)] = v;
}

void FakeShell::WriteSettingStringById(HINSTANCE, uint32_t id, const char16_t* t) {
  std::lock_guard<std::mutex> g(lock);
  strings[NameOf(id)] = t;
}

void FakeShell::InstrumentLog(HINSTANCE, const char16_t* line) {
  std::lock_guard<std::mutex> g(lock);
  log.push_back(Narrow(line));
}

std::vector<std::string> FakeShell::LogLines() {
  std::lock_guard<std::mutex> g(lock);
  return log;
}

FakeSource::FakeSource(PlayerContext* c, uint32_t k) : MediaSource(c) {
  kind = k;
  durationMs = 10000;
  std::u16string(u"Test Clip").copy(clipTexts[kTitle], 255);
  std::u16string(u"An author").copy(clipTexts[kAuthor], 255);
}

uint32_t FakeSource::Open(const char16_t* loc, const ClipAccessInfo* access) {
  ++opens;
  StoreLocation(loc, access);
  if (signalOnOpen) SignalOpenResult(openResult);
  return openResult;
}

uint32_t FakeSource::SetPlayRange(uint32_t s, uint32_t e) {
  ranges.push_back({s, e});
  playStartMs = s;
  playEndMs = e == kPlayToEnd ? durationMs : e;
  highestTimeMs = s;
  contentFlags = contentOnPlay;
  return 0;
}

void FakeSource::AddTrack(uint32_t id, std::u16string_view codec, uint32_t bitrate) {
  TrackEntry& t = tracks[trackCount++];
  t = TrackEntry{};
  t.trackId = id;
  codec.copy(t.codecName, 31);
  t.bitrate = bitrate;
  t.flags = bitrate | (codec == u"AAC" ? kTrackAac : 0) | kTrackPlayableVersion;
  listCount = static_cast<int32_t>(trackCount);
  contentFlags = contentOnPlay;
}

uint32_t FakeAudio::LoadCodec(const CodecEntry& c, uint32_t, uint32_t, uint32_t) {
  codecs.push_back(Narrow(c.shortName));
  return 0;
}

MediaSource* FakeParts::NewSource(uint32_t kind, PlayerContext* c) {
  kinds.push_back(kind);
  source = new FakeSource(c, kind);
  if (configure) configure(source);
  return source;
}

namespace {

LRESULT CALLBACK TestWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CLOSE) {
    if (auto* w = reinterpret_cast<TestWindow*>(GetPropW(hwnd, L"TestWindow"))) ++w->closeRequests;
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

TestWindow::TestWindow() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = TestWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"OrlomerTestMain";
  RegisterClassW(&wc);
  hwnd = CreateWindowExW(0, L"OrlomerTestMain", L"Orlomer test", WS_OVERLAPPEDWINDOW, 0, 0, 400, 320,
                         nullptr, nullptr, wc.hInstance, nullptr);
  SetPropW(hwnd, L"TestWindow", this);
  control = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 320, 240, hwnd,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(501)), wc.hInstance, nullptr);
}

TestWindow::~TestWindow() {
  RemovePropW(hwnd, L"TestWindow");
  DestroyWindow(hwnd);
}
