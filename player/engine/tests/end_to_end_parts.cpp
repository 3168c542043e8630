#include "end_to_end_parts.h"

#include <windows.h>

#include "file_source.h"
#include "player_context.h"
#include "shell/engine_services.h"
#include "streaming/scheduler.h"

namespace {

// The file source's reports, answered from the player context and the shell.
class ContextHost : public SourceHost {
 public:
  ContextHost(PlayerContext* c, PlayerShellServices* s) : context(c), shell(s) {}
  uint32_t GetEngineState() override { return context->GetEngineState(); }
  void ReportError(uint32_t id, const char16_t* argument) override { context->ReportError(id, argument, 0, true); }
  void SetStatusText(uint32_t id) override { context->SetStatusText(id); }
  void SetPosition(uint32_t ms) override { context->SetPosition(ms); }
  uint32_t GetPosition() override { return context->GetPosition(); }
  void OpenResult(uint32_t code) override { context->OpenComplete(code); }
  void Log(const char16_t* line) override { shell->InstrumentLog(context->GetInstance(), line); }
  void LoadText(uint32_t id, char16_t* buffer, uint32_t units) override {
    buffer[0] = 0;
    LoadStringW(context->GetInstance(), id, reinterpret_cast<wchar_t*>(buffer), static_cast<int>(units));
  }
  uint32_t GetSettingsVersion() override { return shell->GetSettingsVersion(); }

 private:
  PlayerContext* context;
  PlayerShellServices* shell;
};

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
    parts->Report(p);
    return rc;
  }

 private:
  EndToEndParts* parts;
};

}  // namespace

TickClock* EndToEndParts::NewClock() { return new streaming::TickClock; }

MediaSource* EndToEndParts::NewSource(uint32_t kind, PlayerContext* context) {
  if (kind != kSourceFile) return nullptr;
  hosts.push_back(std::make_unique<ContextHost>(context, shell));
  return new FileSource(context, hosts.back().get());
}

VideoThread* EndToEndParts::NewVideoThread(PlayerContext* context, MediaSource* source) {
  return new CountingPlayout(context, source, shell, this);
}

uint32_t EndToEndParts::TickCount() { return GetTickCount(); }

EndToEndParts::Played EndToEndParts::LastPlayed() {
  std::lock_guard<std::mutex> g(lock);
  return last;
}

void EndToEndParts::Report(const Played& p) {
  std::lock_guard<std::mutex> g(lock);
  last = p;
}
