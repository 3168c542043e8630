#include "fileformat/descriptor.h"

#include "fileformat/render.h"

namespace fileformat {

void DescriptorRenderable::recomputeSize() {
  payloadSize_ = computePayloadSize();
  sizeFieldLength_ = sizeFieldLength(payloadSize_);
  if (parent_) parent_->recomputeSize();
}

void BaseDescriptor::render(std::ostream& out) const {
  writeU8(out, tag_);
  writeSizeField(out, payloadSize());
  renderPayload(out);
}

void writeSizeField(std::ostream& out, uint32_t value) {
  uint32_t n = sizeFieldLength(value);
  for (uint32_t i = n; i-- > 0;) {
    uint32_t group = (value >> (7 * i)) & 0x7F;
    writeU8(out, i ? (group | 0x80) : group);
  }
}

}  // namespace fileformat
