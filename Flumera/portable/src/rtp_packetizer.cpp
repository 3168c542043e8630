#include "flumera/rtp_packetizer.h"

#include <algorithm>

namespace flumera {

bool WriteRtpHeader(uint8_t* out, uint32_t room, bool marker, uint8_t payloadType, uint16_t sequence,
                    uint32_t timeStamp, uint32_t ssrc) {
  if (room < kRtpHeaderSize) return false;
  out[0] = 0x80;  // version 2
  out[1] = uint8_t((marker ? 0x80 : 0) | (payloadType & 0x7F));
  PutBe16(out + 2, sequence);
  PutBe32(out + 4, timeStamp);
  PutBe32(out + 8, ssrc);
  return true;
}

RtpPacketizer::RtpPacketizer(PacketAllocator& allocator, uint8_t payloadType, uint32_t ssrc,
                             uint32_t maxPacketSize, uint32_t clockRate)
    : allocator_(allocator), clockRate_(clockRate), payloadType_(payloadType), ssrc_(ssrc),
      maxPacketSize_(maxPacketSize) {}

RtpPacketizer::~RtpPacketizer() {
  allocator_.Free(current_);
  Empty();
}

void RtpPacketizer::CompleteCurrent() {
  if (!current_) return;
  FinishPacket(current_, WriteTables(*current_));
  current_ = nullptr;
  ClearPending();
}

void RtpPacketizer::DropCurrent() {
  allocator_.Free(current_);
  current_ = nullptr;
  ClearPending();
}

void RtpPacketizer::Reset() {
  DropCurrent();
  Empty();
  rtpTime_ = 0;
  lastMs_ = 0;
}

void RtpPacketizer::Flush() { CompleteCurrent(); }

void RtpPacketizer::Empty() {
  allocator_.FreeChain(head_);
  head_ = tail_ = nullptr;
}

AccessUnitList* RtpPacketizer::TakePackets() {
  AccessUnitList* h = head_;
  head_ = tail_ = nullptr;
  return h;
}

uint32_t RtpPacketizer::TimeOf(uint32_t timeMs, uint32_t* lastMs) const {
  // Wrap-aware: a difference below 2^31 is later; anything else adds nothing.
  const uint32_t delta = timeMs - lastMs_;
  if (delta == 0 || delta >= 0x80000000u) {
    *lastMs = lastMs_;
    return rtpTime_;
  }
  *lastMs = timeMs;
  return rtpTime_ + uint32_t(uint64_t(delta) * clockRate_ / 1000);
}

AccessUnitList* RtpPacketizer::BeginPacket(uint32_t rtpTime, uint32_t timeMs) {
  AccessUnitList* p = allocator_.Allocate();
  if (!p) return nullptr;
  p->AppendInline(kRtpHeaderSize, nullptr);
  p->SetTimeStamp(rtpTime);
  p->sendTime = timeMs + kTimeBaseMs;
  return p;
}

void RtpPacketizer::FinishPacket(AccessUnitList* packet, bool marker) {
  // Fragment 0 is the header room in the packet's own inline area.
  uint8_t* header = const_cast<uint8_t*>(packet->Get(0).data);
  WriteRtpHeader(header, packet->Get(0).length, marker, payloadType_, sequence_++, packet->TimeStamp(), ssrc_);
  packet->SetFinished(true);
  if (tail_) {
    tail_->Link(packet);
  } else {
    head_ = packet;
  }
  tail_ = packet;
}

// ---------------------------------------------------------------- video

namespace {
constexpr int kTableFragment = 1;
constexpr uint32_t kTableRoom = 12 * VideoRtpPacketizer::kMaxUnitsPerPacket - 4;
constexpr int kMaxPayloadFragments = AccessUnitList::kPacketFragments - 2;  // header and table
}  // namespace

VideoRtpPacketizer::VideoRtpPacketizer(PacketAllocator& allocator, uint8_t payloadType, uint32_t ssrc,
                                       uint32_t maxPacketSize)
    : RtpPacketizer(allocator, payloadType, ssrc, maxPacketSize, 1000) {}

void VideoRtpPacketizer::WriteTable(uint8_t* out, const Entry* entries, int n) {
  for (int i = 0; i < n; ++i) {
    // The header byte moves up two bits; bit 7 says another entry follows.
    out[0] = uint8_t(((entries[i].header << 2) & 0x7F) | (i + 1 < n ? 0x80 : 0));
    out[1] = out[2] = out[3] = 0;
    out += 4;
    if (i > 0) {  // the first entry has no time word
      PutBe32(out, entries[i].time);
      out += 4;
    }
    PutBe32(out, entries[i].size);
    out += 4;
  }
}

int VideoRtpPacketizer::Packetize(AccessUnitList& unit, uint32_t timeMs) {
  if (unit.Count() < 1) return kNoHeaderByte;
  const uint8_t header = unit.Get(0).data[0];
  const uint32_t size = unit.TotalLength() - unit.Get(0).length;
  const int pieces = unit.Count() - 1;
  uint32_t last;
  const uint32_t rtp = TimeOf(timeMs, &last);
  if (size + kRtpHeaderSize > maxPacketSize() || pieces > kMaxPayloadFragments) {
    const int r = Fragment(unit, header, timeMs, rtp);
    if (r == kPacketizeOk) CommitTime(rtp, last);
    return r;
  }
  const bool full = current_ && (unitBytes_ + 12 * uint32_t(entryCount_ + 1) + size > maxPacketSize() ||
                                 entryCount_ == kMaxUnitsPerPacket ||
                                 current_->Count() + pieces > AccessUnitList::kPacketFragments);
  if (!current_ || full) {
    // Allocate before finishing, so a failure leaves everything as it was.
    AccessUnitList* p = BeginPacket(rtp, timeMs);
    if (!p) return kNoPacket;
    p->AppendInline(kTableRoom, nullptr);
    CompleteCurrent();
    current_ = p;
  }
  for (int i = 1; i < unit.Count(); ++i) current_->Append(unit.Get(i).data, unit.Get(i).length);
  entries_[entryCount_++] = {header, timeMs, size};
  unitBytes_ += size;
  CommitTime(rtp, last);
  return kPacketizeOk;
}

int VideoRtpPacketizer::Fragment(AccessUnitList& unit, uint8_t header, uint32_t timeMs, uint32_t rtp) {
  CompleteCurrent();
  const uint32_t pieceMax = maxPacketSize() - 4;
  AccessUnitList* first = nullptr;
  AccessUnitList* last = nullptr;
  int fi = 1;
  uint32_t off = 0;
  while (fi < unit.Count()) {
    AccessUnitList* p = BeginPacket(rtp, timeMs);
    if (!p) {
      allocator_.FreeChain(first);
      return kNoPacket;
    }
    uint8_t* table = p->AppendInline(8, nullptr);
    uint32_t piece = 0;
    while (piece < pieceMax && fi < unit.Count() && p->Count() < AccessUnitList::kPacketFragments) {
      const flumera::Fragment& f = unit.Get(fi);
      const uint32_t take = std::min(f.length - off, pieceMax - piece);
      p->Append(f.data + off, take);
      piece += take;
      off += take;
      if (off == f.length) ++fi, off = 0;
    }
    const Entry e{header, timeMs, piece};
    WriteTable(table, &e, 1);
    if (last) {
      last->Link(p);
    } else {
      first = p;
    }
    last = p;
  }
  while (first) {
    AccessUnitList* next = first->Unlink();
    FinishPacket(first, next == nullptr);  // the marker is on the unit's last packet
    first = next;
  }
  return kPacketizeOk;
}

bool VideoRtpPacketizer::WriteTables(AccessUnitList& packet) {
  WriteTable(const_cast<uint8_t*>(packet.Get(kTableFragment).data), entries_, entryCount_);
  packet.Shorten(kTableFragment, 12 * uint32_t(entryCount_) - 4);
  return true;  // a packet of whole units carries the marker
}

void VideoRtpPacketizer::ClearPending() {
  entryCount_ = 0;
  unitBytes_ = 0;
}

// ---------------------------------------------------------------- audio

AudioFramePacketizer::AudioFramePacketizer(PacketAllocator& allocator, uint8_t payloadType, uint32_t ssrc,
                                           int prefixBytes)
    : RtpPacketizer(allocator, payloadType, ssrc, kMaxPacketSize, 8000), prefixBytes_(prefixBytes) {}

int AudioFramePacketizer::Packetize(AccessUnitList& unit, uint32_t timeMs) {
  const int frames = unit.Count() - 1;
  uint8_t codes[AccessUnitList::kMaxFragments];
  for (int i = 0; i < frames; ++i) {
    const flumera::Fragment& f = unit.Get(i + 1);
    const int code = FrameCode(unit, f);
    if (code < 0) return kBadFrameType;
    if (f.length > MaxFrameLength()) return kFrameTooLarge;
    codes[i] = uint8_t(code);
  }
  uint32_t last;
  const uint32_t rtp = TimeOf(timeMs, &last);
  // Take every packet the unit will open first, so that a failed allocation
  // keeps nothing of it.
  AccessUnitList* fresh[AccessUnitList::kMaxFragments];
  int needed = 0;
  {
    bool open = current_ != nullptr;
    int n = frames_;
    uint32_t bytes = frameBytes_;
    for (int i = 0; i < frames; ++i) {
      const uint32_t len = unit.Get(i + 1).length;
      if (!open || n >= kMaxFrames || !Fits(bytes, n, len)) {
        AccessUnitList* p = BeginPacket(rtp + kFrameTicks * uint32_t(i), timeMs + 20 * uint32_t(i));
        if (!p) {
          for (int k = 0; k < needed; ++k) allocator_.Free(fresh[k]);
          return kNoPacket;
        }
        if (prefixBytes_) p->AppendInline(uint32_t(prefixBytes_), nullptr);
        p->AppendInline(kMaxFrames, nullptr);  // table of contents, shortened when finished
        fresh[needed++] = p;
        open = true, n = 0, bytes = 0;
      }
      ++n, bytes += len;
    }
  }
  int used = 0;
  for (int i = 0; i < frames; ++i) {
    const flumera::Fragment& f = unit.Get(i + 1);
    if (!current_ || frames_ >= kMaxFrames || !Fits(frameBytes_, frames_, f.length)) {
      CompleteCurrent();
      current_ = fresh[used++];
    }
    current_->Append(f.data, f.length);
    codes_[frames_++] = codes[i];
    frameBytes_ += f.length;
  }
  CommitTime(rtp, last);
  return kPacketizeOk;
}

bool AudioFramePacketizer::WriteTables(AccessUnitList& packet) {
  const int tocIndex = 1 + (prefixBytes_ ? 1 : 0);
  uint8_t* prefix = prefixBytes_ ? const_cast<uint8_t*>(packet.Get(1).data) : nullptr;
  WritePayloadHeader(prefix, const_cast<uint8_t*>(packet.Get(tocIndex).data), codes_, frames_);
  packet.Shorten(tocIndex, uint32_t(frames_));
  return false;
}

void AudioFramePacketizer::ClearPending() {
  frames_ = 0;
  frameBytes_ = 0;
}

int AudioRtpPacketizer::FrameCode(const AccessUnitList& unit, const flumera::Fragment&) const {
  // The frame type is the first byte of the track's configuration piece.
  if (unit.Count() < 1) return -1;
  const flumera::Fragment& h = unit.Get(0);
  if (h.length != 1 && h.length != 4) return -1;
  const int type = h.data[0];
  return type <= 7 || type == 15 ? type : -1;
}

bool AudioRtpPacketizer::Fits(uint32_t frameBytes, int, uint32_t frameLength) const {
  // Header, payload header and a table of contents for ten frames.
  return kRtpHeaderSize + 1 + kMaxFrames + frameBytes + frameLength <= maxPacketSize();
}

// RTP header, payload header and one table entry: a frame above 1010 bytes
// would make a packet longer than 1024.
uint32_t AudioRtpPacketizer::MaxFrameLength() const { return maxPacketSize() - kRtpHeaderSize - 2; }

void AudioRtpPacketizer::WritePayloadHeader(uint8_t* prefix, uint8_t* toc, const uint8_t* codes,
                                            int frames) const {
  prefix[0] = 0xF0;  // codec mode request 15: no request
  for (int i = 0; i < frames; ++i) {
    // follow bit 0x80, frame type, quality bit 0x04
    toc[i] = uint8_t((codes[i] * 8) | 0x84);
    if (i + 1 == frames) toc[i] &= 0x7F;
  }
}

int AudioRtpPacketizer2::FrameCode(const AccessUnitList&, const flumera::Fragment& frame) const {
  const int rate = frame.data[0];
  return rate <= 4 || rate == 14 ? rate : -1;
}

bool AudioRtpPacketizer2::Fits(uint32_t frameBytes, int frames, uint32_t frameLength) const {
  return frameBytes + frameLength + uint32_t(frames) + 13 <= maxPacketSize();
}

uint32_t AudioRtpPacketizer2::MaxFrameLength() const { return maxPacketSize() - kRtpHeaderSize - 1; }

void AudioRtpPacketizer2::WritePayloadHeader(uint8_t*, uint8_t* toc, const uint8_t* codes, int frames) const {
  for (int i = 0; i < frames; ++i) toc[i] = uint8_t(0x80 | (i + 1 < frames ? 0x20 : 0) | codes[i]);
}

// ---------------------------------------------------------------- table

int BuildPacketList(const PacketTableEntry* table, int entries, AccessUnitList& out) {
  if (entries > 40) entries = 40;
  int run = 0;
  while (run < entries && table[run].flags == 1) ++run;
  for (int i = 0; i < run; ++i) {
    if (out.Append(table[i].data, table[i].length) != kFragmentOk) return -1;
  }
  return run;
}

}  // namespace flumera
