#include "standard_parts.h"

#include <windows.h>

#include "audio_decoder_binding.h"
#include "file_source.h"
#include "player_context.h"
#include "shell/engine_services.h"
#include "source_host.h"
#include "streaming/scheduler.h"
#include "video_playout_thread.h"

namespace {

// What a source asks of the player, answered from the context and the shell.
class ContextSourceHost : public SourceHost {
 public:
  ContextSourceHost(PlayerContext* c, PlayerShellServices* s) : context(c), shell(s) {}
  uint32_t GetEngineState() override { return context->GetEngineState(); }
  void ReportError(uint32_t id, const char16_t* argument) override { context->ReportError(id, argument, 0, true); }
  void SetStatusText(uint32_t id) override { context->SetStatusText(id); }
  void SetPosition(uint32_t ms) override { context->SetPosition(ms); }
  uint32_t GetPosition() override { return context->GetPosition(); }
  void OpenResult(uint32_t code) override { context->OpenComplete(code); }
  void Log(const char16_t* line) override {
    if (shell) shell->InstrumentLog(context->GetInstance(), line);
  }
  void LoadText(uint32_t id, char16_t* buffer, uint32_t units) override {
    buffer[0] = 0;
    if (LoadStringW(context->GetInstance(), id, reinterpret_cast<LPWSTR>(buffer), static_cast<int>(units)) <= 0)
      buffer[0] = 0;
  }
  uint32_t GetSettingsVersion() override { return shell ? shell->GetSettingsVersion() : 0x300; }

 private:
  PlayerContext* context;
  PlayerShellServices* shell;
};

// The host lives as long as the source: it is a base constructed first.
struct HostHolder {
  HostHolder(PlayerContext* c, PlayerShellServices* s) : ownHost(c, s) {}
  ContextSourceHost ownHost;
};

class PlayerFileSource : private HostHolder, public FileSource {
 public:
  PlayerFileSource(PlayerContext* c, PlayerShellServices* s) : HostHolder(c, s), FileSource(c, &ownHost) {}
};

}  // namespace

StandardEngineParts::StandardEngineParts(PlayerShellServices* s, WaveOutApi* a) : shell(s), api(a) {}

TickClock* StandardEngineParts::NewClock() { return new streaming::TickClock; }

MediaSource* StandardEngineParts::NewSource(uint32_t kind, PlayerContext* context) {
  if (kind == kSourceFile) return new PlayerFileSource(context, shell);
  return nullptr;
}

AudioDecoder* StandardEngineParts::NewAudioDecoder(PlayerContext* context, MediaSource* source) {
  return new AudioDecoderBinding(context, source, shell, api);
}

VideoThread* StandardEngineParts::NewVideoThread(PlayerContext* context, MediaSource* source) {
  return new VideoPlayoutThread(context, source, shell);
}

uint32_t StandardEngineParts::TickCount() { return GetTickCount(); }
