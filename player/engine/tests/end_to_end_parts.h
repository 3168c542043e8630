// The parts the end-to-end test plays on: the streaming client's clock, the
// local file source, no audio path yet, and the real video thread, which
// reports what it showed and skipped when it ends.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "engine_parts.h"
#include "source_host.h"
#include "video_playout_thread.h"

class PlayerShellServices;

class EndToEndParts : public EngineParts {
 public:
  struct Played {
    VideoPlayoutThread::Counters counters;
    uint32_t width = 0, height = 0;
  };
  explicit EndToEndParts(PlayerShellServices* shell) : shell(shell) {}
  TickClock* NewClock() override;
  MediaSource* NewSource(uint32_t kind, PlayerContext* context) override;
  AudioDecoder* NewAudioDecoder(PlayerContext*, MediaSource*) override { return nullptr; }
  VideoThread* NewVideoThread(PlayerContext* context, MediaSource* source) override;
  uint32_t TickCount() override;

  // What the last video thread did, once its thread has ended.
  Played LastPlayed();
  void Report(const Played& p);

 private:
  PlayerShellServices* shell;
  std::vector<std::unique_ptr<SourceHost>> hosts;
  std::mutex lock;
  Played last;
};
