#include "mediaengine/media.h"

#include <new>

#include "mediaengine/errors.h"
#include "mediaengine/server.h"
#include "mediaengine/trace.h"

namespace mediaengine {

namespace {

// Engine objects alive in the process, and the source of their instance
// numbers. The numbers are never reused: they name the owner of a capture
// device, and a reused number would hand one engine's device to another.
volatile LONG liveObjects = 0;
volatile LONG lastInstance = 0;

constexpr wchar_t kVersionKey[] = L"Software\\Apps\\Kestrune\\Scrivel\\Version";

void ReadDword(HKEY key, const wchar_t* name, DWORD* value) {
  DWORD data = 0, type = 0, size = sizeof data;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) == ERROR_SUCCESS &&
      type == REG_DWORD && size == sizeof data)
    *value = data;
}

}  // namespace

// ---- IKRMediaGraph ------------------------------------------------------------

STDMETHODIMP CImpIKRMediaGraph::GetFilterGraph(void** graph) {
  if (!graph) return E_POINTER;
  *graph = nullptr;
  if (!engine_) return E_FAIL;
  if (!engine_->graph_) {
    COKRMedia::TraceText("GetFilterGraph", "No graph created !");
    return E_FAIL;
  }
  *graph = engine_->graph_;
  return S_OK;
}

STDMETHODIMP CImpIKRMediaGraph::GetGraphState(LONG* state) {
  if (!state) return E_POINTER;
  if (!engine_) return E_FAIL;
  if (!engine_->graph_) {
    COKRMedia::TraceText("GetGraphState", "No graph created !");
    return E_FAIL;
  }
  *state = engine_->graphState_;
  return S_OK;
}

// ---- COKRMedia ----------------------------------------------------------------

COKRMedia::COKRMedia(IUnknown* outer)
    : genFromFile_(this, outer ? outer : this),
      genFromLive_(this, outer ? outer : this),
      stats_(this, outer ? outer : this),
      mediaGraph_(this, outer ? outer : this),
      grantConnection_(this, outer ? outer : this),
      genFromCustom_(this, outer ? outer : this),
      instance_(InterlockedIncrement(&lastInstance)),
      outer_(outer) {
  InterlockedIncrement(&liveObjects);
  ModuleObjectCreated();
}

HRESULT COKRMedia::Create(IUnknown* outer, COKRMedia** engine, HRESULT* initResult) {
  *engine = nullptr;
  COKRMedia* created = new (std::nothrow) COKRMedia(outer);
  if (!created) return KRM_E_OUT_OF_MEMORY;
  // Init hands out interfaces that count on the engine; a reference held
  // meanwhile keeps their release from destroying it half made.
  created->refs_ = 1;
  *initResult = created->Init();
  created->refs_ = 0;
  *engine = created;
  return S_OK;
}

HRESULT COKRMedia::Init() {
  IUnknown* controlling = outer_ ? outer_ : this;
  HRESULT hr = CreateKRMediaConfigObject(controlling, IID_IUnknown, reinterpret_cast<void**>(&config_));
  if (FAILED(hr)) config_ = nullptr;
  // The capture manager serves every engine of the process, so it is not
  // aggregated in any one of them.
  if (SUCCEEDED(hr)) {
    hr = CreateCapManagerObject(nullptr, IID_IUnknown, reinterpret_cast<void**>(&capManager_));
    if (FAILED(hr)) capManager_ = nullptr;
  }
  ReadVersionInfo(&version_[0], &version_[1], &version_[2]);
  IKRMediaConfig* config = nullptr;
  if (config_ && SUCCEEDED(config_->QueryInterface(IID_IKRMediaConfig, reinterpret_cast<void**>(&config)))) {
    config->SetVersionInfo(version_);
    config->Release();
  }
  return hr;
}

COKRMedia::~COKRMedia() {
  if (graph_) {
    if (graphState_ == 3) graph_->Stop();
    graph_->ResetWindows();
    graph_->RemoveAllFilters(nullptr, nullptr, nullptr);
    for (LPCWSTR name : {L"Audio capture", L"Video capture"}) {
      IBaseFilter* filter = nullptr;
      if (SUCCEEDED(graph_->FindFilterByName(name, &filter)) && filter) {
        graph_->RemoveFilter(filter);
        filter->Release();
      }
    }
    graph_->Destroy();
    delete graph_;
    graph_ = nullptr;
  }
  // The devices go back to the manager before the manager may go.
  genFromLive_.ReleaseDevices();
  if (config_) config_->Release();
  config_ = nullptr;
  // Each engine holds its own reference, so the manager goes with the last.
  if (capManager_) capManager_->Release();
  capManager_ = nullptr;
  InterlockedDecrement(&liveObjects);
  ModuleObjectDestroyed();
}

LONG COKRMedia::LiveObjects() { return liveObjects; }

STDMETHODIMP COKRMedia::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  IUnknown* found = nullptr;
  if (IsEqualIID(iid, IID_IUnknown))
    found = this;
  else if (IsEqualIID(iid, IID_IGenFromFile))
    found = &genFromFile_;
  else if (IsEqualIID(iid, IID_IGenFromLive))
    found = &genFromLive_;
  else if (IsEqualIID(iid, IID_IKRStats))
    found = &stats_;
  else if (IsEqualIID(iid, IID_IKRMediaGraph))
    found = &mediaGraph_;
  else if (IsEqualIID(iid, IID_IGrantConnection))
    found = &grantConnection_;
  else if (IsEqualIID(iid, IID_IGenFromCustom))
    found = &genFromCustom_;
  else if (IsEqualIID(iid, IID_IKRMediaConfig))
    return config_ ? config_->QueryInterface(iid, out) : E_NOINTERFACE;
  else if (IsEqualIID(iid, IID_ICapManager))
    return capManager_ ? capManager_->QueryInterface(iid, out) : E_NOINTERFACE;
  else
    return E_NOINTERFACE;
  found->AddRef();
  *out = found;
  return S_OK;
}

STDMETHODIMP_(ULONG) COKRMedia::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) COKRMedia::Release() {
  LONG left = InterlockedDecrement(&refs_);
  if (left == 0) {
    // Calls made while tearing down must not destroy the object twice.
    refs_ = 1;
    delete this;
  }
  return static_cast<ULONG>(left);
}

HRESULT COKRMedia::ReadVersionInfo(DWORD* major, DWORD* minor, DWORD* build) {
  *major = 300;
  *minor = 0;
  *build = 113;
  // Read access is enough: asking for full access on this machine-wide key
  // would fail for every ordinary user and silently give the defaults.
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return S_OK;
  ReadDword(key, L"majorVersion", major);
  ReadDword(key, L"minorVersion", minor);
  ReadDword(key, L"Build", build);
  RegCloseKey(key);
  return S_OK;
}

void COKRMedia::TraceText(const char* operation, const char* text) {
  Trace(FormatTextTrace("COKRMedia", operation, text));
}

void COKRMedia::TraceError(const char* operation, HRESULT code) {
  Trace(FormatCodeTrace("COKRMedia", operation, CodeText(code).c_str()));
}

}  // namespace mediaengine
