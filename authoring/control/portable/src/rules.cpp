#include "ctlvane/rules.h"

#include <algorithm>
#include <initializer_list>

namespace ctlvane {

using mediaengine::KRSettingsRecords;

namespace {

constexpr HResult E(uint32_t code) { return static_cast<HResult>(code); }

bool OneOf(double value, std::initializer_list<double> allowed) {
  return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

PropertyVerdict Refuse(HResult code) { return PropertyVerdict{code, true, 0}; }
PropertyVerdict Replace(HResult code, double value) { return PropertyVerdict{code, false, value}; }

// Float properties compare in float: the member holds a float, and 35.0 or
// 0.2 written by the host are the floats nearest to them.
bool FloatIn(double value, float low, float high) {
  float f = static_cast<float>(value);
  return f >= low && f <= high;
}

std::u16string Text(const mediaengine::RecordText& text) {
  return std::u16string(text, static_cast<size_t>(mediaengine::BoundedTextLength(text)));
}

template <size_t N>
void Put(char16_t (&to)[N], std::u16string_view text) {
  size_t n = std::min(text.size(), N - 1);
  std::copy_n(text.data(), n, to);
  std::fill(to + n, to + N, u'\0');
}

}  // namespace

PropertyVerdict CheckNumber(int32_t dispid, double v) {
  switch (dispid) {
    case kEncWidth: return v >= 80 && v <= 1280 ? PropertyVerdict{} : Refuse(E(0x800A0430));
    case kEncHeight: return v >= 60 && v <= 1024 ? PropertyVerdict{} : Refuse(E(0x800A0431));
    case kNLayers: return OneOf(v, {1, 2}) ? PropertyVerdict{} : Refuse(kInvalidValue);
    case kBaseBitRate:
    case kEnBitRate:
    case kBandwidth: return v >= 1 && v <= 1000000 ? PropertyVerdict{} : Refuse(kInvalidValue);
    case kBaseFrameRate: return FloatIn(v, 0.2f, 35.0f) ? PropertyVerdict{} : Refuse(E(0x800A03FE));
    case kEnFrameRate:
      return FloatIn(v, 0.2f, 35.0f) && static_cast<float>(v) != 0.2f ? PropertyVerdict{} : Refuse(E(0x800A03FF));
    case kIFrameInterval: return v >= -1 ? PropertyVerdict{} : Refuse(kInvalidValue);
    case kMediaOut: return OneOf(v, {1, 4, 5, 12}) ? PropertyVerdict{} : Refuse(kInvalidValue);
    case kStreamOut: return OneOf(v, {1, 2, 3, 5}) ? PropertyVerdict{} : Refuse(E(0x800A0400));
    case kSourceType: return OneOf(v, {0, 1}) ? PropertyVerdict{} : Refuse(E(0x800A03EE));
    case kEncPreviewType: return OneOf(v, {0, 1, 2}) ? PropertyVerdict{} : Refuse(E(0x800A0403));
    case kCapWidth: return v >= 80 && v <= 1280 ? PropertyVerdict{} : Refuse(kInvalidValue);
    case kCapHeight: return v >= 60 && v <= 1024 ? PropertyVerdict{} : Refuse(kInvalidValue);
    case kContentVersion: return OneOf(v, {10, 20, 21, 30}) ? PropertyVerdict{} : Refuse(E(0x800A0402));
    case kMaxDuration: return FloatIn(v, 0.0f, 999.99f) ? PropertyVerdict{} : Refuse(kInvalidValue);
    case kUnitDuration: return OneOf(v, {1, 2, 3, 4}) ? PropertyVerdict{} : Refuse(kInvalidValue);
    case kMaxSize: return v >= 0 && v <= 65535 ? PropertyVerdict{} : Refuse(kInvalidValue);
    case kStatRefreshRate: return v >= 100 ? PropertyVerdict{} : Replace(kBadStatRefreshRate, 500);
    case kStatWindowDuration:
      return v >= 1000 && v <= 3600000 ? PropertyVerdict{} : Replace(kBadStatWindowDuration, 5000);
    default: return PropertyVerdict{};
  }
}

bool StoreNumber(int32_t dispid, double v, KRSettingsRecords& r) {
  const auto i = static_cast<int32_t>(v);
  const auto f = static_cast<float>(v);
  const auto flag = static_cast<uint16_t>(i);
  switch (dispid) {
    case kEncWidth: r.video.width = r.output.width = i; break;
    case kNLayers:
      r.video.layers = i;
      r.output.enhancementLayers = static_cast<uint32_t>(i - 1);
      break;
    case kEncHeight: r.video.height = r.output.height = i; break;
    case kBaseBitRate:
      r.video.bitRate[0] = i;
      r.output.layerBitRate[0] = static_cast<uint32_t>(i);
      break;
    case kEnBitRate:
      r.video.bitRate[1] = i;
      r.output.layerBitRate[1] = static_cast<uint32_t>(i);
      break;
    case kBaseFrameRate: r.video.frameRate[0] = r.output.layerFrameRate[0] = f; break;
    case kEnFrameRate: r.video.frameRate[1] = r.output.layerFrameRate[1] = f; break;
    case kIFrameInterval: r.video.iFrameInterval = i; break;
    case kMediaOut: r.output.mediaOutputType = i; break;
    case kStreamOut: r.output.streamType = i; break;
    case kSourceType: r.application.liveSource = i; break;
    case kEncPreviewType: r.application.applicationMode = i; break;
    case kBandwidth: r.output.bandwidth = static_cast<uint32_t>(i); break;
    case kContentVersion: r.output.contentVersion = i; break;
    case kMaxDuration: r.application.maxDuration = f; break;
    case kUnitDuration: r.application.durationUnit = i; break;
    case kMaxSize: r.application.maxSize = static_cast<uint32_t>(i); break;
    case kBFullSearch: r.video.fullSearch = flag; break;
    case kBEnableFixedIFrame: r.video.fixedIFrameInterval = flag; break;
    case kBEncodeDownloadOnly: r.output.downloadOnly = flag; break;
    case kBFileOut: r.output.fileOutput = flag; break;
    case kEnableSecurityCheck: r.output.furtherValue1 = static_cast<uint32_t>(i); break;
    case kBMultiplePass: r.video.reserved = flag; break;
    case kBClientNoAudio: r.output.clientNoAudio = flag; break;
    case kBEnableVideoRandomPositioning: r.video.videoRandomPositioning = flag; break;
    case kBEnableRandomPositioning: r.output.randomPositioning = flag; break;
    default: return false;
  }
  return true;
}

bool StoredNumber(int32_t dispid, const KRSettingsRecords& r, double* v) {
  switch (dispid) {
    case kEncWidth: *v = r.video.width; break;
    case kNLayers: *v = r.video.layers; break;
    case kEncHeight: *v = r.video.height; break;
    case kBaseBitRate: *v = r.video.bitRate[0]; break;
    case kEnBitRate: *v = r.video.bitRate[1]; break;
    case kBaseFrameRate: *v = r.video.frameRate[0]; break;
    case kEnFrameRate: *v = r.video.frameRate[1]; break;
    case kIFrameInterval: *v = r.video.iFrameInterval; break;
    case kMediaOut: *v = r.output.mediaOutputType; break;
    case kStreamOut: *v = r.output.streamType; break;
    case kSourceType: *v = r.application.liveSource; break;
    case kEncPreviewType: *v = r.application.applicationMode; break;
    case kBandwidth: *v = r.output.bandwidth; break;
    case kContentVersion: *v = r.output.contentVersion; break;
    case kMaxDuration: *v = r.application.maxDuration; break;
    case kUnitDuration: *v = r.application.durationUnit; break;
    case kMaxSize: *v = r.application.maxSize; break;
    case kBFullSearch: *v = r.video.fullSearch; break;
    case kBEnableFixedIFrame: *v = r.video.fixedIFrameInterval; break;
    case kBEncodeDownloadOnly: *v = r.output.downloadOnly; break;
    case kBFileOut: *v = r.output.fileOutput; break;
    case kEnableSecurityCheck: *v = r.output.furtherValue1; break;
    case kBMultiplePass: *v = r.video.reserved; break;
    case kBClientNoAudio: *v = r.output.clientNoAudio; break;
    case kBEnableVideoRandomPositioning: *v = r.video.videoRandomPositioning; break;
    case kBEnableRandomPositioning: *v = r.output.randomPositioning; break;
    default: return false;
  }
  return true;
}

PropertyVerdict CheckText(int32_t dispid, std::u16string_view text) {
  // Every text goes into a record field of 256 characters with its
  // terminator.
  if (text.size() <= static_cast<size_t>(mediaengine::kRecordTextMax)) return PropertyVerdict{};
  switch (dispid) {
    case kOutputFileName:
    case kProfileName: return Refuse(kInvalidFileName);
    case kProfileDescription: return Refuse(kStringTooLong);
    default: return Refuse(kInvalidValue);
  }
}

bool StoreText(int32_t dispid, std::u16string_view text, KRSettingsRecords& r) {
  switch (dispid) {
    case kOutputFileName: Put(r.output.outputFileName, text); break;
    case kSrcFileName: Put(r.application.inputFileName, text); break;
    case kProfileName: Put(r.application.profileName, text); break;
    case kProfileDescription: Put(r.application.profileDescription, text); break;
    case kScratchDisk: Put(r.output.outputText, text); break;
    default: return false;
  }
  return true;
}

std::u16string StoredText(int32_t dispid, const KRSettingsRecords& r) {
  switch (dispid) {
    case kOutputFileName: return Text(r.output.outputFileName);
    case kSrcFileName: return Text(r.application.inputFileName);
    case kProfileName: return Text(r.application.profileName);
    case kProfileDescription: return Text(r.application.profileDescription);
    case kScratchDisk: return Text(r.output.outputText);
    default: return {};
  }
}

unsigned ContextMenuEntries(int runState, int settings) {
  const bool properties = settings & 1, preview = settings & 2, start = settings & 4, stop = settings & 8;
  if (runState == 2 || runState == 3) return stop ? kMenuStop : 0u;
  unsigned kept = 0;
  if (properties) kept |= kMenuProperties | kMenuSeparator;
  if (preview) kept |= kMenuPreview;
  if (start) kept |= kMenuStart;
  // A separator with nothing below it goes.
  if (properties && !preview && !start) kept &= ~kMenuSeparator;
  return kept;
}

const uint32_t kControlErrorCodes[79] = {
    0x800A03E9, 0x800A03EA, 0x800A03EB, 0x800A03EC, 0x800A03EE, 0x800A03EF, 0x800A03F0, 0x800A03F1, 0x800A03F2,
    0x800A03F3, 0x800A03F4, 0x800A03F5, 0x800A03F6, 0x800A03F7, 0x800A03F8, 0x800A03F9, 0x800A03FA, 0x800A03FB,
    0x800A03FC, 0x800A03FD, 0x800A0404, 0x800A0405, 0x800A0406, 0x800A0407, 0x800A0408, 0x800A0409, 0x800A040A,
    0x800A040B, 0x800A040C, 0x800A040D, 0x800A040E, 0x800A040F, 0x800A0410, 0x800A0411, 0x800A0412, 0x800A0413,
    0x800A0414, 0x800A0415, 0x800A0416, 0x800A0417, 0x800A041D, 0x800A041F, 0x800A0420, 0x800A0421, 0x800A0422,
    0x800A0423, 0x800A0424, 0x800A0425, 0x800A0426, 0x800A0427, 0x800A0428, 0x800A0429, 0x800A042A, 0x800A042B,
    0x800A042C, 0x800A042D, 0x800A042E, 0x800A042F, 0x800A0430, 0x800A0431, 0x800A0432, 0x800A0433, 0x800A044C,
    0x800A044D, 0x800A044E, 0x800A044F, 0x800A0450, 0x800A0BB9, 0x800A0BBA, 0x800A0BBB, 0x800A0BDA, 0x800A0BDB,
    0x800A0FA6, 0x800A0FA7, 0x800A0FA8, 0x800A1389, 0x800A138A, 0x800A1771, 0x800A1772,
};

unsigned ErrorTextId(HResult code) {
  for (uint32_t listed : kControlErrorCodes)
    if (static_cast<uint32_t>(code) == listed) return listed & 0xFFFF;
  return 0;
}

std::u16string ErrorMessage(HResult code, const StringLoader& load, std::u16string_view outputFile,
                            std::u16string_view stillImage) {
  if (code == kAbort) return load(kCaptionTextId);
  const unsigned id = ErrorTextId(code);
  if (id == 0) return load(kUnknownTextId);
  std::u16string text = load(id);
  if (code == kOpenStillImage) return text.append(stillImage);
  if (code != kDiskFull) return text;
  // "%s could not be written to %s...": the file's name, then its folder.
  const size_t slash = outputFile.rfind(u'\\');
  const std::u16string_view folder = slash == std::u16string_view::npos ? std::u16string_view() : outputFile.substr(0, slash + 1);
  const std::u16string_view name = slash == std::u16string_view::npos ? outputFile : outputFile.substr(slash + 1);
  const std::u16string_view args[] = {name, folder};
  std::u16string out;
  size_t used = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'%' && i + 1 < text.size() && text[i + 1] == u's' && used < 2) {
      out.append(args[used++]);
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace ctlvane
