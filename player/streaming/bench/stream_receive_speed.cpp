// Receives an RTSP presentation through the streaming session for a while,
// reading every frame as soon as it is whole, as the player's readers do.
// Prints the CPU time of the session thread (the thread that runs Start:
// sockets, RTP filing, RTSP and reports), the frames and bit rate received,
// and the latency from the arrival of a frame's last packet to the
// GetNextFrame call that hands the frame out (median and 99th percentile).
// Usage: stream_receive_speed URL SECONDS  (bench/stream_bench.py runs it
// natively and under Wine beside ffmpeg on the same GStreamer stream).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "streaming/stream_session.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <time.h>
#endif

namespace {

#ifdef _WIN32
double Seconds(const FILETIME& f) { return double(uint64_t(f.dwHighDateTime) << 32 | f.dwLowDateTime) / 1e7; }
#endif

// CPU time (user and kernel) of the calling thread, and of the process.
double ThreadCpuSeconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  return Seconds(kernel) + Seconds(user);
#else
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
#endif
}

double ProcessCpuSeconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  return Seconds(kernel) + Seconds(user);
#else
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
#endif
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: stream_receive_speed URL SECONDS\n");
    return 2;
  }
  const std::string url = argv[1];
  const double seconds = std::atof(argv[2]);
  streaming::StreamSession session;
  session.SetClientInfo("Orlomer bench", "LAN", "352x288");
  // The session thread's CPU time over its life, from Start to Stop.
  std::atomic<double> sessionCpu{0}, sessionLife{0};
  std::thread runner([&] {
    const double t0 = ThreadCpuSeconds();
    const auto born = std::chrono::steady_clock::now();
    session.Start();
    sessionCpu = ThreadCpuSeconds() - t0;
    sessionLife = std::chrono::duration<double>(std::chrono::steady_clock::now() - born).count();
  });
  const std::u16string wide(url.begin(), url.end());
  int32_t id = -1;
  uint32_t rc = session.DescribeW(&id, wide.c_str());
  if (rc != 1) {
    std::fprintf(stderr, "DESCRIBE: %u\n", rc);
    session.Stop();
    runner.join();
    return 1;
  }
  const int32_t count = std::min(session.GetMediaCount(id), 2);
  for (int32_t m = 0; m < count; ++m) {
    const char* name = session.GetMediaCodecName(id, m);
    const bool video = name && std::strcmp(name, "MP4V-ES") == 0;
    if (session.SelectMedia(id, m) != 1 || session.SetupMedia(id, m, video ? 200000 : 1000, 0, nullptr) != 1) {
      std::fprintf(stderr, "SETUP of media %d (%s) failed\n", m, name ? name : "?");
      return 1;
    }
  }
  uint32_t preroll = 0;
  session.SetBufferTime(id, &preroll);
  if ((rc = session.CreateTrackReceivers(id, 2 * preroll)) != 1 || (rc = session.Play(id, 0, 0x7FFFFFFF, 0, nullptr)) != 1) {
    std::fprintf(stderr, "receivers or PLAY: %u\n", rc);
    return 1;
  }
  const double cpu0 = ProcessCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  std::vector<double> latencyUs;
  latencyUs.reserve(1 << 16);
  uint64_t frames[2] = {}, bytes[2] = {};
  std::vector<uint8_t> buffer(200000);
  bool ended[2] = {count < 1, count < 2};
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds &&
         !(ended[0] && ended[1])) {
    bool any = false;
    for (int32_t m = 0; m < count; ++m) {
      uint32_t length = uint32_t(buffer.size()), time = 0;
      rc = session.GetNextFrame(id, m, buffer.data(), &length, &time);
      if (rc == 1 || rc == 11 || rc == 20) {
        const uint64_t now = streaming::ArrivalClockUs();
        session.Lock();
        const streaming::TrackState* t = nullptr;
        const uint64_t arrived =
            session.Rtp().ReadTrack(id, uint32_t(session.TrackOf(id, m)), t) && t ? t->lastFrameArrivalUs : 0;
        session.Unlock();
        if (arrived && now >= arrived) latencyUs.push_back(double(now - arrived));
        ++frames[m];
        bytes[m] += length;
        any = true;
      } else if (rc == 22) {
        ended[m] = true;
      }
    }
    if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double processCpu = ProcessCpuSeconds() - cpu0;
  uint64_t packets = 0;
  for (int32_t m = 0; m < count; ++m) packets += session.GetPacketsReceived(id, m);
  session.Teardown(id);
  session.Stop();
  runner.join();
  std::printf("received %.1f s: %llu packets, %llu + %llu frames, %.2f Mbit/s of frames\n", elapsed,
              (unsigned long long)packets, (unsigned long long)frames[0], (unsigned long long)frames[1],
              double(bytes[0] + bytes[1]) * 8 / elapsed / 1e6);
  std::printf("session thread CPU %.3f s in %.1f s (%.2f %% of one core); whole process while receiving %.3f s "
              "(%.2f %%)\n",
              sessionCpu.load(), sessionLife.load(), 100 * sessionCpu.load() / sessionLife.load(), processCpu,
              100 * processCpu / elapsed);
  std::printf("latency from the last packet's arrival to GetNextFrame: median %.0f us, 99th percentile %.0f us "
              "(%zu frames)\n",
              Percentile(latencyUs, 0.5), Percentile(latencyUs, 0.99), latencyUs.size());
  return frames[0] + frames[1] > 0 ? 0 : 1;
}
