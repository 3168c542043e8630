// A memory allocator of fixed-size samples in one block, and its sample.
#include <cstddef>
#include <new>

#include "dshow/base.h"

// ---- CMediaSample ----

CMediaSample::CMediaSample(CMemAllocator* allocator, BYTE* buffer, LONG size)
    : m_pAllocator(allocator), m_cRef(0), m_pBuffer(buffer), m_cbBuffer(size), m_lActual(size), m_dwFlags(0),
      m_dwTypeSpecificFlags(0), m_dwStreamId(AM_STREAM_MEDIA), m_Start(0), m_End(0), m_MediaStart(0),
      m_MediaEnd(0), m_bMediaTimeValid(FALSE), m_pMediaType(nullptr) {}

CMediaSample::~CMediaSample() { DeleteMediaType(m_pMediaType); }

void CMediaSample::Reset() {
  m_dwFlags = 0;
  m_bMediaTimeValid = FALSE;
  m_dwTypeSpecificFlags = 0;
  m_dwStreamId = AM_STREAM_MEDIA;
  m_lActual = m_cbBuffer;
  DeleteMediaType(m_pMediaType);
  m_pMediaType = nullptr;
}

STDMETHODIMP CMediaSample::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMediaSample) || IsEqualIID(riid, IID_IMediaSample2)) {
    return GetInterface(static_cast<IMediaSample2*>(this), ppv);
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CMediaSample::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

STDMETHODIMP_(ULONG) CMediaSample::Release() {
  LONG n = InterlockedDecrement(&m_cRef);
  // The last reference gives the sample back to its allocator, not to the heap.
  if (n == 0) m_pAllocator->ReleaseBuffer(this);
  return static_cast<ULONG>(n);
}

STDMETHODIMP CMediaSample::GetPointer(BYTE** buffer) {
  if (!buffer) return E_POINTER;
  *buffer = m_pBuffer;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  if (!start || !end) return E_POINTER;
  if (!(m_dwFlags & AM_SAMPLE_TIMEVALID)) return VFW_E_SAMPLE_TIME_NOT_SET;
  *start = m_Start;
  if (m_dwFlags & AM_SAMPLE_STOPVALID) {
    *end = m_End;
    return S_OK;
  }
  *end = m_Start + 1;
  return VFW_S_NO_STOP_TIME;
}

STDMETHODIMP CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  if (!start) {
    m_dwFlags &= ~(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
    return S_OK;
  }
  m_Start = *start;
  m_dwFlags |= AM_SAMPLE_TIMEVALID;
  if (end) {
    m_End = *end;
    m_dwFlags |= AM_SAMPLE_STOPVALID;
  } else {
    m_dwFlags &= ~AM_SAMPLE_STOPVALID;
  }
  return S_OK;
}

STDMETHODIMP CMediaSample::IsSyncPoint() { return (m_dwFlags & AM_SAMPLE_SPLICEPOINT) ? S_OK : S_FALSE; }
STDMETHODIMP CMediaSample::SetSyncPoint(BOOL on) {
  if (on) m_dwFlags |= AM_SAMPLE_SPLICEPOINT; else m_dwFlags &= ~AM_SAMPLE_SPLICEPOINT;
  return S_OK;
}
STDMETHODIMP CMediaSample::IsPreroll() { return (m_dwFlags & AM_SAMPLE_PREROLL) ? S_OK : S_FALSE; }
STDMETHODIMP CMediaSample::SetPreroll(BOOL on) {
  if (on) m_dwFlags |= AM_SAMPLE_PREROLL; else m_dwFlags &= ~AM_SAMPLE_PREROLL;
  return S_OK;
}
STDMETHODIMP CMediaSample::IsDiscontinuity() { return (m_dwFlags & AM_SAMPLE_DATADISCONTINUITY) ? S_OK : S_FALSE; }
STDMETHODIMP CMediaSample::SetDiscontinuity(BOOL on) {
  if (on) m_dwFlags |= AM_SAMPLE_DATADISCONTINUITY; else m_dwFlags &= ~AM_SAMPLE_DATADISCONTINUITY;
  return S_OK;
}

STDMETHODIMP CMediaSample::SetActualDataLength(long length) {
  if (length < 0 || length > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
  m_lActual = length;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaType(AM_MEDIA_TYPE** mt) {
  if (!mt) return E_POINTER;
  if (!m_pMediaType) {
    *mt = nullptr;
    return S_FALSE;
  }
  *mt = CreateMediaType(m_pMediaType);
  return *mt ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CMediaSample::SetMediaType(AM_MEDIA_TYPE* mt) {
  DeleteMediaType(m_pMediaType);
  m_pMediaType = nullptr;
  m_dwFlags &= ~AM_SAMPLE_TYPECHANGED;
  if (!mt) return S_OK;
  m_pMediaType = CreateMediaType(mt);
  if (!m_pMediaType) return E_OUTOFMEMORY;
  m_dwFlags |= AM_SAMPLE_TYPECHANGED;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (!start || !end) return E_POINTER;
  if (!m_bMediaTimeValid) return VFW_E_MEDIA_TIME_NOT_SET;
  *start = m_MediaStart;
  *end = m_MediaEnd;
  return S_OK;
}

STDMETHODIMP CMediaSample::SetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (!start) {
    m_bMediaTimeValid = FALSE;
    return S_OK;
  }
  if (!end) return E_POINTER;
  m_MediaStart = *start;
  m_MediaEnd = *end;
  m_bMediaTimeValid = TRUE;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetProperties(DWORD size, BYTE* out) {
  if (!out) return E_POINTER;
  AM_SAMPLE2_PROPERTIES p = {};
  p.cbData = sizeof p;
  p.dwTypeSpecificFlags = m_dwTypeSpecificFlags;
  p.dwSampleFlags = m_dwFlags;
  p.lActual = m_lActual;
  p.tStart = m_Start;
  p.tStop = m_End;
  p.dwStreamId = m_dwStreamId;
  p.pMediaType = m_pMediaType;
  p.pbBuffer = m_pBuffer;
  p.cbBuffer = m_cbBuffer;
  DWORD n = size < sizeof p ? size : static_cast<DWORD>(sizeof p);
  memcpy(out, &p, n);
  if (n >= sizeof(DWORD)) reinterpret_cast<AM_SAMPLE2_PROPERTIES*>(out)->cbData = n;
  return S_OK;
}

STDMETHODIMP CMediaSample::SetProperties(DWORD size, const BYTE* in) {
  if (!in) return E_POINTER;
  if (size < offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer)) return E_INVALIDARG;
  AM_SAMPLE2_PROPERTIES p = {};
  memcpy(&p, in, size < sizeof p ? size : sizeof p);
  if (p.lActual < 0 || p.lActual > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
  if (p.dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
    HRESULT hr = SetMediaType(p.pMediaType);
    if (FAILED(hr)) return hr;
  }
  m_dwTypeSpecificFlags = p.dwTypeSpecificFlags;
  m_dwFlags = p.dwSampleFlags;
  m_lActual = p.lActual;
  m_Start = p.tStart;
  m_End = p.tStop;
  m_dwStreamId = p.dwStreamId;
  return S_OK;
}

// ---- CMemAllocator ----

CMemAllocator::CMemAllocator(const char* name, LPUNKNOWN outer, HRESULT* hr)
    : CUnknown(name, outer), m_hFree(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_pBuffer(nullptr), m_props(),
      m_bCommitted(FALSE), m_bDecommitPending(FALSE), m_lOutstanding(0) {
  if (!m_hFree && hr) *hr = E_OUTOFMEMORY;
}

CMemAllocator::~CMemAllocator() {
  FreeSamples();
  if (m_hFree) CloseHandle(m_hFree);
}

STDMETHODIMP CMemAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv && IsEqualIID(riid, IID_IMemAllocator)) return GetInterface(static_cast<IMemAllocator*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return E_POINTER;
  CAutoLock lock(&m_Lock);
  if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
  if (m_lOutstanding > 0) return VFW_E_BUFFERS_OUTSTANDING;
  if (request->cBuffers <= 0 || request->cbBuffer <= 0 || request->cbPrefix < 0) return VFW_E_SIZENOTSET;
  LONG align = request->cbAlign > 0 ? request->cbAlign : 1;
  if (align & (align - 1)) return VFW_E_BADALIGN;
  m_props = *request;
  m_props.cbAlign = align;
  // Each buffer, with its prefix, starts on the alignment.
  LONG whole = request->cbBuffer + request->cbPrefix;
  whole = (whole + align - 1) / align * align;
  m_props.cbBuffer = whole - request->cbPrefix;
  *actual = m_props;
  return S_OK;
}

STDMETHODIMP CMemAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
  if (!props) return E_POINTER;
  CAutoLock lock(&m_Lock);
  *props = m_props;
  return S_OK;
}

STDMETHODIMP CMemAllocator::Commit() {
  CAutoLock lock(&m_Lock);
  if (m_bCommitted) return S_OK;
  if (m_props.cBuffers <= 0 || m_props.cbBuffer <= 0) return VFW_E_SIZENOTSET;
  m_bDecommitPending = FALSE;
  if (m_all.empty()) {
    LONG stride = m_props.cbBuffer + m_props.cbPrefix;
    m_pBuffer = static_cast<BYTE*>(VirtualAlloc(nullptr, static_cast<SIZE_T>(stride) * m_props.cBuffers,
                                               MEM_COMMIT, PAGE_READWRITE));
    if (!m_pBuffer) return E_OUTOFMEMORY;
    for (LONG i = 0; i < m_props.cBuffers; ++i) {
      auto* s = new (std::nothrow) CMediaSample(this, m_pBuffer + i * stride + m_props.cbPrefix, m_props.cbBuffer);
      if (!s) {
        FreeSamples();
        return E_OUTOFMEMORY;
      }
      m_all.push_back(s);
      m_free.push_back(s);
    }
  }
  m_bCommitted = TRUE;
  SetEvent(m_hFree);
  return S_OK;
}

STDMETHODIMP CMemAllocator::Decommit() {
  CAutoLock lock(&m_Lock);
  if (!m_bCommitted) return S_OK;
  m_bCommitted = FALSE;
  // Buffers still out are freed when the last one comes back.
  if (m_lOutstanding == 0) {
    FreeSamples();
  } else {
    m_bDecommitPending = TRUE;
  }
  SetEvent(m_hFree);  // wakes GetBuffer waiters, which then fail
  return S_OK;
}

void CMemAllocator::FreeSamples() {
  for (CMediaSample* s : m_all) delete s;
  m_all.clear();
  m_free.clear();
  if (m_pBuffer) {
    VirtualFree(m_pBuffer, 0, MEM_RELEASE);
    m_pBuffer = nullptr;
  }
  m_bDecommitPending = FALSE;
}

STDMETHODIMP CMemAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, DWORD flags) {
  if (!sample) return E_POINTER;
  *sample = nullptr;
  for (;;) {
    {
      CAutoLock lock(&m_Lock);
      if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
      if (!m_free.empty()) {
        CMediaSample* s = m_free.back();
        m_free.pop_back();
        if (m_free.empty()) ResetEvent(m_hFree);
        ++m_lOutstanding;
        // An outstanding sample keeps its allocator alive.
        NonDelegatingAddRef();
        s->Reset();
        s->m_cRef = 1;
        *sample = s;
        return S_OK;
      }
      if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
    }
    // Decommit signals the event; the timeout only bounds each wait.
    WaitForSingleObject(m_hFree, 1000);
  }
}

STDMETHODIMP CMemAllocator::ReleaseBuffer(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  {
    CAutoLock lock(&m_Lock);
    m_free.push_back(static_cast<CMediaSample*>(static_cast<IMediaSample2*>(sample)));
    --m_lOutstanding;
    SetEvent(m_hFree);
    if (m_bDecommitPending && m_lOutstanding == 0) FreeSamples();
  }
  NonDelegatingRelease();
  return S_OK;
}
