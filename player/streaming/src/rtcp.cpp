#include "streaming/rtcp.h"

#include <cstring>

namespace streaming {

namespace {

constexpr uint8_t kTypeSr = 200, kTypeRr = 201, kTypeSdes = 202, kTypeBye = 203, kTypeApp = 204;

// Big-endian writes into a fixed buffer; an overrun skips further writes.
class Writer {
 public:
  Writer(uint8_t* data, uint32_t size) : data_(data), size_(size) {}
  void Put8(uint8_t v) {
    if (pos_ >= size_) {
      overrun_ = true;
      return;
    }
    data_[pos_++] = v;
  }
  void Put16(uint16_t v) {
    Put8(uint8_t(v >> 8));
    Put8(uint8_t(v));
  }
  void Put32(uint32_t v) {
    Put16(uint16_t(v >> 16));
    Put16(uint16_t(v));
  }
  void PutBytes(const void* p, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) Put8(static_cast<const uint8_t*>(p)[i]);
  }
  uint32_t pos() const { return pos_; }
  bool overrun() const { return overrun_; }

 private:
  uint8_t* data_;
  uint32_t size_;
  uint32_t pos_ = 0;
  bool overrun_ = false;
};

// The packet of 'body' bytes (header included) with padding appended; the
// last padding byte counts the padding.
int32_t finishPacket(Writer& w, uint32_t start, uint32_t body, uint8_t padding, uint8_t count, uint8_t type,
                     uint8_t* data) {
  const uint32_t total = body + padding;
  if (total % 4) return kRtcpBadPadding;
  for (uint32_t i = 1; i < padding; ++i) w.Put8(0);
  if (padding) w.Put8(padding);
  if (w.overrun()) return kRtcpOverrun;
  data[start] = uint8_t(0x80 | (padding ? 0x20 : 0) | (count & 0x1F));
  data[start + 1] = type;
  const uint32_t words = total / 4 - 1;
  data[start + 2] = uint8_t(words >> 8);
  data[start + 3] = uint8_t(words);
  return kRtcpOk;
}

uint32_t lost24(int32_t lost) {
  if (lost > 0x7FFFFF) lost = 0x7FFFFF;
  if (lost < -0x800000) lost = -0x800000;
  return uint32_t(lost) & 0xFFFFFF;
}

int32_t composeRr(const RtcpReceiverReport& rr, Writer& w, uint8_t* data, uint8_t padding) {
  const uint32_t start = w.pos();
  const uint32_t blocks = rr.blocks.size() > 31 ? 31 : uint32_t(rr.blocks.size());
  w.Put32(0);  // header, written once the length is known
  w.Put32(rr.reporterSsrc);
  for (uint32_t i = 0; i < blocks; ++i) {
    const RtcpReportBlock& b = rr.blocks[i];
    w.Put32(b.ssrc);
    w.Put32(uint32_t(b.fractionLost) << 24 | lost24(b.cumulativeLost));
    w.Put32(b.highestSequence);
    w.Put32(b.jitter);
    w.Put32(b.lsr);
    w.Put32(b.dlsr);
  }
  return finishPacket(w, start, 8 + 24 * blocks, padding, uint8_t(blocks), kTypeRr, data);
}

int32_t composeSdes(const RtcpSdesContext& sdes, Writer& w, uint8_t* data, uint8_t padding) {
  const uint32_t start = w.pos();
  w.Put32(0);
  w.Put32(sdes.chunkSsrc);
  w.Put8(2);  // CNAME
  w.Put8(sdes.length);
  w.PutBytes(sdes.text, sdes.length);
  w.Put8(0);  // end of the item list
  uint32_t body = 8 + 2 + sdes.length + 1;
  while (body % 4) {
    w.Put8(0);
    ++body;
  }
  return finishPacket(w, start, body, padding, 1, kTypeSdes, data);
}

int32_t composeApp(const RtcpAppReport& app, Writer& w, uint8_t* data, uint8_t padding) {
  const uint32_t start = w.pos();
  w.Put32(0);
  w.Put32(app.ssrc);
  w.PutBytes(app.name, 4);
  uint32_t body = 12;
  if (std::memcmp(app.name, "KRSS", 4) == 0) {
    for (uint32_t v : {app.msSinceStart, app.receivedBitRate, app.reportParameter, app.bufferedMs,
                       app.highestSequence, app.payloadOctets})
      w.Put32(v);
    body += 24;
    if (app.subtype == 0) {
      w.Put16(app.word36);
      w.Put16(app.word38);
      for (uint32_t v : {app.packetsReceived, app.framesDecoded, app.framesCorrupt, app.packetsSkipped}) w.Put32(v);
      body += 20;
    } else if (app.subtype == 1 || app.subtype == 2) {
      w.Put16(app.word36);
      w.Put16(0);
      body += 4;
    }
  } else {
    w.PutBytes(app.data, app.dataLength);
    body += app.dataLength;
    while (body % 4) {
      w.Put8(0);
      ++body;
    }
  }
  return finishPacket(w, start, body, padding, app.subtype, kTypeApp, data);
}

// Bounded big-endian reads with a sticky error.
class Reader {
 public:
  Reader(const uint8_t* data, uint32_t length) : data_(data), length_(length) {}
  uint8_t Get8() {
    if (pos_ >= length_) {
      error_ = true;
      return 0;
    }
    return data_[pos_++];
  }
  uint32_t Get32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | Get8();
    return v;
  }
  bool error() const { return error_; }
  uint32_t pos() const { return pos_; }

 private:
  const uint8_t* data_;
  uint32_t length_;
  uint32_t pos_ = 0;
  bool error_ = false;
};

}  // namespace

int32_t ComposeReceiverReport(const RtcpReceiverReport& rr, RtcpBuffer& buffer, uint8_t padding) {
  Writer w(buffer.data, buffer.size);
  int32_t r = composeRr(rr, w, buffer.data, padding);
  if (r == kRtcpOk) buffer.size = w.pos();
  return r;
}

int32_t ComposeSourceDescription(const RtcpSdesContext& sdes, RtcpBuffer& buffer, uint8_t padding) {
  Writer w(buffer.data, buffer.size);
  int32_t r = composeSdes(sdes, w, buffer.data, padding);
  if (r == kRtcpOk) buffer.size = w.pos();
  return r;
}

int32_t ComposeAppReport(const RtcpAppReport& app, RtcpBuffer& buffer, uint8_t padding) {
  Writer w(buffer.data, buffer.size);
  int32_t r = composeApp(app, w, buffer.data, padding);
  if (r == kRtcpOk) buffer.size = w.pos();
  return r;
}

int32_t ComposeRtcpCompound(const RtcpSdesContext& sdes, const RtcpReceiverReport& rr, RtcpBuffer& buffer,
                            const RtcpAppReport* app, uint8_t padding) {
  const uint32_t blocks = rr.blocks.size() > 31 ? 31 : uint32_t(rr.blocks.size());
  const uint32_t rrSize = 8 + 24 * blocks;
  if (buffer.size < rrSize) {
    buffer.size = rrSize;
    return kRtcpTooSmall;
  }
  Writer w(buffer.data, buffer.size);
  int32_t r = composeRr(rr, w, buffer.data, 0);
  if (r == kRtcpOk) r = composeSdes(sdes, w, buffer.data, app ? 0 : padding);
  if (r == kRtcpOk && app) r = composeApp(*app, w, buffer.data, padding);
  if (r == kRtcpOk) buffer.size = w.pos();
  return r;
}

void SetSdesText(RtcpSdesContext& sdes, const char* text, uint32_t length) {
  if (!text || length == 0) {
    std::memcpy(sdes.text, "KRSS", 4);
    sdes.length = 4;
    return;
  }
  if (length > 255) length = 255;
  std::memcpy(sdes.text, text, length);
  sdes.length = uint8_t(length);
}

uint32_t MakeCanonicalName(uint32_t clockMs, char out[8]) {
  const uint32_t words[2] = {(clockMs >> 1) & 0x7F7F7F7F, clockMs & 0x7F7F7F7F};
  uint32_t n = 0;
  for (int w = 0; w < 2; ++w) {
    for (int b = 0; b < 4; ++b) {
      char c = char((words[w] >> (8 * b)) & 0xFF);
      if (c == 0) return n;
      out[n++] = c;
    }
  }
  return n;
}

uint32_t ReporterSsrc(const uint8_t b[4]) {
  uint32_t v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  return v >> 10 | v << 22;
}

uint32_t DelaySinceLastSr(uint32_t nowMs, uint32_t arrivalMs) {
  // In 64 bits: the 32-bit product wraps after 65.5 seconds.
  return uint32_t((uint64_t(nowMs - arrivalMs) * 65536) / 1000);
}

RtcpReportBlock BuildReportBlock(RtcpTrackReportState& state, uint32_t ssrc, int32_t cumulativeLost,
                                 uint32_t highestSequence, uint32_t jitter, uint32_t lsr,
                                 uint32_t lsrArrivalMs, uint32_t nowMs) {
  RtcpReportBlock b;
  b.ssrc = ssrc;
  const uint32_t expected = highestSequence - state.expectedPrior;
  const int64_t lost = int64_t(cumulativeLost) - state.lostPrior;
  if (expected != 0 && lost > 0) {
    int64_t f = lost * 256 / int64_t(expected);
    b.fractionLost = uint8_t(f > 255 ? 255 : f);
  }
  state.expectedPrior = highestSequence;
  state.lostPrior = cumulativeLost;
  b.cumulativeLost = cumulativeLost;
  b.highestSequence = highestSequence;
  b.jitter = jitter;
  b.lsr = lsr;
  b.dlsr = lsr ? DelaySinceLastSr(nowMs, lsrArrivalMs) : 0;
  return b;
}

int32_t SplitRtcpCompound(const uint8_t* data, uint32_t length, uint32_t maxPackets, uint32_t& count,
                          int32_t* kinds, RtcpPacketRef* packets) {
  count = 0;
  if (!data || length == 0) return kRtcpEmpty;
  uint32_t pos = 0;
  while (pos < length && count < maxPackets) {
    if (length - pos < 4) return kRtcpTruncated;
    const uint8_t* p = data + pos;
    const uint32_t size = (uint32_t(p[2]) << 8 | p[3]) * 4 + 4;
    if (size > length - pos) return kRtcpTruncated;
    int32_t kind;
    switch (p[1]) {
      case kTypeSr: kind = kRtcpSenderReport; break;
      case kTypeRr: kind = kRtcpReceiverReport; break;
      case kTypeSdes: kind = kRtcpSourceDescription; break;
      case kTypeBye: kind = kRtcpBye; break;
      case kTypeApp: kind = size >= 12 && std::memcmp(p + 8, "KRSS", 4) == 0 ? kRtcpKrss : kRtcpApp; break;
      default: kind = kRtcpOther; break;
    }
    kinds[count] = kind;
    packets[count] = RtcpPacketRef{size, p};
    ++count;
    pos += size;
  }
  return kRtcpParsed;
}

int32_t ParseSenderReport(uint8_t version, const RtcpPacketRef& packet, RtcpSenderReport& out) {
  if (packet.length < 28) return 1;
  const uint8_t* p = packet.data;
  if ((p[0] >> 6) != version) return 2;
  if (p[1] != kTypeSr) return 3;
  const uint32_t blocks = p[0] & 0x1F;
  const uint32_t words = uint32_t(p[2]) << 8 | p[3];
  if (words < 6 + 6 * blocks) return 4;
  if ((words + 1) * 4 > packet.length) return 1;
  Reader r(p + 4, packet.length - 4);
  out.ssrc = r.Get32();
  out.ntpHigh = r.Get32();
  out.ntpLow = r.Get32();
  out.rtpTimestamp = r.Get32();
  out.packetCount = r.Get32();
  out.octetCount = r.Get32();
  out.blocks.clear();
  for (uint32_t i = 0; i < blocks; ++i) {
    RtcpReportBlock b;
    b.ssrc = r.Get32();
    uint32_t lost = r.Get32();
    b.fractionLost = uint8_t(lost >> 24);
    // Sign-extended from 24 bits.
    b.cumulativeLost = int32_t((lost & 0xFFFFFF) << 8) >> 8;
    b.highestSequence = r.Get32();
    b.jitter = r.Get32();
    b.lsr = r.Get32();
    b.dlsr = r.Get32();
    out.blocks.push_back(b);
  }
  return r.error() ? 1 : 0;
}

int32_t ParseBye(uint8_t version, const RtcpPacketRef& packet, RtcpBye& out) {
  if (packet.length < 4) return 1;
  const uint8_t* p = packet.data;
  if ((p[0] >> 6) != version) return 2;
  if (p[1] != kTypeBye) return 3;
  Reader r(p + 4, packet.length - 4);
  out.ssrcs.clear();
  out.reason.clear();
  for (uint32_t i = 0; i < uint32_t(p[0] & 0x1F); ++i) out.ssrcs.push_back(r.Get32());
  if (r.error()) return 1;
  if (r.pos() < packet.length - 4) {
    uint8_t n = r.Get8();
    for (uint32_t i = 0; i < n; ++i) out.reason.push_back(char(r.Get8()));
    if (r.error()) return 1;
  }
  return 0;
}

}  // namespace streaming
