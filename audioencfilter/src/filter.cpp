// The audio encoder filter object: defaults, pins, media types and buffer
// sizing, and the Pause/Stop state changes.
#include "audioencfilter/filter.h"

#include <mmreg.h>

#include <cstring>
#include <new>

#include "audioencfilter/guids.h"

namespace {
// Module-wide instance counter; read only in end-of-stream reports.
volatile LONG g_instances = 0;

const char kObjectName[] = "Kestrune GSM-AMR,EVRC and AAC Encoder - Tavistra";
}  // namespace

CUnknown* WINAPI CKRAudEncFlt::CreateInstance(LPUNKNOWN outer, HRESULT* hr) {
  auto* filter = new (std::nothrow) CKRAudEncFlt(outer);
  if (!filter && hr) *hr = E_OUTOFMEMORY;
  return filter;
}

LONG CKRAudEncFlt::InstanceCount() { return g_instances; }

CKRAudEncFlt::CKRAudEncFlt(LPUNKNOWN outer) : CTransformFilter(kObjectName, outer, CLSID_KRAudEncFlt) {
  m_instance = static_cast<uint32_t>(InterlockedIncrement(&g_instances));
  SetDefaults();
  m_workBuffer = nullptr;
  m_byteClockMs = 0;
  m_byteClockWholeMs = 0;
  m_inputPosition = 0;
  m_driftCheckCount = 0;
  m_outputSampleSize = 20480;
  m_workBufferSize = 5120;
  m_firstInput = true;
  m_report[0] = 0;
}

CKRAudEncFlt::~CKRAudEncFlt() {
  ReleaseEncoders();
  delete[] m_workBuffer;
  InterlockedDecrement(&g_instances);
}

void CKRAudEncFlt::SetDefaults() {
  m_inKBytes = m_inBytes = m_inSamples = m_inDropped = m_inLastTimeMs = m_inSkipped = 0;
  m_inSmallest = 96000;
  m_inLargest = 0;
  m_groupAmr = m_groupEvrc = m_groupAac = 0;

  for (int i = 0; i < SLOT_COUNT; ++i) {
    AudioStreamSlot& s = m_slots[i];
    std::memset(&s, 0, sizeof s);
    s.config.bitsPerSample = 16;
    s.config.inputChannels = 2;
    s.smallestPacket = 5120;
    s.streamId = static_cast<int16_t>(i);
    if (i == SLOT_AAC) {
      s.config.inputSampleRate = 44100;
      s.config.timeBaseRate = 44100;
      s.config.modeOrBitrateIndex = 3;
      s.config.aacObjectType = 2;
    } else {
      s.config.inputSampleRate = 8000;
      s.config.timeBaseRate = 8000;
      s.config.codecSampleRate = 8000;
      // The EVRC slot carries 1 here; nothing reads it.
      s.config.amrFrameLayout = i == SLOT_EVRC ? 1 : 0;
    }
  }

  static const uint32_t amr[8] = {12, 16, 16, 20, 20, 20, 28, 32};
  static const uint32_t aac[9] = {256, 384, 512, 768, 656, 744, 768, 656, 744};
  std::memcpy(m_amrFrameBudget, amr, sizeof amr);
  m_evrcFrameBudget = 23;
  std::memcpy(m_aacFrameBudget, aac, sizeof aac);
  m_inputSampleRate = 8000;
  m_inputChannels = 2;
  m_highestCodecRate = 8000;
}

int CKRAudEncFlt::ReleaseEncoders() {
  int released = 0;
  for (AudioStreamSlot& s : m_slots) {
    if (s.codec) {
      s.codec->Close();
      delete s.codec;
      s.codec = nullptr;
      ++released;
    }
    delete[] s.frames.frameLengths;
    s.frames.frameLengths = nullptr;
  }
  return released;
}

STDMETHODIMP CKRAudEncFlt::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IAudEncCfg)) return GetInterface(static_cast<IAudEncCfg*>(this), ppv);
  if (IsEqualIID(riid, IID_IAudEncStats)) return GetInterface(static_cast<IAudEncStats*>(this), ppv);
  return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CKRAudEncFlt::GetPin(int n) {
  if (!m_pInput) {
    HRESULT hr = S_OK;
    m_pInput = new (std::nothrow) CTransformInputPin("Audio encoder input", this, &hr, L"Audio in");
    if (!m_pInput || FAILED(hr)) {
      delete m_pInput;
      m_pInput = nullptr;
      return nullptr;
    }
    m_pOutput = new (std::nothrow) CTransformOutputPin("Audio encoder output", this, &hr, L"Audio out");
    if (!m_pOutput || FAILED(hr)) {
      delete m_pOutput;
      m_pOutput = nullptr;
      delete m_pInput;
      m_pInput = nullptr;
      return nullptr;
    }
  }
  if (n == 0) return m_pInput;
  if (n == 1) return m_pOutput;
  return nullptr;
}

STDMETHODIMP CKRAudEncFlt::FindPin(LPCWSTR id, IPin** pin) {
  if (!pin) return E_POINTER;
  int index;
  if (id && lstrcmpW(id, L"Audio in") == 0) {
    index = 0;
  } else if (id && lstrcmpW(id, L"Audio out") == 0) {
    index = 1;
  } else {
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  CBasePin* p = GetPin(index);
  *pin = p;
  if (!p) return E_OUTOFMEMORY;
  p->AddRef();
  return S_OK;
}

HRESULT CKRAudEncFlt::CheckInputType(const CMediaType* in) {
  if (!IsEqualGUID(*in->Type(), MEDIATYPE_Audio) || !IsEqualGUID(*in->Subtype(), MEDIASUBTYPE_PCM) ||
      !IsEqualGUID(*in->FormatType(), FORMAT_WaveFormatEx) || !in->Format() ||
      in->FormatLength() < sizeof(WAVEFORMATEX) - sizeof(WORD)) {
    return E_INVALIDARG;
  }
  const auto* wf = reinterpret_cast<const WAVEFORMATEX*>(in->Format());
  if (wf->wFormatTag != WAVE_FORMAT_PCM && wf->wFormatTag != WAVE_FORMAT_KRENCODED) return E_INVALIDARG;
  if (wf->nChannels != m_inputChannels || wf->wBitsPerSample != 16 || wf->nSamplesPerSec != m_inputSampleRate) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  return S_OK;
}

HRESULT CKRAudEncFlt::GetMediaType(int position, CMediaType* mt) {
  CAutoLock lock(&m_csFilter);
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
  const CMediaType& in = m_pInput->CurrentMediaType();
  const auto* src = reinterpret_cast<const WAVEFORMATEX*>(in.Format());
  auto* wf = reinterpret_cast<WAVEFORMATEX*>(mt->AllocFormatBuffer(sizeof(WAVEFORMATEX)));
  if (!wf) return E_OUTOFMEMORY;
  std::memset(wf, 0, sizeof *wf);
  // The output format describes the PCM input; the codecs travel in the packets.
  wf->wFormatTag = WAVE_FORMAT_KRENCODED;
  wf->nChannels = src->nChannels;
  wf->nSamplesPerSec = src->nSamplesPerSec;
  wf->nAvgBytesPerSec = src->nAvgBytesPerSec;
  wf->nBlockAlign = src->nBlockAlign;
  wf->wBitsPerSample = src->wBitsPerSample;
  wf->cbSize = 0;
  mt->SetType(&MEDIATYPE_Audio);
  mt->SetSubtype(&MEDIASUBTYPE_KREncodedAudio);
  mt->SetFormatType(&FORMAT_WaveFormatEx);
  mt->SetTemporalCompression(FALSE);
  if (m_outputSampleSize == 0) m_outputSampleSize = 20480;
  mt->SetSampleSize(m_outputSampleSize);
  return S_OK;
}

HRESULT CKRAudEncFlt::CheckTransform(const CMediaType*, const CMediaType* out) {
  for (int i = 0;; ++i) {
    CMediaType offered;
    if (GetMediaType(i, &offered) != S_OK) break;
    if (offered == *out) return S_OK;
  }
  return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CKRAudEncFlt::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  request->cBuffers = 2;
  m_outputSampleSize = 3700u * static_cast<uint32_t>(m_groupAmr) + 2800u * static_cast<uint32_t>(m_groupEvrc) +
                       38650u * static_cast<uint32_t>(m_groupAac);
  request->cbBuffer = m_outputSampleSize > 32 ? static_cast<long>(m_outputSampleSize)
                                              : static_cast<long>(m_pOutput->CurrentMediaType().lSampleSize);
  ALLOCATOR_PROPERTIES actual = {};
  HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < request->cbBuffer ? E_INVALIDARG : S_OK;
}

STDMETHODIMP CKRAudEncFlt::Pause() {
  CAutoLock lock(&m_csConfig);
  return CTransformFilter::Pause();
}

STDMETHODIMP CKRAudEncFlt::Stop() {
  CAutoLock lock(&m_csConfig);
  if (m_State == State_Stopped) return S_OK;
  // From running as from paused: a Stop that answered S_OK while the filter
  // kept running would leave the graph half stopped.
  Sleep(10);
  return CTransformFilter::Stop();
}
