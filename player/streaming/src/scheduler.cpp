#include "streaming/scheduler.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/os.h"

namespace streaming {

TaskScheduler::~TaskScheduler() { FreeAll(); }

TaskScheduler::Task* TaskScheduler::AllocTask() { return new (std::nothrow) Task; }
void TaskScheduler::FreeTask(Task* task) { delete task; }

uint32_t TaskScheduler::AddTask(TaskFunction function, void* context, int32_t priority) {
  if (priority < -1) priority = -1;
  if (priority > 1) priority = 1;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  Task* t = AllocTask();
  if (!t) return 0;
  if (++nextId_ == 0) ++nextId_;  // 0 names no task
  *t = Task{nextId_, function, context, false, nullptr};
  Task** tail = &lists_[priority + 1];
  while (*tail) tail = &(*tail)->next;
  *tail = t;
  return t->id;
}

bool TaskScheduler::RemoveTask(uint32_t id) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  for (Task* list : lists_) {
    for (Task* t = list; t; t = t->next) {
      if (t->id == id) {
        t->removed = true;
        return true;
      }
    }
  }
  return false;
}

void TaskScheduler::WalkList(int index) {
  Task** link = &lists_[index];
  while (Task* t = *link) {
    if (t->removed) {
      const bool head = link == &lists_[index];
      *link = t->next;
      FreeTask(t);
      if (head) return;  // a removed head ends this list's walk for the pass
      continue;
    }
    t->function(t->context);
    if (stop_) return;  // Stop freed the lists from inside this pass
    link = &t->next;
  }
}

bool TaskScheduler::Run(uint32_t limitMs) {
  // A Stop that came just before the loop still ends it; the flag is reset
  // when the loop ends.
  uint32_t pass = 0, idle = 0;
  uint64_t elapsed = 0;
  while (!stop_) {
    if (limitMs && elapsed > limitMs) break;
    const uint32_t noted = limitMs ? GetStreamClockTime() : 0;
    {
      std::lock_guard<std::recursive_mutex> guard(lock_);
      ++pass;
      if (pass % 4 == 0) WalkList(0);
      if (!stop_) WalkList(2);
      if (!stop_ && (pass & 1)) WalkList(1);
      if (!stop_) WalkList(2);
    }
    if (++idle > 7) {
      platform::sleepMs(1);
      idle = 0;
    }
    if (limitMs) elapsed += uint32_t(GetStreamClockTime() - noted);
  }
  stop_ = false;
  return true;
}

void TaskScheduler::Stop() {
  stop_ = true;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  FreeAll();
}

void TaskScheduler::FreeAll() {
  for (Task*& list : lists_) {
    while (Task* t = list) {
      list = t->next;
      FreeTask(t);
    }
  }
}

namespace {
uint64_t systemMsSince1601() {
  using namespace std::chrono;
  const uint64_t unixMs = uint64_t(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
  return unixMs + 11644473600000ull;
}
}  // namespace

TickClock::TickClock() { tickBase_ = platform::monotonicMs(); }

uint32_t TickClock::StartWallClock(uint32_t wallClockMode) {
  wallClockMode_ = wallClockMode != 0;
  correcting_ = false;
  correctionSpan_ = correctionProgress_ = lastScaled_ = 0;
  tickBase_ = platform::monotonicMs();
  if (wallClockMode_) {
    // Start on an edge of the system clock so that both bases agree.
    const uint64_t first = systemMsSince1601();
    uint64_t now = first;
    for (int i = 0; i < 1000 && now == first; ++i) now = systemMsSince1601();
    tickBase_ = platform::monotonicMs();
    baseWallMs_ = now;
    for (float& r : rates_) r = 1.0f;
  }
  started_ = true;
  return 0;
}

uint32_t TickClock::SetTime(uint32_t ms) {
  offset_ += int64_t(ms) - int64_t(GetTime());
  return 0;
}

uint32_t TickClock::GetTime() {
  const uint64_t elapsed = platform::monotonicMs() - tickBase_;
  if (!wallClockMode_) return uint32_t(int64_t(elapsed) + offset_);
  std::lock_guard<std::mutex> guard(event_);
  const double d = double(elapsed);
  float rate = rates_[0];
  if (correcting_) {
    correctionProgress_ = d - lastScaled_;
    if (correctionProgress_ >= correctionSpan_) {
      correcting_ = false;
    } else {
      rate = float(previousRate_ + (rates_[0] - previousRate_) * (correctionProgress_ / correctionSpan_));
    }
  } else if (std::fabs(d - d * rate) > 1000.0) {
    correcting_ = true;
    correctionSpan_ = std::fabs(d * rate - lastScaled_);
    correctionProgress_ = 0;
  }
  const double scaled = d * rate;
  if (!correcting_) {
    lastScaled_ = scaled;
    previousRate_ = rate;
  }
  return uint32_t(int64_t(std::llround(scaled)) + offset_);
}

void TickClock::GetRates(float& first, float& second) const {
  first = rates_[0];
  second = rates_[1];
}

namespace {
std::atomic<TickClock*> g_streamClock{nullptr};
}  // namespace

void CreateStreamClock() {
  if (!g_streamClock.load()) {
    auto* clock = new (std::nothrow) TickClock;
    TickClock* expected = nullptr;
    if (clock && !g_streamClock.compare_exchange_strong(expected, clock)) delete clock;
  }
  ResetStreamClock();
}

uint32_t GetStreamClockTime() {
  TickClock* clock = g_streamClock.load();
  return clock ? clock->GetTime() : 0;
}

void ResetStreamClock() {
  if (TickClock* clock = g_streamClock.load()) clock->SetTime(0);
}

void DestroyStreamClock() {
  TickClock* clock = g_streamClock.exchange(nullptr);
  if (clock) clock->CloseEvent();
  delete clock;
}

uint64_t NowFileTime() { return systemMsSince1601() * 10000; }

uint64_t FileTimeToNtp(uint64_t fileTime) {
  // 1601 to 1900 is 9435484800 s; the fraction keeps 32 bits.
  const uint64_t units = fileTime - 9435484800ull * 10000000ull;
  const uint64_t seconds = units / 10000000ull;
  const uint64_t rest = units % 10000000ull;
  return seconds << 32 | ((rest << 32) / 10000000ull);
}

bool FileTimeToUnix(uint64_t fileTime, uint32_t& seconds, uint32_t& microseconds) {
  const uint64_t epoch = 11644473600ull * 10000000ull;
  if (fileTime < epoch) return false;
  const uint64_t s = (fileTime - epoch) / 10000000ull;
  if (s > 0xFFFFFFFFull) return false;
  seconds = uint32_t(s);
  microseconds = uint32_t(((fileTime - epoch) % 10000000ull) / 10);
  return true;
}

uint64_t UnixToFileTime(uint32_t seconds, uint32_t microseconds) {
  return (uint64_t(seconds) + 11644473600ull) * 10000000ull + uint64_t(microseconds) * 10;
}

namespace {
const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const int kMonthStart[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

bool leap(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool digits(const char* p, int n, int32_t& out) {
  out = 0;
  for (int i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    out = out * 10 + (p[i] - '0');
  }
  return true;
}
}  // namespace

int32_t DayOfWeek(int32_t year, int32_t month, int32_t day) {
  if (month < 1 || month > 12 || year < 1 || day < 1 || day > 31) return 0;
  const int64_t y = year - 1;
  int64_t days = y * 365 + y / 4 - y / 100 + y / 400 + kMonthStart[month - 1] + day;
  if (month > 2 && leap(year)) ++days;
  // 0001-01-01 (day 1) was a Monday.
  return int32_t(days % 7);
}

bool IsoToCtimeDate(const char* iso, char* out, uint32_t size) {
  if (!iso || std::strlen(iso) < 15 || iso[8] != 'T') return false;
  int32_t y, mo, d, h, mi, s;
  if (!digits(iso, 4, y) || !digits(iso + 4, 2, mo) || !digits(iso + 6, 2, d) || !digits(iso + 9, 2, h) ||
      !digits(iso + 11, 2, mi) || !digits(iso + 13, 2, s) || mo < 1 || mo > 12 || d < 1 || d > 31)
    return false;
  int n = std::snprintf(out, size, "%s %s %2d %02d:%02d:%02d %04d", kDays[DayOfWeek(y, mo, d)], kMonths[mo - 1],
                        int(d), int(h), int(mi), int(s), int(y));
  return n > 0 && uint32_t(n) < size;
}

bool CtimeToIsoDate(const char* ctime, char* out, uint32_t size) {
  if (!ctime || std::strlen(ctime) < 24) return false;
  int32_t month = 0;
  for (int m = 0; m < 12; ++m) {
    if (std::strncmp(ctime + 4, kMonths[m], 3) == 0) month = m + 1;
  }
  int32_t d, h, mi, s, y;
  const char* dayText = ctime[8] == ' ' ? ctime + 9 : ctime + 8;
  if (!digits(dayText, ctime[8] == ' ' ? 1 : 2, d) || !digits(ctime + 11, 2, h) || !digits(ctime + 14, 2, mi) ||
      !digits(ctime + 17, 2, s) || !digits(ctime + 20, 4, y))
    return false;
  int n = std::snprintf(out, size, "%04d%02d%02dT%02d%02d%02d.000Z", int(y), int(month), int(d), int(h), int(mi),
                        int(s));
  return n > 0 && uint32_t(n) < size;
}

void FormatGmtDate(uint64_t fileTime, uint32_t size, char* out) {
  if (size == 0) return;
  out[0] = 0;
  uint64_t seconds = fileTime / 10000000ull;  // since 1601-01-01, a Monday
  const uint64_t daysTotal = seconds / 86400;
  const uint32_t secOfDay = uint32_t(seconds % 86400);
  int32_t year = 1601;
  uint64_t days = daysTotal;
  while (true) {
    const uint64_t inYear = leap(year) ? 366 : 365;
    if (days < inYear) break;
    days -= inYear;
    ++year;
  }
  int32_t month = 1;
  for (; month < 12; ++month) {
    uint64_t next = uint64_t(kMonthStart[month]) + (month >= 2 && leap(year) ? 1 : 0);
    if (days < next) break;
  }
  const uint64_t start = uint64_t(kMonthStart[month - 1]) + (month > 2 && leap(year) ? 1 : 0);
  const int32_t day = int32_t(days - start) + 1;
  const int32_t weekday = int32_t((daysTotal + 1) % 7);
  char tmp[64];
  int n = std::snprintf(tmp, sizeof tmp, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[weekday], int(day),
                        kMonths[month - 1], int(year), int(secOfDay / 3600), int(secOfDay / 60 % 60),
                        int(secOfDay % 60));
  if (n > 0 && uint32_t(n) < size) std::memcpy(out, tmp, size_t(n) + 1);
}

}  // namespace streaming
