// AThread: a thread that waits on its events and calls one handler per event,
// or a time-out handler. Exported: the host may derive its own threads.
#pragma once

#include <winsock2.h>  // before windows.h, for whoever includes both
#include <windows.h>

#include "flumera/flumera_api.h"

class FLUMERA_API AThread {
 public:
  // A handler runs on the thread and returns false to end it.
  typedef bool (AThread::*Handler)();

  AThread();
  virtual ~AThread();
  AThread(const AThread&) = delete;
  AThread& operator=(const AThread&) = delete;

  // Starts the thread waiting on `events` (nEvents handles, allocated from the
  // process heap; the array is freed here and the handles then belong to the
  // thread) with one handler each (an array from the process heap that the
  // thread frees when it ends). false when a thread already runs or the
  // thread cannot be made (the handles and arrays are then released).
  virtual bool Run(int nEvents, HANDLE* events, Handler* handlers, unsigned long timeout);
  virtual bool IsActive();
  // Ends the thread: signals its terminate event and waits. A thread that
  // does not end within the bound is waited for further (logged), never
  // closed while it runs.
  virtual void Terminate();
  virtual void SetPriority(int priority);
  virtual bool TerminateHandler();
  virtual bool TimeOutHandler();
  virtual bool FailHandler();
  virtual unsigned real_main();

  unsigned GetID();
  HANDLE GetHandle();
  DWORD Suspend();
  DWORD Resume();
  static unsigned __stdcall main_wrapper(void* self);

  static constexpr DWORD kTerminateWaitMs = 1000;

 protected:
  HANDLE thread_ = nullptr;
  unsigned threadId_ = 0;
  HANDLE terminate_ = nullptr;  // slot 0 of events_
  HANDLE* events_ = nullptr;
  Handler* handlers_ = nullptr;
  int count_ = 0;
  unsigned long timeout_ = 20;
  unsigned long timeoutCount_ = 0;
  CRITICAL_SECTION* lock_ = nullptr;
};
