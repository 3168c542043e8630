#include "flumera/connection_framing.h"

namespace flumera {

int FramedPacket::Frame(const AccessUnitList* packet, uint8_t channel) {
  first_ = count_ = 0;
  remaining_ = 0;
  if (!packet) return kFramingNoPacket;
  if (packet->Count() > AccessUnitList::kPacketFragments) return kFramingTooManyFragments;
  if (packet->TotalLength() > 0xFFFF) return kFramingTooLong;
  header_[0] = '$';
  header_[1] = channel;
  PutBe16(header_ + 2, uint16_t(packet->TotalLength()));
  entries_[count_++] = {header_, 4};
  for (int i = 0; i < packet->Count(); ++i) entries_[count_++] = packet->Get(i);
  remaining_ = 4 + packet->TotalLength();
  return kFramingOk;
}

void FramedPacket::Advance(uint32_t bytesSent) {
  if (bytesSent > remaining_) bytesSent = remaining_;
  remaining_ -= bytesSent;
  while (bytesSent > 0 && first_ < count_) {
    Fragment& f = entries_[first_];
    if (bytesSent < f.length) {
      f.data += bytesSent;
      f.length -= bytesSent;
      return;
    }
    bytesSent -= f.length;
    ++first_;
  }
}

}  // namespace flumera
