// RTCP as a receiver speaks it: the compound report (receiver report,
// source description, the suite's application report "KRSS") and the
// parsing of sender reports and BYE.
#pragma once

#include <cstdint>
#include <vector>

namespace streaming {

struct RtcpReportBlock {
  uint32_t ssrc = 0;
  uint8_t fractionLost = 0;
  int32_t cumulativeLost = 0;  // 24 bits on the wire
  uint32_t highestSequence = 0;
  uint32_t jitter = 0;
  uint32_t lsr = 0;
  uint32_t dlsr = 0;
};

struct RtcpReceiverReport {
  uint32_t reporterSsrc = 0;
  std::vector<RtcpReportBlock> blocks;  // at most 31
};

struct RtcpSdesContext {
  uint8_t version = 2;
  uint32_t chunkSsrc = 0;
  char text[255] = {'K', 'R', 'S', 'S'};
  uint8_t length = 4;
};

// The application report; for the name "KRSS" the fields below, for any
// other name the data as given.
struct RtcpAppReport {
  uint8_t subtype = 0;
  uint32_t ssrc = 0;
  char name[4] = {'K', 'R', 'S', 'S'};
  uint32_t msSinceStart = 0;
  uint32_t receivedBitRate = 0;
  uint32_t reportParameter = 5000;
  uint32_t bufferedMs = 0;
  uint32_t highestSequence = 0;
  uint32_t payloadOctets = 0;
  uint16_t word36 = 0;  // feedback counter, or the delivery ratio of subtypes 1 and 2
  uint16_t word38 = 0;  // the gaps in the main track's buffer (subtype 0)
  uint32_t packetsReceived = 0;
  uint32_t framesDecoded = 0;
  uint32_t framesCorrupt = 0;
  uint32_t packetsSkipped = 0;
  const uint8_t* data = nullptr;
  uint32_t dataLength = 0;
};

// Composer results.
enum RtcpComposeResult : int32_t {
  kRtcpOk = 0,
  kRtcpOverrun = 1,
  kRtcpTooSmall = 2,
  kRtcpBadPadding = 3,
};

struct RtcpBuffer {
  uint32_t size;  // in: room; out: bytes written (or needed, for kRtcpTooSmall)
  uint8_t* data;
};

int32_t ComposeRtcpCompound(const RtcpSdesContext& sdes, const RtcpReceiverReport& rr, RtcpBuffer& buffer,
                            const RtcpAppReport* app, uint8_t padding);
int32_t ComposeReceiverReport(const RtcpReceiverReport& rr, RtcpBuffer& buffer, uint8_t padding);
int32_t ComposeSourceDescription(const RtcpSdesContext& sdes, RtcpBuffer& buffer, uint8_t padding);
int32_t ComposeAppReport(const RtcpAppReport& app, RtcpBuffer& buffer, uint8_t padding);

void SetSdesText(RtcpSdesContext& sdes, const char* text, uint32_t length);
// The client's canonical name from the stream clock when the RTP session was
// made; empty for a clock below 2. Returns the length (at most 8).
uint32_t MakeCanonicalName(uint32_t clockMs, char out[8]);
// The four SSRC bytes as they arrived, read little-endian and rotated right
// by 10 bits.
uint32_t ReporterSsrc(const uint8_t ssrcBytes[4]);

// Per track: what the last report saw, for the fraction lost.
struct RtcpTrackReportState {
  uint32_t expectedPrior = 0;
  int32_t lostPrior = 0;
};
RtcpReportBlock BuildReportBlock(RtcpTrackReportState& state, uint32_t ssrc, int32_t cumulativeLost,
                                 uint32_t highestSequence, uint32_t jitter, uint32_t lsr,
                                 uint32_t lsrArrivalMs, uint32_t nowMs);
// Delay since the last sender report in 1/65536 s, without wrapping.
uint32_t DelaySinceLastSr(uint32_t nowMs, uint32_t arrivalMs);

enum RtcpKind : int32_t {
  kRtcpSenderReport = 0,
  kRtcpReceiverReport = 1,
  kRtcpSourceDescription = 2,
  kRtcpKrss = 3,
  kRtcpApp = 4,
  kRtcpBye = 5,
  kRtcpOther = 6,
};

struct RtcpPacketRef {
  uint32_t length;
  const uint8_t* data;
};

// Results of the parsers.
enum RtcpParseResult : int32_t {
  kRtcpParsed = 0,
  kRtcpEmpty = 1,
  kRtcpTruncated = 5,
};

int32_t SplitRtcpCompound(const uint8_t* data, uint32_t length, uint32_t maxPackets, uint32_t& count,
                          int32_t* kinds, RtcpPacketRef* packets);

struct RtcpSenderReport {
  uint32_t ssrc = 0;
  uint32_t ntpHigh = 0, ntpLow = 0;
  uint32_t rtpTimestamp = 0;
  uint32_t packetCount = 0, octetCount = 0;
  std::vector<RtcpReportBlock> blocks;
};

// 0 done, 1 truncated, 2 version, 3 not a sender report, 4 length field too
// small for its blocks.
int32_t ParseSenderReport(uint8_t version, const RtcpPacketRef& packet, RtcpSenderReport& out);

struct RtcpBye {
  std::vector<uint32_t> ssrcs;
  std::vector<char> reason;
};
// 0 done, 1 truncated, 2 version, 3 not a BYE.
int32_t ParseBye(uint8_t version, const RtcpPacketRef& packet, RtcpBye& out);

}  // namespace streaming
