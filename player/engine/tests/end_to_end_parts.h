// The program's own parts (clock, file source, audio path over the stand-in
// decoder libraries) with a video thread that reports what it showed and
// skipped when it ends.
#pragma once

#include <mutex>
#include <vector>

#include "standard_parts.h"
#include "video_playout_thread.h"

class EndToEndParts : public StandardEngineParts {
 public:
  // One picture handed to the renderer: its time, the clock then, and the
  // wall clock (microseconds since 1970) around the drawing.
  struct Presented {
    int32_t timeMs;
    uint32_t clockMs;
    int64_t startUs, endUs;
  };
  struct Played {
    VideoPlayoutThread::Counters counters;
    uint32_t width = 0, height = 0;
    bool ended = false;
    std::vector<Presented> presented;
  };
  explicit EndToEndParts(PlayerShellServices* shell) : StandardEngineParts(shell), shell(shell) {}
  VideoThread* NewVideoThread(PlayerContext* context, MediaSource* source) override;

  // What the last video thread did, once its thread has ended.
  Played LastPlayed();
  void Report(const Played& p);

  // Microseconds since 1970, as ffmpeg's x11grab stamps its frames.
  static int64_t WallMicroseconds();

 private:
  PlayerShellServices* shell;
  std::mutex lock;
  Played last;
};
