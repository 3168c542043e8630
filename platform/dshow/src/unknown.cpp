// COM object base, object counting and media type helpers.
#include <cwchar>

#include "dshow/base.h"

namespace {
volatile LONG g_objects = 0;
}

CBaseObject::CBaseObject(const char* name) : m_pName(name) { InterlockedIncrement(&g_objects); }
CBaseObject::~CBaseObject() { InterlockedDecrement(&g_objects); }
LONG CBaseObject::ObjectsActive() { return g_objects; }

CUnknown::CUnknown(const char* name, LPUNKNOWN outer)
    : CBaseObject(name), m_cRef(0),
      m_pUnknown(outer ? outer : reinterpret_cast<LPUNKNOWN>(static_cast<INonDelegatingUnknown*>(this))) {}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown)) {
    return GetInterface(reinterpret_cast<LPUNKNOWN>(static_cast<INonDelegatingUnknown*>(this)), ppv);
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease() {
  LONG n = InterlockedDecrement(&m_cRef);
  if (n == 0) {
    // Guards against a destructor that adds and releases a reference again.
    m_cRef = 1;
    delete this;
    return 0;
  }
  return static_cast<ULONG>(n);
}

WCHAR* CopyWideString(LPCWSTR text) {
  size_t n = (text ? wcslen(text) : 0) + 1;
  auto* p = new WCHAR[n];
  if (text) memcpy(p, text, n * sizeof(WCHAR)); else p[0] = 0;
  return p;
}

HRESULT GetInterface(LPUNKNOWN unk, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = unk;
  unk->AddRef();
  return S_OK;
}

// ---- media types ----

void FreeMediaType(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat && mt.pbFormat) CoTaskMemFree(mt.pbFormat);
  mt.cbFormat = 0;
  mt.pbFormat = nullptr;
  if (mt.pUnk) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

void DeleteMediaType(AM_MEDIA_TYPE* mt) {
  if (!mt) return;
  FreeMediaType(*mt);
  CoTaskMemFree(mt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  *target = *source;
  if (source->cbFormat && source->pbFormat) {
    target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (!target->pbFormat) {
      target->cbFormat = 0;
      return E_OUTOFMEMORY;
    }
    CopyMemory(target->pbFormat, source->pbFormat, source->cbFormat);
  } else {
    target->pbFormat = nullptr;
    target->cbFormat = 0;
  }
  if (target->pUnk) target->pUnk->AddRef();
  return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
  auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!mt) return nullptr;
  if (FAILED(CopyMediaType(mt, source))) {
    CoTaskMemFree(mt);
    return nullptr;
  }
  return mt;
}

CMediaType::CMediaType() : AM_MEDIA_TYPE() { InitMediaType(); }
CMediaType::CMediaType(const AM_MEDIA_TYPE& other) : AM_MEDIA_TYPE() {
  InitMediaType();
  CopyMediaType(this, &other);
}
CMediaType::CMediaType(const CMediaType& other) : AM_MEDIA_TYPE() {
  InitMediaType();
  CopyMediaType(this, &other);
}
CMediaType::~CMediaType() { FreeMediaType(*this); }

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other) {
  if (&other != static_cast<AM_MEDIA_TYPE*>(this)) {
    FreeMediaType(*this);
    CopyMediaType(this, &other);
  }
  return *this;
}
CMediaType& CMediaType::operator=(const CMediaType& other) { return *this = static_cast<const AM_MEDIA_TYPE&>(other); }

bool CMediaType::operator==(const CMediaType& o) const {
  return IsEqualGUID(majortype, o.majortype) && IsEqualGUID(subtype, o.subtype) &&
         IsEqualGUID(formattype, o.formattype) && cbFormat == o.cbFormat &&
         (cbFormat == 0 || memcmp(pbFormat, o.pbFormat, cbFormat) == 0);
}

void CMediaType::InitMediaType() {
  FreeMediaType(*this);
  ZeroMemory(static_cast<AM_MEDIA_TYPE*>(this), sizeof(AM_MEDIA_TYPE));
  lSampleSize = 1;
  bFixedSizeSamples = TRUE;
}

void CMediaType::SetSampleSize(ULONG size) {
  if (size == 0) {
    SetVariableSize();
  } else {
    bFixedSizeSamples = TRUE;
    lSampleSize = size;
  }
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
  if (cbFormat == length && pbFormat) return pbFormat;
  BYTE* p = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (!p) return nullptr;
  if (pbFormat) {
    CopyMemory(p, pbFormat, length < cbFormat ? length : cbFormat);
    CoTaskMemFree(pbFormat);
  }
  pbFormat = p;
  cbFormat = length;
  return p;
}

bool CMediaType::SetFormat(const BYTE* format, ULONG length) {
  if (!AllocFormatBuffer(length)) return false;
  CopyMemory(pbFormat, format, length);
  return true;
}

bool CMediaType::IsPartiallySpecified() const {
  return IsEqualGUID(majortype, GUID_NULL) || IsEqualGUID(formattype, GUID_NULL);
}

bool CMediaType::MatchesPartial(const CMediaType* p) const {
  if (!IsEqualGUID(p->majortype, GUID_NULL) && !IsEqualGUID(majortype, p->majortype)) return false;
  if (!IsEqualGUID(p->subtype, GUID_NULL) && !IsEqualGUID(subtype, p->subtype)) return false;
  if (!IsEqualGUID(p->formattype, GUID_NULL)) {
    if (!IsEqualGUID(formattype, p->formattype)) return false;
    if (cbFormat != p->cbFormat) return false;
    if (cbFormat && memcmp(pbFormat, p->pbFormat, cbFormat) != 0) return false;
  }
  return true;
}
