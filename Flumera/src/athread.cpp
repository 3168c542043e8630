#include "flumera/athread.h"

#include <process.h>

#include <cstdio>

AThread::AThread() {
  lock_ = new CRITICAL_SECTION;
  InitializeCriticalSection(lock_);
}

AThread::~AThread() {
  Terminate();
  DeleteCriticalSection(lock_);
  delete lock_;
}

bool AThread::Run(int nEvents, HANDLE* events, Handler* handlers, unsigned long timeout) {
  const HANDLE heap = GetProcessHeap();
  auto release = [&] {
    for (int i = 0; i < nEvents; ++i) CloseHandle(events[i]);
    if (events) HeapFree(heap, 0, events);
    if (handlers) HeapFree(heap, 0, handlers);
  };
  EnterCriticalSection(lock_);
  if (thread_ != nullptr || nEvents < 0) {
    LeaveCriticalSection(lock_);
    release();
    return false;
  }
  HANDLE* all = static_cast<HANDLE*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(HANDLE) * (nEvents + 1)));
  HANDLE terminate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!all || !terminate) {
    if (all) HeapFree(heap, 0, all);
    if (terminate) CloseHandle(terminate);
    LeaveCriticalSection(lock_);
    release();
    return false;
  }
  all[0] = terminate;
  terminate_ = terminate;
  for (int i = 0; i < nEvents; ++i) all[i + 1] = events[i];
  events_ = all;
  handlers_ = handlers;
  count_ = nEvents + 1;
  timeout_ = timeout;
  timeoutCount_ = 0;
  thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &AThread::main_wrapper, this, 0, &threadId_));
  if (thread_ == nullptr) {
    // The caller's handles are closed with the arrays, as the thread would have.
    CloseHandle(terminate);
    terminate_ = nullptr;
    HeapFree(heap, 0, all);
    events_ = nullptr;
    handlers_ = nullptr;
    count_ = 0;
    LeaveCriticalSection(lock_);
    for (int i = 0; i < nEvents; ++i) CloseHandle(events[i]);
    if (events) HeapFree(heap, 0, events);
    if (handlers) HeapFree(heap, 0, handlers);
    return false;
  }
  if (events) HeapFree(heap, 0, events);
  LeaveCriticalSection(lock_);
  Sleep(0);
  return true;
}

unsigned __stdcall AThread::main_wrapper(void* self) {
  static_cast<AThread*>(self)->real_main();
  return 0;
}

unsigned AThread::real_main() {
  bool go = true;
  while (go) {
    const DWORD r = WaitForMultipleObjects(DWORD(count_), events_, FALSE, timeout_);
    if (r == WAIT_OBJECT_0) {
      go = TerminateHandler();
    } else if (r == WAIT_TIMEOUT) {
      go = TimeOutHandler();
    } else if (r == WAIT_FAILED) {
      go = FailHandler();
    } else if (r > WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + DWORD(count_)) {
      const int i = int(r - WAIT_OBJECT_0);
      ResetEvent(events_[i]);
      go = (this->*handlers_[i - 1])();
    } else {
      go = FailHandler();  // an abandoned wait: treat as failed
    }
  }
  // The thread owns the caller's events and the two tables: release them on
  // the way out. The terminate event stays until Terminate has joined us, so
  // that signalling it never races with its closing.
  const HANDLE heap = GetProcessHeap();
  for (int i = 1; i < count_; ++i) CloseHandle(events_[i]);
  HeapFree(heap, 0, events_);
  if (handlers_) HeapFree(heap, 0, handlers_);
  events_ = nullptr;
  handlers_ = nullptr;
  return 0;
}

void AThread::Terminate() {
  EnterCriticalSection(lock_);
  if (thread_ != nullptr) {
    DWORD code = 0;
    if (GetExitCodeThread(thread_, &code) && code == STILL_ACTIVE) {
      SetEvent(terminate_);
      DWORD waited = 0;
      while (WaitForSingleObject(thread_, kTerminateWaitMs) == WAIT_TIMEOUT) {
        // Closing a running thread's handle and freeing what it uses would
        // pull the ground from under it; keep waiting and say so.
        waited += kTerminateWaitMs;
        char line[96];
        std::snprintf(line, sizeof line, "AThread %u: still running %lu ms after terminate\r\n", threadId_,
                      static_cast<unsigned long>(waited));
        OutputDebugStringA(line);
      }
    }
    CloseHandle(thread_);
    CloseHandle(terminate_);
    terminate_ = nullptr;
    thread_ = nullptr;
    threadId_ = 0;
    timeoutCount_ = 0;
  }
  LeaveCriticalSection(lock_);
}

bool AThread::IsActive() {
  EnterCriticalSection(lock_);
  DWORD code = 0;
  const bool active = thread_ != nullptr && GetExitCodeThread(thread_, &code) && code == STILL_ACTIVE;
  LeaveCriticalSection(lock_);
  return active;
}

void AThread::SetPriority(int priority) { SetThreadPriority(thread_, priority); }
bool AThread::TerminateHandler() { return false; }
bool AThread::FailHandler() { return false; }

bool AThread::TimeOutHandler() {
  ++timeoutCount_;
  if (timeoutCount_ * 20 < timeout_) return true;
  OutputDebugStringA("Time Out !!!\r\n");
  return false;
}

unsigned AThread::GetID() { return threadId_; }
HANDLE AThread::GetHandle() { return thread_; }
DWORD AThread::Suspend() { return SuspendThread(thread_); }
DWORD AThread::Resume() { return ResumeThread(thread_); }
