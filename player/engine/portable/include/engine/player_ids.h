// String-table ids of the player that the engine side reports by number
// (the texts live in the player's resource script).
#pragma once

#include <cstdint>

namespace ids {
// Messages.
constexpr uint32_t kMsgBadCommandLine = 50048;
constexpr uint32_t kMsgUnableToPlayClip = 50049;
constexpr uint32_t kMsgClipNotFound = 50051;
constexpr uint32_t kMsgVersionTooOld = 50060;
constexpr uint32_t kMsgInsufficientBandwidth = 50061;
constexpr uint32_t kMsgCannotPlayAudio = 50070;
constexpr uint32_t kMsgVideoOnly = 50071;
constexpr uint32_t kMsgLowStorage = 50250;
constexpr uint32_t kMsgFileNotFound = 50404;
constexpr uint32_t kMsgTimedOut = 50408;
constexpr uint32_t kMsgUnsupported = 50415;
constexpr uint32_t kMsgInvalidParameter = 50451;
constexpr uint32_t kMsgNoConnection = 50462;
constexpr uint32_t kMsgClipTooLarge = 51181;
constexpr uint32_t kMsgClipCorrupted = 51182;
constexpr uint32_t kMsgAudioDeviceBusy = 50006;
constexpr uint32_t kMsgLowMemory = 50052;
constexpr uint32_t kMsgUnsupportedColorDepth = 51221;
constexpr uint32_t kMsgDeleteSuspended = 51301;
constexpr uint32_t kMsgNetworkError = 50053;
constexpr uint32_t kMsgRequestDenied = 50400;
constexpr uint32_t kMsgNoRemoteConnection = 51202;
constexpr uint32_t kMsgNoMemoryToPlay = 50072;
// Server status messages: 50000 + the RTSP or HTTP status code.
constexpr uint32_t kMsgServerFirst = 50100;
constexpr uint32_t kMsgServerLast = 51000;

// Status texts.
constexpr uint32_t kStatusClear = 60126;
constexpr uint32_t kStatusBuffering = 60130;
constexpr uint32_t kStatusConnecting = 60131;
constexpr uint32_t kStatusReady = 60135;
constexpr uint32_t kStatusPlaying = 60136;
constexpr uint32_t kStatusPaused = 60137;
constexpr uint32_t kStatusPositioning = 60140;
constexpr uint32_t kStatusDownloading = 60141;

// Other strings.
constexpr uint32_t kStrUntitled = 60110;
constexpr uint32_t kStrVersion = 60122;
constexpr uint32_t kStrLanguage = 60124;
// Names of settings values.
constexpr uint32_t kSetPostProcessing = 60143;
constexpr uint32_t kSetMaximumBufferedData = 60144;
constexpr uint32_t kSetFilePath = 60160;
constexpr uint32_t kSetInstance = 60161;
constexpr uint32_t kSetRestart = 60162;
constexpr uint32_t kSetLastDownload = 60163;
constexpr uint32_t kSetLastTitle = 60164;
constexpr uint32_t kSetMinimumOverhead = 60165;

// Menu commands.
constexpr uint32_t kCmdOpen = 41100;
constexpr uint32_t kCmdOpenLocation = 40034;
constexpr uint32_t kCmdAddFavorite = 41101;
constexpr uint32_t kCmdClipInfo = 41102;
constexpr uint32_t kCmdFavorites = 41126;
constexpr uint32_t kCmdRecent = 41127;
constexpr uint32_t kCmdSave = 41123;
constexpr uint32_t kCmdSuspendClip = 41124;
constexpr uint32_t kCmdResumeClip = 41125;
constexpr uint32_t kCmdClearClip = 41132;

// Resources.
constexpr uint32_t kLogoBitmap = 305;
constexpr uint32_t kVideoControl = 501;
}  // namespace ids
