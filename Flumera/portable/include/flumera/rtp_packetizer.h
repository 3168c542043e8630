// RTP packetizers: access units in, finished RTP packets (fragment lists
// whose first fragment is the 12-byte RTP header) out.
#pragma once

#include <cstdint>

#include "flumera/access_unit_list.h"

namespace flumera {

enum PacketizeResult : int {
  kPacketizeOk = 0,
  kNoHeaderByte = 1,    // video unit without its header byte
  kNoPacket = 2,        // packet allocation failed; nothing of the unit is kept
  kBadFrameType = 3,    // AMR frame type 8-14 or a header piece of the wrong size; EVRC rate
  kFrameTooLarge = 4,   // an audio frame that cannot fit any packet
};

constexpr uint32_t kRtpHeaderSize = 12;

// Writes the RTP fixed header (version 2, no padding, extension or
// contributing sources); false when `room` is below 12 bytes.
bool WriteRtpHeader(uint8_t* out, uint32_t room, bool marker, uint8_t payloadType, uint16_t sequence,
                    uint32_t timeStamp, uint32_t ssrc);

// An access unit handed to a packetizer: fragment 0 is the header piece
// (video: the unit's header byte; audio: the track's configuration bytes),
// the fragments after it are the payload (audio: one fragment per frame).
class RtpPacketizer {
 public:
  RtpPacketizer(PacketAllocator& allocator, uint8_t payloadType, uint32_t ssrc, uint32_t maxPacketSize,
                uint32_t clockRate);
  virtual ~RtpPacketizer();
  RtpPacketizer(const RtpPacketizer&) = delete;
  RtpPacketizer& operator=(const RtpPacketizer&) = delete;

  // `timeMs`: the unit's media time in milliseconds.
  virtual int Packetize(AccessUnitList& unit, uint32_t timeMs) = 0;
  // Drops the packet under construction and every finished packet; time
  // stamps start again from 0. The sequence number runs on.
  virtual void Reset();
  // Finishes the packet under construction.
  void Flush();
  // Frees the finished packets.
  void Empty();

  // The finished packets in order, linked through Next(); the caller frees
  // them to the allocator.
  AccessUnitList* TakePackets();

  uint16_t sequence() const { return sequence_; }
  void set_sequence(uint16_t s) { sequence_ = s; }
  uint32_t rtpTime() const { return rtpTime_; }
  uint32_t maxPacketSize() const { return maxPacketSize_; }

 protected:
  // The RTP time stamp of a unit at timeMs, and the last time it leaves;
  // nothing changes until CommitTime.
  uint32_t TimeOf(uint32_t timeMs, uint32_t* lastMs) const;
  void CommitTime(uint32_t rtpTime, uint32_t lastMs) { rtpTime_ = rtpTime, lastMs_ = lastMs; }
  // A new packet with its header room reserved; null when allocation fails.
  AccessUnitList* BeginPacket(uint32_t rtpTime, uint32_t timeMs);
  // Writes the header (taking the next sequence number) and queues the packet.
  void FinishPacket(AccessUnitList* packet, bool marker);
  // Finishes the packet under construction (current_), if any.
  void CompleteCurrent();
  void DropCurrent();
  // Writes the payload tables of current_; returns its marker bit.
  virtual bool WriteTables(AccessUnitList& packet) = 0;
  // Forgets what was gathered for current_.
  virtual void ClearPending() = 0;

  PacketAllocator& allocator_;
  uint32_t clockRate_;
  AccessUnitList* current_ = nullptr;  // the packet under construction
  static constexpr uint32_t kTimeBaseMs = 1000;

 private:
  uint8_t payloadType_;
  uint32_t ssrc_;
  uint32_t maxPacketSize_;
  uint16_t sequence_ = 0;
  uint32_t rtpTime_ = 0, lastMs_ = 0;
  AccessUnitList* head_ = nullptr;
  AccessUnitList* tail_ = nullptr;
};

// Video (track kinds 1 and 2): units aggregated up to 10 per packet behind a
// table of 12-byte entries, or split over several packets when too large.
class VideoRtpPacketizer : public RtpPacketizer {
 public:
  static constexpr uint32_t kMaxPacketSize = 49152;
  static constexpr int kMaxUnitsPerPacket = 10;
  VideoRtpPacketizer(PacketAllocator& allocator, uint8_t payloadType, uint32_t ssrc,
                     uint32_t maxPacketSize = kMaxPacketSize);
  int Packetize(AccessUnitList& unit, uint32_t timeMs) override;

 private:
  struct Entry {
    uint8_t header;
    uint32_t time, size;
  };
  int Fragment(AccessUnitList& unit, uint8_t header, uint32_t timeMs, uint32_t rtpTime);
  bool WriteTables(AccessUnitList& packet) override;
  void ClearPending() override;
  static void WriteTable(uint8_t* out, const Entry* entries, int n);

  Entry entries_[kMaxUnitsPerPacket];
  int entryCount_ = 0;
  uint32_t unitBytes_ = 0;
};

// Audio frames gathered into packets behind a table of contents, at most 10
// frames per packet, 8000 Hz clock, 20 ms per frame.
class AudioFramePacketizer : public RtpPacketizer {
 public:
  static constexpr uint32_t kMaxPacketSize = 1024;
  static constexpr int kMaxFrames = 10;
  static constexpr uint32_t kFrameTicks = 160;
  int Packetize(AccessUnitList& unit, uint32_t timeMs) override;

 protected:
  AudioFramePacketizer(PacketAllocator& allocator, uint8_t payloadType, uint32_t ssrc, int prefixBytes);
  // The table value of a frame, or -1 when the frame or unit is refused.
  virtual int FrameCode(const AccessUnitList& unit, const Fragment& frame) const = 0;
  virtual bool Fits(uint32_t frameBytes, int frames, uint32_t frameLength) const = 0;
  // The longest frame that fits a packet on its own.
  virtual uint32_t MaxFrameLength() const = 0;
  virtual void WritePayloadHeader(uint8_t* prefix, uint8_t* toc, const uint8_t* codes, int frames) const = 0;

 private:
  bool WriteTables(AccessUnitList& packet) override;
  void ClearPending() override;

  int prefixBytes_;
  uint8_t codes_[kMaxFrames];
  int frames_ = 0;
  uint32_t frameBytes_ = 0;
};

// GSM-AMR (track kind 3): octet-aligned payload, codec mode request 15.
class AudioRtpPacketizer : public AudioFramePacketizer {
 public:
  AudioRtpPacketizer(PacketAllocator& allocator, uint8_t payloadType, uint32_t ssrc)
      : AudioFramePacketizer(allocator, payloadType, ssrc, 1) {}

 private:
  int FrameCode(const AccessUnitList& unit, const Fragment& frame) const override;
  bool Fits(uint32_t frameBytes, int frames, uint32_t frameLength) const override;
  uint32_t MaxFrameLength() const override;
  void WritePayloadHeader(uint8_t* prefix, uint8_t* toc, const uint8_t* codes, int frames) const override;
};

// EVRC (track kind 4): the rate value is the frame's first byte.
class AudioRtpPacketizer2 : public AudioFramePacketizer {
 public:
  AudioRtpPacketizer2(PacketAllocator& allocator, uint8_t payloadType, uint32_t ssrc)
      : AudioFramePacketizer(allocator, payloadType, ssrc, 0) {}

 private:
  int FrameCode(const AccessUnitList& unit, const Fragment& frame) const override;
  bool Fits(uint32_t frameBytes, int frames, uint32_t frameLength) const override;
  uint32_t MaxFrameLength() const override;
  void WritePayloadHeader(uint8_t* prefix, uint8_t* toc, const uint8_t* codes, int frames) const override;
};

// One packet list from the leading run of table entries whose flag is 1
// (at most 40 entries). Returns that count, or -1 when the list cannot take them.
struct PacketTableEntry {
  const uint8_t* data;
  uint32_t length;
  uint32_t flags;
};
int BuildPacketList(const PacketTableEntry* table, int entries, AccessUnitList& out);

}  // namespace flumera
