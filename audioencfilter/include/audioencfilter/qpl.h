// The outside EVRC coder object of Qpl.dll, as the EVRC codec object uses
// it: created with QPLCreateInstance, then Open, GetFrameInfo and one
// EncodeFrame per 160 samples of 8 kHz mono.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstdint>

// {BE202072-2DDB-11D5-9AC6-00508B62AD9D}
static const CLSID CLSID_QplEVRCEncoder = {0xBE202072, 0x2DDB, 0x11D5, {0x9A, 0xC6, 0x00, 0x50, 0x8B, 0x62, 0xAD, 0x9D}};
// {BE202073-2DDB-11D5-9AC6-00508B62AD9D}
static const IID IID_IQplEVRCEncoder = {0xBE202073, 0x2DDB, 0x11D5, {0x9A, 0xC6, 0x00, 0x50, 0x8B, 0x62, 0xAD, 0x9D}};

struct IQplEVRCEncoder : public IUnknown {
  // Non-zero: ready.
  virtual int STDMETHODCALLTYPE Open(int mode) = 0;
  // The low 16 bits of *info: bytes of one encoded frame.
  virtual HRESULT STDMETHODCALLTYPE GetFrameInfo(uint32_t* info) = 0;
  // 160 samples in, one frame out; answers the bytes written (below 1: failure).
  virtual int STDMETHODCALLTYPE EncodeFrame(int mode, const int16_t* pcm, uint8_t* out) = 0;
};

// Exported undecorated by Qpl.dll; 0 on success.
typedef int(__cdecl* QplCreateInstanceFn)(const CLSID* classId, const IID* interfaceId, void** object);
