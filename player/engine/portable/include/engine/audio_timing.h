// The arithmetic of the audio path, kept apart from its threads so that it
// is checked on its own: PCM buffer sizes, track-unit conversions, where the
// next buffer will be heard, where a played buffer puts the clock, and what
// the decoder library is told about each frame read.
#pragma once

#include <cstdint>

namespace audio_timing {

constexpr uint32_t kOpenEnd = 0x7FFFFFFF;
// Buffers queued after a (re)synchronisation during which every read is a
// resynchronisation point for the library.
constexpr uint32_t kResyncBuffers = 5;

// 500 ms above 8000 Hz, else 200 ms.
inline uint32_t BufferMs(uint32_t sampleRate) { return sampleRate > 8000 ? 500 : 200; }

// Bytes of one PCM buffer: whole sample frames only, so that 11025 Hz gives
// no half sample (8000 Hz mono 16-bit: 3200 bytes per 200 ms).
inline uint32_t BufferBytes(uint32_t sampleRate, uint32_t channels, uint32_t bitsPerSample, uint32_t bufferMs) {
  const uint32_t frameBytes = bitsPerSample / 8 * channels;
  const float perSecond = 1000.0f / static_cast<float>(bufferMs);
  const uint32_t frames = static_cast<uint32_t>(static_cast<float>(sampleRate) / perSecond);
  return frames * frameBytes;
}

// ms into track units, single-precision and truncated as the library
// expects; the open end stays open.
inline uint32_t MsToUnits(uint32_t ms, uint32_t unitsPerSecond) {
  if (ms == kOpenEnd) return kOpenEnd;
  return static_cast<uint32_t>(static_cast<float>(unitsPerSecond) * static_cast<float>(ms) * 0.001f);
}

// The sync windows in track units (350 and 250 ms with lip sync on).
inline uint32_t WindowUnits(uint32_t ms, uint32_t unitsPerSecond) {
  return static_cast<uint32_t>(static_cast<float>(ms) * 0.001f * static_cast<float>(unitsPerSecond));
}

// Track units into ms, 64-bit signed.
inline int64_t UnitsToMs(int64_t units, uint32_t unitsPerSecond) {
  return unitsPerSecond ? units * 1000 / static_cast<int64_t>(unitsPerSecond) : 0;
}

// Where the buffer being decoded starts to be heard: the clock plus what is
// queued, in track units.
inline uint32_t DecodePosition(uint32_t clockMs, uint32_t queuedMs, uint32_t unitsPerSecond) {
  return static_cast<uint32_t>(static_cast<float>(clockMs + queuedMs) * static_cast<float>(unitsPerSecond) * 0.001f);
}

// The clock when buffer `sequence` has played: the first frame's time after
// the resynchronisation plus the audio of the buffers since, counted in
// bytes so that rates without whole-ms buffers do not drift. Negative: a
// buffer from before the resynchronisation, which leaves the clock alone.
inline int64_t ClockAfterBuffer(uint32_t sequence, uint32_t resyncSequence, uint32_t baseTimeMs,
                                uint32_t bufferBytes, uint32_t bytesPerSecond) {
  if (sequence < resyncSequence || bytesPerSecond == 0) return -1;
  const uint64_t played = uint64_t(sequence - resyncSequence + 1) * bufferBytes;
  return int64_t(baseTimeMs) + int64_t(played * 1000 / bytesPerSecond);
}

// The source's frame status as the library is told it (0 delivered, 1
// resynchronisation point, 3 end of data, 4 nothing now); sleepMs is set to
// 20 when the source asks to be asked later.
inline uint32_t MapFrameStatus(uint32_t sourceStatus, uint32_t* sleepMs) {
  *sleepMs = 0;
  switch (sourceStatus) {
    case 1:
    case 28: return 3;
    case 5: return 1;
    case 26: *sleepMs = 20; return 4;
    default: return 0;
  }
}

// While fewer than five buffers went out since the resynchronisation, every
// read is a resynchronisation point, whatever the source said.
inline uint32_t ReadResult(uint32_t mapped, uint32_t buffersQueued, uint32_t resyncSequence) {
  return buffersQueued - resyncSequence < kResyncBuffers ? 1 : mapped;
}

// waveOut's volume word for a percentage: both channels alike.
inline uint32_t VolumeWord(uint32_t percent) {
  const uint32_t v = percent * 65535 / 100;
  return v + v * 65536;
}

// What the device accepts: mono or stereo, 8000 Hz or more, whole bytes.
inline bool FormatAcceptable(uint32_t channels, uint32_t samplesPerSecond, uint32_t bitsPerSample) {
  return (channels == 1 || channels == 2) && static_cast<double>(samplesPerSecond) * 0.001 >= 8.0 &&
         bitsPerSample != 0 && bitsPerSample % 8 == 0;
}

}  // namespace audio_timing
