// The frame grabber: passes every video sample downstream as it came (the
// upstream sample itself) and keeps a copy of the latest picture.
#pragma once

#include <strmif.h>
#include <amvideo.h>

#include <vector>

#include "dshow/base.h"
#include "framegrabber/grabber.h"

class CKRFrameGrabber : public CTransformFilter, public IKRFrameGrabber {
 public:
  static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* hr);
  ~CKRFrameGrabber() override;
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT CheckInputType(const CMediaType* in) override;
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  HRESULT Receive(IMediaSample* sample) override;

  STDMETHODIMP GetCurrentImage(BITMAPINFOHEADER* header, long* size, BYTE** bytes) override;

 private:
  CKRFrameGrabber(LPUNKNOWN outer, HRESULT* hr);
  CCritSec m_csFrame;
  BITMAPINFOHEADER m_header = {};
  std::vector<BYTE> m_frame;
  bool m_have = false;
  long m_count = 0;
};
