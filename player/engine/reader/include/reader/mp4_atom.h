// Base classes of the reader's atoms. Each atom is built by its constructor
// straight from the stream; the constructor records success and the first
// MP4FileError and leaves the stream at the atom's end. Every atom is checked
// to lie inside its container (limit) and the file, and every field read is
// checked to stay inside the atom.
#pragma once

#include <cstdint>

#include "reader/mp4_error.h"
#include "reader/mp4_stream.h"

namespace reader {

// What atoms and descriptors share: the result of building one and the end
// of its bytes, which every read inside it must respect.
class Mp4Element {
 public:
  Mp4Element() = default;
  Mp4Element(const Mp4Element&) = delete;
  Mp4Element& operator=(const Mp4Element&) = delete;
  virtual ~Mp4Element() = default;
  bool ok() const { return ok_; }
  int32_t error() const { return error_; }
  uint64_t end() const { return end_; }

 protected:
  // Records the failure; returns false so callers can `return Fail(x)`.
  bool Fail(int32_t code) {
    error_ = code;
    ok_ = false;
    return false;
  }
  // The fields read must have stayed inside the element; moves to its end.
  bool Finish(Mp4Stream& s, int32_t code) {
    if (s.tell() > end_ || !s.Seek(end_)) return Fail(code);
    return ok_;
  }
  uint64_t Remaining(const Mp4Stream& s) const { return s.tell() < end_ ? end_ - s.tell() : 0; }

  bool ok_ = true;
  int32_t error_ = 0;
  uint64_t end_ = 0;
};

class Mp4Atom : public Mp4Element {
 public:
  // Reads the header at the stream position; limit is the container's end.
  Mp4Atom(Mp4Stream& s, uint64_t limit);
  virtual uint32_t size() const { return size_; }
  virtual uint32_t headerSize() const { return 8; }
  uint32_t type() const { return type_; }
  uint64_t start() const { return start_; }

 protected:
  uint32_t size_ = 0;
  uint32_t type_ = 0;
  uint64_t start_ = 0;
};

class Mp4FullAtom : public Mp4Atom {
 public:
  Mp4FullAtom(Mp4Stream& s, uint64_t limit);
  uint32_t headerSize() const override { return 12; }
  uint8_t version() const { return version_; }
  uint32_t flags() const { return flags_; }

 protected:
  uint8_t version_ = 0;
  uint32_t flags_ = 0;
};

// Reads the size word at the position and moves past that many bytes. Gives 0,
// ZERO_OR_NEGATIVE_ATOM_SIZE for a size below 1 (below 8 with strict), or
// READ_FAILED when the skip leaves limit or the file.
int32_t SkipBySize(Mp4Stream& s, uint64_t limit, bool strict = true);

// Builds T in place; a failed allocation gives null, which callers treat as
// the failure of the atom they were building.
template <typename T, typename... A>
T* BuildAtom(A&&... args);

}  // namespace reader

#include <new>
#include <utility>

namespace reader {
template <typename T, typename... A>
T* BuildAtom(A&&... args) {
  return new (std::nothrow) T(std::forward<A>(args)...);
}

// Builds a child into slot (a later child of the same type replaces the
// earlier one), or deletes it and gives its code in error (code when it
// could not be allocated).
template <typename T, typename... A>
bool BuildInto(T*& slot, int32_t& error, int32_t code, A&&... args) {
  T* child = BuildAtom<T>(std::forward<A>(args)...);
  if (!child || !child->ok()) {
    error = child ? child->error() : code;
    delete child;
    return false;
  }
  delete slot;
  slot = child;
  return true;
}
}  // namespace reader
