#include "video_units.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "engine/player_ids.h"
#include "video/colour.h"
#include "video/vdec.h"

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {

// Offsets of the start codes 00 00 01 xx whose xx is in codes.
std::vector<size_t> StartCodes(const Bytes& s, std::initializer_list<uint8_t> codes) {
  std::vector<size_t> at;
  for (size_t i = 0; i + 3 < s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
    for (uint8_t c : codes)
      if (s[i + 3] == c) at.push_back(i);
  }
  return at;
}

}  // namespace

UnitStream SplitMpeg4(const Bytes& s) {
  UnitStream out;
  const std::vector<size_t> starts = StartCodes(s, {0xB3, 0xB6});
  if (starts.empty()) return out;
  out.config.assign(s.begin(), s.begin() + static_cast<ptrdiff_t>(starts[0]));
  size_t unitStart = starts[0];
  bool haveVop = false;
  for (size_t k = 0; k < starts.size(); ++k) {
    const bool vop = s[starts[k] + 3] == 0xB6;
    if (haveVop) {
      out.units.emplace_back(s.begin() + static_cast<ptrdiff_t>(unitStart), s.begin() + static_cast<ptrdiff_t>(starts[k]));
      unitStart = starts[k];
      haveVop = false;
    }
    if (vop) haveVop = true;
  }
  out.units.emplace_back(s.begin() + static_cast<ptrdiff_t>(unitStart), s.end());
  return out;
}

UnitStream SplitH263(const Bytes& s) {
  UnitStream out;
  std::vector<size_t> starts;
  for (size_t i = 0; i + 2 < s.size(); ++i)
    if (s[i] == 0 && s[i + 1] == 0 && (s[i + 2] & 0xFC) == 0x80) starts.push_back(i);
  for (size_t k = 0; k < starts.size(); ++k) {
    const size_t end = k + 1 < starts.size() ? starts[k + 1] : s.size();
    out.units.emplace_back(s.begin() + static_cast<ptrdiff_t>(starts[k]), s.begin() + static_cast<ptrdiff_t>(end));
  }
  return out;
}

UnitStream FixtureStream(const char* name) {
  const std::string path = std::string(VIDEO_FIXTURES) + "/" + name;
  const Bytes bytes = ReadFileBytes(path);
  const std::string n(name);
  return n.size() > 5 && n.substr(n.size() - 5) == ".h263" ? SplitH263(bytes) : SplitMpeg4(bytes);
}

ScriptedSource::ScriptedSource(PlayerContext* c, ManualClock* clk, const UnitStream* s, uint32_t layers)
    : MediaSource(c), clock(clk), stream(s) {
  videoLayerCount = layers;
  contentFlags = kContentVideo;
}

const uint8_t* ScriptedSource::GetVideoConfig(uint32_t, uint32_t* size) {
  const Bytes& c = useOverride ? configOverride : stream->config;
  *size = static_cast<uint32_t>(c.size());
  return c.empty() ? nullptr : c.data();
}

uint32_t ScriptedSource::GetVideoFrame(uint8_t* buffer, uint32_t capacity, uint32_t layer, uint32_t* timestampMs,
                                       uint32_t* length) {
  std::lock_guard<std::mutex> g(lock);
  *length = 0;
  if (layer > 1) return kFrameEndOfMedia;
  ++reads[layer];
  if (onRead) onRead(layer, reads[layer]);
  if (next[layer] >= script[layer].size()) return kFrameEndOfMedia;
  const ScriptStep& step = script[layer][next[layer]++];
  *timestampMs = step.timeMs;
  if (step.unit >= 0) {
    const Bytes& u = stream->units.at(static_cast<size_t>(step.unit));
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(u.size(), capacity));
    std::memcpy(buffer, u.data(), n);
    *length = n;
    clock->now = step.timeMs - static_cast<uint32_t>(step.lateness);
  }
  return step.status;
}

void ScriptedSource::ReportStatistics(uint32_t, uint32_t t, uint32_t, uint32_t skipped, uint32_t notNewer) {
  std::lock_guard<std::mutex> g(lock);
  statistics.push_back(std::to_string(t) + " " + std::to_string(skipped) + " " + std::to_string(notNewer));
}

ClockedPlayout::~ClockedPlayout() { Join(); }

uint32_t ClockedPlayout::RenderFrame(const uint8_t* const planes[3], int32_t left, int32_t top,
                                     const DisplayFormat& source, uint32_t mode) {
  shown.push_back({vdec_get_timestamp(&Decoder()), clock->now});
  return VideoPlayoutThread::RenderFrame(planes, left, top, source, mode);
}

void ClockedPlayout::Wait(uint32_t ms) {
  waits.push_back(ms);
  clock->now += ms;
  if (onWait) onWait(waits.size());
}

bool ClockedPlayout::PlayToEnd(DWORD limitMs) {
  if (Start() != 0) return false;
  const DWORD start = GetTickCount();
  while (!ThreadEnded()) {
    if (GetTickCount() - start > limitMs) return false;
    Sleep(5);
  }
  return true;
}

namespace {

LRESULT CALLBACK PlainProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

}  // namespace

VideoWindow::VideoWindow(int controlWidth, int controlHeight, bool withControl) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = PlainProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = L"OrlomerVideoTest";
  RegisterClassW(&wc);
  hwnd = CreateWindowExW(0, L"OrlomerVideoTest", L"video test", WS_POPUP | WS_VISIBLE, 20, 20,
                         controlWidth + 40, controlHeight + 40, nullptr, nullptr, wc.hInstance, nullptr);
  if (withControl)
    control = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, controlWidth, controlHeight, hwnd,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(ids::kVideoControl)), wc.hInstance,
                              nullptr);
  UpdateWindow(hwnd);
  if (control) UpdateWindow(control);
  GdiFlush();
}

VideoWindow::~VideoWindow() { DestroyWindow(hwnd); }

Pixels ReadWindow(HWND window, int width, int height) {
  Pixels p;
  p.width = width;
  p.height = height;
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  HDC dc = GetDC(window);
  HDC mem = CreateCompatibleDC(dc);
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, width, height, dc, 0, 0, SRCCOPY);
  GdiFlush();
  const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
  p.bgr.resize(size_t(width) * height * 3);
  for (int y = 0; y < height; ++y)
    std::memcpy(&p.bgr[size_t(y) * width * 3], static_cast<uint8_t*>(bits) + y * stride, size_t(width) * 3);
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(window, dc);
  return p;
}

YuvPicture MakePicture(int width, int height) {
  YuvPicture p;
  p.width = width;
  p.height = height;
  p.pitch = (width + 15) & ~15;
  p.rows = (height + 15) & ~15;
  const size_t area = size_t(p.pitch) * p.rows;
  p.data.assign(area * 3 / 2, 128);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) p.data[size_t(y) * p.pitch + x] = static_cast<uint8_t>(60 + (x * 150) / width);
  uint8_t* u = p.data.data() + area;
  uint8_t* v = u + area / 4;
  for (int y = 0; y < height / 2; ++y)
    for (int x = 0; x < width / 2; ++x) {
      u[size_t(y) * (p.pitch / 2) + x] = static_cast<uint8_t>(y < height / 4 ? 90 : 170);
      v[size_t(y) * (p.pitch / 2) + x] = static_cast<uint8_t>(x < width / 4 ? 200 : 100);
    }
  p.planes[0] = p.data.data();
  p.planes[1] = u;
  p.planes[2] = v;
  p.format = DisplayFormat{};
  p.format.bitsPerPixel = 12;
  p.format.height = height;
  p.format.width = width;
  p.format.kind = kDisplayKindPlanarYuv420;
  p.format.pitch = p.pitch;
  p.format.rows = p.rows;
  return p;
}

Bytes Convert24(const YuvPicture& picture) {
  DisplayFormat dest = {};
  dest.bitsPerPixel = 24;
  dest.width = dest.pitch = picture.width;
  dest.height = dest.rows = picture.height;
  dest.kind = kDisplayKindPackedRgb;
  ColorConverter24 converter(dest);
  Bytes out(size_t(picture.width) * picture.height * 3);
  converter.Convert(picture.planes, out.data(), 0, 0, dest, picture.format, kConvertModePacked4);
  return out;
}
