#include "ctlvane/settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace ctlvane {

using mediaengine::KRAudioStreamEntry;
using mediaengine::kAudioStreamEntries;

const std::array<Size, 8> kEncodingSizes = {
    Size{128, 96}, Size{160, 112}, Size{160, 120}, Size{176, 144},
    Size{192, 144}, Size{320, 224}, Size{320, 240}, Size{352, 288},
};

namespace {

std::u16string Ascii(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

std::u16string RecordString(const mediaengine::RecordText& text) {
  return std::u16string(text, static_cast<size_t>(mediaengine::BoundedTextLength(text)));
}

void PutRecord(mediaengine::RecordText& to, std::u16string_view text) {
  const size_t n = std::min(text.size(), static_cast<size_t>(mediaengine::kRecordTextMax));
  std::copy_n(text.data(), n, to);
  std::fill(to + n, to + mediaengine::kRecordTextChars, u'\0');
}

bool EndsWith(std::u16string_view text, std::u16string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool EndsWithAny(std::u16string_view name, std::initializer_list<const char16_t*> ends) {
  return std::any_of(ends.begin(), ends.end(), [name](const char16_t* e) { return EndsWith(name, e); });
}

// One printf conversion of the formatter: flags, width, precision and the
// `l` size are read; the argument decides how it is written.
std::u16string Convert(char kind, const std::string& spec, const MessageArg* arg, const StringLoader& load) {
  if (!arg) return {};
  char buffer[64];
  if (kind == 's') {
    if (const auto* s = std::get_if<std::u16string>(arg)) return *s;
    if (const auto* n = std::get_if<Nested>(arg))
      return n->id ? FormatText(Message{n->id, {n->name}}, load) : std::u16string();
    return {};
  }
  if (kind == 'd') {
    long long v = 0;
    if (const auto* i = std::get_if<int64_t>(arg)) v = *i;
    else if (const auto* d = std::get_if<double>(arg)) v = static_cast<long long>(*d);
    std::snprintf(buffer, sizeof buffer, (spec + "lld").c_str(), v);
    return Ascii(buffer);
  }
  double v = 0;
  if (const auto* d = std::get_if<double>(arg)) v = *d;
  else if (const auto* i = std::get_if<int64_t>(arg)) v = static_cast<double>(*i);
  std::snprintf(buffer, sizeof buffer, (spec + "f").c_str(), v);
  return Ascii(buffer);
}

bool Enabled(const KRAudioStreamEntry& e) { return e.enabled == 1 && e.codec != -1; }

}  // namespace

std::u16string FormatText(const Message& message, const StringLoader& load) {
  const std::u16string format = load(message.id);
  std::u16string out;
  size_t used = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%') {
      out.push_back(format[i]);
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == u'%') {
      out.push_back(u'%');
      ++i;
      continue;
    }
    // Flags, width and precision are kept (they are ASCII); `l` is dropped.
    std::string spec = "%";
    size_t j = i + 1;
    while (j < format.size() && spec.size() < 12 && std::u16string_view(u"-+ #0123456789.").find(format[j]) != std::u16string_view::npos)
      spec.push_back(static_cast<char>(format[j++]));
    while (j < format.size() && format[j] == u'l') ++j;
    if (j >= format.size() || (format[j] != u'd' && format[j] != u's' && format[j] != u'f')) {
      out.push_back(u'%');  // not a conversion this table uses
      continue;
    }
    const MessageArg* arg = used < message.args.size() ? &message.args[used] : nullptr;
    ++used;
    out += Convert(static_cast<char>(format[j]), format[j] == u's' ? std::string() : spec, arg, load);
    i = j;
  }
  return out;
}

unsigned FileErrorTextId(int cause) {
  switch (cause) {
    case 2: return kMsgFileNotFound;
    case 3: return kMsgBadPath;
    case 4: return kMsgTooManyOpenFiles;
    case 5: return kMsgAccessDenied;
    case 6: return kMsgInvalidFile;
    case 8: return kMsgDirectoryFull;
    case 9: return kMsgBadSeek;
    case 10: return kMsgHardwareError;
    case 11: return kMsgSharingViolation;
    case 12: return kMsgLockViolation;
    case 13: return kMsgDiskFull;
    case 14: return kMsgEndOfFile;
    default: return 0;
  }
}

std::u16string FileNamePart(std::u16string_view path) {
  if (path.size() >= 255) return {};
  const size_t slash = path.rfind(u'\\');
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

bool IsMediaFileName(std::u16string_view name, Message* message) {
  if (EndsWithAny(name, {u".avi", u".AVI", u".mpg", u".MPG", u".mpeg", u".MPEG", u".wav", u".WAV", u".mp3", u".MP3",
                         u".qt", u".QT", u".mov", u".MOV"}))
    return true;
  *message = Message{kMsgUnsupportedFormat, {}};
  return false;
}

bool IsStillImageName(std::u16string_view name, Message* message) {
  if (EndsWithAny(name, {u".jpg", u".JPG", u".jpeg", u".JPEG", u".bmp", u".BMP"})) return true;
  *message = Message{kMsgNotAnImage, {}};
  return false;
}

bool IsProfileFileName(std::u16string_view name) { return EndsWithAny(name, {u".krp", u".KRP"}); }

int CheckSourceDimensions(const SourceInfo& s, Message* message) {
  if (!s.HasPicture()) return 1;
  if (s.width < s.height) {
    *message = Message{kMsgWidthBelowHeight, {}};
    return 0;
  }
  if (s.width < 128 || s.height < 96) {
    *message = Message{kMsgSourceTooSmall, {int64_t{128}, int64_t{96}}};
    return 0;
  }
  if (s.width > 800 || s.height > 600) {
    *message = Message{kMsgSourceTooLarge, {int64_t{800}, int64_t{600}}};
    return 0;
  }
  return 1;
}

bool FixOutputExtension(int32_t mediaOutputType, std::u16string* name) {
  if (mediaOutputType != kFileOutput) return true;
  if (name->empty() || name->back() == u'\\') return false;
  const size_t slash = name->rfind(u'\\');
  const size_t dot = name->rfind(u'.');
  const bool hasExtension = dot != std::u16string::npos && (slash == std::u16string::npos || dot > slash);
  if (!hasExtension || (!EndsWith(*name, u".mp4") && !EndsWith(*name, u".MP4"))) *name += u".mp4";
  return true;
}

std::vector<int32_t> EncoderFrameRates(float sourceRate) {
  std::vector<int32_t> list;
  // Rates beyond what any source delivers would only make a long list.
  if (!(sourceRate > 0) || sourceRate > 1000) return list;
  const auto n = static_cast<int32_t>((static_cast<double>(sourceRate) + 0.001) * 100.0);
  double last = 0;
  bool lastIsOne = false;
  for (int32_t d = 1; d <= n; ++d) {
    if ((10LL * n) % d != 0) continue;
    const double candidate = static_cast<double>(n) / d;
    const auto text = static_cast<int32_t>(candidate + 0.001);
    if (std::fabs(candidate - last) >= 5 || (text == 1 && !lastIsOne)) {
      list.push_back(text);
      last = candidate;
      lastIsOne = text == 1;
    }
  }
  return list;
}

float SnapFrameRate(float rate, float sourceRate) {
  const std::vector<int32_t> list = EncoderFrameRates(sourceRate);
  if (list.empty()) return rate;
  // The list falls from the source rate; the first entry not above wins.
  const auto hundredths = static_cast<int32_t>(static_cast<double>(rate) * 100.0 + 0.001);
  for (int32_t listed : list)
    if (listed <= hundredths) return static_cast<float>(listed / 100.0);
  return static_cast<float>(list.back() / 100.0);
}

bool DurationLimitSeconds(float maxDuration, int32_t unit, int64_t* seconds) {
  static const int64_t factor[] = {1, 60, 3600, 86400};
  if (unit < 1 || unit > 4) return false;
  // A little above the float's value, so that 1.15 minutes are 69 seconds.
  *seconds = static_cast<int64_t>(static_cast<double>(maxDuration) * static_cast<double>(factor[unit - 1]) + 1e-3);
  return true;
}

// ---- working and committed sets ----------------------------------------------

void SettingsModel::ReloadWorkingSettings() {
  working = committed;
  workingSource = source;
  workingSourceKnown = sourceValid;
  stillImage = {};
}

void SettingsModel::CommitSettings(SettingsHost& host) {
  captureSize = {};
  auto& out = working.output;
  if (out.streamType == kStillWithAudio && out.stillImageFileName[0] == u'\0') {
    host.Show({Message{kMsgStillImageMissing, {}}}, 0, true);
    out.streamType = kAudioOnly;
  }
  committed = working;
  if (working.application.liveSource == kMediaFileSource) {
    source = workingSource;
    sourceValid = workingSourceKnown;
  }
  if (working.application.liveSource == kCaptureSource &&
      (out.streamType == kVideoOnly || out.streamType == kAudioVideo)) {
    const Size encoding{working.video.width, working.video.height};
    Size chosen;
    auto list = captureLists_.find(SelectedVideoDevice());
    if (list != captureLists_.end()) {
      for (const Size& s : list->second) {
        if (!FitsInside(encoding, s)) continue;
        if (chosen == Size{} || (s.width < chosen.width && s.height < chosen.height)) chosen = s;
      }
    }
    captureSize = chosen;
  }
  captureLists_.clear();
}

// ---- source checks -----------------------------------------------------------

bool SettingsModel::OpenInputFile(SettingsHost& host, std::u16string_view path) {
  SourceInfo info;
  if (!host.FileInfo(path, &info)) return false;
  info.fileName = std::u16string(path);
  workingSource = info;
  workingSourceKnown = true;
  return true;
}

void SettingsModel::AdjustStreamTypeToSource(Message* message) {
  int32_t& type = working.output.streamType;
  if (working.application.liveSource == kCaptureSource) {
    if (working.application.audioDeviceIndex == kNoAudioDevice && type != kVideoOnly) {
      type = kVideoOnly;
      *message = Message{kMsgNoAudioDevice, {}};
    }
    return;
  }
  if (!workingSourceKnown) return;
  const SourceInfo& s = workingSource;
  const std::u16string name = FileNamePart(s.fileName);
  if (s.audioStreams == 0 && s.videoStreams > 0 && type != kVideoOnly) {
    type = kVideoOnly;
    *message = Message{kMsgVideoOnlyFile, {name}};
  } else if (s.audioStreams > 0 && s.videoStreams == 0 && type != kAudioOnly && type != kStillWithAudio) {
    type = kAudioOnly;
    *message = Message{kMsgAudioOnlyFile, {name}};
  }
}

bool SettingsModel::BuildCaptureSizeList(SettingsHost& host, int device) {
  if (captureLists_.count(device)) return true;
  std::vector<Size> sizes;
  if (!host.CaptureSizes(device, &sizes)) return false;
  captureLists_[device] = std::move(sizes);
  return true;
}

Size SettingsModel::LargestCaptureSize() const {
  Size largest;
  auto list = captureLists_.find(SelectedVideoDevice());
  if (list == captureLists_.end()) return largest;
  for (const Size& s : list->second)
    if (s.width > largest.width && s.height > largest.height) largest = s;
  return largest;
}

bool SettingsModel::FitEncodingSize(int32_t sourceKind, bool stillImageFlag, Size wanted, Message* message) {
  const Size encoding{working.video.width, working.video.height};
  Size fitted = encoding;
  bool noPicture = false;
  if (stillImageFlag) {
    if (!FitsInside(encoding, stillImage)) fitted = FitsInside(wanted, stillImage) ? wanted : kFallbackSize;
  } else if (working.output.streamType == kAudioOnly) {
    return false;
  } else if (sourceKind == kMediaFileSource) {
    if (!workingSourceKnown || !workingSource.HasPicture()) return false;
    const Size picture{workingSource.width, workingSource.height};
    if (!FitsInside(encoding, picture)) fitted = FitsInside(wanted, picture) ? picture : kFallbackSize;
  } else if (sourceKind == kCaptureSource) {
    const Size largest = LargestCaptureSize();
    noPicture = largest == Size{};
    if (!FitsInside(encoding, largest)) fitted = FitsInside(wanted, largest) ? wanted : kFallbackSize;
  }
  if (fitted == encoding) return false;
  working.video.width = working.output.width = fitted.width;
  working.video.height = working.output.height = fitted.height;
  *message = noPicture ? Message{kMsgCameraNotPluggedIn, {}}
                       : Message{kMsgEncodingSizeChanged, {int64_t{fitted.width}, int64_t{fitted.height}}};
  return true;
}

std::vector<Size> SettingsModel::EncodingSizeList() const {
  Size bound;
  if (working.output.streamType == kStillWithAudio) bound = stillImage;
  else if (working.application.liveSource == kCaptureSource) bound = LargestCaptureSize();
  else if (working.application.liveSource == kMediaFileSource && workingSourceKnown && workingSource.HasPicture())
    bound = {workingSource.width, workingSource.height};
  std::vector<Size> sizes;
  for (const Size& s : kEncodingSizes)
    if (FitsInside(s, bound)) sizes.push_back(s);
  return sizes;
}

void SettingsModel::RecheckCaptureSize(SettingsHost& host, Message* message) {
  if (working.application.liveSource != kCaptureSource) return;
  captureLists_.erase(SelectedVideoDevice());
  BuildCaptureSizeList(host, SelectedVideoDevice());
  FitEncodingSize(kCaptureSource, false, kFallbackSize, message);
}

HResult SettingsModel::ValidateInputSource(SettingsHost& host, Message* message) {
  ReloadWorkingSettings();
  *message = {};
  const auto fail = [&](Message m) {
    *message = std::move(m);
    host.Report(kValidateInputFailed);
    return kValidateInputFailed;
  };
  const int32_t kind = working.application.liveSource;
  const std::u16string file = RecordString(working.application.inputFileName);
  if (kind == kMediaFileSource && !OpenInputFile(host, file)) return fail(Message{kMsgOpenInputFile, {file}});

  bool fitted = false;
  const std::u16string still = RecordString(working.output.stillImageFileName);
  if (working.output.streamType == kStillWithAudio && (kind == kCaptureSource || !still.empty())) {
    if (kind == kMediaFileSource) {
      if (!host.StillImageSize(still, &stillImage)) return fail(Message{kMsgOpenStillImage, {still}});
      if (stillImage.height > stillImage.width) return fail(Message{kMsgWidthBelowHeight, {}});
      FitEncodingSize(kind, true, kFallbackSize, message);
    }
    fitted = true;
  }
  if (!fitted) {
    if (kind == kCaptureSource) {
      if (!BuildCaptureSizeList(host, SelectedVideoDevice())) return fail(Message{kMsgVideoDeviceUnavailable, {}});
    } else {
      Message m;
      if (!CheckSourceDimensions(workingSource, &m)) return fail(m);
      AdjustStreamTypeToSource(message);
    }
    Message fit;
    if (FitEncodingSize(kind, false, kFallbackSize, &fit)) *message = fit;
  }

  int32_t& type = working.output.streamType;
  const int16_t audio = working.application.audioDeviceIndex;
  if (kind == kCaptureSource && (type == kAudioOnly || type == kAudioVideo || type == kStillWithAudio) &&
      audio != kNoAudioDevice) {
    const int16_t stored = committed.application.audioDeviceIndex;
    const bool selected =
        host.SelectAudioDevice(audio) || (stored != audio && stored != kNoAudioDevice && host.SelectAudioDevice(stored));
    if (!selected) {
      if (type != kAudioVideo) return fail(Message{kMsgNoAudioForAudioOnly, {}});
      // The run goes on without sound.
      type = kVideoOnly;
      host.Report(kNoAudioDeviceVideoOnly);
      *message = Message{kMsgNoAudioDevice, {}};
    }
  }
  SnapFrameRates();
  Message name;
  if (!BuildOutputFileName(&name) && message->Empty()) *message = name;
  CommitSettings(host);
  return kOk;
}

// ---- output file -------------------------------------------------------------

bool SettingsModel::CheckOutputFile(SettingsHost& host, int32_t mediaOutputType, std::u16string* name, Message* message) {
  if (name->empty()) {
    *message = Message{kMsgTypeFileName, {}};
    return false;
  }
  if (name->size() > static_cast<size_t>(mediaengine::kRecordTextMax)) {
    *message = Message{kMsgOutputNameTooLong, {*name}};
    return false;
  }
  std::u16string fixed = *name;
  if (!FixOutputExtension(mediaOutputType, &fixed)) {
    *message = Message{kMsgBadOutputFile, {Nested{kMsgBadPath, *name}}};
    return false;
  }
  if (fixed.size() > static_cast<size_t>(mediaengine::kRecordTextMax)) {
    *message = Message{kMsgOutputNameTooLong, {fixed}};
    return false;
  }
  if (const int cause = host.TrialCreate(fixed)) {
    *message = Message{kMsgBadOutputFile, {Nested{FileErrorTextId(cause), fixed}}};
    return false;
  }
  *name = fixed;
  return true;
}

HResult SettingsModel::ValidateOutputFile(SettingsHost& host, Message* message) {
  *message = {};
  const auto& out = committed.output;
  if (!OutputGoesToFile(out)) return kOk;
  std::u16string name = RecordString(out.outputFileName);
  // The extension rule is that of a file output, whatever else is streamed.
  if (CheckOutputFile(host, kFileOutput, &name, message)) return kOk;
  host.Report(kInvalidFileName);
  return kInvalidFileName;
}

bool SettingsModel::BuildOutputFileName(Message* message) {
  const std::u16string current = RecordString(working.output.outputFileName);
  const size_t slash = current.rfind(u'\\');
  const std::u16string folder = slash != std::u16string::npos ? current.substr(0, slash) : folders[kOutputFolder];
  // A name part holds none of the characters a file name cannot.
  const auto part = [](std::u16string text) {
    for (char16_t& c : text)
      if (c < 32 || std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos) c = u'_';
    return text;
  };
  std::u16string title = u"Live";
  if (working.application.liveSource == kMediaFileSource) {
    title = FileNamePart(RecordString(working.application.inputFileName));
    const size_t dot = title.rfind(u'.');
    if (dot != std::u16string::npos && dot > 0) title.resize(dot);
  }
  const std::u16string name =
      folder + u"\\" + part(RecordString(working.application.profileName)) + u"_" + part(title) + u".mp4";
  if (name.size() > static_cast<size_t>(mediaengine::kRecordTextMax)) {
    *message = Message{kMsgOutputNameTooLong, {name}};
    return false;
  }
  PutRecord(working.output.outputFileName, name);
  return true;
}

// ---- audio entries, bandwidth and stream type -----------------------------------

HResult SettingsModel::ConfigAudioCodec(SettingsHost& host, mediaengine::KRAudioEncoderConfig& audio, int index,
                                        const AudioEntry& e) {
  const auto refuse = [&host](HResult code) {
    host.Report(code);
    return code;
  };
  if (index < 0 || index >= kAudioStreamEntries) return refuse(kBadParameter);
  bool allowed = true;
  switch (e.codec) {
    case 0: allowed = !e.enabled || ((e.bitRate == 4750 || e.bitRate == 12200) && e.samplingRate == 8000); break;
    case 1: allowed = !e.enabled || (e.bitRate == 9200 && e.samplingRate == 8000); break;
    case 2:
      allowed = !e.enabled || e.bitRate == 16000 || e.bitRate == 32000 || e.bitRate == 64000 || e.bitRate == 96000;
      break;
    default: return kInvalidAudioCodec;  // not reported
  }
  if (!allowed) return refuse(kBadParameter);
  KRAudioStreamEntry& entry = audio.stream[index];
  entry.codec = e.codec;
  entry.enabled = e.enabled ? 1 : 0;
  entry.samplingRate = e.samplingRate;
  entry.bitRate = e.bitRate;
  entry.channels = static_cast<uint16_t>(e.channels);
  return kOk;
}

HResult SettingsModel::GetConfigAudioCodec(SettingsHost& host, const mediaengine::KRAudioEncoderConfig& audio, int index,
                                           AudioEntry* e) {
  if (index < 0 || index >= kAudioStreamEntries) {
    host.Report(kBadParameter);
    return kBadParameter;
  }
  const KRAudioStreamEntry& entry = audio.stream[index];
  *e = AudioEntry{entry.codec, entry.enabled == 1, entry.samplingRate, entry.bitRate,
                  static_cast<int16_t>(entry.channels)};
  return kOk;
}

int32_t SettingsModel::LargestEnabledAudioRate() const {
  int32_t largest = 0;
  for (const KRAudioStreamEntry& e : working.audio.stream)
    if (Enabled(e)) largest = std::max(largest, e.bitRate);
  return largest;
}

void SettingsModel::SetBandwidth(uint32_t bandwidth) {
  working.output.bandwidth = bandwidth;
  RecomputeVideoBitRates();
}

void SettingsModel::RecomputeVideoBitRates() {
  auto& v = working.video;
  // A bit rate stays within what the engine takes, however large the audio.
  const auto rate = static_cast<int32_t>(std::clamp<int64_t>(AvailableVideoBitRate(1), 1, 1000000));
  const int32_t previous0 = v.bitRate[0], previous1 = v.bitRate[1];
  v.bitRate[0] = v.bitRate[1] = rate;
  if (v.layers == 2) v.bitRate[0] = rate != previous1 ? std::max(rate / 3, 1) : previous0;
  working.output.layerBitRate[0] = static_cast<uint32_t>(v.bitRate[0]);
  working.output.layerBitRate[1] = static_cast<uint32_t>(v.bitRate[1]);
}

bool SettingsModel::AudioRateFitsBandwidth(int32_t audioRate) const {
  const int64_t bandwidth = working.output.bandwidth;
  switch (working.output.streamType) {
    case kAudioOnly:
    case kStillWithAudio: return bandwidth >= audioRate;
    case kAudioVideo: return bandwidth - audioRate >= 1000;
    default: return true;
  }
}

bool SettingsModel::CheckBandwidth(uint32_t candidate, unsigned* messageId, uint32_t* suggested) const {
  const int32_t type = working.output.streamType;
  // Video alone needs its 1000 bit/s with or without an audio entry.
  if (type == kVideoOnly && candidate < 1000) {
    *messageId = kMsgBandwidthTooLow;
    *suggested = 1000;
    return false;
  }
  for (const KRAudioStreamEntry& e : working.audio.stream) {
    if (!Enabled(e)) continue;
    const int64_t rate = std::max(e.bitRate, 0);
    if (type == kAudioVideo && int64_t{candidate} - rate < 1000) {
      *messageId = kMsgBandwidthTooLow;
      *suggested = static_cast<uint32_t>(rate + 1000);
      return false;
    }
    if ((type == kAudioOnly || type == kStillWithAudio) && int64_t{candidate} < rate) {
      *messageId = kMsgBandwidthBelowAudio;
      *suggested = static_cast<uint32_t>(rate);
      return false;
    }
  }
  *messageId = kMsgNone;
  return true;
}

int32_t SettingsModel::AvailableVideoBitRate(int32_t layers) const {
  int64_t rate = working.output.bandwidth;
  if (working.output.streamType == kAudioVideo) rate -= LargestEnabledAudioRate();
  if (layers == 2) rate /= 3;
  return static_cast<int32_t>(std::clamp<int64_t>(rate, INT32_MIN, INT32_MAX));
}

bool SettingsModel::AcceptStreamType(int32_t type, int32_t audioRate, unsigned* messageId) const {
  *messageId = kMsgNone;
  const bool needsAudio = type == kAudioOnly || type == kAudioVideo || type == kStillWithAudio;
  const bool needsVideo = type == kVideoOnly || type == kAudioVideo;
  bool accepted = needsAudio || needsVideo;
  if (working.application.liveSource == kMediaFileSource) {
    if (needsAudio && !(workingSourceKnown && workingSource.audioStreams > 0)) accepted = false;
    if (needsVideo && !(workingSourceKnown && workingSource.videoStreams > 0)) accepted = false;
  } else if (needsAudio && working.application.audioDeviceIndex == kNoAudioDevice) {
    accepted = false;
  }
  if (!accepted) {
    *messageId = kMsgCannotChangeStreamType;
    return false;
  }
  if (needsAudio && int64_t{audioRate} > int64_t{working.output.bandwidth}) *messageId = kMsgAudioRateChanged;
  return true;
}

bool SettingsModel::RestrictForStreaming(SettingsHost& host) {
  auto& out = working.output;
  if (out.mediaOutputType == kFileOutput) return false;
  bool changed = false;
  bool oneEnabled = false;
  for (KRAudioStreamEntry& e : working.audio.stream) {
    if (e.codec == 2 && e.enabled) {
      e.enabled = 0;
      changed = true;
      host.Report(kAacDisabledForStream);
    }
    if (!e.enabled) continue;
    if (oneEnabled) {
      e.enabled = 0;
      changed = true;
    }
    oneEnabled = true;
  }
  for (uint16_t* flag : {&out.downloadOnly, &working.video.videoRandomPositioning, &out.randomPositioning}) {
    if (*flag) changed = true;
    *flag = 0;
  }
  return changed;
}

void SettingsModel::SnapFrameRates() {
  auto& v = working.video;
  const float sourceRate =
      working.application.liveSource == kMediaFileSource && workingSourceKnown && workingSource.frameRate > 0
          ? workingSource.frameRate
          : v.sourceFrameRate;
  for (int layer = 0; layer < std::clamp(v.layers, 1, 2); ++layer)
    working.output.layerFrameRate[layer] = v.frameRate[layer] = SnapFrameRate(v.frameRate[layer], sourceRate);
}

std::vector<int32_t> SettingsModel::SettingPageFrameRates() const {
  const float sourceRate =
      working.application.liveSource == kMediaFileSource && workingSourceKnown && workingSource.frameRate > 0
          ? workingSource.frameRate
          : working.video.sourceFrameRate;
  std::vector<int32_t> list = EncoderFrameRates(sourceRate);
  std::reverse(list.begin(), list.end());
  return list;
}

void SettingsModel::SetDurationLimit(float maxDuration, int32_t unit) {
  int64_t seconds = 0;
  if (DurationLimitSeconds(maxDuration, unit, &seconds)) durationLimit = seconds;
}

void SettingsModel::ApplyProfileChanges(SettingsHost& host) {
  std::vector<Message> notes;
  const auto note = [&notes](Message m) {
    if (!m.Empty()) notes.push_back(std::move(m));
  };
  if (working.application.liveSource == kMediaFileSource) {
    Message m;
    AdjustStreamTypeToSource(&m);
    note(m);
  }
  RestrictForStreaming(host);
  RecomputeVideoBitRates();
  int32_t& type = working.output.streamType;
  if (type == kStillWithAudio && stillImage == Size{}) type = kAudioOnly;
  Message fit;
  FitEncodingSize(working.application.liveSource, type == kStillWithAudio, kFallbackSize, &fit);
  note(fit);
  if (!notes.empty()) host.Show(notes, kMsgChangedProperties, false);
}

// ---- page field transfers --------------------------------------------------------

CodecPageFields SettingsModel::GetCodecPage() const {
  CodecPageFields f{};
  std::copy(std::begin(working.audio.stream), std::end(working.audio.stream), f.audio);
  f.encWidth = working.video.width;
  f.encHeight = working.video.height;
  f.streamType = working.output.streamType;
  f.mediaOutputType = working.output.mediaOutputType;
  f.sourceKind = working.application.liveSource;
  f.pictureKnown = workingSourceKnown && workingSource.HasPicture();
  if (f.pictureKnown) f.picture = {workingSource.width, workingSource.height};
  return f;
}

void SettingsModel::SetCodecPage(const CodecPageFields& f) {
  std::copy(std::begin(f.audio), std::end(f.audio), working.audio.stream);
  working.video.width = working.output.width = f.encWidth;
  working.video.height = working.output.height = f.encHeight;
  working.output.streamType = f.streamType;
  working.output.mediaOutputType = f.mediaOutputType;
  if (f.streamType == kAudioOnly || f.streamType == kVideoOnly) {
    working.output.clientNoAudio = 0;
    RecomputeVideoBitRates();
  }
}

SettingPageFields SettingsModel::GetSettingPage() const {
  const auto& v = working.video;
  return SettingPageFields{{v.bitRate[0], v.bitRate[1]},
                           v.layers,
                           {v.frameRate[0], v.frameRate[1]},
                           v.fullSearch,
                           v.fixedIFrameInterval,
                           v.iFrameInterval,
                           v.videoRandomPositioning,
                           working.output.randomPositioning,
                           working.output.streamType,
                           working.application.liveSource};
}

void SettingsModel::SetSettingPage(const SettingPageFields& f) {
  auto& v = working.video;
  auto& out = working.output;
  for (int layer = 0; layer < 2; ++layer) {
    v.bitRate[layer] = f.bitRate[layer];
    out.layerBitRate[layer] = static_cast<uint32_t>(f.bitRate[layer]);
    v.frameRate[layer] = out.layerFrameRate[layer] = f.frameRate[layer];
  }
  v.layers = f.layers;
  out.enhancementLayers = static_cast<uint32_t>(std::max(f.layers - 1, 0));
  v.fullSearch = f.fullSearch;
  v.fixedIFrameInterval = f.fixedIFrameInterval;
  v.iFrameInterval = f.iFrameInterval;
  v.videoRandomPositioning = f.videoRandomPositioning;
  out.randomPositioning = f.randomPositioning;
  SnapFrameRates();
}

namespace {
template <class Output>
auto& ClipField(Output& out, ClipText which) {
  switch (which) {
    case kClipTitle: return out.title;
    case kClipAuthor: return out.author;
    case kClipCopyright: return out.copyright;
    case kClipDescription: return out.description;
    default: return out.rating;
  }
}
}  // namespace

std::u16string SettingsModel::GetClipText(ClipText which) const {
  return RecordString(ClipField(working.output, which));
}

void SettingsModel::SetClipText(ClipText which, std::u16string_view text) {
  PutRecord(ClipField(working.output, which), text);
}

InputPageFields SettingsModel::GetInputPage() const {
  const auto& app = working.application;
  return InputPageFields{app.liveSource,
                         app.videoDeviceIndex,
                         app.audioDeviceIndex,
                         RecordString(app.inputFileName),
                         RecordString(working.output.stillImageFileName),
                         working.output.streamType,
                         working.output.mediaOutputType};
}

void SettingsModel::SetInputPage(const InputPageFields& f) {
  auto& app = working.application;
  if (f.sourceFileName != RecordString(app.inputFileName)) workingSourceKnown = false;
  if (f.stillImageFileName != RecordString(working.output.stillImageFileName)) stillImage = {};
  app.liveSource = f.sourceKind;
  app.videoDeviceIndex = f.videoDevice;
  app.audioDeviceIndex = f.audioDevice;
  PutRecord(app.inputFileName, f.sourceFileName);
  PutRecord(working.output.stillImageFileName, f.stillImageFileName);
  working.output.mediaOutputType = f.mediaOutputType;
  working.output.streamType = f.streamType;
  if (!f.stillImageFileName.empty()) working.output.streamType = kStillWithAudio;
  else if (working.output.streamType == kStillWithAudio) working.output.streamType = kAudioOnly;
}

OutputPageFields SettingsModel::GetOutputPage() const {
  const auto& out = working.output;
  const auto& app = working.application;
  return OutputPageFields{out.mediaOutputType, out.rtspPort,       RecordString(out.outputFileName), app.maxSize,
                          app.maxDuration,     app.durationUnit, out.downloadOnly};
}

void SettingsModel::SetOutputPage(const OutputPageFields& f) {
  auto& out = working.output;
  auto& app = working.application;
  out.mediaOutputType = f.mediaOutputType;
  out.fileOutput = f.mediaOutputType == kFileOutput ? 1 : 0;
  out.rtspPort = f.rtspPort;
  PutRecord(out.outputFileName, f.outputFileName);
  app.maxSize = f.maxSize;
  app.maxDuration = f.maxDuration;
  app.durationUnit = f.durationUnit;
  out.downloadOnly = f.downloadOnly;
  SetDurationLimit(f.maxDuration, f.durationUnit);
}

ProfilePageFields SettingsModel::GetProfilePage() const {
  return ProfilePageFields{RecordString(working.application.profileName), profilePath, working.output.bandwidth,
                           working.audio, working.video, working.output};
}

bool SettingsModel::SetProfile(std::u16string_view name, std::u16string_view path, Message* message) {
  if (!path.empty() && !IsProfileFileName(path)) return false;
  PutRecord(working.application.profileName, name);
  profilePath = std::u16string(path);
  BuildOutputFileName(message);
  return true;
}

}  // namespace ctlvane
