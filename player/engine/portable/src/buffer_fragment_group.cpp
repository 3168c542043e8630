#include "engine/buffer_fragment_group.h"

void BufferFragmentGroup::Init() {
  entryCount = 0;
  holderCount = 0;
  ownsHolders = 0;
}

bool BufferFragmentGroup::AddPiece(uint8_t* piece, uint32_t length, FragmentHolder* holder) {
  if (holderCount >= kMaxHolders) return false;
  pieces[holderCount] = piece;
  lengths[holderCount] = length;
  holders[holderCount] = holder;
  if (holder) ++holder->references;
  ++holderCount;
  return true;
}

void BufferFragmentGroup::Release() {
  for (uint32_t i = 0; i < holderCount && i < kMaxHolders; ++i) {
    FragmentHolder* h = holders[i];
    if (!h) continue;
    if (h->references > 0) --h->references;
    if (h->references != 0) continue;
    if (h->release && h->buffer) h->release(h->buffer);
    h->buffer = nullptr;
    if (ownsHolders) {
      delete h;
      holders[i] = nullptr;
    }
  }
}

void BufferFragmentGroup::CopyFrom(const BufferFragmentGroup& other) {
  *this = other;
  ownsHolders = other.ownsHolders;
  for (uint32_t i = 0; i < holderCount && i < kMaxHolders; ++i)
    if (holders[i]) ++holders[i]->references;
}

uint32_t BufferFragmentGroup::TotalLength() const {
  uint32_t total = 0;
  for (uint32_t i = 0; i < holderCount && i < kMaxHolders; ++i) total += lengths[i];
  return total;
}
