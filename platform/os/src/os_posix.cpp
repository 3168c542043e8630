// POSIX implementation of the platform interface (native builds).
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/os.h"

namespace platform {

namespace {
// Windows-1252 code points of bytes 0x80-0x9F (0 where the code page has none).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string nativePath(std::u16string_view path) {
  std::string p = utf16ToUtf8(path);
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  return p;
}
}  // namespace

std::u16string ansiToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    char16_t u = c;
    if (c >= 0x80 && c <= 0x9F) u = kCp1252High[c - 0x80] ? kCp1252High[c - 0x80] : char16_t(c);
    out.push_back(u);
  }
  return out;
}

std::string utf16ToAnsi(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char16_t u : s) {
    char c = '?';
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
      c = static_cast<char>(u);
    } else {
      for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] == u) { c = static_cast<char>(0x80 + i); break; }
      }
    }
    out.push_back(c);
  }
  return out;
}

std::FILE* openFile(std::u16string_view path, const char* mode) {
  return std::fopen(nativePath(path).c_str(), mode);
}

bool deleteFile(std::u16string_view path) { return ::unlink(nativePath(path).c_str()) == 0; }

bool fileExists(std::u16string_view path) {
  struct stat st;
  return ::stat(nativePath(path).c_str(), &st) == 0;
}

LocalTime localTime() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t t = ts.tv_sec;
  struct tm tm;
  localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
          static_cast<int>(ts.tv_nsec / 1000000)};
}

uint64_t localFileTime() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t t = ts.tv_sec;
  struct tm tm;
  localtime_r(&t, &tm);
  // 11644473600 s separate 1601-01-01 from 1970-01-01.
  int64_t local = static_cast<int64_t>(ts.tv_sec) + tm.tm_gmtoff + 11644473600LL;
  return static_cast<uint64_t>(local) * 10000000ULL + static_cast<uint64_t>(ts.tv_nsec / 100);
}

uint64_t monotonicMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void sleepMs(uint32_t ms) {
  struct timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

std::string hostName() {
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return "localhost";
  return buf;
}

}  // namespace platform
