// "$" framing of RTP packets inside the RTSP connection: "$", a channel byte,
// the packet length as a big-endian 16-bit number, then the packet.
#pragma once

#include <cstdint>

#include "flumera/access_unit_list.h"

namespace flumera {

enum FramingResult : int {
  kFramingOk = 0,
  kFramingTooManyFragments = 3,
  kFramingNoPacket = 4,
  kFramingTooLong = 5,  // above what the 16-bit length can say
};

// A gather list for one send: the framing header, then the packet's
// fragments. Advance() drops what a (partial) send took.
class FramedPacket {
 public:
  static constexpr int kMaxEntries = AccessUnitList::kPacketFragments + 1;

  int Frame(const AccessUnitList* packet, uint8_t channel);
  void Advance(uint32_t bytesSent);
  bool Done() const { return first_ == count_; }
  int Count() const { return count_ - first_; }
  const Fragment& Get(int i) const { return entries_[first_ + i]; }
  uint32_t Remaining() const { return remaining_; }
  const uint8_t* Header() const { return header_; }

 private:
  uint8_t header_[4] = {};
  Fragment entries_[kMaxEntries] = {};
  int first_ = 0, count_ = 0;
  uint32_t remaining_ = 0;
};

}  // namespace flumera
