// One RTSP message (request, response or '$' frame header) in a fixed
// record, filled by the reader or built for composing. Nothing here
// allocates: limits reached are parse error codes.
#pragma once

#include <cstdint>

#include "streaming/range.h"
#include "streaming/rtsp_token.h"
#include "streaming/transport.h"

namespace streaming {

constexpr uint32_t kMaxHeaderText = 1000;
constexpr uint32_t kMaxHeaderSlots = 20;
// Bodies above this are refused: nothing the client reads (an SDP text) is
// near it, and a hostile peer must not make the caller allocate without bound.
constexpr uint32_t kMaxBodyLength = 1u << 20;

enum RtspMessageKind : int32_t { kRequest = 0, kResponse = 1, kNoKind = 2 };

enum RtspParseError : int32_t {
  kParseOk = 0,
  kParseBadVersion = 1,
  kParseHeaderTooLong = 2,
  kParseTooManyHeaders = 3,
  kParseMalformed = 4,
};

struct HeaderSlot {
  RtspToken name;
  RtspToken value;
};

struct RtspMessage {
  RtspMessage() { Reset(); }
  RtspMessage(const RtspMessage&) = delete;
  RtspMessage& operator=(const RtspMessage&) = delete;

  // Empties every field; Reset also clears the parse error and version.
  void Clear();
  void Reset();
  // First slot whose name matches (hash, then case-insensitively); null if none.
  const RtspToken* FindHeader(const RtspToken& name) const;

  // Composing (see rtsp_compose.cpp).
  void BeginCompose();
  bool SetHeader(const RtspToken& name, const char* value, uint32_t length);
  bool SetHeaderText(const RtspToken& name, const char* value);
  // A copy of the URI kept in the header text, so the record owns what it
  // sends; false when it does not fit.
  bool SetRequestUri(const char* uri);
  bool Compose();
  const char* composedText() const { return output; }
  uint32_t composedLength() const { return outputLength; }

  // Header text: the received copy, or names and values added by SetHeader.
  char headerText[kMaxHeaderText + 1];
  uint32_t headerStart;  // offset of the first byte behind the start line
  uint32_t headerTextLength;
  HeaderSlot slots[kMaxHeaderSlots];
  uint16_t headerCount;

  int32_t kind;
  int32_t method;
  uint16_t status;
  RtspToken methodWord;
  RtspToken reasonPhrase;

  bool hasCSeq;
  int32_t cseq;
  bool hasBuffersize;
  int32_t buffersize;
  TransportSpec transports[kMaxTransports];
  uint32_t transportCount;
  bool hasRange;
  RangeValue range;
  bool hasSession;
  RtspToken session;
  RtpInfoEntry rtpInfo[kMaxRtpInfoEntries];
  uint32_t rtpInfoCount;
  bool hasContentType;
  RtspToken contentType;  // for a '$' frame: the channel byte
  bool hasContentBase;
  RtspToken contentBase;
  bool hasContentLength;
  int32_t contentLength;
  bool hasUserAgent;
  RtspToken userAgent;
  bool hasAccept;
  RtspToken accept;
  bool hasRequire;
  RtspToken require;
  RtspToken requestUri;
  int32_t parseError;
  uint32_t headerLines;
  uint32_t headersParsed;
  RtspToken uriPath;
  RtspToken lastSegment;
  RtspToken protocolVersion;

  // The channel of a '$' frame, kept here so that it outlives the receive
  // buffer it came from.
  char channelText[2];

  char output[kMaxHeaderText + 1];
  uint32_t outputLength;

  // Parses the header copy in headerText[0, headerTextLength) (the reader's
  // step after copying): unfolding, start line, header lines.
  void ParseHeaderCopy(uint32_t copiedLength);
  void SetError(int32_t error) {
    if (parseError == kParseOk) parseError = error;
  }
};

// Where a body goes: pairs {length, pointer}, in order; empty pairs are
// skipped.
struct BodyFragment {
  uint32_t length;
  uint8_t* data;
};

enum RtspReaderEvent : int32_t {
  kEventNeedBytes = 0,
  kEventIdle = 1,
  kEventHeader = 2,
  kEventBodyPending = 3,
  kEventBodyComplete = 4,
  kEventHeaderTooLong = 5,
  kEventFailed = 6,
};

class RtspReader {
 public:
  static constexpr uint32_t kBufferSize = 4000;

  RtspReader() = default;
  RtspReader(const RtspReader&) = delete;
  RtspReader& operator=(const RtspReader&) = delete;

  bool GetReceiveWindow(uint8_t*& window, uint32_t& length);
  bool Commit(uint32_t n);
  int32_t Step();
  bool Begin(RtspMessage& record);
  bool SetBodyTarget(const BodyFragment* fragments, uint32_t count);

  int32_t state() const { return state_; }
  uint32_t bodyLength() const { return bodyLength_; }

 private:
  void Scan();
  void ScanHeader();
  void MoveBody();
  void Resynchronise();
  // Offset behind the first header end found from 'from', or 0.
  uint32_t FindHeaderEnd(uint32_t from) const;
  void Compact();

  int32_t state_ = 0;
  uint8_t buf_[kBufferSize + 2] = {};
  uint32_t dataStart_ = 0;
  uint32_t dataEnd_ = 0;
  uint32_t scanPos_ = 0;
  RtspMessage* message_ = nullptr;
  uint32_t windowLength_ = 0;
  uint32_t bodyLength_ = 0;
  uint32_t bodyDone_ = 0;
  uint32_t fragIndex_ = 0;
  uint32_t fragOffset_ = 0;
  const BodyFragment* fragments_ = nullptr;
  uint32_t fragCount_ = 0;
};

}  // namespace streaming
