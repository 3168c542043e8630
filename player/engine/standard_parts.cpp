#include "standard_parts.h"

#include <windows.h>

#include "audio_decoder_binding.h"
#include "download_source.h"
#include "file_source.h"
#include "player_context.h"
#include "shell/engine_services.h"
#include "source_host.h"
#include "player_controller.h"
#include "streaming/http_download.h"
#include "streaming/scheduler.h"
#include "streaming/stream_session.h"
#include "stream_source.h"
#include "video_playout_thread.h"

namespace {

// What a source asks of the player, answered from the context and the shell.
template <class Base>
class ContextHost : public Base {
 public:
  ContextHost(PlayerContext* c, PlayerShellServices* s) : context(c), shell(s) {}
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

 protected:
  PlayerContext* context;
  PlayerShellServices* shell;
};
using ContextSourceHost = ContextHost<SourceHost>;

std::string TakeText(char* text) {
  std::string s(text ? text : "");
  delete[] text;
  return s;
}

class ContextDownloadHost : public ContextHost<DownloadHost> {
 public:
  using ContextHost::ContextHost;
  bool ReadSettingDword(uint32_t id, uint32_t* v) override {
    return shell && shell->ReadSettingDwordById(context->GetInstance(), id, v);
  }
  bool ReadSettingString(uint32_t id, char16_t* buffer) override {
    return shell && shell->ReadSettingStringById(context->GetInstance(), id, buffer);
  }
  void WriteSettingDword(uint32_t id, uint32_t v) override {
    if (shell) shell->WriteSettingDwordById(context->GetInstance(), id, v);
  }
  void WriteSettingString(uint32_t id, const char16_t* t) override {
    if (shell) shell->WriteSettingStringById(context->GetInstance(), id, t);
  }
  void EnableCommand(uint32_t id, uint32_t on) override { context->EnableCommand(id, on); }
  void SetPlayerState(uint32_t state, bool alsoEngine) override { context->SetPlayerState(state, alsoEngine); }
  uint32_t Notify(uint32_t part) override { return context->StreamFinished(part); }
  uint32_t SelectCodec(const char16_t* codec, uint32_t start, uint32_t end, uint32_t track) override {
    return context->SelectCodec(codec, start, end, track);
  }
  uint32_t Play(int32_t position) override { return context->Play(position); }
  void SetText(const char16_t* text) override { context->SetText(text); }
  void DownloadFinished() override { context->ReleaseDownloadLock(); }
  void GetEntryInfo(uint32_t* ready, uint32_t* flags) override {
    ClipEntryInfo info{};
    context->GetStatus(&info);
    *ready = info.entryFlagBit2;
    *flags = info.entryMode;
  }
  std::string UserAgent() override { return TakeText(context->BuildUserAgent()); }
  std::string UserNetwork() override { return TakeText(context->BuildNetworkType()); }
  std::string DeviceInfo() override { return TakeText(context->BuildDeviceInfo()); }
  bool FreeStorage(const char16_t* folder, uint64_t* bytes) override {
    ULARGE_INTEGER free{};
    if (!GetDiskFreeSpaceExW(reinterpret_cast<LPCWSTR>(folder), &free, nullptr, nullptr)) return false;
    *bytes = free.QuadPart;
    return true;
  }
  HttpDownload* NewHttpDownload() override { return new streaming::HttpDownload; }
};

class ContextStreamHost : public ContextHost<StreamHost> {
 public:
  using ContextHost::ContextHost;
  bool ReadSettingDword(uint32_t id, uint32_t* v) override {
    return shell && shell->ReadSettingDwordById(context->GetInstance(), id, v);
  }
  void SetPlayerState(uint32_t state, bool alsoEngine) override { context->SetPlayerState(state, alsoEngine); }
  uint32_t Notify(uint32_t part) override { return context->StreamFinished(part); }
  bool ConnectionUp() override { return context->CheckConnection(1) == 1; }
  void SetBufferLevel(uint32_t percent) override { context->SetBufferLevel(percent); }
  bool FreeStorage(uint64_t* bytes) override {
    ULARGE_INTEGER free{};
    if (!GetDiskFreeSpaceExW(nullptr, &free, nullptr, nullptr)) return false;
    *bytes = free.QuadPart;
    return true;
  }
  void Sleep(uint32_t ms) override { ::Sleep(ms); }
  std::string UserAgent() override { return TakeText(context->BuildUserAgent()); }
  std::string UserNetwork() override { return TakeText(context->BuildNetworkType()); }
  std::string DeviceInfo() override { return TakeText(context->BuildDeviceInfo()); }
  StreamSession* NewSession() override { return new streaming::StreamSession; }
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

struct DownloadHostHolder {
  DownloadHostHolder(PlayerContext* c, PlayerShellServices* s) : ownHost(c, s) {}
  ContextDownloadHost ownHost;
};

class PlayerDownloadSource : private DownloadHostHolder, public DownloadSource {
 public:
  PlayerDownloadSource(PlayerContext* c, PlayerShellServices* s)
      : DownloadHostHolder(c, s), DownloadSource(c, &ownHost) {}
};

struct StreamHostHolder {
  StreamHostHolder(PlayerContext* c, PlayerShellServices* s) : ownHost(c, s) {}
  ContextStreamHost ownHost;
};

class PlayerStreamSource : private StreamHostHolder, public StreamSource {
 public:
  PlayerStreamSource(PlayerContext* c, PlayerShellServices* s) : StreamHostHolder(c, s), StreamSource(c, &ownHost) {}
};

}  // namespace

StandardEngineParts::StandardEngineParts(PlayerShellServices* s, WaveOutApi* a) : shell(s), api(a) {}

TickClock* StandardEngineParts::NewClock() { return new streaming::TickClock; }

MediaSource* StandardEngineParts::NewSource(uint32_t kind, PlayerContext* context) {
  if (kind == kSourceFile) return new PlayerFileSource(context, shell);
  if (kind == kSourceStream) return new PlayerStreamSource(context, shell);
  if (kind == kSourceDownload) return new PlayerDownloadSource(context, shell);
  return nullptr;
}

AudioDecoder* StandardEngineParts::NewAudioDecoder(PlayerContext* context, MediaSource* source) {
  return new AudioDecoderBinding(context, source, shell, api);
}

VideoThread* StandardEngineParts::NewVideoThread(PlayerContext* context, MediaSource* source) {
  return new VideoPlayoutThread(context, source, shell);
}

uint32_t StandardEngineParts::TickCount() { return GetTickCount(); }
