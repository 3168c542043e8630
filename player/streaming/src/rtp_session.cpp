#include "streaming/rtp_session.h"

#include <chrono>
#include <cstring>

#include "streaming/scheduler.h"

namespace streaming {

namespace {
constexpr uint32_t kMaxDatagram = 4096;
constexpr uint32_t kIdleEndMs = 15000;
constexpr uint32_t kNoTime = 0xFFFFFFFFu;

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

bool isVideo(int32_t kind) { return kind == kPayloadMpeg4 || kind == kPayloadH263; }
}  // namespace

uint64_t ArrivalClockUs() {
  return uint64_t(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

bool TimestampConverter::Update(uint32_t value) {
  const uint32_t ahead = value - last;
  if (ahead >= 0x80000000u) return false;  // a backward move changes nothing
  if (value < last) ++wraps;
  last = value;
  return true;
}

uint64_t TimestampConverter::ToUnits(uint32_t unitsPerSecond) const {
  if (timescale == 0) return 0;
  const uint64_t ext = uint64_t(wraps) << 32 | last;
  return ext / timescale * unitsPerSecond + ext % timescale * unitsPerSecond / timescale;
}

RtpSession::RtpSession(SocketLayer* sockets) : sockets_(sockets), clock_(GetStreamClockTime) {
  MakeCanonicalName(clock_(), canonicalName_);
}

ReceiveRecord* RtpSession::Find(int32_t presentation) {
  for (auto& r : records_) {
    if (r->presentation == presentation) return r.get();
  }
  return nullptr;
}

int32_t RtpSession::AddRecord(int32_t presentation, uint32_t bufferBytes, uint32_t lowMs, uint32_t highMs) {
  if (bufferBytes < 2 * kMaxDatagram) return kResultNone;
  auto r = std::make_unique<ReceiveRecord>();
  r->presentation = presentation;
  r->buffer.assign(bufferBytes, 0);
  r->lowMs = lowMs;
  r->highMs = highMs;
  std::lock_guard<std::mutex> guard(*lock_);
  records_.push_back(std::move(r));
  return kResultDone;
}

int32_t RtpSession::RemoveRecord(int32_t presentation) {
  std::lock_guard<std::mutex> guard(*lock_);
  for (auto it = records_.begin(); it != records_.end(); ++it) {
    if ((*it)->presentation == presentation) {
      records_.erase(it);
      return kResultDone;
    }
  }
  return kResultUnknownPresentation;
}

int32_t RtpSession::SetBufferTime(int32_t presentation, uint32_t ms) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  if (!r) return kResultUnknownPresentation;
  r->bufferTimeMs = ms;
  return kResultDone;
}

int32_t RtpSession::GetBufferTime(int32_t presentation, uint32_t& ms) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  ms = r ? r->bufferTimeMs : 0;
  return r ? kResultDone : kResultNone;
}

uint32_t RtpSession::GetTrackCount(int32_t presentation) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  return r ? r->trackCount : 0;
}

int32_t RtpSession::SetTrackKind(int32_t presentation, uint32_t track, int32_t kind, uint8_t payloadType,
                                 uint32_t frameCapacity) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  if (!r) return kResultUnknownPresentation;
  if (track >= kMaxStreams || kind < kPayloadMpeg4 || kind > kPayloadEvrc) return kResultBadStream;
  TrackState& t = r->tracks[track];
  t.kind = kind;
  t.payloadType = payloadType & 0x7F;
  t.frame.assign(frameCapacity, 0);
  t.mpeg4 = Mpeg4AssemblyState{};
  t.h263 = H263AssemblyState{};
  t.mpeg4.capacity = t.h263.capacity = frameCapacity;
  return kResultDone;
}

int32_t RtpSession::SetClockRate(int32_t presentation, uint32_t track, uint32_t hz) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  if (!r) return kResultUnknownPresentation;
  if (track >= kMaxStreams) return kResultBadStream;
  if (hz == 0) return kResultNone;  // never divided by
  r->tracks[track].clockRate = hz;
  return kResultDone;
}

int32_t RtpSession::SetSlots(int32_t presentation, uint32_t track, uint32_t count, uint32_t ssrc, bool ssrcFixed) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  if (!r) return kResultUnknownPresentation;
  if (track >= kMaxStreams || count == 0) return kResultBadStream;
  TrackState& t = r->tracks[track];
  t.slotCount = count;
  t.ssrc = ssrc;
  t.ssrcFixed = ssrcFixed;
  return kResultDone;
}

int32_t RtpSession::SetSlotArray(int32_t presentation, uint32_t track) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  if (!r) return kResultUnknownPresentation;
  if (track >= kMaxStreams) return kResultBadStream;
  TrackState& t = r->tracks[track];
  if (t.slotCount == 0) t.slotCount = isVideo(t.kind) ? 1024 : 256;
  t.slots.assign(t.slotCount, PacketSlot{});
  if (track >= r->trackCount) r->trackCount = track + 1;
  // Audio leads when there is any; else the first video track.
  if (!isVideo(t.kind) || r->mainTrack < 0) r->mainTrack = int32_t(track);
  t.needPacket = true;
  t.trackBitRate = t.presentationBitRate = t.ratios[0] = t.ratios[1] = 0;
  t.readPosition = 65535;
  t.reportInterval = t.reportParameter = 5000;
  t.lastReport = clock_();
  return kResultDone;
}

int32_t RtpSession::ApplyPlayInfo(int32_t presentation, uint32_t track, const TrackSyncRecord& sync) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  if (!r) return kResultUnknownPresentation;
  if (track >= kMaxStreams) return kResultBadStream;
  TrackState& t = r->tracks[track];
  std::memcpy(r->playWords, sync.playWords, sizeof r->playWords);
  if (sync.rtcpIntervalMs) t.reportInterval = sync.rtcpIntervalMs;
  if (sync.hasSeq) {
    t.infoSeq = true;
    t.infoSeqValue = sync.seq;
    t.baseSequence = sync.seq;
    if (!t.readSet || (sync.startPositionMs >= 0 && !sync.resume)) {
      t.readPosition = sync.seq;
      t.readSet = true;
    }
  }
  if (sync.hasRtptime) {
    t.infoTimestamp = true;
    t.infoTimestampValue = sync.rtptime;
    const uint64_t start = sync.startPositionMs > 0 ? uint64_t(sync.startPositionMs) : 0;
    t.timeOffset = uint32_t(start * t.clockRate / 1000);
  }
  const uint32_t last = sync.hasRtptime ? sync.rtptime : 0;
  if (!t.converter) t.converter = std::make_unique<TimestampConverter>();
  t.converter->timescale = t.clockRate;
  t.converter->last = last;
  t.converter->wraps = 0;
  t.converterBase = last;
  return kResultDone;
}

int32_t RtpSession::SetPlaying(int32_t presentation, uint32_t startTime, uint32_t endMs, bool serverIsKrss) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  if (!r) return kResultUnknownPresentation;
  r->startTime = startTime;
  r->endMs = endMs;
  r->serverIsKrss = serverIsKrss;
  r->paused = false;
  for (TrackState& t : r->tracks) t.byeReceived = false;
  return kResultDone;
}

int32_t RtpSession::SetPaused(int32_t presentation, bool paused) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  if (!r) return kResultUnknownPresentation;
  r->paused = paused;
  return kResultDone;
}

void RtpSession::ReleaseSlot(ReceiveRecord& r, TrackState& t, PacketSlot& s) {
  r.bufferedBytes -= s.wholeLength;
  t.deliveredSinceReport += s.wholeLength;
  s = PacketSlot{};
}

void RtpSession::ResetLocked(ReceiveRecord& r) {
  for (uint32_t k = 0; k < r.trackCount; ++k) {
    TrackState& t = r.tracks[k];
    for (PacketSlot& s : t.slots) s = PacketSlot{};
    t.readPosition = t.highest + 1;
    t.queued = 0;
    t.needPacket = true;
    t.mpeg4.continuing = t.h263.continuing = false;
    t.mpeg4.nextOffset = 0;
    t.h263.nextOffset = 0;
  }
  r.bufferedBytes = 0;
}

int32_t RtpSession::ResetPresentation(int32_t presentation) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  if (!r) return kResultUnknownPresentation;
  ResetLocked(*r);
  return kResultDone;
}

uint8_t* RtpSession::WindowLocked(ReceiveRecord& r, uint32_t& room) {
  if (r.buffer.size() - r.writeOffset < kMaxDatagram) r.writeOffset = 0;
  room = kMaxDatagram;
  return r.buffer.data() + r.writeOffset;
}

uint8_t* RtpSession::ReceiveWindow(int32_t presentation, uint32_t& room) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  return r ? WindowLocked(*r, room) : nullptr;
}

uint32_t RtpSession::Rebase(const TrackState& t, uint32_t timestamp) const {
  return timestamp - (t.infoTimestamp ? t.infoTimestampValue : 0) + t.timeOffset;
}

int32_t RtpSession::ReceiveRtp(int32_t presentation, uint32_t track, const uint8_t* packet, uint32_t n) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  if (!r) return kResultUnknownPresentation;
  if (track >= r->trackCount) return kRtpBadTrack;
  TrackState& t = r->tracks[track];
  if (n < 13 || n > kMaxDatagram || (packet[0] >> 6) != 2 || t.slots.empty()) return kRtpRejected;
  // CSRC entries and a header extension are stepped over; padding larger
  // than what follows the header is refused.
  uint32_t header = 12 + 4 * (packet[0] & 0x0F);
  if ((packet[0] & 0x10) && header + 4 <= n) header += 4 + 4 * (uint32_t(packet[header + 2]) << 8 | packet[header + 3]);
  const uint32_t padding = (packet[0] & 0x20) ? packet[n - 1] : 0;
  if (header >= n || ((packet[0] & 0x20) && padding == 0) || padding > n - header - 1) return kRtpRejected;

  const PresentationSockets* entry = sockets_ ? sockets_->FindEntry(presentation) : nullptr;
  const uint32_t now = clock_();
  const uint32_t arrival = now - (entry ? entry->startTime : 0);
  const uint16_t seq16 = uint16_t(packet[2] << 8 | packet[3]);
  const uint32_t timestamp = be32(packet + 4);
  const uint32_t ssrc = be32(packet + 8);
  if (ssrc != t.ssrc && !(t.firstPacket && !t.ssrcFixed)) return kRtpRejected;
  if ((packet[1] & 0x7F) != t.payloadType) return kRtpRejected;

  // The datagram must live in the ring while its slot holds it.
  uint32_t room;
  uint8_t* at = WindowLocked(*r, room);
  if (packet != at) {
    std::memmove(at, packet, n);
    packet = at;
  }

  uint32_t ext;
  if (t.firstPacket) {
    ext = seq16;
    if (t.infoSeq) {
      t.baseSequence = t.infoSeqValue;
      if (ext < t.baseSequence) return kRtpRejected;
    } else {
      t.baseSequence = ext;
    }
    if (!t.ssrcFixed) t.ssrc = ssrc;
    if (!t.readSet || !t.infoSeq) t.readPosition = t.baseSequence;
    t.readSet = true;
    t.cycles = 0;
    t.last = ext - 1;
    t.highest = ext;
    t.firstPacket = false;
    r->dataStarted = true;
    if (t.clockRate && (!t.converter || !t.infoTimestamp)) {
      if (!t.converter) t.converter = std::make_unique<TimestampConverter>();
      t.converter->timescale = t.clockRate;
      t.converter->last = t.infoTimestamp ? t.infoTimestampValue : timestamp;
      t.converter->wraps = 0;
      t.converterBase = t.converter->last;
    }
  } else {
    const uint16_t high16 = uint16_t(t.highest);
    uint32_t cycles = t.cycles;
    if (seq16 < 2000 && high16 >= 63537) {
      cycles += 65536;
      t.cycles = cycles;
    } else if (seq16 >= 63537 && high16 < 2000 && cycles >= 65536) {
      cycles -= 65536;  // a late packet from before the wrap
    }
    ext = cycles + seq16;
    if (ext < t.baseSequence) return kRtpRejected;
  }
  // A packet whose place was passed, or one already held, is dropped.
  PacketSlot& slot = t.slots[ext % t.slotCount];
  if (ext < t.readPosition || (slot.payload && slot.sequence == ext)) return kRtpRejected;
  if (ext != t.last + 1) t.cumulativeLost += int32_t(ext - t.last - 1);
  t.last = ext;

  r->writeOffset += n;
  if (r->buffer.size() - r->writeOffset < 100) r->writeOffset = 0;
  if (ext > t.highest) t.highest = ext;
  if (t.highest - t.readPosition >= t.slotCount) {
    // The jump outran the ring: the read position moves to the new window
    // and what is older than it is dropped with its bytes.
    const uint32_t newRead = t.highest - t.slotCount + 1;
    for (uint32_t k = 0; k < t.slotCount; ++k) {
      PacketSlot& s = t.slots[k];
      if (s.payload && s.sequence < newRead) {
        r->bufferedBytes -= s.wholeLength;
        --t.queued;
        ++t.skipped;
        s = PacketSlot{};
      }
    }
    t.readPosition = newRead;
    t.needPacket = true;
    t.mpeg4.continuing = t.h263.continuing = false;
    t.mpeg4.nextOffset = 0;
    t.h263.nextOffset = 0;
  }
  if (slot.payload) {
    r->bufferedBytes -= slot.wholeLength;
    --t.queued;
  }
  slot.payload = packet + header;
  slot.payloadLength = n - header - padding;
  slot.timestamp = timestamp;
  slot.sequence = ext;
  slot.marker = packet[1] & 0x80;
  slot.wholeLength = n;
  slot.arrivalUs = ArrivalClockUs();
  r->bufferedBytes += n;
  ++t.queued;
  ++t.received;
  t.octetsSinceReport += slot.payloadLength;
  for (uint32_t k = 0; k < r->trackCount; ++k) r->tracks[k].allOctetsSinceReport += slot.payloadLength;

  // RFC 3550 interarrival jitter, in the track's clock.
  if (t.clockRate) {
    const int64_t arrivalUnits = int64_t(uint64_t(arrival) * t.clockRate / 1000);
    const int64_t transit = arrivalUnits - int64_t(timestamp);
    if (t.haveTransit) {
      int64_t d = transit - t.lastTransit;
      if (d < 0) d = -d;
      // Transit times differ by whole 2^32 wraps of the time stamp.
      d %= int64_t(1) << 32;
      if (d > int64_t(1) << 31) d = (int64_t(1) << 32) - d;
      t.jitter += (double(d) - t.jitter) / 16.0;
      t.jitterRounded = uint32_t(t.jitter + 0.5);
    }
    t.lastTransit = transit;
    t.haveTransit = true;
  }
  t.payloadOctets += slot.payloadLength;

  if (r->bufferedBytes > r->buffer.size() - kMaxDatagram) ResetLocked(*r);
  return kResultDone;
}

int32_t RtpSession::ReceiveRtcp(int32_t presentation, uint32_t track, const uint8_t* packet, uint32_t n) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  if (!r) return kResultUnknownPresentation;
  if (track >= kMaxStreams) return kRtpBadTrack;
  uint32_t count = 0;
  int32_t kinds[31];
  RtcpPacketRef packets[31];
  if (SplitRtcpCompound(packet, n, 31, count, kinds, packets) != kRtcpParsed) return kResultNone;
  for (uint32_t i = 0; i < count; ++i) {
    if (kinds[i] == kRtcpSenderReport) {
      RtcpSenderReport sr;
      if (ParseSenderReport(2, packets[i], sr) != 0) return kResultNone;
      TrackState& t = r->tracks[track];
      t.lsr = sr.ntpHigh << 16 | sr.ntpLow >> 16;
      t.lsrArrival = clock_();
    } else if (kinds[i] == kRtcpBye) {
      RtcpBye bye;
      TrackState& t = r->tracks[track];
      if (ParseBye(2, packets[i], bye) == 0 && !t.firstPacket) {
        for (uint32_t ssrc : bye.ssrcs) t.byeReceived |= ssrc == t.ssrc;
      }
      return kResultNone;
    }
  }
  return kResultDone;
}

bool RtpSession::EndReached(ReceiveRecord& r, TrackState& t) {
  if (r.endMs == 0 || !t.converter || t.clockRate == 0 || t.highest < t.readPosition) return false;
  const PacketSlot& top = t.slots[t.highest % t.slotCount];
  if (top.payload && top.sequence == t.highest) t.converter->Update(top.timestamp);
  // Rebased to the presentation's start and compared signed, so a server
  // that starts its time stamps anywhere is measured right.
  const int64_t ext = int64_t(uint64_t(t.converter->wraps) << 32 | t.converter->last);
  const int64_t units = ext - int64_t(t.converterBase) + int64_t(t.timeOffset);
  const int64_t positionMs = units * 1000 / int64_t(t.clockRate);
  if (int64_t(r.endMs) - positionMs < 1000) {
    sockets_->SetEnded(r.presentation);
    return true;
  }
  return false;
}

bool RtpSession::Ended(ReceiveRecord& r, TrackState& t) {
  return EndReached(r, t) || (sockets_ && sockets_->IsEnded(r.presentation)) || t.byeReceived;
}

int32_t RtpSession::GetFrame(int32_t presentation, uint32_t track, uint8_t* buffer, uint32_t& length,
                             uint32_t& time) {
  const uint32_t capacity = length;
  length = 0;
  time = kNoTime;
  if (sockets_ && sockets_->failed()) return kResultSocketFailure;
  std::unique_lock<std::mutex> lock(*lock_);
  ReceiveRecord* r = Find(presentation);
  if (!r) return kResultUnknownPresentation;
  if (track >= kMaxStreams || track >= r->trackCount) return kRtpBadTrack;
  TrackState& t = r->tracks[track];
  if (t.slots.empty()) return kRtpNoFrame;
  int32_t result = 0;
  bool error = false, cut = false, began = false, fits = true;
  uint32_t frameTime = 0, out = 0;
  for (int guard = 0; guard < 1 << 20; ++guard) {
    PacketSlot* slot;
    if (t.needPacket) {
      while (!t.firstPacket && t.readPosition <= t.highest) {
        const PacketSlot& s = t.slots[t.readPosition % t.slotCount];
        if (s.payload && s.sequence == t.readPosition) break;
        ++t.skipped;
        ++t.readPosition;
        // The frame delivered next lost data, or follows a lost one.
        if (t.readPosition <= t.highest) error = true;
      }
      const bool ended = Ended(*r, t);
      if (t.firstPacket || t.readPosition > t.highest) {
        result = ended || idleMs > kIdleEndMs ? kRtpEnded : kRtpNoFrame;
        break;
      }
      slot = &t.slots[t.readPosition % t.slotCount];
      ++t.readPosition;
      --t.queued;
      began = true;
      frameTime = Rebase(t, slot->timestamp);
    } else {
      slot = &t.slots[(t.readPosition - 1) % t.slotCount];
      if (!slot->payload) {
        t.needPacket = true;
        continue;
      }
    }
    FrameContext ctx;
    ctx.payload = const_cast<uint8_t*>(slot->payload);
    ctx.payloadLength = slot->payloadLength;
    ctx.marker = slot->marker;
    ctx.timestamp = slot->timestamp;
    ctx.buffer = t.frame.data();
    uint8_t flags;
    switch (t.kind) {
      case kPayloadMpeg4: flags = AssembleMpeg4VideoPayload(t.mpeg4, ctx); break;
      case kPayloadH263: flags = AssembleH263Payload(t.h263, ctx); break;
      case kPayloadAmr: flags = ParseAmrToc(ctx); break;
      default: flags = ParseEvrcToc(ctx); break;
    }
    t.needPacket = !(flags & kKeepPacket);
    if (flags & kPacketError) error = true;
    if (flags & kFrameCut) cut = true;
    if (flags & kFrameDone) {
      // Copied while the lock holds the ring still.
      if (isVideo(t.kind)) {
        out = ctx.outputLength;
        if (out > capacity) {
          fits = false;
        } else if (out) {
          std::memcpy(buffer, ctx.output, out);
        }
        frameTime = Rebase(t, t.kind == kPayloadMpeg4 ? t.mpeg4.timestamp : t.h263.timestamp);
      } else if (ctx.outputLength) {
        out = WriteTocFrame(ctx, buffer, capacity);
        fits = out != 0;
      }
      result = kResultDone;
      t.lastFrameArrivalUs = slot->arrivalUs;
    }
    if (!(flags & kKeepPacket)) ReleaseSlot(*r, t, *slot);
    if (flags & kFrameDone) break;
  }
  lock.unlock();
  if (result != kResultDone) return result;
  if (!fits) return kRtpBufferSmall;
  length = out;
  time = began ? frameTime : kNoTime;
  return error ? int32_t(kRtpLostData) : cut ? int32_t(kRtpCut) : int32_t(kResultDone);
}

int32_t RtpSession::PeekFrame(int32_t presentation, uint32_t track, uint32_t& time, uint32_t& word) {
  word = 0;
  time = kNoTime;
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  if (!r) return kResultUnknownPresentation;
  if (track >= kMaxStreams || track >= r->trackCount) return kRtpBadTrack;
  TrackState& t = r->tracks[track];
  if (!t.needPacket) return kRtpPeekBusy;
  uint32_t pos = t.readPosition;
  while (!t.firstPacket && pos <= t.highest) {
    const PacketSlot& s = t.slots[pos % t.slotCount];
    if (s.payload && s.sequence == pos) break;
    ++pos;
  }
  const bool ended = Ended(*r, t);
  if (t.firstPacket || t.slots.empty() || pos > t.highest) return ended || idleMs > kIdleEndMs ? kRtpEnded : kRtpNoFrame;
  const PacketSlot& first = t.slots[pos % t.slotCount];
  time = Rebase(t, first.timestamp);
  if (isVideo(t.kind) && !first.marker) {
    for (uint32_t k = pos + 1; k <= t.highest; ++k) {
      const PacketSlot& s = t.slots[k % t.slotCount];
      if (s.payload && s.sequence == k && s.marker) return kRtpPeekBusy;
    }
    return kRtpPeekIncomplete;
  }
  return kRtpPeekBusy;
}

uint32_t RtpSession::GetBufferedDuration(int32_t presentation, uint32_t track) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  if (!r || track >= kMaxStreams || track >= r->trackCount) return 0;
  TrackState& t = r->tracks[track];
  if (t.slots.empty() || t.firstPacket) return 0;
  uint32_t duration = 0;
  uint32_t pos = t.readPosition;
  while (pos <= t.highest) {
    const PacketSlot& s = t.slots[pos % t.slotCount];
    if (s.payload && s.sequence == pos) break;
    ++pos;
  }
  const PacketSlot& top = t.slots[t.highest % t.slotCount];
  if (pos <= t.highest && top.payload && top.sequence == t.highest) {
    int32_t d = int32_t(top.timestamp - t.slots[pos % t.slotCount].timestamp);
    if (d < 0) {
      // Packets stamped after the newest one are passed over.
      while (t.readPosition < t.highest) {
        PacketSlot& s = t.slots[t.readPosition % t.slotCount];
        if (s.payload && s.sequence == t.readPosition && int32_t(top.timestamp - s.timestamp) >= 0) break;
        if (s.payload && s.sequence == t.readPosition) {
          ReleaseSlot(*r, t, s);
          --t.queued;
        }
        ++t.readPosition;
      }
      d = 0;
    }
    if (t.clockRate) duration = uint32_t(uint64_t(uint32_t(d)) * 1000 / t.clockRate);
  }
  const bool ended = Ended(*r, t);
  if (ended || idleMs > kIdleEndMs) return 2147483647u;
  t.lastBufferedMs = duration;
  return duration;
}

int32_t RtpSession::GetLossPercent(int32_t presentation, uint32_t track) {
  std::lock_guard<std::mutex> guard(*lock_);
  ReceiveRecord* r = Find(presentation);
  if (!r || track >= kMaxStreams || track >= r->trackCount) return -1;
  TrackState& t = r->tracks[track];
  if (t.slots.empty() || t.firstPacket || t.readPosition > t.highest) return 0;
  uint32_t empty = 0;
  const uint32_t total = t.highest - t.readPosition + 1;
  for (uint32_t k = t.readPosition; k <= t.highest; ++k) {
    const PacketSlot& s = t.slots[k % t.slotCount];
    if (!s.payload || s.sequence != k) ++empty;
  }
  return int32_t(uint64_t(empty) * 100 / total);
}

void RtpSession::RequestReportNow(int32_t presentation) {
  std::lock_guard<std::mutex> guard(*lock_);
  if (ReceiveRecord* r = Find(presentation)) {
    for (TrackState& t : r->tracks) t.forceReport = true;
  }
}

bool RtpSession::ReadTrack(int32_t presentation, uint32_t track, TrackState const*& state) {
  ReceiveRecord* r = Find(presentation);
  if (!r || track >= kMaxStreams) return false;
  state = &r->tracks[track];
  return true;
}

int32_t RtpSession::SendReport(ReceiveRecord& r, uint32_t stream, uint8_t appSubtype, bool withApp) {
  TrackState& t = r.tracks[stream];
  const uint32_t now = clock_();
  const uint8_t ssrcBytes[4] = {uint8_t(t.ssrc >> 24), uint8_t(t.ssrc >> 16), uint8_t(t.ssrc >> 8), uint8_t(t.ssrc)};
  RtcpReceiverReport rr;
  rr.reporterSsrc = ReporterSsrc(ssrcBytes);
  rr.blocks.push_back(BuildReportBlock(t.report, t.ssrc, t.cumulativeLost, t.highest, t.jitterRounded, t.lsr,
                                       t.lsrArrival, now));
  RtcpAppReport app;
  if (withApp) {
    const TrackState& main = r.tracks[r.mainTrack >= 0 ? uint32_t(r.mainTrack) : stream];
    app.subtype = appSubtype;
    app.ssrc = rr.reporterSsrc;
    app.msSinceStart = now - r.startTime;
    app.receivedBitRate = t.presentationBitRate;
    app.reportParameter = t.reportParameter;
    app.bufferedMs = main.lastBufferedMs;
    app.highestSequence = main.highest;
    uint64_t octets = 0;
    uint32_t packets = 0, skipped = 0;
    for (uint32_t k = 0; k < r.trackCount; ++k) {
      octets += r.tracks[k].payloadOctets;
      packets += r.tracks[k].received;
      skipped += r.tracks[k].skipped;
    }
    app.payloadOctets = uint32_t(octets);
    app.word36 = appSubtype == 0 ? uint16_t(r.feedbackCounter) : uint16_t(t.ratios[appSubtype - 1] >> 16);
    app.word38 = appSubtype == 0 ? uint16_t(main.highest - main.queued - main.readPosition + 1) : 0;
    app.packetsReceived = packets;
    app.framesDecoded = t.framesDecoded;
    app.framesCorrupt = t.framesCorrupt;
    app.packetsSkipped = skipped;
  }
  sdes_.chunkSsrc = rr.reporterSsrc;
  SetSdesText(sdes_, canonicalName_, uint32_t(std::strlen(canonicalName_)));
  uint8_t out[512];
  RtcpBuffer b{sizeof out, out};
  if (ComposeRtcpCompound(sdes_, rr, b, withApp ? &app : nullptr, 0) != kRtcpOk) return kResultDone;
  return sockets_ ? sockets_->SendToRtcp(r.presentation, stream, out, b.size) : kResultDone;
}

int32_t RtpSession::Run() {
  int32_t result = kResultDone;
  std::lock_guard<std::mutex> guard(*lock_);
  for (auto& rec : records_) {
    ReceiveRecord& r = *rec;
    if (r.paused || !sockets_) continue;
    const PresentationSockets* entry = sockets_->FindEntry(r.presentation);
    if (!entry) continue;
    const uint32_t streams = entry->streamCount < r.trackCount ? entry->streamCount : r.trackCount;
    for (uint32_t s = 0; s < streams; ++s) {
      TrackState& t = r.tracks[s];
      const uint32_t now = clock_();
      if (t.firstPacket) {
        // Reports of the streams are spread over one interval.
        t.lastReport = now + t.reportInterval * s / streams;
        continue;
      }
      const int32_t since = int32_t(now - t.lastReport);
      if (since > int32_t(t.reportInterval) || t.forceReport) {
        const uint32_t elapsed = since > 0 ? uint32_t(since) : 1;
        t.trackBitRate = uint32_t(uint64_t(t.octetsSinceReport) * 8000 / elapsed);
        t.presentationBitRate = uint32_t(uint64_t(t.allOctetsSinceReport) * 8000 / elapsed);
        const uint32_t delivered = t.deliveredSinceReport, received = t.octetsSinceReport;
        t.ratios[0] = delivered && delivered > received ? uint32_t((uint64_t(delivered - received) << 16) / delivered) : 0;
        t.ratios[1] = delivered && received > delivered ? uint32_t((uint64_t(received - delivered) << 16) / delivered) : 0;
        t.octetsSinceReport = t.allOctetsSinceReport = t.deliveredSinceReport = 0;
        result = SendReport(r, s, 0, r.serverIsKrss);
        if (result == kResultSocketFailure) {
          sockets_->SetFailed(true);
          return result;
        }
        t.lastReport = now;
        t.forceReport = false;
      }
      const uint32_t b = t.lastBufferedMs;
      if (b >= r.lowMs && b <= r.highMs) {
        t.feedbackSent = false;
      } else if (!t.feedbackSent && r.feedbackCounter >= 2) {
        result = SendReport(r, s, b < r.lowMs ? 1 : 2, r.serverIsKrss);
        t.feedbackSent = true;
      }
    }
  }
  return result;
}

int32_t MediaDataTask::Run() {
  rtp_->idleMs = 0;
  const uint32_t count = sockets_->PollCount();
  if (count == 0) return kResultDone;
  net::Socket handles[kPollTableSize];
  bool readable[kPollTableSize] = {};
  for (uint32_t i = 0; i < count; ++i) handles[i] = *sockets_->Poll(i).socket;
  const int32_t n = net::SelectReadable(handles, count, selectWait_, readable);
  if (n < 0) {
    sockets_->SetFailed(true);
    return kResultSocketFailure;
  }
  const uint32_t now = GetStreamClockTime();
  if (n == 0) {
    if (lastEmptyWait_) rtp_->idleMs.fetch_add(now - lastEmptyWait_);
    lastEmptyWait_ = now;
    return kResultPending;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (!readable[i]) continue;
    const PollEntry& e = sockets_->Poll(i);
    const int32_t p = e.entry->id;
    if (e.kind == kSocketRtp || e.kind == kSocketRtcp) {
      if (e.kind == kSocketRtp && !e.entry->receiveEnabled[e.stream]) continue;
      uint32_t room = 0;
      uint8_t* at = rtp_->ReceiveWindow(p, room);
      uint8_t scratch[kMaxDatagram];
      if (!at) {
        at = scratch;  // no receiver yet: the datagram is read and dropped
        room = sizeof scratch;
      }
      net::Result r;
      const int32_t got = net::RecvFrom(*e.socket, at, room, r);
      if (r == net::kTooLarge) {
        // A cut datagram is not a whole packet: it is dropped, not filed.
        rtp_->ReportTooLarge();
        continue;
      }
      if (got < 0) {
        if (r == net::kWouldBlock) continue;
        if (e.kind == kSocketRtp) sockets_->SetFailed(true);
        return kResultSocketFailure;
      }
      if (got == 0 || at == scratch) continue;
      if (e.kind == kSocketRtp) {
        rtp_->ReceiveRtp(p, e.stream, at, uint32_t(got));
        rtp_->idleMs = 0;
        lastEmptyWait_ = 0;
      } else {
        rtp_->ReceiveRtcp(p, e.stream, at, uint32_t(got));
      }
    } else if (rtsp_) {
      uint8_t* window = nullptr;
      uint32_t space = 0;
      const int32_t w = rtsp_->GetReceiveWindow(p, window, space);
      if (w == kResultPending) continue;
      if (w == kResultNone) return kResultDone;
      net::Result r;
      const int32_t got = net::Recv(*e.socket, window, space < kMaxDatagram ? space : kMaxDatagram, r);
      if (got < 1) {
        if (r == net::kWouldBlock) continue;
        sockets_->SetFailed(true);
        return kResultSocketFailure;
      }
      rtsp_->CommitReceived(p, uint32_t(got));
    }
  }
  return kResultDone;
}

}  // namespace streaming
