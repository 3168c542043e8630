#include "encode_host.h"

#include <evcode.h>

#include <cstring>

namespace {

constexpr UINT kGraphNotify = 0x5F4;
constexpr LONG kArchiveWritten = 32778;

void SetText(char16_t* field, const std::wstring& text) {
  const size_t n = text.size() < 255 ? text.size() : 255;
  std::memcpy(field, text.c_str(), n * 2);
  field[n] = 0;
}

std::string Here() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p(path);
  return p.substr(0, p.find_last_of("\\/") + 1);
}

}  // namespace

std::vector<std::string> RegisterCompanions(const std::vector<std::string>& dlls) {
  std::vector<std::string> failed;
  for (const std::string& dll : dlls) {
    HMODULE module = LoadLibraryA((Here() + dll).c_str());
    auto regist = module ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                               reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")))
                         : nullptr;
    if (!regist || FAILED(regist())) failed.push_back(dll);
    // Kept loaded: the process creates its objects anyway.
  }
  return failed;
}

HRESULT ApplyJob(IKRMediaConfig* config, const EncodeJob& job) {
  mediaengine::KRVideoEncoderConfig video;
  mediaengine::KRAudioEncoderConfig audio;
  mediaengine::KROutputConfig output;
  config->GetConfigVideoEncoder(&video);
  config->GetConfigAudioEncoder(&audio);
  config->GetConfigOutput(&output);
  video.width = job.width;
  video.height = job.height;
  video.sourceFrameRate = job.sourceRate;
  video.frameRate[0] = job.layerRate;
  video.bitRate[0] = job.videoBitRate;
  video.layers = 1;
  audio.stream[0] = {0, 1, 8000, job.amrBitRate, 1};
  for (int i = 1; i < mediaengine::kAudioStreamEntries; ++i) audio.stream[i].enabled = 0;
  output.mediaOutputType = job.outputType;
  // A file-only output is its own kind; a stream records a file besides.
  output.fileOutput = job.outputType == 1 ? 0 : 1;
  output.streamType = job.streamType;
  output.width = job.width;
  output.height = job.height;
  output.layerFrameRate[0] = job.layerRate;
  output.layerBitRate[0] = uint32_t(job.videoBitRate);
  if (job.rtspPort) output.rtspPort = job.rtspPort;
  SetText(output.outputFileName, job.output);
  SetText(output.title, L"Kestrune file road");
  HRESULT hr = config->ConfigVideoEncoder(&video);
  if (SUCCEEDED(hr)) hr = config->ConfigAudioEncoder(&audio);
  if (SUCCEEDED(hr)) hr = config->ConfigOutput(&output);
  return hr;
}

HWND MakeEventWindow() {
  return CreateWindowExW(0, L"STATIC", L"engine events", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

EventCalls FileEvents(IGenFromFile* source) {
  return {[source](LONG* code, LONG_PTR* p1, LONG_PTR* p2) { return source->GetDSEvent(code, p1, p2); },
          [source](LONG code, LONG_PTR p1, LONG_PTR p2) { return source->FreeDSEvent(code, p1, p2); }};
}

bool PumpEvents(const EventCalls& events, HWND window, LONG wanted, DWORD ms, EncodeResult* result,
                const std::function<void()>& tick) {
  const DWORD until = GetTickCount() + ms;
  DWORD nextTick = GetTickCount();
  while (int(until - GetTickCount()) > 0) {
    if (tick && int(GetTickCount() - nextTick) >= 0) {
      tick();
      nextTick = GetTickCount() + 50;
    }
    MSG msg;
    if (!PeekMessageW(&msg, window, kGraphNotify, kGraphNotify, PM_REMOVE)) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLPOSTMESSAGE);
      continue;
    }
    ++result->notices;
    LONG code;
    LONG_PTR p1, p2;
    bool found = false;
    // Every pending event on each notice, as the control does.
    while (events.get(&code, &p1, &p2) == S_OK) {
      result->events.push_back(code);
      events.free(code, p1, p2);
      if (code == wanted) found = true;
    }
    if (found) return true;
  }
  return false;
}

void RunFileEncode(const EncodeJob& job, EncodeResult* result) {
  CLSID clsid;
  IUnknown* engine = nullptr;
  result->created = CLSIDFromProgID(L"KRMedia.KRMedia.1", &clsid);
  if (SUCCEEDED(result->created))
    result->created = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                       reinterpret_cast<void**>(&engine));
  if (FAILED(result->created)) return;
  IKRMediaConfig* config = nullptr;
  IGenFromFile* source = nullptr;
  HWND window = MakeEventWindow();
  if (SUCCEEDED(engine->QueryInterface(IID_IKRMediaConfig, reinterpret_cast<void**>(&config))) &&
      SUCCEEDED(engine->QueryInterface(IID_IGenFromFile, reinterpret_cast<void**>(&source))) &&
      SUCCEEDED(ApplyJob(config, job)) && SUCCEEDED(config->SetEventWindow(window, LONG(kGraphNotify)))) {
    source->SetPreviewType(job.previewType);
    source->SetSourceFileName(job.input.c_str());
    const DWORD begun = GetTickCount();
    result->started = source->StartEncode(1);
    if (SUCCEEDED(result->started)) {
      auto sample = [&] {
        double t = -1;
        if (source->GetStreamTime(&t) == S_OK) result->streamTimes.push_back(t);
      };
      result->complete = PumpEvents(source, window, EC_COMPLETE, job.timeoutMs, result, sample);
      result->wallSeconds = double(GetTickCount() - begun) / 1000.0;
      result->stopped = source->Stop();
      result->archived = PumpEvents(source, window, kArchiveWritten, 30000, result, nullptr);
    }
  }
  if (source) source->Release();
  if (config) config->Release();
  engine->Release();
  DestroyWindow(window);
}
