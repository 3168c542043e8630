#include "scrivel/session_settings.h"

#include <algorithm>
#include <cstring>

#include "scrivel/text.h"

namespace scrivel {

namespace {

template <size_t N>
bool Put(char16_t (&to)[N], std::u16string_view text) {
  const size_t n = std::min(text.size(), N - 1);
  std::copy_n(text.data(), n, to);
  std::fill(to + n, to + N, u'\0');
  return n == text.size();
}

template <size_t N>
std::u16string Get(const char16_t (&field)[N]) {
  const char16_t* end = std::find(field, field + N, u'\0');
  return std::u16string(field, end);
}

template <size_t N>
bool SameText(const char16_t (&a)[N], const char16_t (&b)[N]) {
  return Get(a) == Get(b);
}

bool SameAudio(const mediaengine::KRAudioEncoderConfig& a, const mediaengine::KRAudioEncoderConfig& b) {
  for (int i = 0; i < mediaengine::kAudioStreamEntries; ++i) {
    const auto& x = a.stream[i];
    const auto& y = b.stream[i];
    if (x.codec != y.codec || x.enabled != y.enabled || x.samplingRate != y.samplingRate ||
        x.bitRate != y.bitRate || x.channels != y.channels) {
      return false;
    }
  }
  return true;
}

}  // namespace

void CSessionSettings::Copy(const CSessionSettings& from) {
  static_cast<SessionFields&>(*this) = static_cast<const SessionFields&>(from);
}

void CSessionSettings::Reset() {
  baseBitRate = 18290;
  enBitRate = 18290;
  nLayers = 1;
  encWidth = 128;
  encHeight = 96;
  iFrameInterval = 10;
  baseFrameRate = 0;
  enFrameRate = 0;
  bandwidth = 23040;
  videoFlag = 1;
  streamOut = 3;
  audio = {};
  audio.stream[0] = {0, 1, 8000, 4750, 1};  // GSM-AMR
  audio.stream[1] = {1, 0, 8000, 9200, 1};  // EVRC
  for (int i = 2; i < mediaengine::kAudioStreamEntries; ++i) audio.stream[i] = {-1, 0, 0, 0, 0};
  bEncodeDownloadOnly = 0;
  bMultiplePass = 0;
  bEnableFixedIFrame = 1;
  bClientNoAudio = 1;
  bEnableVideoRandomPositioning = 1;
  bEnableRandomPositioning = 1;
  Put(profilePath, u"");
  Put(profileName, u"");
  Put(sessionPath, u"");
  Put(sessionName, u"");
  mediaOut = 0;
  capWidth = 0;
  capHeight = 0;
  stillImageWidth = 0;
  stillImageHeight = 0;
  stillImageBits = 0;
  reservedWord = 0;
  Put(inputFile, u"");
  Put(stillImageFile, u"");
  liveCapture = 1;
  audioDeviceIndex = 0;
  videoDeviceIndex = 0;
  captureFrameRate = 0;
  fileWidth = 0;
  fileHeight = 0;
  fileFrameRate = 0;
  fileHasAudio = 0;
  fileHasVideo = 0;
  fileDuration = 0;
  sourceWidth = 128;
  sourceHeight = 96;
  sourceFrameSize = 128 * 96 * 3 / 2;
  encoding = 0;
  sourceFlag = 1;
  Put(outputFileName, u"");
  portNumber[0] = 7000;
  portNumber[1] = 0;
  portNumber[2] = 0;
  maxSize = 0;
  maxDuration = 0;
  unitDuration = kSeconds;
  bFullSearch = 0;
  Put(clip[kClipTitle], u"Untitled");
  for (int i = kClipAuthor; i < kClipTextCount; ++i) Put(clip[i], u"");
  lastReserved = 0;
  contentVersion = 30;
}

int CSessionSettings::CompareCodecs(const CSessionSettings& o) const {
  const bool same = baseBitRate == o.baseBitRate && enBitRate == o.enBitRate && nLayers == o.nLayers &&
                    encWidth == o.encWidth && encHeight == o.encHeight && iFrameInterval == o.iFrameInterval &&
                    baseFrameRate == o.baseFrameRate && enFrameRate == o.enFrameRate &&
                    bandwidth == o.bandwidth && videoFlag == o.videoFlag && streamOut == o.streamOut &&
                    SameAudio(audio, o.audio);
  return same ? 0 : 1;
}

int CSessionSettings::CompareWithTexts(const CSessionSettings& o) const {
  if (CompareCodecs(o)) return 1;
  for (int i = 0; i < kClipTextCount; ++i) {
    if (!SameText(clip[i], o.clip[i])) return 1;
  }
  return SameText(profilePath, o.profilePath) && SameText(profileName, o.profileName) ? 0 : 1;
}

int CSessionSettings::CompareWhole(const CSessionSettings& o) const {
  if (CompareWithTexts(o)) return 1;
  if (liveCapture != o.liveCapture) return 1;
  if (liveCapture) {
    if (audioDeviceIndex != o.audioDeviceIndex || videoDeviceIndex != o.videoDeviceIndex) return 1;
  } else if (!SameText(inputFile, o.inputFile)) {
    return 1;
  }
  if (streamOut == kStillImageStream && !SameText(stillImageFile, o.stillImageFile)) return 1;
  if (!SameText(outputFileName, o.outputFileName)) return 1;
  if (contentVersion != o.contentVersion) return 1;
  // The sheet's options, output and limits count too: without them a
  // session edited only there would close without the save prompt.
  const bool sameOptions =
      bEncodeDownloadOnly == o.bEncodeDownloadOnly && bMultiplePass == o.bMultiplePass &&
      bEnableFixedIFrame == o.bEnableFixedIFrame && bClientNoAudio == o.bClientNoAudio &&
      bEnableVideoRandomPositioning == o.bEnableVideoRandomPositioning &&
      bEnableRandomPositioning == o.bEnableRandomPositioning && mediaOut == o.mediaOut &&
      std::equal(portNumber, portNumber + 3, o.portNumber) && maxSize == o.maxSize &&
      maxDuration == o.maxDuration && unitDuration == o.unitDuration && bFullSearch == o.bFullSearch;
  return sameOptions ? 0 : 1;
}

bool CSessionSettings::SetProfilePath(std::u16string_view t) { return Put(profilePath, t); }
bool CSessionSettings::SetProfileName(std::u16string_view t) { return Put(profileName, t); }
bool CSessionSettings::SetSessionPath(std::u16string_view t) { return Put(sessionPath, t); }
bool CSessionSettings::SetSessionName(std::u16string_view t) { return Put(sessionName, t); }
bool CSessionSettings::SetInputFile(std::u16string_view t) { return Put(inputFile, t); }
bool CSessionSettings::SetStillImageFile(std::u16string_view t) { return Put(stillImageFile, t); }
bool CSessionSettings::SetOutputFileName(std::u16string_view t) { return Put(outputFileName, t); }
bool CSessionSettings::SetClipText(ClipTextIndex which, std::u16string_view t) {
  if (which < 0 || which >= kClipTextCount) return false;
  return Put(clip[which], t);
}

std::u16string CSessionSettings::Text(const FieldText& field) { return Get(field); }
std::u16string CSessionSettings::Text(const ClipText& field) { return Get(field); }

std::u16string FileTitle(std::u16string_view path) {
  const size_t slash = path.rfind(u'\\');
  std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  // A name shorter than an extension has no title, rather than a read
  // before its first character.
  if (name.size() < 4) return std::u16string();
  return std::u16string(name.substr(0, name.size() - 4));
}

CSession::CSession(const CSessionSettings& from, SessionHost& host)
    : settings_(std::make_unique<CSessionSettings>(from)), host_(host) {}

int CSession::Apply(int mode, std::u16string_view path) {
  applying_ = true;
  if (host_.Running()) host_.StopPreview();
  const CSessionSettings before(*settings_);
  CSessionSettings edited(*settings_);
  const int result = host_.EditSettings(mode, path, edited);
  if (result == 1) {
    *settings_ = edited;
    if (settings_->CompareWhole(before)) modified_ = true;
  }
  applying_ = false;
  return result;
}

void CSession::TakeFile(std::u16string_view path) {
  settings_->SetSessionPath(path);
  settings_->SetSessionName(FileTitle(path));
}

int CSession::LoadFromFile(std::u16string_view path) {
  CSessionSettings fresh;
  const int result = host_.LoadSession(path, fresh);
  if (result == 1) {
    *settings_ = fresh;
    TakeFile(path);
    modified_ = false;
  }
  return result;
}

int CSession::SaveToFile(std::u16string_view path) {
  const int result = host_.SaveSession(path, *settings_);
  if (result == 1) {
    TakeFile(path);
    modified_ = false;
  }
  return result;
}

int CSession::LoadProfile() { return host_.LoadProfile(*settings_); }
int CSession::SaveProfile() { return host_.SaveProfile(*settings_); }

void CSession::ToggleRun() {
  running_ = false;
  if (!host_.Started()) {
    settings_->encoding = 1;
    host_.StartRun(3, *settings_);
  } else {
    host_.SelectSummaryPanel(9);
    host_.StopRun(*settings_);
  }
}

void CSession::StartFirstKind() {
  running_ = false;
  settings_->encoding = 0;
  host_.StartRun(1, *settings_);
}

void CSession::Preview() {
  settings_->encoding = 0;
  host_.StartPreview(*settings_);
}

void CSession::ReadStillImageInfo() {
  int32_t width = 0, height = 0, bits = 0;
  if (host_.StillImageInfo(CSessionSettings::Text(settings_->stillImageFile), &width, &height, &bits)) {
    settings_->stillImageWidth = width;
    settings_->stillImageHeight = height;
    settings_->stillImageBits = bits;
  }
}

std::u16string CSession::BitRateText(int32_t id) const {
  if (!host_.Busy()) return std::u16string();
  for (const MeasuredRate& m : measured) {
    if (m.id == id) return FormatAscii("%.2f", m.value / 1000.0);
  }
  return std::u16string();
}

}  // namespace scrivel
