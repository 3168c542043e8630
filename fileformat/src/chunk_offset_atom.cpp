#include "fileformat/render.h"
#include "fileformat/sample_tables.h"

namespace fileformat {

ChunkOffsetAtom::ChunkOffsetAtom(uint32_t handlerType)
    : FullAtom(fourcc("stco"), 0, 0), handlerType_(handlerType) {
  recomputeSize();
}

void ChunkOffsetAtom::add(uint32_t size, bool startsNewChunk) {
  if (startsNewChunk) {
    offsets_.push_back(runningOffset_);
    recomputeSize();
  }
  for (const char* h : {"soun", "vide", "sdsm", "ipsm", "odsm"}) {
    if (handlerType_ == fourcc(h)) {
      runningOffset_ += size;
      return;
    }
  }
}

void ChunkOffsetAtom::applyBase(uint32_t base) {
  if (!basePending_) return;
  basePending_ = false;
  for (uint32_t& o : offsets_) o += base;
}

int64_t ChunkOffsetAtom::offsetOf(uint32_t c) const { return c < offsets_.size() ? int64_t(offsets_[c]) : -1; }

void ChunkOffsetAtom::renderBody(std::ostream& out) const {
  writeU32(out, entryCount());
  for (uint32_t o : offsets_) writeU32(out, o);
}

}  // namespace fileformat
