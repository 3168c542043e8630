#include "flumera/access_unit_list.h"

#include <cstring>
#include <new>

namespace flumera {

AccessUnitList::AccessUnitList(int limit) : limit_(limit < kMaxFragments ? limit : kMaxFragments) {}

int AccessUnitList::Append(const uint8_t* data, uint32_t length) {
  if (finished_) return kFragmentFinished;
  if (data == nullptr || length == 0) return kFragmentEmpty;
  if (count_ >= limit_) return kFragmentTooMany;
  fragments_[count_++] = {data, length};
  total_ += length;
  return kFragmentOk;
}

uint8_t* AccessUnitList::AppendInline(uint32_t length, int* result) {
  int r = kFragmentOk;
  if (finished_) {
    r = kFragmentFinished;
  } else if (length == 0) {
    r = kFragmentEmpty;
  } else if (count_ >= limit_) {
    r = kFragmentTooMany;
  } else if (length > InlineLeft()) {
    r = kFragmentNoRoom;
  }
  if (result) *result = r;
  if (r != kFragmentOk) return nullptr;
  uint8_t* p = inline_ + inlineUsed_;
  inlineUsed_ += length;
  fragments_[count_++] = {p, length};
  total_ += length;
  return p;
}

int AccessUnitList::AppendCopy(const uint8_t* data, uint32_t length) {
  if (data == nullptr) return finished_ ? kFragmentFinished : kFragmentEmpty;
  int r;
  uint8_t* p = AppendInline(length, &r);
  if (p) std::memcpy(p, data, length);
  return r;
}

int AccessUnitList::TakeOver(AccessUnitList& other) {
  if (finished_) return kFragmentFinished;
  if (count_ + other.count_ > limit_) return kFragmentTooMany;
  // Pieces in the other list's inline area would dangle once it is freed.
  for (int i = 0; i < other.count_; ++i) {
    const Fragment& f = other.fragments_[i];
    const bool own = f.data >= other.inline_ && f.data < other.inline_ + kInlineRoom;
    if (own && f.length > InlineLeft()) return kFragmentNoRoom;
  }
  for (int i = 0; i < other.count_; ++i) {
    const Fragment& f = other.fragments_[i];
    const bool own = f.data >= other.inline_ && f.data < other.inline_ + kInlineRoom;
    if (own) {
      AppendCopy(f.data, f.length);
    } else {
      Append(f.data, f.length);
    }
  }
  other.Clear();
  return kFragmentOk;
}

void AccessUnitList::Clear() {
  count_ = 0;
  total_ = 0;
  cursorFragment_ = 0;
  cursorOffset_ = 0;
  finished_ = false;
  inlineUsed_ = 0;
}

bool AccessUnitList::Seek(uint32_t offset) {
  uint32_t at = 0;
  for (int i = 0; i < count_; ++i) {
    if (offset < at + fragments_[i].length) {
      cursorFragment_ = i;
      cursorOffset_ = offset - at;
      return true;
    }
    at += fragments_[i].length;
  }
  return false;
}

AccessUnitList* PacketAllocator::Allocate() {
  if (maxBlocks_ != 0 && outstanding_ >= maxBlocks_) return nullptr;
  AccessUnitList* p = new (std::nothrow) AccessUnitList(AccessUnitList::kPacketFragments);
  if (p) ++outstanding_;
  return p;
}

void PacketAllocator::Free(AccessUnitList* packet) {
  if (!packet) return;
  delete packet;
  --outstanding_;
}

void PacketAllocator::FreeChain(AccessUnitList* head) {
  while (head) {
    AccessUnitList* next = head->Unlink();
    Free(head);
    head = next;
  }
}

uint32_t ReadBits(const uint8_t* bytes, size_t bitOffset, int bits) {
  uint32_t v = 0;
  for (int i = 0; i < bits; ++i) {
    const size_t b = bitOffset + size_t(i);
    v = v << 1 | ((bytes[b >> 3] >> (7 - (b & 7))) & 1u);
  }
  return v;
}

void WriteBits(uint8_t* bytes, size_t bitOffset, int bits, uint32_t value) {
  for (int i = 0; i < bits; ++i) {
    const size_t b = bitOffset + size_t(i);
    const uint8_t mask = uint8_t(0x80u >> (b & 7));
    if ((value >> (bits - 1 - i)) & 1u) {
      bytes[b >> 3] |= mask;
    } else {
      bytes[b >> 3] &= uint8_t(~mask);
    }
  }
}

}  // namespace flumera
