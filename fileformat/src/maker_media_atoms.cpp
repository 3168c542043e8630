#include "fileformat/maker_media_atoms.h"

#include "fileformat/render.h"

namespace fileformat {

ObjectDescriptorAtom::ObjectDescriptorAtom(uint8_t version, uint32_t flags)
    : FullAtom(fourcc("iods"), version, flags), iod_(std::make_unique<InitialObjectDescriptor>()) {
  iod_->setParent(this);
  recomputeSize();
}

WMFSessionAtom::WMFSessionAtom() : FullAtom(fourcc("wmfs"), 0, 0) { recomputeSize(); }

void WMFSessionAtom::renderBody(std::ostream& out) const {
  writeU32(out, value1);
  writeU32(out, value2);
  writeU32(out, value3);
}

VideoInformationAtom::VideoInformationAtom() : FullAtom(fourcc("vinf"), 0, 0) { recomputeSize(); }

void VideoInformationAtom::renderBody(std::ostream& out) const {
  writeU16(out, first_);
  writeU16(out, second_);
}

WMFMediaAtom::WMFMediaAtom() : FullAtom(fourcc("wmfm"), 0, 0) { recomputeSize(); }

void WMFMediaAtom::renderBody(std::ostream& out) const {
  writeU32(out, firstValue_);
  // The one little-endian field of the file.
  for (int shift = 0; shift < 32; shift += 8) writeU8(out, mediaValue_ >> shift);
}

}  // namespace fileformat
