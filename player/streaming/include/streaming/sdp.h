// Session descriptions in the suite's SDP dialect: the session part, one
// media description object per accepted media section (chosen by the
// rtpmap encoding name), and the fixed clip information block of a
// download.
#pragma once

#include <cstdint>
#include <vector>

#include "streaming/range.h"
#include "streaming/ref_string.h"

namespace streaming {

// Parse results.
enum SdpResult : int32_t {
  kSdpOk = 0,
  kSdpBadFrameSize = 13,
  kSdpStructure = 16,
  kSdpMediaSyntax = 17,
  kSdpSessionSyntax = 18,
  kSdpPayloadMismatch = 19,
  kSdpNoRoom = 20,
};

constexpr uint32_t kMaxSdpMedia = 50;
// SDP texts come from the network; nothing legitimate is near this size.
constexpr uint32_t kMaxSdpText = 1u << 20;

class SdpMediaDescription;
struct SdpSessionDescription;

using SdpMediaParser = int32_t (*)(const char* text, uint32_t length, SdpSessionDescription& session);

// The common fields of every media description.
class SdpMediaDescription {
 public:
  SdpMediaDescription() { range.format = kRangeNotParsed; }
  virtual ~SdpMediaDescription();
  SdpMediaDescription(const SdpMediaDescription&) = delete;
  SdpMediaDescription& operator=(const SdpMediaDescription&) = delete;

  virtual int32_t GetProfileLevelId() const { return 0; }
  virtual const uint8_t* GetConfigBytes() const { return nullptr; }
  virtual int32_t GetFrameWidth() const { return 0; }
  virtual int32_t GetFrameHeight() const { return 0; }
  virtual double GetFrameRate() const { return 0.0; }
  virtual int32_t GetIFrameInterval() const { return 0; }
  virtual uint32_t GetConfigLength() const { return 0; }
  virtual int32_t GetCodecProfile() const { return 0; }
  virtual int32_t GetCodecLevel() const { return 0; }
  virtual uint32_t GetModeSetMask() const { return 0; }
  virtual int32_t GetModeChangePeriod() const { return 0; }
  virtual bool GetModeChangeNeighbour() const { return false; }
  virtual int32_t GetMaxFrames() const { return 0; }
  virtual bool GetRobustSorting() const { return false; }
  virtual bool GetOctetAlign() const { return false; }
  virtual bool GetCrc() const { return false; }
  virtual const char* GetLanguage() const { return nullptr; }
  virtual int32_t GetMaxBundles() const { return 0; }
  virtual int32_t GetPtime() const { return 0; }
  bool GetAllowRecord() const { return allowRecord; }
  void GetContentVersion(uint8_t& major, uint8_t& minor) const {
    major = uint8_t(contentVersion >> 8);
    minor = uint8_t(contentVersion & 0xFF);
  }
  // An upper bound of the length of this media's SDP text.
  virtual uint32_t GetTextLength() const;

  RefString* mediaType = nullptr;
  int32_t port = 0;
  RefString* transport = nullptr;
  int32_t payloadType = 0;
  RefString* encodingName = nullptr;
  int32_t clockRate = 1;
  int32_t decodeBuffer = 0;
  RefString* control = nullptr;
  int32_t bandwidth = 0;  // bits per second
  RangeValue range;
  uint16_t contentVersion = 0;
  RefString* dependsOnText = nullptr;
  int32_t dependsOnTrack = -1;
  bool allowRecord = false;
  std::vector<uint8_t> config;  // fmtp config= of audio and MPEG-4 video
  bool randomAccessDenied = false;

 protected:
  uint32_t CommonTextLength() const;
};

class SdpImageMedia : public SdpMediaDescription {
 public:
  ~SdpImageMedia() override;
  uint32_t GetTextLength() const override;
  RefString* imageText = nullptr;
};

class SdpMpeg4VideoMedia : public SdpMediaDescription {
 public:
  int32_t GetProfileLevelId() const override { return profileLevelId; }
  const uint8_t* GetConfigBytes() const override { return config.empty() ? nullptr : config.data(); }
  uint32_t GetConfigLength() const override { return uint32_t(config.size()); }
  int32_t GetFrameWidth() const override { return frameWidth; }
  int32_t GetFrameHeight() const override { return frameHeight; }
  double GetFrameRate() const override { return frameRate; }
  int32_t GetIFrameInterval() const override { return iFrameInterval; }
  uint32_t GetTextLength() const override;
  int32_t profileLevelId = -1;
  int32_t frameWidth = -1, frameHeight = -1;
  double frameRate = -1.0;
  int32_t iFrameInterval = -1;
};

class SdpH263Media : public SdpMediaDescription {
 public:
  int32_t GetFrameWidth() const override { return frameWidth; }
  int32_t GetFrameHeight() const override { return frameHeight; }
  int32_t GetCodecProfile() const override { return codecProfile; }
  int32_t GetCodecLevel() const override { return codecLevel; }
  uint32_t GetTextLength() const override;
  int32_t frameWidth = -1, frameHeight = -1, codecProfile = -1, codecLevel = -1;
};

class SdpEvrcMedia : public SdpMediaDescription {
 public:
  ~SdpEvrcMedia() override;
  int32_t GetMaxFrames() const override { return maxFrames; }
  int32_t GetMaxBundles() const override { return maxBundles; }
  int32_t GetPtime() const override { return ptime; }
  const char* GetLanguage() const override { return language ? language->text : nullptr; }
  uint32_t GetTextLength() const override;
  int32_t maxFrames = -1, maxBundles = -1, ptime = -1;
  RefString* language = nullptr;
};

class SdpAmrMedia : public SdpMediaDescription {
 public:
  ~SdpAmrMedia() override;
  uint32_t GetModeSetMask() const override { return modeSetMask; }
  int32_t GetModeChangePeriod() const override { return modeChangePeriod; }
  bool GetModeChangeNeighbour() const override { return modeChangeNeighbour; }
  bool GetRobustSorting() const override { return robustSorting; }
  bool GetOctetAlign() const override { return octetAlign; }
  bool GetCrc() const override { return crc; }
  const char* GetLanguage() const override { return language ? language->text : nullptr; }
  uint32_t GetTextLength() const override;
  uint32_t modeSetMask = 0;
  int32_t modeChangePeriod = -1;
  bool modeChangeNeighbour = false;
  int32_t maxPtime = 200;
  bool robustSorting = false;
  bool octetAlign = true;
  bool crc = false;
  int32_t interleaving = -1;
  RefString* language = nullptr;
};

class SdpConfigAudioMedia : public SdpMediaDescription {
 public:
  ~SdpConfigAudioMedia() override;
  const uint8_t* GetConfigBytes() const override { return config.empty() ? nullptr : config.data(); }
  uint32_t GetConfigLength() const override { return uint32_t(config.size()); }
  const char* GetLanguage() const override { return language ? language->text : nullptr; }
  uint32_t GetTextLength() const override;
  RefString* language = nullptr;
};

struct SdpSessionDescription {
  SdpSessionDescription() { range.format = kRangeNotParsed; }
  ~SdpSessionDescription();
  SdpSessionDescription(const SdpSessionDescription&) = delete;
  SdpSessionDescription& operator=(const SdpSessionDescription&) = delete;

  int32_t version = 0;
  RefString* originUserName = nullptr;
  uint32_t originSessionId = 0;
  uint32_t originSessionVersion = 0;
  RefString* originNetworkType = nullptr;
  RefString* originAddressType = nullptr;
  RefString* originAddress = nullptr;
  RefString* sessionName = nullptr;
  RefString* sessionInformation = nullptr;
  RefString* connectionNetworkType = nullptr;
  RefString* connectionAddressType = nullptr;
  RefString* connectionAddress = nullptr;
  RefString* versionText = nullptr;
  RefString* author = nullptr;
  RefString* copyright = nullptr;
  RefString* rating = nullptr;
  uint32_t startTime = 0, stopTime = 0;
  RangeValue range;
  RefString* wmfVersion = nullptr;
  bool allowRecord = false;
  bool randomAccessDenied = false;
  int32_t videoOnlyValue = 2;  // 0 "true", 1 "false", 2 not given
  RefString* sessionControl = nullptr;
  uint16_t contentVersion = 0;
  RefString* creationDate = nullptr;
  RefString* originSessionIdText = nullptr;
  RefString* originSessionVersionText = nullptr;
  SdpMediaDescription* media[kMaxSdpMedia] = {};
  int32_t mediaCount = 0;
};

struct SdpCodecTable {
  ~SdpCodecTable();
  uint32_t count = 0;
  char* names[8] = {};
  SdpMediaParser parsers[8] = {};
};

struct SdpParser {
  ~SdpParser() { delete codecTable; }
  SdpCodecTable* codecTable = nullptr;
  int32_t mediaLimit = 0;
  bool tableMade = false;
  bool applicationMedia = false;
};

// One media record of the download's clip information (268 bytes).
struct DownloadMediaRecord {
  char encodingName[256];
  uint32_t bandwidth;
  uint32_t trackNumber;
  uint8_t contentMajor;
  uint8_t contentMinor;
  uint8_t padding[2];
};
static_assert(sizeof(DownloadMediaRecord) == 268);

// The clip information a download stores in its state file; the byte
// layout is fixed (little-endian), written by WriteDownloadClipInfo.
struct DownloadClipInfo {
  static constexpr uint32_t kMaxMedia = 10;
  static constexpr uint32_t kSize = 3208;
  DownloadMediaRecord media[kMaxMedia];
  uint32_t mediaCount;
  char sessionName[256];
  char creationDate[256];
  uint32_t rangeStartMs;
  uint32_t rangeEndMs;
  uint8_t contentMajor;
  uint8_t contentMinor;
  uint8_t padding[2];
};
static_assert(sizeof(DownloadClipInfo) == DownloadClipInfo::kSize);

int32_t ParseSdp(SdpParser& parser, const char* text, uint32_t length, SdpSessionDescription& session);
int32_t ParseSdpSessionLine(const char* text, uint32_t length, SdpSessionDescription& session);
bool ParseSdpMediaHeader(SdpParser& parser, const char* line, const char* lineEnd, int32_t& payloadType);
bool BuildSdpCodecTable(SdpParser& parser);
bool AddSdpCodec(SdpCodecTable& table, const char* name, uint32_t nameLength, SdpMediaParser parser);
int32_t ParseSdpIntoClipInfo(SdpParser& parser, const char* text, uint32_t length,
                             SdpSessionDescription& session, DownloadClipInfo& info);
int32_t SdpRangeToMilliseconds(const RangeValue& range, uint32_t& startMs, uint32_t& endMs);
// The block byte for byte as stored (little-endian).
void WriteDownloadClipInfo(const DownloadClipInfo& info, uint8_t out[DownloadClipInfo::kSize]);

// The parsers of the codec table.
int32_t SdpConfigAudioMediaParse(const char* text, uint32_t length, SdpSessionDescription& session);
int32_t SdpAmrMediaParse(const char* text, uint32_t length, SdpSessionDescription& session);
int32_t SdpEvrcMediaParse(const char* text, uint32_t length, SdpSessionDescription& session);
int32_t SdpH263MediaParse(const char* text, uint32_t length, SdpSessionDescription& session);
int32_t SdpMpeg4VideoMediaParse(const char* text, uint32_t length, SdpSessionDescription& session);
int32_t SdpImageMediaParse(const char* text, uint32_t length, SdpSessionDescription& session);
// The media-level lines common to every class.
int32_t ParseSdpMediaLine(const char* text, SdpMediaDescription& media, uint32_t length);

}  // namespace streaming
