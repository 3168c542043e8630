// The custom source filter's identities, its buffer interface and its codes:
// a source whose one output pin "Out" carries what the host hands it, buffer
// by buffer, in the media type the host names.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <strmif.h>

// {B8AEE281-0777-11D5-87FD-0050DA816754}
static const GUID CLSID_KRCustomSource = {0xB8AEE281, 0x0777, 0x11D5, {0x87, 0xFD, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};
// {B8016ED1-5EAF-11D5-8846-0050DA816754}
static const GUID IID_IKRCustomSource = {0xB8016ED1, 0x5EAF, 0x11D5, {0x88, 0x46, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};

// The stream description block the host hands with the media type.
constexpr int kCustomDescriptionBytes = 540;

struct IKRCustomSource : public IUnknown {
  // 1: the stream's description block (540 bytes, kept whole; its first 512
  // bytes are the stream's UTF-16 name) and the output pin's media type
  // (video with a VIDEOINFOHEADER, or audio with a WAVEFORMATEX).
  virtual HRESULT STDMETHODCALLTYPE SetOutputType(const BYTE* description, const AM_MEDIA_TYPE* type) = 0;
  // 2: queues a copy of one buffer: its bytes, its length, its start and
  // stop times in milliseconds from the stream's start. No bytes and length
  // 0: the end of the stream, after the buffers already queued.
  virtual HRESULT STDMETHODCALLTYPE SetBuffer(LONG_PTR data, LONG length, LONG startMs, LONG stopMs) = 0;
  // 3: the pool: at most `count` buffers of at most `size` bytes wait at
  // once. Starts the stream afresh (the queue and its end are cleared).
  virtual HRESULT STDMETHODCALLTYPE SetPool(LONG count, LONG size) = 0;
};

// The filter's codes (severity error, facility 10).
constexpr HRESULT KRCS_E_NOT_CONFIGURED = static_cast<HRESULT>(0x800A07D1);    // no pool or no type yet
constexpr HRESULT KRCS_E_NULL_ARGUMENT = static_cast<HRESULT>(0x800A07D2);     // no description or no type
constexpr HRESULT KRCS_E_TYPE_NOT_SUPPORTED = static_cast<HRESULT>(0x800A07D3);
constexpr HRESULT KRCS_E_TYPE_CONNECTED = static_cast<HRESULT>(0x800A07D4);    // another type while connected
constexpr HRESULT KRCS_E_NULL_BUFFER = static_cast<HRESULT>(0x800A07D5);       // a length without bytes
constexpr HRESULT KRCS_E_BUFFER_TOO_LARGE = static_cast<HRESULT>(0x800A07D6);  // above the pool's size
constexpr HRESULT KRCS_E_TRY_AGAIN = static_cast<HRESULT>(0x800A07D7);         // not taken now: offer it again
constexpr HRESULT KRCS_E_QUEUE_FULL = static_cast<HRESULT>(0x800A07D8);
constexpr HRESULT KRCS_E_BAD_TIMES = static_cast<HRESULT>(0x800A07D9);         // negative start, stop before start
constexpr HRESULT KRCS_E_BAD_BUFFER_SIZE = static_cast<HRESULT>(0x800A07DA);   // 0 or less, or above 64 MiB
constexpr HRESULT KRCS_E_STREAM_OVER = static_cast<HRESULT>(0x800A07DB);       // ended, or downstream took no more
constexpr HRESULT KRCS_E_BAD_LENGTH = static_cast<HRESULT>(0x800A07DC);        // negative, or 0 with bytes
constexpr HRESULT KRCS_E_ACTIVE = static_cast<HRESULT>(0x800A07DD);            // a pool change while streaming
constexpr HRESULT KRCS_E_BAD_BUFFER_COUNT = static_cast<HRESULT>(0x800A07DE);  // below 1, or above 1024
