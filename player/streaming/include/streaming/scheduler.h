// The cooperative task scheduler that runs the streaming client's work in
// the session's thread, the millisecond clock it and the RTP code run on,
// and small wall-time and date-text utilities.
#pragma once

#include <cstdint>
#include <atomic>
#include <mutex>

#include "streaming/client_services.h"

namespace streaming {

using TaskFunction = void (*)(void* context);

class TaskScheduler {
 public:
  TaskScheduler() = default;
  virtual ~TaskScheduler();
  TaskScheduler(const TaskScheduler&) = delete;
  TaskScheduler& operator=(const TaskScheduler&) = delete;

  // Priority -1, 0 or +1 (others are clamped); 0 when no record could be
  // had, else the task's identifier.
  uint32_t AddTask(TaskFunction function, void* context, int32_t priority);
  // Marks the task removed; the loop unlinks and frees it. Takes the lock,
  // so it never races the loop that frees records.
  bool RemoveTask(uint32_t id);
  // Runs passes until Stop, or until limitMs of stream-clock time passed
  // (0 = no limit). Over four passes the +1 list runs eight times, the 0
  // list twice and the -1 list once; one 1 ms sleep every eight passes.
  bool Run(uint32_t limitMs);
  // From another thread (not from a task): ends Run and frees every task.
  void Stop();
  // The lock every pass runs under; a request stepped in the caller's
  // thread takes it too.
  std::recursive_mutex& lock() { return lock_; }

 protected:
  struct Task {
    uint32_t id;
    TaskFunction function;
    void* context;
    bool removed;
    Task* next;
  };
  virtual Task* AllocTask();
  virtual void FreeTask(Task* task);

 private:
  void WalkList(int index);
  void FreeAll();

  Task* lists_[3] = {nullptr, nullptr, nullptr};  // by priority + 1
  uint32_t nextId_ = 0;
  std::atomic<bool> stop_{false};
  // Tasks run with the lock held and may add tasks: the lock is re-entered.
  std::recursive_mutex lock_;
};

// The millisecond clock. Plain mode: ticks since the start plus an offset.
// Wall-clock mode also takes a wall-time base and serialises GetTime.
class TickClock : public ::TickClock {
 public:
  TickClock();
  uint32_t StartWallClock(uint32_t wallClockMode) override;
  uint32_t SetTime(uint32_t ms) override;
  uint32_t GetTime() override;
  void GetRates(float& first, float& second) const;
  void CloseEvent() override {}

 private:
  uint64_t baseWallMs_ = 0;
  uint64_t tickBase_ = 0;
  float rates_[3] = {1.0f, 1.0f, 1.0f};
  bool flags_[2] = {true, true};
  // Drift correction: the rate moves from the previous to the new one over a
  // span of scaled time once the two differ by more than 1000 ms.
  double lastScaled_ = 0;
  double correctionSpan_ = 0;
  double correctionProgress_ = 0;
  bool correcting_ = false;
  float previousRate_ = 1.0f;
  int64_t offset_ = 0;
  bool started_ = false;
  bool wallClockMode_ = false;
  std::mutex event_;
};

// The one clock of the whole process that RTP, RTCP, probes and the
// scheduler's time limit read.
void CreateStreamClock();
uint32_t GetStreamClockTime();  // 0 when there is no clock
void ResetStreamClock();
void DestroyStreamClock();

// Wall time: 100-ns units since 1601 (a Windows file time).
uint64_t NowFileTime();
// A file time as a 64-bit value with 32 fractional bits of seconds, on the
// NTP scale (seconds since 1900).
uint64_t FileTimeToNtp(uint64_t fileTime);
// Seconds and microseconds since 1970; false before 1970 or beyond 32 bits.
bool FileTimeToUnix(uint64_t fileTime, uint32_t& seconds, uint32_t& microseconds);
uint64_t UnixToFileTime(uint32_t seconds, uint32_t microseconds);

// 0 Sunday .. 6 Saturday; 0 for an invalid date.
int32_t DayOfWeek(int32_t year, int32_t month, int32_t day);
// "YYYYMMDDTHHMMSS" to "%s %s %2d %02d:%02d:%02d %04d"; false on bad input
// or too small an output.
bool IsoToCtimeDate(const char* iso, char* out, uint32_t size);
// "Www Mmm dd hh:mm:ss yyyy" to "%04d%02d%02dT%02d%02d%02d.000Z".
bool CtimeToIsoDate(const char* ctime, char* out, uint32_t size);
// The RTSP Date text of a file time in UTC; an empty text when it does not fit.
void FormatGmtDate(uint64_t fileTime, uint32_t size, char* out);

}  // namespace streaming
