#include "streamer.h"

#include <evcode.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "dshow/log.h"
#include "events.h"
#include "streammux/mux_format.h"

namespace {

constexpr const char* kLog = "streamer";
constexpr DWORD kReplyWaitMs = 5000;
constexpr size_t kClientRecordBytes = 292;

void putBe32(unsigned char* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

const char* stateName(KRStreamStates s) {
  static const char* kNames[] = {"error", "config", "prime", "play", "pause", "stopping"};
  return unsigned(s) < 6 ? kNames[s] : "?";
}

}  // namespace

class CKRStreamer::InputPin : public CBaseInputPin {
 public:
  InputPin(CKRStreamer* f, HRESULT* hr) : CBaseInputPin("streamer input", f, &f->m_csFilter, hr, L"KRStreamer Input"), owner_(f) {}
  HRESULT CheckMediaType(const CMediaType* mt) override {
    return IsEqualGUID(*mt->Type(), MEDIATYPE_Stream) && IsEqualGUID(*mt->Subtype(), MEDIASUBTYPE_KRMuxStream)
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
  }
  STDMETHODIMP Receive(IMediaSample* sample) override {
    HRESULT hr = CBaseInputPin::Receive(sample);
    return hr == S_OK ? owner_->Deliver(sample) : hr;
  }
  STDMETHODIMP EndOfStream() override {
    HRESULT hr = CheckStreaming();
    if (hr == S_OK) owner_->EndOfStream();
    return hr;
  }
  STDMETHODIMP BeginFlush() override { return CBaseInputPin::BeginFlush(); }
  STDMETHODIMP EndFlush() override { return CBaseInputPin::EndFlush(); }

 private:
  CKRStreamer* owner_;
};

CUnknown* WINAPI CKRStreamer::CreateInstance(LPUNKNOWN outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CKRStreamer(outer, hr);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

CKRStreamer::CKRStreamer(LPUNKNOWN outer, HRESULT* hr) : CBaseFilter("streamer", outer, &m_csFilter, CLSID_KRStreamer) {
  HRESULT h = S_OK;
  m_pInput = new (std::nothrow) InputPin(this, &h);
  m_replyEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  m_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  m_answered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (m_replyEvent && m_stopEvent && m_answered) m_pump = CreateThread(nullptr, 0, PumpProc, this, 0, nullptr);
  if (!m_pInput || !m_pump) h = E_OUTOFMEMORY;
  if (hr) *hr = h;
  FilterLog(kLog, "created");
}

CKRStreamer::~CKRStreamer() {
  {
    CAutoLock lock(&m_csControl);
    ReleaseServer();
  }
  if (m_pump) {
    SetEvent(m_stopEvent);
    WaitForSingleObject(m_pump, 5000);
    CloseHandle(m_pump);
  }
  while (MsgItem* item = m_replies.Pop()) {
    if (item->data) HeapFree(GetProcessHeap(), 0, item->data);
    FreeMsgItem(item);
  }
  for (HANDLE h : {m_replyEvent, m_stopEvent, m_answered})
    if (h) CloseHandle(h);
  delete m_pInput;
  FilterLog(kLog, "destroyed: %ld video and %ld audio buffers sent, %ld samples refused", m_videoCount, m_audioCount,
            m_refused);
}

STDMETHODIMP CKRStreamer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IKRStreamerControl)) return GetInterface(static_cast<IKRStreamerControl*>(this), ppv);
  if (IsEqualIID(riid, IID_IAMFilterMiscFlags)) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CKRStreamer::GetPin(int n) { return n == 0 ? m_pInput : nullptr; }

// ---- control ----

STDMETHODIMP CKRStreamer::SetParam(ULONG id, LONG_PTR value, ULONG size) {
  CAutoLock lock(&m_csControl);
  const HRESULT hr = m_builder.SetParam(id, value, size);
  FilterLog(kLog, "%s%s", m_builder.LastDescription().c_str(), m_batchOpen ? "" : " (no batch open)");
  return hr;
}

STDMETHODIMP CKRStreamer::OpenBatch() {
  CAutoLock lock(&m_csControl);
  m_batchOpen = true;
  FilterLog(kLog, "batch opened");
  return S_OK;
}

STDMETHODIMP CKRStreamer::ApplyBatch() {
  CAutoLock lock(&m_csControl);
  FilterLog(kLog, "batch applied%s", m_batchOpen ? "" : " without being opened");
  m_batchOpen = false;
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  ReleaseServer();
  return Prime();
}

STDMETHODIMP CKRStreamer::SetPauseState(long keepClients) {
  CAutoLock lock(&m_csControl);
  m_keepClients = keepClients;
  FilterLog(kLog, "pause state %ld", keepClients);
  return S_OK;
}

STDMETHODIMP CKRStreamer::Grant(ULONG clientId, BYTE grant) {
  CAutoLock lock(&m_csControl);
  FilterLog(kLog, "grant client %lu: %u", clientId, grant);
  if (!m_server) return E_UNEXPECTED;
  m_server->SendMsgToMe(KRM_ADMISSION, 0, nullptr, int(clientId), grant ? 1 : 0);
  return S_OK;
}

HRESULT CKRStreamer::Prime() {
  m_records = std::make_unique<SessionRecords>();
  m_builder.Build(m_records.get());
  _tagSESSIONINFO& s = m_records->session;
  s.appQueue = &m_replies;
  s.appEvent = m_replyEvent;
  KRFlumera* server = nullptr;
  const int created = CreateKRStreamInstance(&m_records->product, &m_records->system, &server);
  if (created != 0 || !server) {
    FilterLog(kLog, "CreateKRStreamInstance: %d", created);
    return E_FAIL;
  }
  {
    CAutoLock lock(&m_csBlocks);
    m_server = server;
  }
  const long code = Request(KRM_PRIME, &s);
  FilterLog(kLog, "prime: output mask %lu, media mask %lu, %lu tracks, RTSP port %lu: reply %ld", s.outputMask,
            s.mediaMask, m_records->table.count, s.rtspPorts[0], code);
  if (code != KR_RESULT_OK) {
    ReleaseServer();
    return E_FAIL;
  }
  return S_OK;
}

void CKRStreamer::ReleaseServer() {
  if (!m_server) return;
  const KRStreamStates st = m_server->GetCurState();
  if (st == KRS_PRIME || st == KRS_PLAY || st == KRS_PAUSE) Request(KRM_STOP);
  KRFlumera* server;
  {
    CAutoLock lock(&m_csBlocks);  // the pump sends nothing to a released server
    server = m_server;
    m_server = nullptr;
  }
  ReleaseKRStream(server);
  m_records.reset();
  FilterLog(kLog, "server released");
}

long CKRStreamer::Request(KRStreamMsgTypes type, void* data) {
  ResetEvent(m_answered);
  InterlockedExchange(&m_replyType, 0);
  m_server->SendMsgToMe(type, 0, static_cast<unsigned char*>(data), 0, 0);
  const DWORD until = GetTickCount() + kReplyWaitMs;
  while (int(until - GetTickCount()) > 0) {
    WaitForSingleObject(m_answered, 50);
    if (m_replyType == long(type) + 5) return m_replyCode;
  }
  FilterLog(kLog, "no reply to message %d", int(type));
  return -1;
}

// ---- states ----

STDMETHODIMP CKRStreamer::Pause() { return CBaseFilter::Pause(); }

STDMETHODIMP CKRStreamer::Run(REFERENCE_TIME start) {
  HRESULT hr = CBaseFilter::Run(start);
  if (FAILED(hr)) return hr;
  CAutoLock lock(&m_csControl);
  if (!m_server) {
    FilterLog(kLog, "run without a primed server");
    return hr;
  }
  // A server stopped by an earlier Stop is primed again with the same records.
  if (m_server->GetCurState() == KRS_CONFIG) Request(KRM_PRIME, &m_records->session);
  const KRStreamStates st = m_server->GetCurState();
  if (st == KRS_PRIME || st == KRS_PAUSE) FilterLog(kLog, "play: reply %ld", Request(KRM_PLAY));
  return hr;
}

STDMETHODIMP CKRStreamer::Stop() {
  HRESULT hr = CBaseFilter::Stop();
  CAutoLock lock(&m_csControl);
  if (!m_server) return hr;
  const KRStreamStates st = m_server->GetCurState();
  if (st == KRS_PRIME || st == KRS_PLAY || st == KRS_PAUSE) {
    const KRStreamMsgTypes type = m_keepClients ? KRM_PAUSE : KRM_STOP;
    FilterLog(kLog, "%s in %s: reply %ld", m_keepClients ? "pause" : "stop", stateName(st), Request(type));
  }
  return hr;
}

// ---- media ----

HRESULT CKRStreamer::Deliver(IMediaSample* sample) {
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  streammux::SampleHeader h;
  if (!data || !streammux::ReadHeader(data, size_t(std::max(0L, sample->GetActualDataLength())), &h)) {
    ++m_refused;
    FilterLog(kLog, "sample without a multiplexer header: refused");
    return S_OK;
  }
  const BYTE* payload = data + streammux::kHeaderBytes;
  CAutoLock lock(&m_csControl);
  if (!m_server) {
    ++m_refused;
    return S_OK;
  }
  if (h.kind == streammux::kKindVideo) {
    // The unit, its flags byte and the tag, then time stamp and duration.
    const size_t length = size_t(h.length) + 2;
    unsigned char* p = m_server->GetVideoMem(static_cast<unsigned long>(length + 8));
    if (!p) return E_OUTOFMEMORY;
    std::memcpy(p, payload, h.length);
    p[length - 2] = h.flags;
    p[length - 1] = kVideoBufferTag;
    putBe32(p + length, h.startMs);
    putBe32(p + length + 4, h.durationMs);
    m_server->SendMsgToMe(KRM_MEDIA_DATA, 0, p, int(length), 0);
    ++m_videoCount;
  } else {
    // The packet and the tag, then time stamp, frame duration, ordering time and end.
    const uint32_t frames = h.length >= 3 ? payload[2] : 0;
    if (!frames) {
      ++m_refused;
      return S_OK;
    }
    const uint32_t frameMs = h.durationMs / frames;
    const size_t length = size_t(h.length) + 1;
    unsigned char* p = m_server->GetAudioMem(int(length + 16));
    if (!p) return E_OUTOFMEMORY;
    std::memcpy(p, payload, h.length);
    p[length - 1] = kAudioBufferTag;
    putBe32(p + length, h.startMs);
    putBe32(p + length + 4, frameMs);
    putBe32(p + length + 8, h.startMs);
    putBe32(p + length + 12, h.startMs + frameMs * frames);
    m_server->SendMsgToMe(KRM_MEDIA_DATA, 0, p, int(length), 0);
    ++m_audioCount;
  }
  return S_OK;
}

void CKRStreamer::EndOfStream() {
  FilterLog(kLog, "end of stream: %ld video and %ld audio buffers sent", m_videoCount, m_audioCount);
  NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
}

// ---- the server's messages ----

DWORD WINAPI CKRStreamer::PumpProc(void* self) {
  static_cast<CKRStreamer*>(self)->Pump();
  return 0;
}

void CKRStreamer::Pump() {
  HANDLE events[2] = {m_stopEvent, m_replyEvent};
  for (;;) {
    const DWORD r = WaitForMultipleObjects(2, events, FALSE, 1000);
    if (r == WAIT_OBJECT_0) return;
    while (MsgItem* item = m_replies.Pop()) Handle(item);
  }
}

LONG_PTR CKRStreamer::KeepBlock(const void* data, size_t length) {
  auto block = std::make_unique<unsigned char[]>(length);
  std::memcpy(block.get(), data, length);
  CAutoLock lock(&m_csBlocks);
  m_blocks.push_back(std::move(block));
  return reinterpret_cast<LONG_PTR>(m_blocks.back().get());
}

void CKRStreamer::Handle(MsgItem* item) {
  const int type = int(item->type);
  if (type >= KRM_PRIME_REPLY && type <= KRM_PAUSE_REPLY) {
    InterlockedExchange(&m_replyCode, long(item->extra));
    InterlockedExchange(&m_replyType, type);
    SetEvent(m_answered);
  } else {
    GraphEvent ev[2];
    const int n = EventsFor(type, item->extra, ev);
    for (int i = 0; i < n; ++i) {
      if (ev[i].block == GraphEvent::kRecord && item->data && item->length > 0) {
        const size_t length = std::min<size_t>(size_t(item->length), kClientRecordBytes);
        ev[i].p1 = KeepBlock(item->data, length);
        ev[i].p2 = LONG_PTR(length);
      } else if (ev[i].block == GraphEvent::kPortText) {
        char text[16];
        const int len = std::snprintf(text, sizeof text, "%lu", item->extra);
        ev[i].p1 = KeepBlock(text, size_t(len) + 1);
        ev[i].p2 = len + 1;
      }
      NotifyEvent(ev[i].code, ev[i].p1, ev[i].p2);
    }
    FilterLog(kLog, "message %d (extra %lu, length %d): %d event(s), first %ld", type, item->extra, item->length, n,
              n ? ev[0].code : 0L);
    // A client started playing while the server waits in Prime or Pause and
    // the graph already runs: it is to be told to play.
    if (type == KRM_CLIENT_PLAYING && item->extra == 0 && m_State == State_Running) {
      CAutoLock lock(&m_csBlocks);
      if (m_server) m_server->SendMsgToMe(KRM_PLAY, 0, nullptr, 0, 0);
    }
  }
  if (item->data && item->type != KRM_MEDIA_DATA) HeapFree(GetProcessHeap(), 0, item->data);
  FreeMsgItem(item);
}
