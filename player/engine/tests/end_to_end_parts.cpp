#include "end_to_end_parts.h"

namespace {

class CountingPlayout : public VideoPlayoutThread {
 public:
  CountingPlayout(PlayerContext* c, MediaSource* s, PlayerShellServices* sh, EndToEndParts* parts)
      : VideoPlayoutThread(c, s, sh), parts(parts) {}
  ~CountingPlayout() override { Join(); }
  uint32_t Run() override {
    const uint32_t rc = VideoPlayoutThread::Run();
    EndToEndParts::Played p;
    p.counters = GetCounters();
    GetVideoSize(&p.width, &p.height);
    p.ended = true;
    parts->Report(p);
    return rc;
  }

 private:
  EndToEndParts* parts;
};

}  // namespace

VideoThread* EndToEndParts::NewVideoThread(PlayerContext* context, MediaSource* source) {
  return new CountingPlayout(context, source, shell, this);
}

EndToEndParts::Played EndToEndParts::LastPlayed() {
  std::lock_guard<std::mutex> g(lock);
  return last;
}

void EndToEndParts::Report(const Played& p) {
  std::lock_guard<std::mutex> g(lock);
  last = p;
}
