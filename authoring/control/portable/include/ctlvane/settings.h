// The control's settings model: the working settings that the properties'
// pages edit, the committed set handed to the media engine, the source
// checks that keep the two consistent with the chosen source, and the
// rules of the audio entries, the bandwidth and the output file. What needs
// the engine, the file system or the user goes through `SettingsHost`, so
// every rule here runs without a window.
//
// Which set is which: the control's properties read and write `committed`
// (the records the engine gets at a start); the pages edit `working`,
// which `ReloadWorkingSettings` refills from `committed` and
// `CommitSettings` copies back.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "ctlvane/rules.h"
#include "mediaengine/records.h"

namespace ctlvane {

constexpr HResult kBadParameter = static_cast<HResult>(0x800A03F4);
constexpr HResult kBadSourceSelection = static_cast<HResult>(0x800A03EE);
constexpr HResult kInvalidAudioCodec = static_cast<HResult>(0x800A0421);
constexpr HResult kCannotShowPages = static_cast<HResult>(0x800A0425);
constexpr HResult kValidateInputFailed = static_cast<HResult>(0x800A0426);
constexpr HResult kNoAudioDeviceVideoOnly = static_cast<HResult>(0x800A0432);
constexpr HResult kAacDisabledForStream = static_cast<HResult>(0x800A0433);
constexpr HResult kSourceNotWider = static_cast<HResult>(0x800A041D);
constexpr HResult kWrongInputDimensions = static_cast<HResult>(0x800A0406);

// String-table ids of the settings messages (the texts live in the
// module's table; `FormatText` fills them).
enum MessageId : unsigned {
  kMsgNone = 0,
  kMsgFileNotFound = 403,        // "%s could not be located"
  kMsgBadPath = 404,             // "All or part of the path %s is invalid"
  kMsgTooManyOpenFiles = 405,
  kMsgAccessDenied = 406,        // "%s could not be accessed."
  kMsgInvalidFile = 407,
  kMsgDirectoryFull = 408,
  kMsgBadSeek = 409,
  kMsgDiskFull = 410,
  kMsgLockViolation = 411,
  kMsgSharingViolation = 412,    // with the file name
  kMsgEndOfFile = 413,           // with the file name
  kMsgHardwareError = 414,
  kMsgOutputNameTooLong = 483,   // "%s exceeds the maximum string length of 256."
  kMsgBadOutputFile = 487,       // "%s  Please select another output file." (the reason)
  kMsgBandwidthTooLow = 503,
  kMsgUnsupportedFormat = 508,
  kMsgWidthBelowHeight = 510,
  kMsgSourceTooLarge = 511,      // 800, 600
  kMsgSourceTooSmall = 512,      // 128, 96
  kMsgVideoOnlyFile = 513,       // the file's name
  kMsgAudioOnlyFile = 515,       // the file's name
  kMsgChangedProperties = 517,   // caption
  kMsgCannotChangeStreamType = 519,
  kMsgAudioRateChanged = 520,
  kMsgEncodingSizeChanged = 521, // the new width, height
  kMsgVideoDeviceUnavailable = 524,
  kMsgNotAnImage = 529,
  kMsgUnusableStillImage = 530,
  kMsgStillImageMissing = 541,
  kMsgBandwidthBelowAudio = 553,
  kMsgTypeFileName = 555,
  kMsgNoAudioDevice = 582,
  kMsgOpenStillImage = 585,      // the image's name
  kMsgOpenInputFile = 586,       // the file's name
  kMsgNoAudioForAudioOnly = 600,
  kMsgCameraNotPluggedIn = 61547,
};

// A message of the string table with its arguments, in the order of the
// format's conversions. A `Nested` argument is itself a text of the table
// filled with one name (a file failure's reason inside message 487).
struct Nested {
  unsigned id = 0;
  std::u16string name;
};
using MessageArg = std::variant<int64_t, double, std::u16string, Nested>;
struct Message {
  unsigned id = kMsgNone;
  std::vector<MessageArg> args;
  bool Empty() const { return id == kMsgNone; }
};
// Fills the format `load(id)` with the arguments (%d, %ld, %s, %f with
// width and precision, %%); a conversion without an argument stays empty.
std::u16string FormatText(const Message& message, const StringLoader& load);

struct Size {
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const Size&) const = default;
};
// Both dimensions of `inner` at most those of `outer`.
inline bool FitsInside(Size inner, Size outer) { return inner.width <= outer.width && inner.height <= outer.height; }

// What the engine reports of a media file (its source information record).
struct SourceInfo {
  std::u16string fileName;
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitsPerPixel = 0;
  float frameRate = 0;
  int32_t duration = 0;  // whole seconds
  int32_t audioStreams = 0;
  int32_t videoStreams = 0;
  // A picture to measure: a file with video and a reported size.
  bool HasPicture() const { return videoStreams > 0 && width > 0 && height > 0; }
};

// The application record's source kind (`sourceType`).
enum SourceKind : int32_t { kMediaFileSource = 0, kCaptureSource = 1 };
// The output record's stream type (`streamOut`).
enum StreamType : int32_t { kAudioOnly = 1, kVideoOnly = 2, kAudioVideo = 3, kStillWithAudio = 5 };
constexpr int32_t kFileOutput = 1;  // media output type of a file
constexpr int16_t kNoAudioDevice = -1;  // the audio device index 65535

// The smallest encoding size, what a fit falls back to.
constexpr Size kFallbackSize = {128, 96};
// Encoding sizes offered to the user, in table order.
extern const std::array<Size, 8> kEncodingSizes;

// What the model asks of the media engine, the file system and the user.
class SettingsHost {
 public:
  virtual ~SettingsHost() = default;
  // The engine's facts of a media file; false when no source opens it.
  virtual bool FileInfo(std::u16string_view path, SourceInfo* info) = 0;
  // The capture sizes a video device offers; false when it is not available.
  virtual bool CaptureSizes(int device, std::vector<Size>* sizes) = 0;
  // Selects an audio capture device; false when it cannot be.
  virtual bool SelectAudioDevice(int device) = 0;
  // The size of a still image; false when it cannot be opened.
  virtual bool StillImageSize(std::u16string_view path, Size* size) = 0;
  // Creates the file for a moment (an existing one is kept as it is); 0,
  // or the framework's file failure cause.
  virtual int TrialCreate(std::u16string_view path) = 0;
  // The control's error reporting (KRError).
  virtual void Report(HResult code) = 0;
  // A message box: the lines, one after the other, under the caption text
  // `captionId` (0: the control's caption); `warning` the exclamation icon,
  // else the information icon.
  virtual void Show(const std::vector<Message>& lines, unsigned captionId, bool warning) = 0;
};

// The framework's file failure causes as the control words them; 0 for a
// cause without text.
unsigned FileErrorTextId(int cause);

// The part of a path behind its last backslash; empty for a path of 255
// characters or more.
std::u16string FileNamePart(std::u16string_view path);
// The media-file and still image extensions, by the name's last three,
// four or five characters compared exactly (".avi" or ".AVI", not ".Avi").
bool IsMediaFileName(std::u16string_view name, Message* message);
bool IsStillImageName(std::u16string_view name, Message* message);
// A profile file: ".krp" or ".KRP".
bool IsProfileFileName(std::u16string_view name);

// 1 when a media file's picture is allowed (width at least the height,
// 128..800 by 96..600); 0 with message 510, 512 or 511. A source without
// a picture passes.
int CheckSourceDimensions(const SourceInfo& source, Message* message);

// The output includes a file: media output type 1, or a streamed output
// with file output on.
inline bool OutputGoesToFile(const mediaengine::KROutputConfig& out) {
  return out.mediaOutputType == kFileOutput || out.fileOutput == 1;
}

// For a file output (media output type 1): a name without extension, or
// with one other than ".mp4"/".MP4", gets ".mp4"; a folder (a name ending
// in a backslash) or an empty name gives false. Other outputs keep it.
bool FixOutputExtension(int32_t mediaOutputType, std::u16string* name);

// The encoder's frame rates for a source rate, in hundredths of a frame
// per second, in list order (30.0 gives 3000, 1500, 1000, 750, ... 1).
std::vector<int32_t> EncoderFrameRates(float sourceRate);
// The listed rate nearest `rate` not above it (the lowest listed when all
// are above); `rate` itself when the list is empty.
float SnapFrameRate(float rate, float sourceRate);

// The duration limit in whole seconds for a maximum duration and its unit
// (1 s, 2 min, 3 h, 4 days); false for another unit.
bool DurationLimitSeconds(float maxDuration, int32_t unit, int64_t* seconds);

// One audio entry as the dispatch methods see it.
struct AudioEntry {
  int32_t codec = -1;
  bool enabled = false;
  int32_t samplingRate = 0;
  int32_t bitRate = 0;
  int16_t channels = 0;
};

// Fields of the settings pages, handed out and taken back whole.
struct CodecPageFields {
  mediaengine::KRAudioStreamEntry audio[mediaengine::kAudioStreamEntries];
  int32_t encWidth, encHeight, streamType, mediaOutputType;
  int32_t sourceKind;  // read only
  Size picture;        // the media file's picture, read only
  bool pictureKnown;   // read only
};
struct SettingPageFields {
  int32_t bitRate[2];
  int32_t layers;
  float frameRate[2];
  uint16_t fullSearch, fixedIFrameInterval;
  int32_t iFrameInterval;
  uint16_t videoRandomPositioning, randomPositioning;
  int32_t streamType, sourceKind;  // read only
};
struct InputPageFields {
  int32_t sourceKind;
  int16_t videoDevice, audioDevice;
  std::u16string sourceFileName, stillImageFileName;
  int32_t streamType, mediaOutputType;
};
struct OutputPageFields {
  int32_t mediaOutputType;
  int32_t rtspPort;
  std::u16string outputFileName;
  uint32_t maxSize;
  float maxDuration;
  int32_t durationUnit;
  uint16_t downloadOnly;
};
struct ProfilePageFields {
  std::u16string profileName, profilePath;
  uint32_t bandwidth;
  mediaengine::KRAudioEncoderConfig audio;
  mediaengine::KRVideoEncoderConfig video;
  mediaengine::KROutputConfig output;
};
enum ClipText { kClipTitle, kClipAuthor, kClipCopyright, kClipDescription, kClipRating };
// The sheet's file dialog folders.
enum DialogFolder { kInputFolder, kImageFolder, kOutputFolder, kProfileFolder };

class SettingsModel {
 public:
  mediaengine::KRSettingsRecords working{};
  mediaengine::KRSettingsRecords committed{};
  // The media file's facts: as the pages last read them, and as committed
  // (`sourceValid`: `source` holds the facts of the current `srcFileName`).
  SourceInfo workingSource;
  bool workingSourceKnown = false;
  SourceInfo source;
  bool sourceValid = false;
  // The still image's size; zero while unknown.
  Size stillImage;
  // The capture size that the last commit chose for a capture source with
  // video; zero when no listed size holds the encoding size.
  Size captureSize;
  // The sheet's file dialog folders (input, still image, output, profile).
  std::array<std::u16string, 4> folders;
  // The duration limit of the limit test, whole seconds.
  int64_t durationLimit = 0;

  // working = committed (records, source facts); the still image size is
  // cleared.
  void ReloadWorkingSettings();
  // Stream type 5 without an image becomes 1 after message 541; copies
  // the working set into the committed one; for a capture source with video
  // chooses `captureSize` (the smallest listed size that holds the
  // encoding size); drops the capture size lists.
  void CommitSettings(SettingsHost& host);

  // Asks the engine for the file's facts and keeps them as the working
  // source facts; false when they cannot be had.
  bool OpenInputFile(SettingsHost& host, std::u16string_view path);
  // The working stream type fitted to the source (messages 513, 515, 582).
  void AdjustStreamTypeToSource(Message* message);
  // The capture sizes of a video device, asked once per device until the
  // next commit; false when the device is not available.
  bool BuildCaptureSizeList(SettingsHost& host, int device);
  // The largest listed size of the selected video device (an entry wins
  // only when it is larger in both dimensions); zero without a list.
  Size LargestCaptureSize() const;
  // Makes the working encoding size fit the source; true when it changed
  // (message 521 with the new size, or 61547 when a capture device reported
  // no size).
  bool FitEncodingSize(int32_t sourceKind, bool stillImageFlag, Size wanted, Message* message);
  // The offered encoding sizes that fit inside the source's picture.
  std::vector<Size> EncodingSizeList() const;
  // For a capture source: the device's list asked again, the size fitted.
  void RecheckCaptureSize(SettingsHost& host, Message* message);

  // The checks of dispatch method 77: answers 0 (with an optional note in
  // `message`) or the failure, which has been reported.
  HResult ValidateInputSource(SettingsHost& host, Message* message);
  // Dispatch method 98: for an output to a file, the output file check of
  // the committed name.
  HResult ValidateOutputFile(SettingsHost& host, Message* message);
  // The output file check: length, extension (fixed in `name` for a file
  // output) and a trial create; false with message 483 or 487.
  static bool CheckOutputFile(SettingsHost& host, int32_t mediaOutputType, std::u16string* name, Message* message);
  // "<output folder>\<profile name>_<source title>.mp4" into the working
  // output record; false with message 483 when it would be too long.
  bool BuildOutputFileName(Message* message);

  // One of the five entries of an audio record (dispatch methods 80, 81:
  // the control hands its committed record, the pages the working one).
  static HResult ConfigAudioCodec(SettingsHost& host, mediaengine::KRAudioEncoderConfig& audio, int index,
                                  const AudioEntry& entry);
  static HResult GetConfigAudioCodec(SettingsHost& host, const mediaengine::KRAudioEncoderConfig& audio, int index,
                                     AudioEntry* entry);

  // Bandwidth and audio rates of the working records.
  void SetBandwidth(uint32_t bandwidth);
  void RecomputeVideoBitRates();
  int32_t LargestEnabledAudioRate() const;
  bool AudioRateFitsBandwidth(int32_t audioRate) const;
  bool CheckBandwidth(uint32_t candidate, unsigned* messageId, uint32_t* suggested) const;
  int32_t AvailableVideoBitRate(int32_t layers) const;
  bool AcceptStreamType(int32_t streamType, int32_t audioRate, unsigned* messageId) const;

  // For a streamed output: AAC off (each enabled one reported with
  // 0x800A0433), one enabled audio entry at most, the download-only and
  // positioning flags cleared. True when anything changed.
  bool RestrictForStreaming(SettingsHost& host);
  // The layer frame rates snapped to the encoder's list for the source rate.
  void SnapFrameRates();
  // The frame-rate list of the Setting page (reverse list order).
  std::vector<int32_t> SettingPageFrameRates() const;
  // Keeps the duration limit for the limit test; another unit leaves it.
  void SetDurationLimit(float maxDuration, int32_t unit);
  // The Profile page's values taken: the source, streaming and size rules
  // again; their messages shown under "Changed Properties".
  void ApplyProfileChanges(SettingsHost& host);

  // Page field transfers (working set).
  CodecPageFields GetCodecPage() const;
  void SetCodecPage(const CodecPageFields& fields);
  SettingPageFields GetSettingPage() const;
  void SetSettingPage(const SettingPageFields& fields);
  std::u16string GetClipText(ClipText which) const;
  void SetClipText(ClipText which, std::u16string_view text);
  InputPageFields GetInputPage() const;
  void SetInputPage(const InputPageFields& fields);
  OutputPageFields GetOutputPage() const;
  void SetOutputPage(const OutputPageFields& fields);
  static bool CheckPort(int32_t port) { return port >= 1 && port <= 7999; }
  static bool CheckMaxSize(int64_t size) { return size >= 0 && size <= 65535; }
  static bool CheckMaxDuration(float duration) { return duration >= 0.0f && duration <= 999.99f; }
  static bool CheckIFrameInterval(int64_t interval) { return interval >= 1 && interval <= 65535; }
  // The profile name and file: the name stored, the output name rebuilt; a
  // file not ending in ".krp"/".KRP" is refused.
  bool SetProfile(std::u16string_view name, std::u16string_view path, Message* message);
  std::u16string profilePath;
  ProfilePageFields GetProfilePage() const;
  // A profile is saved from the working settings: `save` (the engine's
  // profile writing, which reads `committed`) runs with them in place of
  // the committed set, which is put back afterwards.
  template <class Save>
  auto SaveWorkingAsProfile(Save save) {
    std::swap(working, committed);
    auto result = save();
    std::swap(working, committed);
    return result;
  }
  // A loaded profile replaces the working settings.
  void LoadProfileRecords(const mediaengine::KRSettingsRecords& loaded) { working = loaded; }

 private:
  int32_t SelectedVideoDevice() const { return working.application.videoDeviceIndex; }
  std::map<int, std::vector<Size>> captureLists_;
};

}  // namespace ctlvane
