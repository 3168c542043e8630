#include "engine_double.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <new>
#include <string>

#include "atl/module.h"
#include "atl/server_exports.h"
#include "mediaengine/records.h"

namespace {

struct QueuedEvent {
  LONG code;
  LONG_PTR p1, p2;
  std::string block;  // empty: no block
};

// The whole script of the process: one engine at a time is enough for the
// control's tests, which make one control at a time.
struct State {
  std::map<std::string, std::deque<HRESULT>> answers;
  std::string log;
  std::deque<QueuedEvent> events;
  EngineDoubleFacts facts{};
  EngineDoubleSeen seen{};
} g;

void Log(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  g.log += line;
  g.log += '\n';
}

HRESULT Answer(const char* call) {
  auto it = g.answers.find(call);
  if (it == g.answers.end() || it->second.empty()) return S_OK;
  const HRESULT hr = it->second.front();
  it->second.pop_front();
  return hr;
}

std::string Narrow(const wchar_t* text) {
  std::string s;
  for (; text && *text; ++text) s += *text < 128 ? static_cast<char>(*text) : '?';
  return s;
}

// A start that moves the capture to the size the test gave.
HRESULT StartAnswer(const char* call) {
  const HRESULT hr = Answer(call);
  if (hr == static_cast<HRESULT>(0x800A041E) && g.facts.movedCapture.width)
    g.facts.capture = g.facts.movedCapture;
  return hr;
}

HRESULT TakeEvent(const char* side, LONG* code, LONG_PTR* p1, LONG_PTR* p2) {
  if (!code || !p1 || !p2) return E_POINTER;
  if (g.events.empty()) {
    Log("%s.GetDSEvent none", side);
    return E_ABORT;
  }
  QueuedEvent e = g.events.front();
  g.events.pop_front();
  *code = e.code;
  *p1 = e.p1;
  *p2 = e.p2;
  if (!e.block.empty()) {
    char* copy = new char[e.block.size()];
    std::memcpy(copy, e.block.data(), e.block.size());
    *p1 = reinterpret_cast<LONG_PTR>(copy);
    ++g.seen.blocksHeld;
  }
  Log("%s.GetDSEvent %ld", side, e.code);
  return S_OK;
}

HRESULT FreeEvent(const char* side, LONG code, LONG_PTR p1, LONG_PTR p2) {
  Log("%s.FreeDSEvent %ld", side, code);
  // Only the blocks the double copied, as the engine does.
  if (code >= 32774 && code <= 32776 && p1 && p2 > 0) {
    delete[] reinterpret_cast<char*>(p1);
    --g.seen.blocksHeld;
  }
  return S_OK;
}

class Engine;

// The nested interfaces forward IUnknown to the engine.
template <class I>
class Part : public I {
 public:
  explicit Part(Engine* owner) : owner_(owner) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

 protected:
  Engine* owner_;
};

class Config : public Part<IKRMediaConfig> {
 public:
  using Part::Part;
  STDMETHODIMP ConfigVideoEncoder(mediaengine::KRVideoEncoderConfig* c) override {
    Log("Config.ConfigVideoEncoder %dx%d", c->width, c->height);
    g.seen.records.video = *c;
    return Answer("Config.ConfigVideoEncoder");
  }
  STDMETHODIMP GetConfigVideoEncoder(mediaengine::KRVideoEncoderConfig* c) override {
    *c = g.seen.records.video;
    return Answer("Config.GetConfigVideoEncoder");
  }
  STDMETHODIMP ConfigAudioEncoder(mediaengine::KRAudioEncoderConfig* c) override {
    Log("Config.ConfigAudioEncoder");
    g.seen.records.audio = *c;
    return Answer("Config.ConfigAudioEncoder");
  }
  STDMETHODIMP GetConfigAudioEncoder(mediaengine::KRAudioEncoderConfig* c) override {
    *c = g.seen.records.audio;
    return Answer("Config.GetConfigAudioEncoder");
  }
  STDMETHODIMP ConfigOutput(mediaengine::KROutputConfig* c) override {
    Log("Config.ConfigOutput %d %dx%d", c->mediaOutputType, c->width, c->height);
    g.seen.records.output = *c;
    return Answer("Config.ConfigOutput");
  }
  STDMETHODIMP GetConfigOutput(mediaengine::KROutputConfig* c) override {
    *c = g.seen.records.output;
    return Answer("Config.GetConfigOutput");
  }
  STDMETHODIMP ConfigApplication(mediaengine::KRApplicationConfig* c) override {
    Log("Config.ConfigApplication");
    g.seen.records.application = *c;
    return Answer("Config.ConfigApplication");
  }
  STDMETHODIMP GetConfigApplication(mediaengine::KRApplicationConfig* c) override {
    *c = g.seen.records.application;
    return Answer("Config.GetConfigApplication");
  }
  STDMETHODIMP SetDestinationWindow(HWND owner, RECT* r, LONG a, LONG b) override {
    Log("Config.SetDestinationWindow %s %ld,%ld,%ld,%ld %ld 0x%lX", owner ? "window" : "null",
        r ? r->left : -1L, r ? r->top : -1L, r ? r->right : -1L, r ? r->bottom : -1L, a,
        static_cast<unsigned long>(b));
    return Answer("Config.SetDestinationWindow");
  }
  STDMETHODIMP GetDestinationWindow(KRDestinationWindow*) override { return E_NOTIMPL; }
  STDMETHODIMP SetEventWindow(HWND window, LONG message) override {
    Log("Config.SetEventWindow %s 0x%lX", window ? "window" : "null", static_cast<unsigned long>(message));
    g.seen.eventWindow = window;
    g.seen.eventMessage = message;
    return Answer("Config.SetEventWindow");
  }
  STDMETHODIMP GetEventWindow(KREventWindow*) override { return E_NOTIMPL; }
  STDMETHODIMP SaveProfile(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP LoadProfile(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP SaveSession(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP LoadSession(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP ResetToDefaults() override {
    Log("Config.ResetToDefaults");
    mediaengine::ResetToDefaults(g.seen.records);
    return Answer("Config.ResetToDefaults");
  }
  STDMETHODIMP SetVersionInfo(DWORD*) override { return E_NOTIMPL; }
};

class File : public Part<IGenFromFile> {
 public:
  using Part::Part;
  STDMETHODIMP SetSourceFileName(LPCWSTR name) override {
    Log("File.SetSourceFileName %s", Narrow(name).c_str());
    return Answer("File.SetSourceFileName");
  }
  STDMETHODIMP GetSourceFileInfo(LPCWSTR name, KRSourceFileInfo* info) override {
    Log("File.GetSourceFileInfo %s", Narrow(name).c_str());
    const HRESULT hr = Answer("File.GetSourceFileInfo");
    if (SUCCEEDED(hr)) {
      *info = g.facts.sourceInfo;
      wcsncpy(info->fileName, name, 255);
    }
    return hr;
  }
  STDMETHODIMP StartEncode(LONG run) override {
    Log("File.StartEncode %ld", run);
    return StartAnswer("File.StartEncode");
  }
  STDMETHODIMP StartPreview(LONG run) override {
    Log("File.StartPreview %ld", run);
    return StartAnswer("File.StartPreview");
  }
  STDMETHODIMP GetDSEvent(LONG* code, LONG_PTR* p1, LONG_PTR* p2) override {
    return TakeEvent("File", code, p1, p2);
  }
  STDMETHODIMP GetDSEventHandle(HANDLE*) override { return E_NOTIMPL; }
  STDMETHODIMP FreeDSEvent(LONG code, LONG_PTR p1, LONG_PTR p2) override {
    return FreeEvent("File", code, p1, p2);
  }
  STDMETHODIMP Stop() override {
    Log("File.Stop");
    return Answer("File.Stop");
  }
  STDMETHODIMP SetPreviewType(LONG type) override {
    Log("File.SetPreviewType %ld", type);
    return Answer("File.SetPreviewType");
  }
  STDMETHODIMP GetStreamTime(double* seconds) override {
    *seconds = 0;
    return Answer("File.GetStreamTime");
  }
  STDMETHODIMP GetImgInfo(LPCWSTR, LONG*, BITMAPINFOHEADER**, LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetDecodedImg(BITMAPINFOHEADER* header, BYTE** data) override {
    Log("File.GetDecodedImg");
    *header = g.facts.image;
    *data = nullptr;
    return Answer("File.GetDecodedImg");
  }
  STDMETHODIMP SaveImgFile(LPCWSTR, LONG, BYTE*) override { return E_NOTIMPL; }
};

class Live : public Part<IGenFromLive> {
 public:
  using Part::Part;
  STDMETHODIMP ConfigVideoCapture(void* capture) override {
    auto* c = static_cast<KRVideoCaptureConfig*>(capture);
    Log("Live.ConfigVideoCapture %dx%d", c->width, c->height);
    const HRESULT hr = Answer("Live.ConfigVideoCapture");
    if (SUCCEEDED(hr)) g.facts.capture = *c;
    return hr;
  }
  STDMETHODIMP GetConfigVideoCapture(void* capture) override {
    Log("Live.GetConfigVideoCapture");
    *static_cast<KRVideoCaptureConfig*>(capture) = g.facts.capture;
    return Answer("Live.GetConfigVideoCapture");
  }
  STDMETHODIMP GetVideoCaptureCapabilities(void*) override { return E_NOTIMPL; }
  STDMETHODIMP DisplayVideoCaptureDlg(LONG, HWND) override { return E_NOTIMPL; }
  STDMETHODIMP DisplayVidCaptureDlg(LONG, HWND) override { return E_NOTIMPL; }
  STDMETHODIMP SelectDevice(LONG, LONG) override { return E_NOTIMPL; }
  STDMETHODIMP GetDeviceNames(LONG, void*, void*) override { return E_NOTIMPL; }
  STDMETHODIMP StartEncode(LONG run) override {
    Log("Live.StartEncode %ld", run);
    return StartAnswer("Live.StartEncode");
  }
  STDMETHODIMP StartPreview(LONG build, LONG run) override {
    Log("Live.StartPreview %ld %ld", build, run);
    return StartAnswer("Live.StartPreview");
  }
  STDMETHODIMP GetDSEvent(LONG* code, LONG_PTR* p1, LONG_PTR* p2) override {
    return TakeEvent("Live", code, p1, p2);
  }
  STDMETHODIMP GetDSEventHandle(HANDLE*) override { return E_NOTIMPL; }
  STDMETHODIMP FreeDSEvent(LONG code, LONG_PTR p1, LONG_PTR p2) override {
    return FreeEvent("Live", code, p1, p2);
  }
  STDMETHODIMP Stop(SHORT mode) override {
    Log("Live.Stop %d", mode);
    return Answer("Live.Stop");
  }
  STDMETHODIMP SetPreviewType(LONG type) override {
    Log("Live.SetPreviewType %ld", type);
    return Answer("Live.SetPreviewType");
  }
  STDMETHODIMP GetCurrentMediaTime(double* seconds) override {
    *seconds = 0;
    return Answer("Live.GetCurrentMediaTime");
  }
  STDMETHODIMP GetCurrentImage(LONG*, BYTE**) override { return E_NOTIMPL; }
  STDMETHODIMP InitLive() override { return E_NOTIMPL; }
};

class Stats : public Part<IKRStats> {
 public:
  using Part::Part;
  STDMETHODIMP GetVideoCaptureStat(void*) override { return Answer("Stats.GetVideoCaptureStat"); }
  STDMETHODIMP GetVideoEncoderStat(void*) override { return Answer("Stats.GetVideoEncoderStat"); }
  STDMETHODIMP GetAudioCaptureStat(void*) override { return Answer("Stats.GetAudioCaptureStat"); }
  STDMETHODIMP GetAudioEncoderStat(void*) override { return Answer("Stats.GetAudioEncoderStat"); }
  STDMETHODIMP GetClientStatus(void*) override { return Answer("Stats.GetClientStatus"); }
  STDMETHODIMP GetOutputStat(LONG, void*) override { return Answer("Stats.GetOutputStat"); }
  STDMETHODIMP GetCurrentMediaTime(double* seconds) override {
    *seconds = 0;
    return Answer("Stats.GetCurrentMediaTime");
  }
};

class Grant : public Part<IGrantConnection> {
 public:
  using Part::Part;
  STDMETHODIMP GrantConnection(LONG client, LONG grant) override {
    Log("Grant.GrantConnection %ld %ld", client, grant);
    return Answer("Grant.GrantConnection");
  }
};

class Engine : public IUnknown {
 public:
  Engine() { atl::CurrentModule().AddObject(); }
  virtual ~Engine() { atl::CurrentModule().RemoveObject(); }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    const struct {
      const IID* iid;
      const char* call;
      IUnknown* part;
    } parts[] = {{&IID_IUnknown, nullptr, this},
                 {&IID_IKRMediaConfig, "QueryInterface.Config", &config_},
                 {&IID_IGenFromFile, "QueryInterface.File", &file_},
                 {&IID_IGenFromLive, "QueryInterface.Live", &live_},
                 {&IID_IKRStats, "QueryInterface.Stats", &stats_},
                 {&IID_IGrantConnection, "QueryInterface.Grant", &grant_}};
    for (const auto& p : parts) {
      if (!IsEqualIID(iid, *p.iid)) continue;
      // A test may take an interface away for one request.
      if (p.call && FAILED(Answer(p.call))) return E_NOINTERFACE;
      *out = p.part;
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

 private:
  volatile LONG refs_ = 0;
  Config config_{this};
  File file_{this};
  Live live_{this};
  Stats stats_{this};
  Grant grant_{this};
};

template <class I>
STDMETHODIMP Part<I>::QueryInterface(REFIID iid, void** out) {
  return owner_->QueryInterface(iid, out);
}
template <class I>
STDMETHODIMP_(ULONG)
Part<I>::AddRef() {
  return owner_->AddRef();
}
template <class I>
STDMETHODIMP_(ULONG)
Part<I>::Release() {
  return owner_->Release();
}

HRESULT CreateEngine(IUnknown* outer, REFIID iid, void** out) {
  if (outer) return CLASS_E_NOAGGREGATION;
  Engine* engine = new (std::nothrow) Engine;
  if (!engine) return E_OUTOFMEMORY;
  engine->AddRef();
  Log("Engine.Created");
  const HRESULT hr = engine->QueryInterface(iid, out);
  engine->Release();
  return hr;
}

const atl::ClassEntry kClasses[] = {{
    .clsid = &CLSID_KRMedia,
    .create = &CreateEngine,
    .name = "KRMedia test double",
    .progId = "KRMedia.KRMedia.1",
    .versionIndependentProgId = "KRMedia.KRMedia",
    .threading = atl::ThreadingModel::Both,
}};

const atl::ModuleInfo kModule = {.classes = kClasses, .classCount = 1};

void ResetState() {
  g = State{};
  mediaengine::ResetToDefaults(g.seen.records);
}

}  // namespace

ATL_SERVER_EXPORTS(kModule)

extern "C" void WINAPI EngineDoubleReset() {
  ResetState();
}

extern "C" void WINAPI EngineDoubleSetFacts(const EngineDoubleFacts* facts) {
  g.facts = *facts;
}

extern "C" void WINAPI EngineDoubleAnswer(const char* call, HRESULT answer) {
  g.answers[call].push_back(answer);
}

extern "C" void WINAPI EngineDoubleQueueEvent(LONG code, LONG_PTR p1, LONG_PTR p2, const void* block,
                                              LONG blockBytes) {
  QueuedEvent e{code, p1, p2, {}};
  if (block && blockBytes > 0)
    e.block.assign(static_cast<const char*>(block), static_cast<size_t>(blockBytes));
  g.events.push_back(e);
  if (g.seen.eventWindow) PostMessageW(g.seen.eventWindow, static_cast<UINT>(g.seen.eventMessage), 0, 0);
}

extern "C" LONG WINAPI EngineDoubleReadLog(char* text, LONG size, BOOL clear) {
  const LONG needed = static_cast<LONG>(g.log.size() + 1);
  if (text && size >= needed) {
    std::memcpy(text, g.log.c_str(), static_cast<size_t>(needed));
    if (clear) g.log.clear();
  }
  return needed;
}

extern "C" void WINAPI EngineDoubleReadSeen(EngineDoubleSeen* seen) {
  *seen = g.seen;
}
