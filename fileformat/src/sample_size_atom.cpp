#include "fileformat/render.h"
#include "fileformat/sample_tables.h"

namespace fileformat {

SampleSizeAtom::SampleSizeAtom(uint32_t handlerType)
    : FullAtom(fourcc("stsz"), 0, 0), handlerType_(handlerType) {
  recomputeSize();
}

void SampleSizeAtom::add(uint32_t size) {
  bool records = false;
  for (const char* h : {"soun", "vide", "sdsm", "ipsm", "odsm"}) records |= handlerType_ == fourcc(h);
  if (!records) return;
  if (commonSize_ == 0 && count_ > 0) {
    sizes_.push_back(size);
  } else if (count_ > 0 && size == commonSize_) {
    // still one common size
  } else if (count_ == 0 && size != 0) {
    commonSize_ = size;
  } else {
    sizes_.assign(count_, commonSize_);
    commonSize_ = 0;
    sizes_.push_back(size);
  }
  ++count_;
  recomputeSize();
}

int64_t SampleSizeAtom::sizeOf(uint32_t i) const { return i < sizes_.size() ? int64_t(sizes_[i]) : -1; }

int64_t SampleSizeAtom::sampleSize(uint32_t i) const {
  if (i >= count_) return -1;
  return commonSize_ ? int64_t(commonSize_) : sizeOf(i);
}

void SampleSizeAtom::renderBody(std::ostream& out) const {
  writeU32(out, commonSize_);
  writeU32(out, count_);
  if (commonSize_ == 0) {
    for (uint32_t s : sizes_) writeU32(out, s);
  }
}

}  // namespace fileformat
