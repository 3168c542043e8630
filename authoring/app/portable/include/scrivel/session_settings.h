// The session model: `CSessionSettings`, one plain record of every setting of
// an encoding job (it mirrors the authoring control's properties), and the
// session object that wraps one record with its file, name and modified
// state. The encoder view fills the record from the control and pushes it
// back; here it is only an interface (SessionHost), so the model's rules run
// natively.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "mediaengine/records.h"

namespace scrivel {

// Text fields hold 255 characters and the terminator; the five clip texts
// 256 and the terminator. Longer texts are cut at the field's end.
constexpr int kFieldTextChars = 256;
constexpr int kClipTextChars = 257;
using FieldText = char16_t[kFieldTextChars];
using ClipText = char16_t[kClipTextChars];

// The clip texts in the record's order (the control's SetMetaData order).
enum ClipTextIndex : int { kClipTitle, kClipAuthor, kClipCopyright, kClipDescription, kClipRating, kClipTextCount };

// Units of `maxDuration` (`unitDuration`).
enum DurationUnit : int32_t { kSeconds = 1, kMinutes = 2, kHours = 3, kDays = 4 };

constexpr int32_t kNoAudioDevice = 65535;
constexpr int32_t kStillImageStream = 5;  // `streamOut` of a still-image source
constexpr int32_t kFileOutput = 1;        // `mediaOut` of file output

// The record's fields, in order. Kept apart from the class so that the
// copy takes every field, including any added later.
struct SessionFields {
  // Video group.
  int32_t baseBitRate;
  int32_t enBitRate;
  int32_t nLayers;
  int32_t encWidth;
  int32_t encHeight;
  int32_t iFrameInterval;
  float baseFrameRate;
  float enFrameRate;
  int32_t bandwidth;
  int32_t videoFlag;
  int32_t streamOut;  // 1 audio, 2 video, 3 both, 5 still image with audio
  // Audio group, in the media engine's layout.
  mediaengine::KRAudioEncoderConfig audio;
  // Option flags.
  int32_t bEncodeDownloadOnly;
  int32_t bMultiplePass;
  int32_t bEnableFixedIFrame;
  int32_t bClientNoAudio;
  int32_t bEnableVideoRandomPositioning;
  int32_t bEnableRandomPositioning;
  // Profile and session texts.
  FieldText profilePath;
  FieldText profileName;
  FieldText sessionPath;
  FieldText sessionName;  // the session file's title (the document title)
  // Seven words.
  int32_t mediaOut;  // 1 file, 4, 5 or 12 streaming
  int32_t capWidth;
  int32_t capHeight;
  int32_t stillImageWidth;   // the still image's information
  int32_t stillImageHeight;
  int32_t stillImageBits;
  int32_t reservedWord;
  FieldText inputFile;
  FieldText stillImageFile;
  // Source block.
  int32_t liveCapture;  // 1 live capture, 0 a file
  int32_t audioDeviceIndex;  // kNoAudioDevice: none
  int32_t videoDeviceIndex;
  float captureFrameRate;
  int32_t fileWidth;  // the input file's information
  int32_t fileHeight;
  float fileFrameRate;
  int32_t fileHasAudio;
  int32_t fileHasVideo;
  int32_t fileDuration;  // seconds
  int32_t sourceWidth;
  int32_t sourceHeight;
  int32_t sourceFrameSize;  // width x height x 3 / 2
  int32_t encoding;  // 1 while a run started by the session goes on
  int32_t sourceFlag;
  FieldText outputFileName;
  // Output and limits.
  int32_t portNumber[3];
  int32_t maxSize;  // KB, 0 none
  float maxDuration;  // in `unitDuration`, 0 none
  int32_t unitDuration;
  int32_t bFullSearch;
  ClipText clip[kClipTextCount];
  int32_t lastReserved;
  int32_t contentVersion;  // 30: content version 3.0
};

class CSessionSettings : public SessionFields {
 public:
  CSessionSettings() { Reset(); }
  CSessionSettings(const CSessionSettings& from) { Copy(from); }
  CSessionSettings& operator=(const CSessionSettings& from) {
    Copy(from);
    return *this;
  }
  virtual ~CSessionSettings() = default;

  virtual void Copy(const CSessionSettings& from);
  virtual void Reset();

  // The three compare widths; each answers 1 at the first difference, else 0.
  // Codecs: the video and audio groups. WithTexts: also the clip and profile
  // texts. Whole: also the source (live flag; device indices for a live
  // source, the input file otherwise; the still image for stream type 5),
  // the texts after the source block, the last word, and the options,
  // output and limits that the settings sheet edits.
  int CompareCodecs(const CSessionSettings& other) const;
  int CompareWithTexts(const CSessionSettings& other) const;
  int CompareWhole(const CSessionSettings& other) const;

  // Text setters: true when the whole text fitted (a longer one is cut).
  bool SetProfilePath(std::u16string_view text);
  bool SetProfileName(std::u16string_view text);
  bool SetSessionPath(std::u16string_view text);
  bool SetSessionName(std::u16string_view text);
  bool SetInputFile(std::u16string_view text);
  bool SetStillImageFile(std::u16string_view text);
  bool SetOutputFileName(std::u16string_view text);
  bool SetClipText(ClipTextIndex which, std::u16string_view text);

  // Reads of the text fields, never past the field.
  static std::u16string Text(const FieldText& field);
  static std::u16string Text(const ClipText& field);
};

// The file title of a path: the text after the last backslash without its
// last four characters (the extension); empty when that text is shorter.
std::u16string FileTitle(std::u16string_view path);

// What the session object needs of the encoder view.
class SessionHost {
 public:
  virtual ~SessionHost() = default;
  virtual bool Running() const = 0;  // the view's started flag
  virtual bool Busy() const = 0;     // its stop-requested flag
  virtual bool Started() const = 0;  // a run of the control has started
  virtual void StopPreview() = 0;
  // The property sheet for `mode` (page) and `path` over `record`; 1 when
  // the user accepted it.
  virtual int EditSettings(int mode, std::u16string_view path, CSessionSettings& record) = 0;
  virtual int LoadSession(std::u16string_view path, CSessionSettings& record) = 0;
  virtual int SaveSession(std::u16string_view path, CSessionSettings& record) = 0;
  virtual int LoadProfile(CSessionSettings& record) = 0;
  virtual int SaveProfile(CSessionSettings& record) = 0;
  virtual void StartRun(int kind, CSessionSettings& record) = 0;  // 1 first kind, 3 encoding
  virtual void StopRun(CSessionSettings& record) = 0;
  virtual void StartPreview(CSessionSettings& record) = 0;
  virtual void SelectSummaryPanel(int panel) = 0;
  // The still image's width, height and bit count; false when unreadable.
  virtual bool StillImageInfo(std::u16string_view path, int32_t* width, int32_t* height, int32_t* bits) = 0;
};

// The five (identifier, value) pairs of a run's measured audio rates.
struct MeasuredRate {
  int32_t id = -1;
  int32_t value = 0;
};

class CSession {
 public:
  CSession(const CSessionSettings& from, SessionHost& host);

  CSessionSettings& Settings() { return *settings_; }
  const CSessionSettings& Settings() const { return *settings_; }
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  bool Applying() const { return applying_; }
  void ClearApplying() { applying_ = false; }
  bool RunningFlag() const { return running_; }

  // Let the encoder view edit a copy of the record; an accepted edit is
  // taken and marks the session modified only when it differs.
  int Apply(int mode, std::u16string_view path);
  int LoadFromFile(std::u16string_view path);
  int SaveToFile(std::u16string_view path);
  int LoadProfile();
  int SaveProfile();
  void ToggleRun();
  void StartFirstKind();
  void Preview();
  void ReadStillImageInfo();

  std::u16string Name() const { return CSessionSettings::Text(settings_->sessionName); }
  std::u16string Path() const { return CSessionSettings::Text(settings_->sessionPath); }

  MeasuredRate measured[5];
  // The measured rate of `id` as kbit/s with two decimals while the
  // encoder view is busy; otherwise empty.
  std::u16string BitRateText(int32_t id) const;

 private:
  void TakeFile(std::u16string_view path);

  std::unique_ptr<CSessionSettings> settings_;
  SessionHost& host_;
  bool modified_ = false;
  bool applying_ = true;
  bool running_ = false;
};

}  // namespace scrivel
