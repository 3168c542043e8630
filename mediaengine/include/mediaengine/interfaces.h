// The media engine's COM identity and custom interfaces, declared by hand
// (no type library): the engine class, its six own interfaces, the
// configuration interface and the capture manager's interface.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <strmif.h>

#include "mediaengine/records.h"

// ---- class ----------------------------------------------------------------

// {07759AE6-4DF1-11D4-871F-0050DA816754}
inline constexpr CLSID CLSID_KRMedia = {0x07759AE6, 0x4DF1, 0x11D4, {0x87, 0x1F, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};
inline constexpr wchar_t kKRMediaProgId[] = L"KRMedia.KRMedia.1";

// ---- interface ids ----------------------------------------------------------

inline constexpr IID IID_IKRMediaConfig = {0x07759AE1, 0x4DF1, 0x11D4, {0x87, 0x1F, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};
inline constexpr IID IID_IGenFromFile = {0x07759AE2, 0x4DF1, 0x11D4, {0x87, 0x1F, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};
inline constexpr IID IID_IGenFromLive = {0x07759AE3, 0x4DF1, 0x11D4, {0x87, 0x1F, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};
inline constexpr IID IID_IKRStats = {0x07759AE4, 0x4DF1, 0x11D4, {0x87, 0x1F, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};
inline constexpr IID IID_IKRMediaGraph = {0x43C5CA21, 0x5384, 0x11D4, {0x87, 0x27, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};
inline constexpr IID IID_IGrantConnection = {0x2FC35771, 0x14B0, 0x11D5, {0x88, 0x0A, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};
inline constexpr IID IID_IGenFromCustom = {0xB398CF31, 0x6F1F, 0x11D5, {0x88, 0x4C, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};
inline constexpr IID IID_ICapManager = {0x521B2621, 0x52A3, 0x11D4, {0x87, 0x26, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};

// ---- records of the configuration interface -------------------------------

// The video destination: the owner window, the rectangle in it and the two
// further values, which SetDestinationWindow stores in reverse order.
struct KRDestinationWindow {
  HWND window;
  RECT rect;
  LONG b;
  LONG a;
};

struct KREventWindow {
  HWND window;
  LONG message;
};

// What GetSourceFileInfo reports of a media file.
struct KRSourceFileInfo {
  wchar_t fileName[256];
  int32_t width;
  int32_t height;
  int32_t bitsPerPixel;
  float frameRate;  // 0 when unknown
  int32_t duration;  // whole seconds
  int32_t audioStreams;
  int32_t videoStreams;
};
static_assert(sizeof(KRSourceFileInfo) == 512 + 28);

// The capture format of the live source (ConfigVideoCapture).
struct KRVideoCaptureConfig {
  int32_t width;
  int32_t height;
  uint16_t bitsPerPixel;
  float frameRate;
};
static_assert(sizeof(KRVideoCaptureConfig) == 16);

// The sizes a capture device offers. The engine grows `sizes` with the C
// runtime's realloc; the caller frees it with free (one runtime DLL for both).
// On input `count` is how many probe sizes to try, 0 all.
struct KRVideoCaptureCapabilities {
  int32_t count;
  int32_t (*sizes)[2];  // width, height
  float highestFrameRate;
};

// Statistics records of IKRStats.
struct KRVideoCaptureStat {
  int32_t dropped;
  int32_t notDropped;
  int32_t averageFrameSize;
  int32_t padding;
  int64_t bytes;  // averageFrameSize x notDropped
};
static_assert(sizeof(KRVideoCaptureStat) == 24);

struct KRVideoEncoderStat {
  uint32_t word[9];
};

struct KRAudioCaptureStat {
  uint32_t inputBytes[2];
  uint32_t inputSamples;
  uint32_t emptyInputs;
};

struct KRAudioEncoderStat {
  uint32_t enabled;
  struct Entry {
    int32_t codec;  // -1: not enabled
    uint32_t bytes;
    uint32_t samples;
    uint32_t streamTime;
  } entry[5];
};
static_assert(sizeof(KRAudioEncoderStat) == 21 * 4);

// ---- interfaces -------------------------------------------------------------

struct IKRMediaConfig : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE ConfigVideoEncoder(mediaengine::KRVideoEncoderConfig* config) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetConfigVideoEncoder(mediaengine::KRVideoEncoderConfig* config) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConfigAudioEncoder(mediaengine::KRAudioEncoderConfig* config) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetConfigAudioEncoder(mediaengine::KRAudioEncoderConfig* config) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConfigOutput(mediaengine::KROutputConfig* config) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetConfigOutput(mediaengine::KROutputConfig* config) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConfigApplication(mediaengine::KRApplicationConfig* config) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetConfigApplication(mediaengine::KRApplicationConfig* config) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDestinationWindow(HWND owner, RECT* rect, LONG a, LONG b) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDestinationWindow(KRDestinationWindow* destination) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetEventWindow(HWND window, LONG message) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetEventWindow(KREventWindow* event) = 0;
  virtual HRESULT STDMETHODCALLTYPE SaveProfile(LPCWSTR fileName) = 0;
  virtual HRESULT STDMETHODCALLTYPE LoadProfile(LPCWSTR fileName) = 0;
  virtual HRESULT STDMETHODCALLTYPE SaveSession(LPCWSTR fileName) = 0;
  virtual HRESULT STDMETHODCALLTYPE LoadSession(LPCWSTR fileName) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResetToDefaults() = 0;
  // major, minor, build
  virtual HRESULT STDMETHODCALLTYPE SetVersionInfo(DWORD* version) = 0;
};

struct IKRMediaGraph : public IUnknown {
  // The engine's graph wrapper as an opaque pointer, without a reference.
  virtual HRESULT STDMETHODCALLTYPE GetFilterGraph(void** graph) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetGraphState(LONG* state) = 0;
};

// Event parameters are pointer-sized: three of the suite's events carry a
// block pointer in the first.
struct IGenFromFile : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetSourceFileName(LPCWSTR fileName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSourceFileInfo(LPCWSTR fileName, KRSourceFileInfo* info) = 0;
  virtual HRESULT STDMETHODCALLTYPE StartEncode(LONG run) = 0;
  virtual HRESULT STDMETHODCALLTYPE StartPreview(LONG run) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDSEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDSEventHandle(HANDLE* event) = 0;
  virtual HRESULT STDMETHODCALLTYPE FreeDSEvent(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPreviewType(LONG type) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamTime(double* seconds) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetImgInfo(LPCWSTR fileName, LONG* flag, BITMAPINFOHEADER** header,
                                               LONG* size) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDecodedImg(BITMAPINFOHEADER* header, BYTE** data) = 0;
  virtual HRESULT STDMETHODCALLTYPE SaveImgFile(LPCWSTR fileName, LONG type, BYTE* image) = 0;
};

struct IGenFromLive : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE ConfigVideoCapture(void* capture) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetConfigVideoCapture(void* capture) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetVideoCaptureCapabilities(void* capabilities) = 0;
  virtual HRESULT STDMETHODCALLTYPE DisplayVideoCaptureDlg(LONG dialogId, HWND parent) = 0;
  virtual HRESULT STDMETHODCALLTYPE DisplayVidCaptureDlg(LONG dialogId, HWND parent) = 0;
  virtual HRESULT STDMETHODCALLTYPE SelectDevice(LONG index, LONG kind) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDeviceNames(LONG kind, void* names, void* third) = 0;
  virtual HRESULT STDMETHODCALLTYPE StartEncode(LONG run) = 0;
  virtual HRESULT STDMETHODCALLTYPE StartPreview(LONG build, LONG run) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDSEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDSEventHandle(HANDLE* event) = 0;
  virtual HRESULT STDMETHODCALLTYPE FreeDSEvent(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop(SHORT mode) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPreviewType(LONG type) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurrentMediaTime(double* seconds) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurrentImage(LONG* size, BYTE** block) = 0;
  virtual HRESULT STDMETHODCALLTYPE InitLive() = 0;
};

struct IKRStats : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetVideoCaptureStat(void* record) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetVideoEncoderStat(void* record) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAudioCaptureStat(void* record) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAudioEncoderStat(void* record) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetClientStatus(void* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetOutputStat(LONG id, void* record) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurrentMediaTime(double* seconds) = 0;
};

struct IGrantConnection : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GrantConnection(LONG clientId, LONG grant) = 0;
};

struct IGenFromCustom : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetSourceOption(LONG option, LONG value) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConfigMediaSource(LONG stream, void* description, AM_MEDIA_TYPE* type) = 0;
  // The four values go to the stream's filter as they are: the buffer's
  // bytes (pointer-sized), its length, its start and stop in milliseconds.
  virtual HRESULT STDMETHODCALLTYPE SetBuffer(LONG stream, LONG_PTR data, LONG length, LONG startMs,
                                              LONG stopMs) = 0;
  virtual HRESULT STDMETHODCALLTYPE StartEncode(LONG run) = 0;
  virtual HRESULT STDMETHODCALLTYPE StartPreview(LONG build, LONG run) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop(SHORT mode) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDSEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDSEventHandle(HANDLE* event) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSourceFileName(LPCWSTR fileName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSourceFileInfo(LPCWSTR fileName, KRSourceFileInfo* info) = 0;
  virtual HRESULT STDMETHODCALLTYPE InitCustom(LONG stream, LONG bufferCount, LONG bufferSize) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPreviewType(LONG type) = 0;
};

// Capture devices of the process; class 0 is video, 1 audio; the caller is
// the engine's instance number.
struct ICapManager : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetDeviceList(LONG deviceClass, WCHAR** names, LONG* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE SelectDevice(LONG caller, LONG index, LONG deviceClass, IBaseFilter** filter) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReleaseDevice(LONG caller, LONG deviceClass, LONG index) = 0;
  virtual HRESULT STDMETHODCALLTYPE SelectAvailableDevice(LONG caller, LONG deviceClass, IBaseFilter** filter,
                                                          LONG* index) = 0;
};
