// The output threads' common part and the TCP sender.
#include <winsock2.h>

#include "flumera/kr_flumera.h"
#include "flumera/rtsp_request.h"
#include "server_parts.h"

StreamOutput::StreamOutput(KRFlumera& owner) : owner_(owner) { InitializeCriticalSection(&outLock_); }

StreamOutput::~StreamOutput() {
  Terminate();
  ReleaseQueued();
  DeleteCriticalSection(&outLock_);
}

void StreamOutput::FreeItem(MsgItem* item) {
  owner_.FreeMediaBuffer(item->data, item->length);
  FreeMsgItem(item);
}

void StreamOutput::ReleaseQueued() {
  while (MsgItem* item = queue_.Pop()) FreeItem(item);
}

void StreamOutput::Open() {
  ReleaseQueued();
  opened_ = true;
}

void StreamOutput::Finish() {
  ReleaseQueued();
  opened_ = false;
}

void StreamOutput::Start() {
  EnterCriticalSection(&outLock_);
  if (!IsActive() && owner_.GetCurState() != KRS_STOPALL) {
    const HANDLE heap = GetProcessHeap();
    auto* events = static_cast<HANDLE*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(HANDLE)));
    auto* handlers = static_cast<Handler*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(Handler)));
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (events && handlers && event) {
      events[0] = event;
      handlers[0] = static_cast<Handler>(&StreamOutput::OnData);
      dataEvent_ = event;
      if (Run(1, events, handlers, waitTimeout_)) {
        SetPriority(THREAD_PRIORITY_ABOVE_NORMAL);
      } else {
        dataEvent_ = nullptr;  // Run released the event and the tables
      }
    } else {
      if (events) HeapFree(heap, 0, events);
      if (handlers) HeapFree(heap, 0, handlers);
      if (event) CloseHandle(event);
    }
  }
  LeaveCriticalSection(&outLock_);
}

void StreamOutput::Stop() {
  if (IsActive()) Terminate();
  EnterCriticalSection(&outLock_);
  dataEvent_ = nullptr;  // the thread closed it
  LeaveCriticalSection(&outLock_);
  if (opened_) Finish();
}

bool StreamOutput::Accept(MsgItem*) { return true; }

void StreamOutput::Post(MsgItem* item) {
  if (!Accept(item)) return;
  EnterCriticalSection(&outLock_);
  queue_.Insert(item);
  if (dataEvent_) SetEvent(dataEvent_);
  LeaveCriticalSection(&outLock_);
}

void TcpSender::Open() {
  StreamOutput::Open();
  startTick_ = GetTickCount();
}

bool TcpSender::Accept(MsgItem* item) {
  // Device clients get no media: nothing may wait here for ever.
  FreeItem(item);
  return false;
}

void TcpSender::Finish() {
  ReleaseQueued();
  ClientLists& lists = owner_.Parts()->clients;
  const unsigned long session = owner_.GetSessionInfo() ? owner_.GetSessionInfo()->sessionNumber : 0;
  lists.Lock();
  for (DESTLISTITEM* c : lists.all)
    if (c->kind == 2 && c->counted) c->Send(flumera::EndOfStreamNotice(c->setupLine, session));
  lists.Unlock();
  opened_ = false;
}
