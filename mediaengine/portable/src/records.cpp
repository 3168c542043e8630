#include "mediaengine/records.h"

#include <algorithm>
#include <cstring>

#include "mediaengine/errors.h"

namespace mediaengine {

namespace {

// "else keep / D": a new value outside the range is not taken; a stored value
// that is itself outside the range becomes the default.
template <class T, class InRange>
void KeepOrDefault(T& stored, T in, InRange inRange, T fallback) {
  if (inRange(in))
    stored = in;
  else if (!inRange(stored))
    stored = fallback;
}

template <class T>
auto Between(T low, T high) {
  return [low, high](T v) { return v >= low && v <= high; };
}

template <class T>
auto OneOf(std::initializer_list<T> values) {
  return [values](T v) { return std::find(values.begin(), values.end(), v) != values.end(); };
}

// Frame rates: above 0 and at most 35 (NaN is out of range too).
bool RateInRange(float v) { return v > 0.0f && v <= 35.0f; }

void CopyText(RecordText& stored, const char16_t* in, int chars) {
  std::memcpy(stored, in, sizeof(char16_t) * chars);
  std::fill(stored + chars, stored + kRecordTextChars, u'\0');
}

void SetText(RecordText& stored, const char16_t* text) {
  CopyText(stored, text, BoundedTextLength(text));
}

// Clip texts: a long one is cut to its first 255 characters.
void TakeTextCut(RecordText& stored, const RecordText& in) {
  CopyText(stored, in, std::min(BoundedTextLength(in), kRecordTextMax));
}

// File names and the output text: a long one empties the stored one.
void TakeTextOrEmpty(RecordText& stored, const RecordText& in) {
  int length = BoundedTextLength(in);
  CopyText(stored, in, length > kRecordTextMax ? 0 : length);
}

// Input file name: a long one is not taken.
void TakeTextOrKeep(RecordText& stored, const RecordText& in) {
  int length = BoundedTextLength(in);
  if (length <= kRecordTextMax) CopyText(stored, in, length);
}

// Profile name and description: a long one is not taken, and a stored one
// that is itself too long is emptied.
void TakeProfileText(RecordText& stored, const RecordText& in) {
  int length = BoundedTextLength(in);
  if (length <= kRecordTextMax)
    CopyText(stored, in, length);
  else if (BoundedTextLength(stored) > kRecordTextMax)
    CopyText(stored, in, 0);
}

}  // namespace

int BoundedTextLength(const char16_t* text) {
  int n = 0;
  while (n < kRecordTextChars && text[n] != u'\0') ++n;
  return n;
}

void ResetToDefaults(KRSettingsRecords& r) {
  KRVideoEncoderConfig& v = r.video;
  v.bitRate[0] = v.bitRate[1] = 18290;
  v.layers = 1;
  v.width = 128;
  v.height = 96;
  v.frameRate[0] = 5.0f;
  v.frameRate[1] = 10.0f;
  v.sourceFrameRate = 30.0f;
  v.frameSize = 128 * 96 * 3 / 2;
  v.fullSearch = 0;
  v.fixedIFrameInterval = 1;
  v.iFrameInterval = 10;
  v.videoRandomPositioning = 1;
  v.reserved = 0;

  r.audio = KRAudioEncoderConfig{};
  r.audio.stream[0] = {0, 1, 8000, 4750, 1};
  r.audio.stream[1] = {1, 0, 8000, 9200, 1};
  for (int i = 2; i < kAudioStreamEntries; ++i) r.audio.stream[i].codec = -1;

  KROutputConfig& o = r.output;
  o.mediaOutputType = 1;
  o.fileOutput = 0;
  o.streamType = 3;
  o.bandwidth = 23040;
  o.frameRate = 30.0f;
  o.rtspPort = 7070;
  o.rtpPort = 0;
  o.rtcpPort = 0;
  o.clientInterval = 60;
  o.clientReportCount = 1;
  o.clientIdleTime = 60;
  o.furtherValue1 = 0;
  o.furtherValue2 = 50;
  o.layerFrameRate[0] = 5.0f;
  o.layerFrameRate[1] = 10.0f;
  o.layerBitRate[0] = o.layerBitRate[1] = 18290;
  o.width = 128;
  o.height = 96;
  o.enhancementLayers = 0;
  o.clientNoAudio = 1;
  o.downloadOnly = 0;
  o.randomPositioning = 1;
  for (RecordText* text : {&o.title, &o.author, &o.copyright, &o.description, &o.rating})
    SetText(*text, u"Kestrune Corp.");
  o.contentVersion = 30;
  SetText(o.outputFileName, u"");
  SetText(o.stillImageFileName, u"");

  KRApplicationConfig& a = r.application;
  a.applicationValue = 0;
  a.applicationMode = 2;
  a.liveSource = 0;
  SetText(a.inputFileName, u"");
  SetText(a.profileName, u"");
  a.videoDeviceIndex = 0;
  a.audioDeviceIndex = 0;
  a.maxDuration = 0.0f;
  a.durationUnit = 1;
  a.maxSize = 0;
}

int32_t TakeVideoEncoderConfig(KRVideoEncoderConfig& s, const KRVideoEncoderConfig& in) {
  s.fullSearch = in.fullSearch;
  KeepOrDefault(s.sourceFrameRate, in.sourceFrameRate, RateInRange, 30.0f);
  KeepOrDefault(s.layers, in.layers, Between(1, 2), 1);
  for (int l = 0; l < s.layers; ++l) KeepOrDefault(s.bitRate[l], in.bitRate[l], Between(1, 1000000), 18290);
  for (int l = 0; l < s.layers; ++l) {
    KeepOrDefault(s.frameRate[l], in.frameRate[l], RateInRange, 5.0f);
    // A layer must run slower than its source; the refused rate stays stored
    // and the fields after it keep their old values.
    if (!(double(s.frameRate[l]) < double(s.sourceFrameRate) + 1.0))
      return l == 0 ? KRM_E_INVALID_BASE_FRAMERATE : KRM_E_INVALID_ENHANCE_FRAMERATE;
  }
  KeepOrDefault(s.height, in.height, Between(60, 1024), 96);
  KeepOrDefault(s.width, in.width, Between(80, 1280), 128);
  KeepOrDefault(s.iFrameInterval, in.iFrameInterval, [](int32_t v) { return v >= -1; }, 10);
  s.frameSize = s.width * s.height * 3 / 2;
  s.fixedIFrameInterval = in.fixedIFrameInterval;
  s.videoRandomPositioning = in.videoRandomPositioning;
  s.reserved = in.reserved;
  return 0;
}

void TakeAudioEncoderConfig(KRAudioEncoderConfig& stored, const KRAudioEncoderConfig& in) {
  // The audio encoder filter checks these when they are committed.
  stored = in;
}

void TakeOutputConfig(KROutputConfig& s, const KROutputConfig& in) {
  KeepOrDefault(s.mediaOutputType, in.mediaOutputType, OneOf({1, 4, 5, 12}), 1);
  s.fileOutput = in.fileOutput;
  KeepOrDefault(s.contentVersion, in.contentVersion, OneOf({10, 20, 21, 30}), 30);
  KeepOrDefault(s.streamType, in.streamType, Between(1, 5), 3);
  KeepOrDefault(s.enhancementLayers, in.enhancementLayers, Between(0u, 1u), 0u);
  // The output file name matters only when the output includes a file.
  bool toFile = s.mediaOutputType == 1 ||
                (OneOf({4, 5, 12})(s.mediaOutputType) && s.fileOutput == 1);
  if (toFile) TakeTextOrEmpty(s.outputFileName, in.outputFileName);
  KeepOrDefault(s.bandwidth, in.bandwidth, Between(1u, 1000000u), 18290u);
  KeepOrDefault(s.frameRate, in.frameRate, RateInRange, 30.0f);
  KeepOrDefault(s.furtherValue2, in.furtherValue2, [](uint32_t v) { return v != 0; }, 50u);
  for (uint32_t l = 0; l <= s.enhancementLayers; ++l) {
    KeepOrDefault(s.layerFrameRate[l], in.layerFrameRate[l], RateInRange, 5.0f);
    KeepOrDefault(s.layerBitRate[l], in.layerBitRate[l], Between(1u, 1000000u), 18290u);
  }
  KeepOrDefault(s.height, in.height, Between(60, 1024), 96);
  KeepOrDefault(s.width, in.width, Between(80, 1280), 128);
  TakeTextCut(s.title, in.title);
  TakeTextCut(s.author, in.author);
  TakeTextCut(s.copyright, in.copyright);
  TakeTextCut(s.description, in.description);
  TakeTextCut(s.rating, in.rating);
  TakeTextOrEmpty(s.stillImageFileName, in.stillImageFileName);
  KeepOrDefault(s.rtspPort, in.rtspPort, Between(1, 7999), 7070);
  s.rtpPort = in.rtpPort;
  s.rtcpPort = in.rtcpPort;
  s.furtherValue1 = in.furtherValue1;
  if (in.clientInterval > 0 && in.clientReportCount > 0) {
    s.clientInterval = in.clientInterval;
    s.clientReportCount = in.clientReportCount;
  } else if (!(s.clientInterval > 0 && s.clientReportCount > 0)) {
    s.clientInterval = 60;
    s.clientReportCount = 1;
  }
  KeepOrDefault(s.clientIdleTime, in.clientIdleTime, [](int32_t v) { return v >= 1; }, 60);
  s.clientNoAudio = in.clientNoAudio;
  s.downloadOnly = in.downloadOnly;
  s.randomPositioning = in.randomPositioning;
  TakeTextOrEmpty(s.outputText, in.outputText);
}

void TakeApplicationConfig(KRApplicationConfig& s, const KRApplicationConfig& in) {
  KeepOrDefault(s.liveSource, in.liveSource, Between(0, 1), 0);
  TakeTextOrKeep(s.inputFileName, in.inputFileName);
  KeepOrDefault(s.applicationMode, in.applicationMode, OneOf({0, 1, 2}), 2);
  KeepOrDefault(s.audioDeviceIndex, in.audioDeviceIndex, Between<int16_t>(0, 4), int16_t{0});
  KeepOrDefault(s.videoDeviceIndex, in.videoDeviceIndex, Between<int16_t>(0, 4), int16_t{0});
  s.applicationValue = in.applicationValue;
  s.maxDuration = (in.maxDuration > 0.0f && in.maxDuration <= 999.99f) ? in.maxDuration : 0.0f;
  KeepOrDefault(s.durationUnit, in.durationUnit, Between(1, 4), 1);
  s.maxSize = (in.maxSize >= 1 && in.maxSize <= 65535) ? in.maxSize : 0;
  TakeProfileText(s.profileName, in.profileName);
  TakeProfileText(s.profileDescription, in.profileDescription);
}

}  // namespace mediaengine
