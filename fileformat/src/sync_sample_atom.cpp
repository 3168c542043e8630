#include "fileformat/render.h"
#include "fileformat/sample_tables.h"

namespace fileformat {

SyncSampleAtom::SyncSampleAtom() : FullAtom(fourcc("stss"), 0, 0) { recomputeSize(); }

void SyncSampleAtom::add(uint32_t flags) {
  if ((flags & 0x0C) == 0) {
    syncs_.push_back(samplesSeen_);
    recomputeSize();
  }
  ++samplesSeen_;
}

int64_t SyncSampleAtom::syncAtOrAfter(uint32_t s) const {
  if (s == 0) return 0;
  for (uint32_t v : syncs_) {
    if (v >= s) return v;
  }
  return -1;
}

void SyncSampleAtom::renderBody(std::ostream& out) const {
  writeU32(out, static_cast<uint32_t>(syncs_.size()));
  for (uint32_t v : syncs_) writeU32(out, v + 1);
}

}  // namespace fileformat
