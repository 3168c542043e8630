// Records and numbers shared by the player engine, its media sources, the
// controller and the shell: the track table, the clip descriptor's access
// record, the clip properties, frame statuses and result codes.
#pragma once

#include <cstddef>
#include <cstdint>

// One row of a clip's track table.
struct TrackEntry {
  uint32_t trackId;
  char16_t codecName[32];
  uint32_t bitrate;  // bits per second
  uint32_t flags;    // bitrate | kTrackAac | kTrackPlayableVersion (| chooser bits)
  uint32_t selected;
};
static_assert(sizeof(TrackEntry) == 80);

constexpr uint32_t kTrackAac = 0x10000;
constexpr uint32_t kTrackPlayableVersion = 0x20000;
constexpr uint32_t kTrackDecoderPresent = 0x40000;
constexpr uint32_t kTrackPreferred = 0x80000;
constexpr uint32_t kMaxTracks = 10;

// The access record of a clip descriptor entry, byte for byte as the
// descriptor stores it; the request texts are zero-terminated 8-bit texts.
#pragma pack(push, 1)
struct ClipAccessInfo {
  uint32_t present;
  uint8_t flag;
  char user[257];
  char authentication[37];
  char expiration[21];
  char application[257];
  char extra[17];
  char signature[42];
  uint32_t startMs;
  uint32_t endMs;
};
#pragma pack(pop)
static_assert(sizeof(ClipAccessInfo) == 644);
static_assert(offsetof(ClipAccessInfo, user) == 5);
static_assert(offsetof(ClipAccessInfo, authentication) == 262);
static_assert(offsetof(ClipAccessInfo, expiration) == 299);
static_assert(offsetof(ClipAccessInfo, application) == 320);
static_assert(offsetof(ClipAccessInfo, extra) == 577);
static_assert(offsetof(ClipAccessInfo, signature) == 594);
static_assert(offsetof(ClipAccessInfo, startMs) == 636);
static_assert(offsetof(ClipAccessInfo, endMs) == 640);

// What the engine tells the controller and the main window about a clip.
// The texts belong to the source.
struct ClipProperties {
  uint32_t isLive;
  uint32_t contentFlags;
  uint32_t sourceType;
  uint32_t videoWidth;
  uint32_t videoHeight;
  uint32_t durationMs;
  uint32_t startMs;
  uint32_t endMs;
  uint32_t downloadSize;
  const char16_t* title;
  const char16_t* author;
  const char16_t* copyright;
  const char16_t* rating;
  const char16_t* description;
};
// Fourteen words on the 32-bit player.
static_assert(sizeof(void*) != 4 || sizeof(ClipProperties) == 14 * 4);

// Content flags of a source.
constexpr uint32_t kContentAudio = 1;
constexpr uint32_t kContentVideo = 2;
constexpr uint32_t kContentStill = 4;

// Source kinds.
constexpr uint32_t kSourceFile = 1;
constexpr uint32_t kSourceStream = 2;
constexpr uint32_t kSourceDownload = 3;

constexpr uint32_t kPlayToEnd = 0x7FFFFFFF;

// Frame statuses of GetAudioFrame and GetVideoFrame.
enum FrameStatus : uint32_t {
  kFrameDelivered = 0,
  kFrameNone = 1,
  kFrameBeforeStart = 4,
  kFrameClockStarted = 5,
  kFrameLater = 26,
  kFrameEndOfMedia = 28,
  kFrameNoClockAdvance = 38,
};

// Result codes shared by the engine, its sources and the controller.
enum PlayerResult : uint32_t {
  kOk = 0,
  kNotYet = 1,
  kNothingSelected = 2,
  kNoVideoThread = 3,
  kThreadNotCreated = 6,
  kThreadNotResumed = 7,
  kThreadPriority = 12,
  kFileNotOpened = 13,
  kLowMemoryPreroll = 14,
  kUnsupported = 15,
  kPauseFailed = 21,
  kResumeFailed = 22,
  kCannotPlay = 23,
  kStopFailed = 24,
  kConnectionLost = 25,
  kVersionTooOld = 26,
  kNoConnection = 27,
  kBadCommandLine = 32,
  kClientInfoRefused = 35,
  kTrackSetupFailed = 39,
};

// Engine states.
enum EngineState : uint32_t {
  kStateOpened = 1,
  kStatePlaying = 2,
  kStatePaused = 4,
  kStateStopping = 5,
  kStateStopped = 6,
  kStateNotOpened = 7,
};

// Observer player states.
constexpr uint32_t kPlayerConnecting = 1;
constexpr uint32_t kPlayerPlaying = 2;
constexpr uint32_t kPlayerPaused = 4;
constexpr uint32_t kPlayerReady = 6;
constexpr uint32_t kPlayerStopped = 7;
