#include "grabber.h"

#include <cstring>
#include <new>

#include "dshow/helpers.h"
#include "dshow/log.h"

namespace {
constexpr const char* kLog = "frame grabber";
}  // namespace

CUnknown* WINAPI CKRFrameGrabber::CreateInstance(LPUNKNOWN outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CKRFrameGrabber(outer, hr);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

CKRFrameGrabber::CKRFrameGrabber(LPUNKNOWN outer, HRESULT* hr)
    : CTransformFilter("frame grabber", outer, CLSID_KRFrameGrabber) {
  HRESULT h = S_OK;
  m_pInput = new (std::nothrow) CTransformInputPin("grabber input", this, &h, L"In");
  m_pOutput = new (std::nothrow) CTransformOutputPin("grabber output", this, &h, L"Out");
  if (!m_pInput || !m_pOutput) h = E_OUTOFMEMORY;
  if (hr) *hr = h;
  FilterLog(kLog, "created");
}

CKRFrameGrabber::~CKRFrameGrabber() { FilterLog(kLog, "destroyed after %ld pictures", m_count); }

STDMETHODIMP CKRFrameGrabber::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IKRFrameGrabber)) return GetInterface(static_cast<IKRFrameGrabber*>(this), ppv);
  return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CKRFrameGrabber::CheckInputType(const CMediaType* in) {
  // Any video picture described by a bitmap header.
  return IsEqualGUID(*in->Type(), MEDIATYPE_Video) && VideoInfoOf(in) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CKRFrameGrabber::CheckTransform(const CMediaType* in, const CMediaType* out) {
  return *in == *out ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CKRFrameGrabber::GetMediaType(int position, CMediaType* mt) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  if (!m_pInput->IsConnected()) return E_UNEXPECTED;
  *mt = m_pInput->CurrentMediaType();
  return S_OK;
}

HRESULT CKRFrameGrabber::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  // The samples going downstream are the upstream's own; this allocator only
  // completes the connection.
  request->cBuffers = std::max(request->cBuffers, 1L);
  request->cbBuffer = std::max(request->cbBuffer, long(m_pInput->CurrentMediaType().lSampleSize));
  if (request->cbBuffer < 1) request->cbBuffer = 1;
  if (request->cbAlign < 1) request->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual;
  return allocator->SetProperties(request, &actual);
}

HRESULT CKRFrameGrabber::Receive(IMediaSample* sample) {
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const long length = sample->GetActualDataLength();
  if (data && length > 0) {
    const VIDEOINFOHEADER* vih = VideoInfoOf(&m_pInput->CurrentMediaType());
    CAutoLock lock(&m_csFrame);
    if (vih) m_header = vih->bmiHeader;
    m_header.biSizeImage = DWORD(length);
    m_frame.assign(data, data + length);
    m_have = true;
    if (++m_count == 1) FilterLog(kLog, "first picture: %ld bytes", length);
  }
  return m_pOutput->Deliver(sample);
}

STDMETHODIMP CKRFrameGrabber::GetCurrentImage(BITMAPINFOHEADER* header, long* size, BYTE** bytes) {
  if (!header || !size || !bytes) return E_POINTER;
  CAutoLock lock(&m_csFrame);
  if (!m_have) return VFW_E_WRONG_STATE;
  BYTE* copy = static_cast<BYTE*>(CoTaskMemAlloc(m_frame.size()));
  if (!copy) return E_OUTOFMEMORY;
  std::memcpy(copy, m_frame.data(), m_frame.size());
  *header = m_header;
  *size = long(m_frame.size());
  *bytes = copy;
  return S_OK;
}
