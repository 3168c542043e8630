#include "flumera/kr_flumera.h"

#include <winsock2.h>

#include <cstring>
#include <new>

#include "flumera/rtsp_request.h"
#include "server_parts.h"

namespace {

// One counter for every process that loads Flumera: it names the archive
// writer's spool file, which must not clash between processes.
volatile long g_instanceCounter __attribute__((section(".shared"), shared)) = 0;

KRStreamException* MakeException(long error, long line) {
  auto* e = new KRStreamException{};
  e->error = error;
  std::strncpy(e->file, __FILE__, sizeof e->file - 1);
  e->line = line;
  return e;
}

}  // namespace

KRFlumera::KRFlumera(const _tagPRODUCTCONFIGINFO* product, const _tagSYSTEMPARAMETERS* system)
    : product_(*product) {
  InitializeCriticalSection(&stateLock_);
  if (system) system_ = *system;
  parts_ = new ServerParts(*this, int(product_.listenerPorts));
  videoHeap_ = HeapCreate(0, 0, 0);
  audioHeap_ = HeapCreate(0, 0, 0);
  instance_ = InterlockedIncrement(&g_instanceCounter);
}

bool KRFlumera::Start() {
  if (!videoHeap_ || !audioHeap_) return false;
  queueEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const HANDLE heap = GetProcessHeap();
  auto* events = static_cast<HANDLE*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(HANDLE)));
  auto* handlers = static_cast<Handler*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(Handler)));
  if (!queueEvent_ || !events || !handlers) {
    if (events) HeapFree(heap, 0, events);
    if (handlers) HeapFree(heap, 0, handlers);
    return false;
  }
  events[0] = queueEvent_;
  handlers[0] = static_cast<Handler>(&KRFlumera::AppMsgDataHandler);
  return Run(1, events, handlers, INFINITE);
}

KRFlumera::~KRFlumera() {
  // The controller thread first finishes what is queued and ends, so that
  // tearing down below never races with a handler. Then everything stops,
  // whatever state a failed Prime or the host left behind.
  Terminate();
  if (GetCurState() != KRS_CONFIG) StopAll();
  while (MsgItem* item = queue_.Pop()) DiscardItem(item);
  delete parts_;
  if (videoHeap_) HeapDestroy(videoHeap_);
  if (audioHeap_) HeapDestroy(audioHeap_);
  DeleteCriticalSection(&stateLock_);
}

KRStreamStates KRFlumera::GetCurState() {
  EnterCriticalSection(&stateLock_);
  const KRStreamStates s = state_;
  LeaveCriticalSection(&stateLock_);
  return s;
}

void KRFlumera::SetCurState(KRStreamStates state) {
  EnterCriticalSection(&stateLock_);
  state_ = state;
  LeaveCriticalSection(&stateLock_);
}

unsigned char* KRFlumera::GetVideoMem(unsigned long size) {
  return static_cast<unsigned char*>(HeapAlloc(videoHeap_, HEAP_ZERO_MEMORY, size));
}

unsigned char* KRFlumera::GetAudioMem(int size) {
  if (size < 0) return nullptr;
  return static_cast<unsigned char*>(HeapAlloc(audioHeap_, HEAP_ZERO_MEMORY, SIZE_T(size)));
}

void KRFlumera::FreeVideoMem(unsigned char* p) {
  if (p) HeapFree(videoHeap_, 0, p);
}

void KRFlumera::FreeAudioMem(unsigned char* p) {
  if (p) HeapFree(audioHeap_, 0, p);
}

bool KRFlumera::FreeMediaBuffer(unsigned char* data, int length) {
  // The tag is the last byte inside the counted length; a buffer with no
  // room for one, or a tag naming neither heap, is not ours to free.
  if (data == nullptr || length < 1) return false;
  switch (data[length - 1]) {
    case kVideoBufferTag: FreeVideoMem(data); return true;
    case kAudioBufferTag: FreeAudioMem(data); return true;
    default: return false;
  }
}

unsigned long KRFlumera::NextClientId() {
  long id;
  while ((id = InterlockedIncrement(&nextClientId_)) == 0) {
  }
  return static_cast<unsigned long>(id);
}

void KRFlumera::DiscardItem(MsgItem* item) {
  // Only media buffers are ours; the session record and anything else the
  // host sends stays the host's.
  if (item->type == KRM_MEDIA_DATA) FreeMediaBuffer(item->data, item->length);
  FreeMsgItem(item);
}

long KRFlumera::SendMsgToMe(KRStreamMsgTypes type, MsgPriority priority, unsigned char* data, int length,
                            unsigned long extra) {
  // While stopping, media are dropped; control messages still queue, so the
  // host that sent one while a Stop was running still gets its reply.
  const bool drop = type == KRM_MEDIA_DATA && GetCurState() == KRS_STOPALL;
  MsgItem* item = drop ? nullptr : AllocMsgItem();
  if (item == nullptr) {
    if (type == KRM_MEDIA_DATA) FreeMediaBuffer(data, length);
  } else {
    item->type = type;
    item->priority = priority;
    item->data = data;
    item->length = length;
    item->extra = extra;
    queue_.Insert(item);
    SetEvent(queueEvent_);
  }
  Sleep(0);
  return 0;
}

void KRFlumera::SendMsgToApp(KRStreamMsgTypes type, unsigned char* data, int length, unsigned long extra) {
  MsgItem* item = AllocMsgItem();
  if (item == nullptr || session_ == nullptr || session_->appQueue == nullptr) {
    FreeMsgItem(item);
    if (data) HeapFree(GetProcessHeap(), 0, data);  // client records come from the process heap
    return;
  }
  item->type = type;
  item->data = data;
  item->length = length;
  item->extra = extra;
  session_->appQueue->Insert(item);
  if (session_->appEvent) SetEvent(session_->appEvent);
  Sleep(0);
}

bool KRFlumera::AppMsgDataHandler() {
  // The event was reset before this call: everything queued is handled now,
  // control messages included, or a message behind another would wait for
  // a signal that may never come.
  while (MsgItem* item = queue_.Pop()) {
    switch (item->type) {
      case KRM_MEDIA_DATA: Mpeg4Handler(item); break;
      case KRM_PRIME: PrimeHandler(item); break;
      case KRM_PLAY: PlayHandler(item); break;
      case KRM_STOP: StopHandler(item); break;
      case KRM_PAUSE: PauseHandler(item); break;
      case KRM_ADMISSION: SecurityHandler(item); break;
      default: DiscardItem(item); break;
    }
  }
  return true;
}

void KRFlumera::Reply(MsgItem* item, unsigned long result) {
  if (session_ == nullptr || session_->appQueue == nullptr) {
    FreeMsgItem(item);  // no Prime has named the host's queue yet
    return;
  }
  item->type = static_cast<KRStreamMsgTypes>(item->type + 5);
  item->data = nullptr;
  item->length = 0;
  item->extra = result;
  session_->appQueue->Insert(item);
  if (session_->appEvent) SetEvent(session_->appEvent);
  Sleep(0);
}

void KRFlumera::PrimeHandler(MsgItem* item) {
  switch (GetCurState()) {
    case KRS_CONFIG: {
      auto* session = reinterpret_cast<_tagSESSIONINFO*>(item->data);
      if (session == nullptr) {
        Reply(item, KR_RESULT_WRONG_STATE);
        return;
      }
      session_ = session;
      try {
        ConfigToPrime();
        SetCurState(KRS_PRIME);
        Reply(item, KR_RESULT_OK);
      } catch (KRStreamException* e) {
        exception_ = *e;
        hasException_ = true;
        delete e;
        SetCurState(KRS_ERROR);
        Reply(item, KR_RESULT_EXCEPTION);
      }
      return;
    }
    case KRS_STOPALL: Reply(item, KR_RESULT_OK); return;
    default: Reply(item, KR_RESULT_WRONG_STATE); return;
  }
}

void KRFlumera::PlayHandler(MsgItem* item) {
  switch (GetCurState()) {
    case KRS_PRIME:
      PrimeToPlay();
      SetCurState(KRS_PLAY);
      Reply(item, KR_RESULT_OK);
      return;
    case KRS_PAUSE: SetCurState(KRS_PLAY); Reply(item, KR_RESULT_OK); return;
    case KRS_STOPALL: Reply(item, KR_RESULT_OK); return;
    default: Reply(item, KR_RESULT_WRONG_STATE); return;
  }
}

void KRFlumera::StopHandler(MsgItem* item) {
  switch (GetCurState()) {
    case KRS_ERROR: Reply(item, KR_RESULT_WRONG_STATE); return;
    case KRS_PRIME:
    case KRS_PLAY:
    case KRS_PAUSE:
      // Prime and Pause hold sockets and threads as much as Play does: all
      // of them are released, or the next Prime finds its ports taken.
      StopAll();
      Reply(item, KR_RESULT_OK);
      return;
    default: Reply(item, KR_RESULT_OK); return;
  }
}

void KRFlumera::PauseHandler(MsgItem* item) {
  if (GetCurState() == KRS_PLAY) SetCurState(KRS_PAUSE);
  Reply(item, KR_RESULT_OK);
}

void KRFlumera::SecurityHandler(MsgItem* item) {
  ClientLists& lists = parts_->clients;
  lists.Lock();
  DESTLISTITEM* c = lists.Find(static_cast<unsigned long>(item->length));
  if (c != nullptr && c->status == kClientAwaitingVerdict) {
    if (item->extra != 0) {
      StartOutputsOnAdmission(c->kind == 2);
      if (c->listener >= 0 && c->listener < parts_->listenerCount)
        InterlockedIncrement(&parts_->listeners[c->listener]->admitted);
      c->counted = true;
      c->inactivity = 0;
      if (c->kind == 2) {
        ReplyThisClient(c, true);
        c->status = kClientAwaitingRegistration;
        parts_->udp1.Register(c);
      } else {
        // A held kind-1 SETUP: the answer it would have had at once.
        flumera::SetupReplyInfo info;
        info.session = session_->sessionNumber;
        info.serverPort1 = info.serverPort2 = parts_->listeners[c->listener]->Port();
        c->Send(flumera::SetupReplyText(c->cseqLine + "\r\n" + c->transport + "\r\n\r\n", info));
        c->status = kClientSetUp;
      }
    } else {
      ReplyThisClient(c, false);
      DropClient(*this, c);
    }
  }
  lists.Unlock();
  FreeMsgItem(item);
}

void KRFlumera::ReplyThisClient(DESTLISTITEM* c, bool admit) {
  if (!admit) {
    c->Send(flumera::RefusalReply(c->setupCSeq));
    return;
  }
  flumera::SetupReplyInfo info;
  info.session = session_->sessionNumber;
  info.serverPort1 = session_->udpPort1;
  info.serverPort2 = session_->udpPort2;
  info.maxPacketSize = 1024;
  info.rtcpInterval = system_.monitorInterval;
  c->Send(flumera::SetupReplyNumbers(c->setupCSeq, c->clientPort1, c->clientPort2, info));
}

bool KRFlumera::MoveState(KRStreamStates to) {
  EnterCriticalSection(&stateLock_);
  const bool ok = state_ == KRS_PRIME || state_ == KRS_PLAY || state_ == KRS_PAUSE;
  if (ok) state_ = to;
  LeaveCriticalSection(&stateLock_);
  return ok;
}

void KRFlumera::ResumeByClient() {
  // Under the all-clients lock: the sender is started only when its thread
  // is not there (a running sender takes its send lock before that lock).
  if (MoveState(KRS_PLAY) && (session_->outputMask & 1) && !parts_->rtpSender.IsRunning()) parts_->rtpSender.Start();
}

void KRFlumera::StartOutputsOnAdmission(bool device) {
  const unsigned long mask = session_->outputMask;
  if (device && (mask & 2)) parts_->tcpSender.Start();
  if (mask & 4) parts_->archive.Start();
}

void KRFlumera::Mpeg4Handler(MsgItem* item) {
  // Every running output chosen by the mask gets a buffer of its own; the
  // TCP sender's device clients get no media.
  StreamOutput* targets[2];
  int n = 0;
  const unsigned long mask = session_ ? session_->outputMask : 0;
  if (GetCurState() == KRS_PLAY && item->data && item->length > 0) {
    if ((mask & 1) && parts_->rtpSender.IsRunning()) targets[n++] = &parts_->rtpSender;
    if ((mask & 4) && parts_->archive.IsRunning()) targets[n++] = &parts_->archive;
  }
  if (n == 0) {
    DiscardItem(item);
    return;
  }
  for (int i = 0; i + 1 < n; ++i) {
    if (MsgItem* copy = CopyMediaItem(item)) targets[i]->Post(copy);
  }
  targets[n - 1]->Post(item);
}

MsgItem* KRFlumera::CopyMediaItem(const MsgItem* item) {
  const unsigned char tag = item->data[item->length - 1];
  if (tag != kVideoBufferTag && tag != kAudioBufferTag) return nullptr;
  const HANDLE heap = tag == kVideoBufferTag ? videoHeap_ : audioHeap_;
  // The whole block: the time words lie behind the counted length.
  const SIZE_T size = HeapSize(heap, 0, item->data);
  if (size == SIZE_T(-1)) return nullptr;
  auto* data = static_cast<unsigned char*>(HeapAlloc(heap, 0, size));
  MsgItem* copy = data ? AllocMsgItem() : nullptr;
  if (copy == nullptr) {
    if (data) HeapFree(heap, 0, data);
    return nullptr;
  }
  std::memcpy(data, item->data, size);
  *copy = *item;
  copy->data = data;
  copy->next = nullptr;
  return copy;
}

void KRFlumera::ConfigToPrime() {
  const unsigned long t = GetTickCount();
  unsigned long number = t >= 0x1000000 ? (t & 0xABCDEF) : t;
  if (number <= 4096) number += 788015 + sessionCounter_++;
  session_->sessionNumber = number;

  const unsigned long mask = session_->outputMask;
  if (mask & 4) parts_->archive.Open();
  parts_->udp1.SetInterval(10);
  if (mask & 3) {
    for (int i = 0; i < parts_->listenerCount; ++i) {
      RtspListener* l = parts_->listeners[i];
      const unsigned short port = static_cast<unsigned short>(session_->rtspPorts[i]);
      if (l->OpenSocket(port) != kSocketOk) {
        const long error = l->SocketError();
        SendMsgToApp(KRM_PORT_FAILURE, nullptr, 0, port);
        StopAll();
        throw MakeException(error, 903);
      }
    }
    for (int i = 0; i < parts_->listenerCount; ++i) parts_->listeners[i]->Start();
  }
  if (mask & 1) parts_->rtpSender.Open();
  if (mask & 2) {
    parts_->tcpSender.Open();
    auto fail = [this](int error, unsigned long port, long line) {
      SendMsgToApp(KRM_PORT_FAILURE, nullptr, 0, port);
      StopAll();
      throw MakeException(error, line);
    };
    if (parts_->udp1.OpenSocket(static_cast<unsigned short>(session_->udpPort1)) != kSocketOk)
      fail(parts_->udp1.SocketError(), session_->udpPort1, 923);
    parts_->udp1.Start();
    if (parts_->udp2.OpenSocket(static_cast<unsigned short>(session_->udpPort2)) != kSocketOk)
      fail(parts_->udp2.SocketError(), session_->udpPort2, 932);
    parts_->udp2.SetInterval(system_.monitorInterval ? system_.monitorInterval : 500);
    parts_->udp2.Start();
    parts_->monitor.SetInterval(500);
    parts_->monitor.Start();
  }
}

void KRFlumera::PrimeToPlay() {
  const unsigned long mask = session_->outputMask;
  if (mask & 1) {
    parts_->rtpSender.Start();
  } else if (mask == 4) {
    parts_->archive.Start();
  }
}

void KRFlumera::StopAll() {
  SetCurState(KRS_STOPALL);
  // The threads that could admit clients or move the state end first; then
  // the outputs, which send every client its end notice.
  for (int i = 0; i < parts_->listenerCount; ++i) parts_->listeners[i]->Close();
  parts_->monitor.Stop();
  parts_->udp2.Close();
  parts_->udp1.Close();
  ClientLists& lists = parts_->clients;
  lists.Lock();
  for (DESTLISTITEM* c : lists.all) shutdown(c->socket, SD_RECEIVE);
  lists.Unlock();
  parts_->rtpSender.Stop();
  parts_->tcpSender.Stop();
  parts_->archive.Stop();
  lists.Lock();
  while (!lists.all.empty()) DropClient(*this, lists.all.back());
  lists.Unlock();
  // Media still queued are not taken out here: the handler loop drops them
  // (the state is no longer Play) and answers the control messages among
  // them in their order; taking items out and putting them back would let
  // the host's newer messages overtake them.
  SetCurState(KRS_CONFIG);
}

class KRFlumeraFactory {
 public:
  static KRFlumera* Make(const _tagPRODUCTCONFIGINFO* product, const _tagSYSTEMPARAMETERS* system) {
    auto* controller = new (std::nothrow) KRFlumera(product, system);
    if (controller && !controller->Start()) {
      delete controller;
      controller = nullptr;
    }
    return controller;
  }
};

int __stdcall CreateKRStreamInstance(const _tagPRODUCTCONFIGINFO* product, const _tagSYSTEMPARAMETERS* system,
                                     KRFlumera** out) {
  if (out) *out = nullptr;
  const unsigned long major = system ? system->winsockMajor : 2, minor = system ? system->winsockMinor : 2;
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(major, minor), &wsa) != 0) return 1;
  if (LOBYTE(wsa.wVersion) != major || HIBYTE(wsa.wVersion) != minor) {
    WSACleanup();
    return 2;
  }
  if (product == nullptr || out == nullptr || product->listenerPorts > kMaxListenerPorts) {
    WSACleanup();
    return 3;
  }
  *out = KRFlumeraFactory::Make(product, system);
  return 0;
}

int __stdcall ReleaseKRStream(KRFlumera* controller) {
  delete controller;
  WSACleanup();
  return 0;
}
