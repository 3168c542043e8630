// Stand-in for the outside Qpl.dll: its EVRC coder object, with the frame
// size and calls of the real one, but NOT a speech coder. Every frame is a
// full-rate EVRC frame (rate byte 4, then 22 fixed bytes that an EVRC
// decoder accepts): the frames carry no speech. What it receives is logged
// to the file named by the environment variable QPL_LOG, when set.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audioencfilter/qpl.h"

namespace {

constexpr int kFrameBytes = 23;
constexpr int kFrameSamples = 160;
// A full-rate payload with valid pitch and LSP indices.
const uint8_t kPayload[22] = {0x19, 0xf2, 0x5d, 0x9d, 0x06, 0x12, 0xdf, 0x35, 0x9d, 0x60, 0x26,
                              0xa2, 0x40, 0xf4, 0x58, 0x9a, 0x5d, 0x79, 0x1f, 0x1d, 0xd9, 0x7c};

void logLine(const char* format, ...) {
  char path[MAX_PATH];
  const DWORD n = GetEnvironmentVariableA("QPL_LOG", path, sizeof path);
  if (n == 0 || n >= sizeof path) return;
  FILE* f = std::fopen(path, "a");
  if (!f) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(f, format, args);
  va_end(args);
  std::fputc('\n', f);
  std::fclose(f);
}

class EvrcCoder final : public IQplEVRCEncoder {
 public:
  virtual ~EvrcCoder() = default;
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IQplEVRCEncoder)) {
      *ppv = static_cast<IQplEVRCEncoder*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) {
      logLine("Release: coder freed after %ld frames", frames_);
      delete this;
    }
    return ULONG(n);
  }
  int STDMETHODCALLTYPE Open(int mode) override {
    logLine("Open(%d)", mode);
    open_ = mode == 1;
    return open_ ? 1 : 0;
  }
  HRESULT STDMETHODCALLTYPE GetFrameInfo(uint32_t* info) override {
    if (!info) return E_POINTER;
    *info = kFrameBytes;
    logLine("GetFrameInfo: %d bytes", kFrameBytes);
    return S_OK;
  }
  int STDMETHODCALLTYPE EncodeFrame(int mode, const int16_t* pcm, uint8_t* out) override {
    if (!open_ || mode != 1 || !pcm || !out) {
      logLine("EncodeFrame(%d): refused", mode);
      return 0;
    }
    int peak = 0;
    for (int i = 0; i < kFrameSamples; ++i)
      if (std::abs(int(pcm[i])) > peak) peak = std::abs(int(pcm[i]));
    ++frames_;
    logLine("EncodeFrame(%d): %d samples, peak %d -> %d bytes without speech", mode, kFrameSamples, peak,
            kFrameBytes);
    out[0] = 4;  // full rate
    std::memcpy(out + 1, kPayload, sizeof kPayload);
    return kFrameBytes;
  }

 private:
  volatile LONG refs_ = 1;
  bool open_ = false;
  LONG frames_ = 0;
};

}  // namespace

extern "C" int __cdecl QPLCreateInstance(const CLSID* classId, const IID* interfaceId, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!classId || !interfaceId || !IsEqualCLSID(*classId, CLSID_QplEVRCEncoder) ||
      !IsEqualIID(*interfaceId, IID_IQplEVRCEncoder)) {
    logLine("QPLCreateInstance: unknown class or interface");
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  logLine("QPLCreateInstance: EVRC coder stand-in (not a speech coder: its frames carry no speech)");
  *object = static_cast<IQplEVRCEncoder*>(new EvrcCoder);
  return 0;
}
