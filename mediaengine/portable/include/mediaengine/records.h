// The four settings records that the authoring control and the media engine
// exchange whole, and the checks the engine applies as it takes them. The
// records are fixed little-endian layouts (the control keeps them back to back
// in this order), so their sizes are asserted on every target.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mediaengine {

// Texts in the records: 256 UTF-16 characters, zero-terminated.
constexpr int kRecordTextChars = 256;
constexpr int kRecordTextMax = 255;
using RecordText = char16_t[kRecordTextChars];

struct KRVideoEncoderConfig {
  int32_t bitRate[2];     // per layer, bit/s
  int32_t layers;         // 1 or 2
  int32_t width;          // encoding size, pixels
  int32_t height;
  float frameRate[2];     // per layer, frames/s
  float sourceFrameRate;  // frames/s
  int32_t frameSize;      // width x height x 3 / 2, bytes
  uint16_t fullSearch;
  uint16_t fixedIFrameInterval;  // 0: the encoder and the streamer get -1
  int32_t iFrameInterval;
  uint16_t videoRandomPositioning;
  uint16_t reserved;
};

struct KRAudioStreamEntry {
  int32_t codec;  // 0 GSM-AMR, 1 EVRC, 2 AAC, -1 no stream
  int32_t enabled;
  int32_t samplingRate;
  int32_t bitRate;
  uint16_t channels;
};

constexpr int kAudioStreamEntries = 5;

struct KRAudioEncoderConfig {
  KRAudioStreamEntry stream[kAudioStreamEntries];
};

struct KROutputConfig {
  int32_t mediaOutputType;  // 1, 4, 5 or 12
  uint16_t fileOutput;
  int32_t streamType;  // 1..5
  uint32_t bandwidth;
  float frameRate;
  int32_t rtspPort;
  uint32_t rtpPort;
  uint32_t rtcpPort;
  int32_t clientInterval;     // byte 32
  int32_t clientReportCount;  // byte 36
  int32_t clientIdleTime;     // byte 40, seconds
  uint32_t furtherValue1;     // byte 44: the control's security check (streamer parameters 5 and 6)
  uint32_t furtherValue2;     // byte 48
  float layerFrameRate[2];
  uint32_t layerBitRate[2];
  int32_t width;
  int32_t height;
  uint32_t enhancementLayers;  // layers - 1
  uint16_t clientNoAudio;
  uint16_t downloadOnly;
  uint16_t randomPositioning;
  RecordText title;
  RecordText author;
  RecordText copyright;
  RecordText description;
  RecordText rating;
  int32_t contentVersion;  // 10, 20, 21 or 30
  RecordText outputFileName;
  RecordText stillImageFileName;
  RecordText outputText;
};

struct KRApplicationConfig {
  int32_t applicationValue;
  int32_t applicationMode;  // 0, 1, 2
  int32_t liveSource;       // 0 or 1
  RecordText inputFileName;
  RecordText profileName;
  RecordText profileDescription;
  int16_t videoDeviceIndex;  // 0..4
  int16_t audioDeviceIndex;
  float maxDuration;
  int32_t durationUnit;  // 1..4
  uint32_t maxSize;      // 1..65535, else 0
};

// The four records as the configuration object holds them.
struct KRSettingsRecords {
  KRVideoEncoderConfig video;
  KRAudioEncoderConfig audio;
  KROutputConfig output;
  KRApplicationConfig application;
};

static_assert(sizeof(char16_t) == 2);
static_assert(sizeof(float) == 4);
static_assert(sizeof(KRVideoEncoderConfig) == 48);
static_assert(sizeof(KRAudioStreamEntry) == 20);
static_assert(sizeof(KRAudioEncoderConfig) == 100);
static_assert(sizeof(KROutputConfig) == 4188);
static_assert(sizeof(KRApplicationConfig) == 1564);
static_assert(sizeof(KRSettingsRecords) == 48 + 100 + 4188 + 1564);
// Offsets the streamer parameters and the control rely on.
static_assert(offsetof(KROutputConfig, clientInterval) == 32);
static_assert(offsetof(KROutputConfig, clientIdleTime) == 40);
static_assert(offsetof(KROutputConfig, furtherValue1) == 44);
static_assert(offsetof(KROutputConfig, title) == 86);
static_assert(offsetof(KROutputConfig, contentVersion) == 2648);
static_assert(offsetof(KROutputConfig, outputText) == 3676);
static_assert(offsetof(KRApplicationConfig, videoDeviceIndex) == 1548);

// Length of an incoming text, looked at no further than its 256 characters;
// a text without a terminator there answers 256 (too long).
int BoundedTextLength(const char16_t* text);

// Every default of the records. The output text and the profile description
// are not defaults: they keep what they hold.
void ResetToDefaults(KRSettingsRecords& records);

// The checks of the configuration interface, field by field in the order the
// engine takes them. Out-of-range values are never an error: the stored value
// stays (or becomes the default when it is itself out of range). Answers 0,
// or one of the two frame-rate errors of the video record.
int32_t TakeVideoEncoderConfig(KRVideoEncoderConfig& stored, const KRVideoEncoderConfig& in);
void TakeAudioEncoderConfig(KRAudioEncoderConfig& stored, const KRAudioEncoderConfig& in);
void TakeOutputConfig(KROutputConfig& stored, const KROutputConfig& in);
void TakeApplicationConfig(KRApplicationConfig& stored, const KRApplicationConfig& in);

}  // namespace mediaengine
