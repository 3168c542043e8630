// The pieces of one media sample as the MP4 reader hands them out. Each piece
// is kept alive by a reference-counted holder; the group releases them all.
#pragma once

#include <cstdint>

struct FragmentHolder {
  uint32_t references = 0;
  void* buffer = nullptr;
  void (*release)(void* buffer) = nullptr;
};

struct FragmentEntry {
  uint32_t length;     // bytes in the piece
  uint32_t reader[3];  // the reader's own words
};
static_assert(sizeof(FragmentEntry) == 16);

struct BufferFragmentGroup {
  static constexpr uint32_t kMaxEntries = 40;
  static constexpr uint32_t kMaxHolders = 10;

  uint32_t entryCount = 0;
  FragmentEntry entries[kMaxEntries] = {};
  uint32_t holderCount = 0;
  uint8_t* pieces[kMaxHolders] = {};
  uint32_t lengths[kMaxHolders] = {};
  FragmentHolder* holders[kMaxHolders] = {};
  uint8_t ownsHolders = 0;

  void Init();
  // Adds a piece with its holder (taking one reference); false when full.
  bool AddPiece(uint8_t* piece, uint32_t length, FragmentHolder* holder);
  // Drops one reference of each holder; a holder reaching 0 gives its buffer
  // back, and is freed when the group owns its holders.
  void Release();
  // Makes this group share other's pieces, one more reference per holder.
  void CopyFrom(const BufferFragmentGroup& other);
  uint32_t TotalLength() const;
};
