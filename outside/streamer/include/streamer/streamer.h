// The streamer filter's identities, its control interface as the media
// engine calls it, and the graph events it raises.
#pragma once

#include <winsock2.h>  // before windows.h: the server's headers want it
#include <windows.h>
#include <objbase.h>

// {8F7213B0-F941-11D4-BF58-00B0D0741880}
static const GUID CLSID_KRStreamer = {0x8F7213B0, 0xF941, 0x11D4, {0xBF, 0x58, 0x00, 0xB0, 0xD0, 0x74, 0x18, 0x80}};
// {574345B0-FB9C-11D4-BF58-00B0D0741880}
static const GUID IID_IKRStreamerControl = {0x574345B0, 0xFB9C, 0x11D4, {0xBF, 0x58, 0x00, 0xB0, 0xD0, 0x74, 0x18, 0x80}};

// Methods numbered after IUnknown's three.
struct IKRStreamerControl : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;  // E_NOTIMPL
  // 2: a parameter: a number (size 0) or a pointer to a text (UTF-16, size
  // in bytes, no terminator) or a block; the data behind it is copied.
  virtual HRESULT STDMETHODCALLTYPE SetParam(ULONG id, LONG_PTR value, ULONG size) = 0;
  // 3: opens the parameter batch; 4: applies it (primes the live server).
  virtual HRESULT STDMETHODCALLTYPE OpenBatch() = 0;
  virtual HRESULT STDMETHODCALLTYPE ApplyBatch() = 0;
  // 5: 1 keeps the connected clients while the graph stops (Pause), 0 not (Stop).
  virtual HRESULT STDMETHODCALLTYPE SetPauseState(long keepClients) = 0;
  // 6: the host's verdict on a client's admission request.
  virtual HRESULT STDMETHODCALLTYPE Grant(ULONG clientId, BYTE grant) = 0;
};

// A parameter of our own beyond the engine's: the live server's product
// word 3 (client kinds offered). The engine's parameters 5 and 6 (its
// security check) are the admission flags of word 4.
constexpr ULONG KRSTREAMER_PARAM_CLIENT_KINDS = 50;

// The engine's record behind parameter 40.
struct KRDecoderConfigRecord {
  ULONG layerCount;
  ULONG size[2];
  BYTE* data[2];
};

// Graph events the streamer raises.
constexpr long EC_KR_CONNECTION_PAUSED = 32772;
constexpr long EC_KR_CONNECTED = 32773;
constexpr long EC_KR_SECURITY_CHECK = 32774;
constexpr long EC_KR_CLIENT_STATUS = 32775;
constexpr long EC_KR_PORT_ERROR = 32776;
constexpr long EC_KR_STOPPED = 32778;
constexpr long EC_KR_ERROR = 32788;
constexpr long EC_KR_CUSTOM_2 = 32789;
constexpr long EC_KR_CUSTOM_3 = 32790;
// EC_KR_ERROR kind 4 (the archive file): a sample it could not take, a file
// it could not write.
constexpr long KR_ERROR_KIND_DISK = 4;
constexpr long KR_E_ARCHIVE_SAMPLE = static_cast<long>(0x800A1389);
constexpr long KR_E_ARCHIVE_FILE = static_cast<long>(0x800A138A);
