#include "reader/mp4_atom.h"

namespace reader {

Mp4Atom::Mp4Atom(Mp4Stream& s, uint64_t limit) {
  start_ = s.tell();
  end_ = start_;
  if (limit > s.size()) limit = s.size();
  if (!s.ReadAtomHeader(size_, type_)) {
    ok_ = false;
    return;
  }
  if (size_ < 1) {
    Fail(ZERO_OR_NEGATIVE_ATOM_SIZE);
    return;
  }
  if (size_ < 8 || start_ + size_ > limit) {
    ok_ = false;
    return;
  }
  end_ = start_ + size_;
}

Mp4FullAtom::Mp4FullAtom(Mp4Stream& s, uint64_t limit) : Mp4Atom(s, limit) {
  if (!ok_) return;
  uint32_t word;
  if (size_ < 12 || !s.ReadU32(word)) {
    ok_ = false;
    return;
  }
  version_ = static_cast<uint8_t>(word >> 24);
  flags_ = word & 0xFFFFFF;
}

int32_t SkipBySize(Mp4Stream& s, uint64_t limit, bool strict) {
  uint32_t size;
  if (!s.PeekU32(size)) return READ_FAILED;
  if (size < 1 || (strict && size < 8)) return ZERO_OR_NEGATIVE_ATOM_SIZE;
  if (!s.SeekWithin(s.tell() + size, limit)) return READ_FAILED;
  return EVERYTHING_FINE;
}

}  // namespace reader
