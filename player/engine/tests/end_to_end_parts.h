// The program's own parts (clock, file source, audio path over the stand-in
// decoder libraries) with a video thread that reports what it showed and
// skipped when it ends.
#pragma once

#include <mutex>

#include "standard_parts.h"
#include "video_playout_thread.h"

class EndToEndParts : public StandardEngineParts {
 public:
  struct Played {
    VideoPlayoutThread::Counters counters;
    uint32_t width = 0, height = 0;
    bool ended = false;
  };
  explicit EndToEndParts(PlayerShellServices* shell) : StandardEngineParts(shell), shell(shell) {}
  VideoThread* NewVideoThread(PlayerContext* context, MediaSource* source) override;

  // What the last video thread did, once its thread has ended.
  Played LastPlayed();
  void Report(const Played& p);

 private:
  PlayerShellServices* shell;
  std::mutex lock;
  Played last;
};
