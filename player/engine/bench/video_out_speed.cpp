// video_out_speed FILE.m4v [PASSES] [--blit]: the player's video path as the
// user gets it, timed under Wine, by the wall clock and by the thread's own
// processor time (which a busy machine disturbs less; ffmpeg's -benchmark
// reports the same kind). Each access unit is decoded and converted
// into the renderer's surface (the display's format, 24 bits above 8); with
// --blit the surface is also copied to a window's video control. Prints
// pictures per second and the allocations made per picture while playing.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "engine/player_ids.h"
#include "video/vdec.h"
#include "video_renderer.h"

namespace {

std::atomic<long long> allocations{0};

using Bytes = std::vector<uint8_t>;

// Units from each GOV or VOP start to the next VOP's; the configuration is
// what comes before the first of them.
std::vector<Bytes> SplitMpeg4(const Bytes& s, Bytes* config) {
  std::vector<size_t> at;
  for (size_t i = 0; i + 3 < s.size(); ++i)
    if (!s[i] && !s[i + 1] && s[i + 2] == 1 && (s[i + 3] == 0xB3 || s[i + 3] == 0xB6)) at.push_back(i);
  std::vector<Bytes> units;
  if (at.empty()) return units;
  config->assign(s.begin(), s.begin() + ptrdiff_t(at[0]));
  size_t start = at[0];
  bool vop = false;
  for (size_t k : at) {
    if (vop) {
      units.emplace_back(s.begin() + ptrdiff_t(start), s.begin() + ptrdiff_t(k));
      start = k;
      vop = false;
    }
    if (s[k + 3] == 0xB6) vop = true;
  }
  units.emplace_back(s.begin() + ptrdiff_t(start), s.end());
  return units;
}

// User plus kernel time of this thread, in seconds.
double ThreadSeconds() {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  auto value = [](const FILETIME& f) { return double((uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e7; };
  return value(kernel) + value(user);
}

LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

HWND MakeWindow(bool withControl) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"VideoOutSpeed";
  RegisterClassW(&wc);
  HWND w = CreateWindowExW(0, wc.lpszClassName, L"video_out_speed", WS_POPUP | WS_VISIBLE, 0, 0, 400, 320, nullptr,
                           nullptr, wc.hInstance, nullptr);
  if (withControl)
    CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 352, 288, w,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(ids::kVideoControl)), wc.hInstance, nullptr);
  return w;
}

}  // namespace

void* operator new(size_t n) {
  ++allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: video_out_speed FILE.m4v [PASSES] [--blit]\n");
    return 2;
  }
  int passes = 10;
  bool blit = false;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--blit") == 0)
      blit = true;
    else
      passes = std::atoi(argv[i]);
  }
  std::ifstream f(argv[1], std::ios::binary);
  const Bytes stream((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  Bytes config;
  const std::vector<Bytes> units = SplitMpeg4(stream, &config);
  if (units.empty() || passes < 1) {
    std::fprintf(stderr, "video_out_speed: cannot read %s\n", argv[1]);
    return 1;
  }

  // Without the video control the renderer converts and draws nothing.
  HWND window = MakeWindow(blit);
  uint32_t ready = 0;
  DisplayFormat surface = {};
  VideoRenderer* renderer = CreateVideoRenderer(&ready, &surface, 0, window, nullptr);
  if (!renderer) {
    std::fprintf(stderr, "video_out_speed: no renderer\n");
    return 1;
  }

  // Every buffer is made before the clock starts, as the playout thread does.
  size_t largest = 0;
  for (const Bytes& u : units) largest = std::max(largest, u.size());
  Bytes input(largest);
  long long pictures = 0, during = 0;
  double seconds = 0, cpu = 0;
  for (int p = 0; p < passes; ++p) {
    VideoDecoder dec = {};
    const uint8_t* cfg[1] = {config.data()};
    const int32_t sizes[1] = {int32_t(config.size())};
    if (vdec_create(&dec, cfg, sizes, 1) != 1) {
      std::fprintf(stderr, "video_out_speed: the decoder refused the stream\n");
      return 1;
    }
    const int w = vdec_get_width(&dec), h = vdec_get_height(&dec);
    const int pw = (w + 15) & ~15, ph = (h + 15) & ~15;
    DisplayFormat source = {};
    source.bitsPerPixel = 12;
    source.width = w;
    source.height = h;
    source.kind = kDisplayKindPlanarYuv420;
    source.pitch = pw;
    source.rows = ph;
    const size_t area = size_t(pw) * ph;

    const long long before = allocations;
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = ThreadSeconds();
    for (const Bytes& u : units) {
      std::memcpy(input.data(), u.data(), u.size());
      uint8_t* in[1] = {input.data()};
      int32_t ts[1] = {-1};
      int32_t size[1] = {int32_t(u.size())};
      if (vdec_decode_frame(&dec, in, ts, size, nullptr) != 1) continue;
      const uint8_t* y = vdec_get_output_frame(&dec);
      const uint8_t* planes[3] = {y, y + area, y + area + area / 4};
      renderer->Present(planes, 0, 0, source, 2);
      ++pictures;
    }
    GdiFlush();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpu += ThreadSeconds() - cpuStart;
    during += allocations - before;
    vdec_destroy(&dec);
  }
  std::printf("%lld pictures in %.3f s: %.0f pictures/s, %.0f per processor second (%s, %d-bit surface), "
              "%.3f allocations per picture\n",
              pictures, seconds, double(pictures) / seconds, double(pictures) / cpu,
              blit ? "decode+convert+blit" : "decode+convert", surface.bitsPerPixel, double(during) / double(pictures));
  delete renderer;
  DestroyWindow(window);
  return 0;
}
