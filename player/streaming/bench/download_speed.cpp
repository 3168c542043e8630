// Times one download from the peer of the tests: description, then the
// media, written to DIR/krdl.tmp. Prints MB/s of the media and the
// process's resident memory when 10 MB and when everything had arrived.
// Usage: download_speed URL DIR  (bench/download_bench.sh runs it natively
// and under Wine beside curl).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "streaming/http_download.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <unistd.h>
#endif

namespace {

double ResidentMb() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS c{};
  c.cb = sizeof c;
  GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c);
  return double(c.WorkingSetSize) / 1048576.0;
#else
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return double(resident) * double(sysconf(_SC_PAGESIZE)) / 1048576.0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: download_speed URL DIR\n");
    return 2;
  }
  streaming::DownloadRequest request{};
  const std::string url = argv[1];
  const std::string base = std::string(argv[2]) + "/krdl";
  for (size_t i = 0; i < url.size() && i < 255; ++i) request.url[i] = char16_t(url[i]);
  for (size_t i = 0; i < base.size() && i < 255; ++i) request.basePath[i] = char16_t(base[i]);
  request.idleLimit = 5;
  request.storageSize = 0x7FFFFFFF;
  streaming::HttpDownload client;
  int32_t rc = client.FetchDescription(request);
  if (rc != 0) {
    std::fprintf(stderr, "description: %d\n", rc);
    return 1;
  }
  streaming::TrackRequest tracks{};
  tracks.trackCount = 1;
  tracks.trackIds[0] = 1;
  std::atomic<bool> done{false};
  double at10 = 0;
  std::thread watch([&] {
    while (!done) {
      int32_t total = 0, remaining = 0;
      client.GetContentLength(&total);
      client.GetRemainingBytes(&remaining);
      if (at10 == 0 && total > 0 && total - remaining >= 10 * 1048576) at10 = ResidentMb();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  const auto start = std::chrono::steady_clock::now();
  rc = client.DownloadMedia(tracks);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double atEnd = ResidentMb();
  done = true;
  watch.join();
  int32_t total = 0;
  client.GetContentLength(&total);
  std::printf("result %d, %d bytes in %.3f s: %.1f MB/s; resident %.1f MB at 10 MB, %.1f MB at the end\n", rc,
              total, seconds, total / seconds / 1e6, at10, atEnd);
  client.Shutdown();
  return rc == 19 ? 0 : 1;
}
