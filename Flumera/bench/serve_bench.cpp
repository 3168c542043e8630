// Serving benchmark: the clip looped in real time to 64 python clients of
// the dialect (Flumera/tests/rtsp_client.py many), started through Wine.
// Prints what the clients measured (Mbit/s, unit latency) and the server
// process's CPU time per client. Run beside Flumera/bench/gst_serve_bench.py.
//   flumera_serve_bench [seconds] [clients]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "server_host.h"

using namespace flumera_test;

namespace {
double CpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto s = [](const FILETIME& f) { return (double(f.dwHighDateTime) * 4294967296.0 + f.dwLowDateTime) / 1e7; };
  return s(kernel) + s(user);
}
}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  const int clients = argc > 2 ? std::atoi(argv[2]) : 64;
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  const std::string source = SUITE_TEST_DATA_DIR;
  const Bytes& config = TheClip().config;
  const std::vector<Bytes>& units = TheClip().units;
  const std::vector<bool>& keys = TheClip().keys;
  if (units.empty()) {
    std::fprintf(stderr, "serve_bench: no clip\n");
    return 1;
  }
  SessionSetup setup;
  setup.product = {64, 1, 64, 1, 0};
  setup.mediaMask = 2;
  setup.videoConfig = config;
  int status = 0;
  {
    Host h(setup);
    if (h.Request(KRM_PRIME) != 0) return 1;
    const std::string out = WorkDirUnix() + "/bench_many";
    CreateDirectoryA("bench_many", nullptr);
    std::remove((out + "/done").c_str());
    std::remove((out + "/many_ready").c_str());
    StartProgram("/usr/bin/python3 " + source + "/tests/rtsp_client.py many rtsp://127.0.0.1:" +
                 std::to_string(h.rtspPort) + "/live --clients " + std::to_string(clients) + " --out " + out +
                 " --timeout " + std::to_string(seconds + 60) + " --done " + out + "/done");
    if (!WaitForFile(out + "/many_ready", 60000)) {
      std::fprintf(stderr, "serve_bench: the clients did not play\n");
      return 1;
    }
    Sleep(200);
    const double cpu0 = CpuSeconds();
    const DWORD start = GetTickCount();
    const size_t frames = size_t(seconds) * 15;
    for (size_t k = 0; k < frames; ++k) {
      const uint32_t t = uint32_t(k * 1000 / 15);
      while (int(GetTickCount() - start) < int(t)) Sleep(1);
      h.FeedVideo(units[k % units.size()], keys[k % units.size()] ? 0 : 0x10, t, 66);
    }
    Sleep(300);
    const double cpu = CpuSeconds() - cpu0;
    const double wall = (GetTickCount() - start) / 1000.0;
    h.Request(KRM_STOP);
    if (!WaitForFile(out + "/done", 120000)) status = 1;
    std::printf("flumera: %d clients, %.1f s, server CPU %.3f s (%.2f%% of a core; %.3f ms CPU per client per second)\n",
                clients, wall, cpu, 100.0 * cpu / wall, 1000.0 * cpu / wall / clients);
    std::printf("%s", ReadText(out + "/many_summary.txt").c_str());
  }
  WSACleanup();
  return status;
}
