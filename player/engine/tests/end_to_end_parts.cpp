#include "end_to_end_parts.h"

#include <windows.h>

#include "player_context.h"
#include "video/vdec.h"

namespace {

class CountingPlayout : public VideoPlayoutThread {
 public:
  CountingPlayout(PlayerContext* c, MediaSource* s, PlayerShellServices* sh, EndToEndParts* parts)
      : VideoPlayoutThread(c, s, sh), context(c), parts(parts) {
    log.reserve(4096);
  }
  uint32_t RenderFrame(const uint8_t* const planes[3], int32_t left, int32_t top, const DisplayFormat& format,
                       uint32_t mode) override {
    EndToEndParts::Presented p;
    p.timeMs = vdec_get_timestamp(&Decoder());
    p.clockMs = context->GetPosition();
    p.startUs = EndToEndParts::WallMicroseconds();
    const uint32_t rc = VideoPlayoutThread::RenderFrame(planes, left, top, format, mode);
    GdiFlush();
    p.endUs = EndToEndParts::WallMicroseconds();
    if (log.size() < log.capacity()) log.push_back(p);
    return rc;
  }
  ~CountingPlayout() override { Join(); }
  uint32_t Run() override {
    const uint32_t rc = VideoPlayoutThread::Run();
    EndToEndParts::Played p;
    p.counters = GetCounters();
    GetVideoSize(&p.width, &p.height);
    p.ended = true;
    p.presented = log;
    parts->Report(p);
    return rc;
  }

 private:
  PlayerContext* context;
  EndToEndParts* parts;
  std::vector<EndToEndParts::Presented> log;
};

}  // namespace

VideoThread* EndToEndParts::NewVideoThread(PlayerContext* context, MediaSource* source) {
  return new CountingPlayout(context, source, shell, this);
}

int64_t EndToEndParts::WallMicroseconds() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  const int64_t t = (int64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return t / 10 - 11644473600LL * 1000000;
}

EndToEndParts::Played EndToEndParts::LastPlayed() {
  std::lock_guard<std::mutex> g(lock);
  return last;
}

void EndToEndParts::Report(const Played& p) {
  std::lock_guard<std::mutex> g(lock);
  last = p;
}
