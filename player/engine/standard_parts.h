// The parts the player program runs on: the streaming client's clock, the
// local file source, the download source over the streaming client's HTTP
// client, the audio path over the outside decoder libraries and waveOut,
// and the video decode and playout thread. Kinds and parts not built yet come back null, which the
// engine reports as a clip it cannot open or play.
#pragma once

#include <cstdint>

#include "engine_parts.h"

class PlayerShellServices;
class WaveOutApi;

class StandardEngineParts : public EngineParts {
 public:
  // api null: the system's waveOut.
  explicit StandardEngineParts(PlayerShellServices* shell, WaveOutApi* api = nullptr);
  TickClock* NewClock() override;
  MediaSource* NewSource(uint32_t kind, PlayerContext* context) override;
  AudioDecoder* NewAudioDecoder(PlayerContext* context, MediaSource* source) override;
  VideoThread* NewVideoThread(PlayerContext* context, MediaSource* source) override;
  uint32_t TickCount() override;

 private:
  PlayerShellServices* shell;
  WaveOutApi* api;
};
