// Fragment lists: an access unit or an RTP packet as a list of pieces that
// point into the host's media buffer, plus a small inline area for the pieces
// we write ourselves (RTP header, payload tables).
#pragma once

#include <cstddef>
#include <cstdint>

namespace flumera {

struct Fragment {
  const uint8_t* data;
  uint32_t length;
};

// Results of adding to a list.
enum FragmentResult : int {
  kFragmentOk = 0,
  kFragmentTooMany = 1,      // the list is full
  kFragmentNoRoom = 2,       // a copied piece larger than the inline room left
  kFragmentEmpty = 3,        // null or empty piece
  kFragmentFinished = 5,     // the packet is finished
};

class AccessUnitList {
 public:
  static constexpr int kMaxFragments = 40;     // what a list can hold at all
  static constexpr int kPacketFragments = 31;  // what a packet (and "$" framing) takes
  static constexpr size_t kInlineRoom = 1600;

  // `limit`: the most fragments this list accepts.
  explicit AccessUnitList(int limit = kPacketFragments);

  int Append(const uint8_t* data, uint32_t length);
  // Copies the piece into the inline area and appends it.
  int AppendCopy(const uint8_t* data, uint32_t length);
  // Reserves `length` inline bytes as a fragment to be written later; null when
  // it cannot be added (the result says why).
  uint8_t* AppendInline(uint32_t length, int* result);
  // Moves the fragments of `other` to the end of this list; all or nothing.
  int TakeOver(AccessUnitList& other);
  // Empties the list for reuse (not the link).
  void Clear();

  int Count() const { return count_; }
  uint32_t TotalLength() const { return total_; }
  const Fragment& Get(int i) const { return fragments_[i]; }
  // Shortens fragment i (a table reserved at its largest and filled later).
  void Shorten(int i, uint32_t length) {
    if (length < fragments_[i].length) total_ -= fragments_[i].length - length, fragments_[i].length = length;
  }
  size_t InlineLeft() const { return kInlineRoom - inlineUsed_; }

  // Cursor: the fragment and offset at a byte position of the list; false
  // (cursor unchanged) past the end.
  bool Seek(uint32_t offset);
  int CursorFragment() const { return cursorFragment_; }
  uint32_t CursorOffset() const { return cursorOffset_; }

  uint32_t TimeStamp() const { return timeStamp_; }
  void SetTimeStamp(uint32_t t) { timeStamp_ = t; }

  bool Finished() const { return finished_; }
  void SetFinished(bool f) { finished_ = f; }

  AccessUnitList* Next() const { return next_; }
  void Link(AccessUnitList* next) { next_ = next; }
  AccessUnitList* Unlink() {
    AccessUnitList* n = next_;
    next_ = nullptr;
    return n;
  }

  // For the sender: the unit's time plus the media time base.
  uint32_t sendTime = 0;

 private:
  Fragment fragments_[kMaxFragments];
  int count_ = 0, limit_;
  uint32_t total_ = 0;
  int cursorFragment_ = 0;
  uint32_t cursorOffset_ = 0;
  uint32_t timeStamp_ = 0;
  bool finished_ = false;
  AccessUnitList* next_ = nullptr;
  size_t inlineUsed_ = 0;
  uint8_t inline_[kInlineRoom];
};

// Packets come from here: blocks from the C heap, at most `maxBlocks` out at
// once (0: no bound), so a stalled client cannot take all memory.
class PacketAllocator {
 public:
  explicit PacketAllocator(size_t maxBlocks = 0) : maxBlocks_(maxBlocks) {}
  AccessUnitList* Allocate();
  void Free(AccessUnitList* packet);
  // Frees a chain linked through Next().
  void FreeChain(AccessUnitList* head);
  size_t Outstanding() const { return outstanding_; }

 private:
  size_t maxBlocks_;
  size_t outstanding_ = 0;
};

// Bit fields at any bit offset (most significant bit first), up to 32 bits.
uint32_t ReadBits(const uint8_t* bytes, size_t bitOffset, int bits);
void WriteBits(uint8_t* bytes, size_t bitOffset, int bits, uint32_t value);

// Big-endian 16 and 32-bit words.
inline void PutBe16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v >> 8), p[1] = uint8_t(v); }
inline void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}
inline uint32_t GetBe32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

}  // namespace flumera
