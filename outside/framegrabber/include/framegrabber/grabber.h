// The frame grabber's identities and interface: an in-place video filter
// that keeps the latest picture for snapshots.
#pragma once

#include <windows.h>
#include <objbase.h>

// {4C52F760-9321-11D4-878A-0050DA816754}
static const GUID CLSID_KRFrameGrabber = {0x4C52F760, 0x9321, 0x11D4, {0x87, 0x8A, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};
// {4C52F761-9321-11D4-878A-0050DA816754}
static const GUID IID_IKRFrameGrabber = {0x4C52F761, 0x9321, 0x11D4, {0x87, 0x8A, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};

struct IKRFrameGrabber : public IUnknown {
  // 1: the latest picture: its bitmap header, its size in bytes and a copy of
  // its bytes, allocated with CoTaskMemAlloc (the caller frees it with
  // CoTaskMemFree). VFW_E_WRONG_STATE before the first picture.
  virtual HRESULT STDMETHODCALLTYPE GetCurrentImage(BITMAPINFOHEADER* header, long* size, BYTE** bytes) = 0;
};
