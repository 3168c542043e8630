#include "fileformat/atom.h"

#include <limits>

#include "fileformat/render.h"

namespace fileformat {

void Atom::render(std::ostream& out) const {
  renderHeader(out);
  renderBody(out);
}

void Atom::renderHeader(std::ostream& out) const {
  writeU32(out, size_);
  writeU32(out, type_);
}

void Atom::recomputeSize() {
  // The writer refuses content that would pass 32 bits before adding it; the
  // clamp only keeps a stray overflow from wrapping to a small, valid-looking size.
  uint64_t total = headerSize() + bodySize();
  size_ = total > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                       : static_cast<uint32_t>(total);
  if (parent_) parent_->recomputeSize();
}

void FullAtom::renderHeader(std::ostream& out) const {
  Atom::renderHeader(out);
  writeU8(out, version_);
  writeU24(out, flags_);
}

}  // namespace fileformat
