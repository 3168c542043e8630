#include "fileformat/es_descriptor.h"

#include <atomic>

#include "fileformat/render.h"

namespace fileformat {

namespace {
std::atomic<uint32_t> gNextEsId{1};

uint16_t nextEsId() {
  for (;;) {
    uint16_t id = static_cast<uint16_t>(gNextEsId.fetch_add(1));
    if (id != 0) return id;
  }
}
}  // namespace

SLConfigDescriptor::SLConfigDescriptor() : BaseDescriptor(0x06) { recomputeSize(); }

void SLConfigDescriptor::renderPayload(std::ostream& out) const { writeU8(out, predefined_); }

ESDescriptor::ESDescriptor(uint32_t handlerType, uint32_t mediaKind)
    : BaseDescriptor(0x03),
      esId_(nextEsId()),
      decoderConfig_(std::make_unique<DecoderConfigDescriptor>(handlerType, mediaKind)),
      slConfig_(std::make_unique<SLConfigDescriptor>()) {
  decoderConfig_->setParent(this);
  slConfig_->setParent(this);
  recomputeSize();
}

uint32_t ESDescriptor::computePayloadSize() const {
  uint32_t n = dependenceFlag_ ? 5 : 3;
  if (urlFlag_) n += static_cast<uint32_t>(url_.size()) + 1;
  return n + decoderConfig_->totalSize() + slConfig_->totalSize();
}

void ESDescriptor::renderPayload(std::ostream& out) const {
  writeU16(out, 0);
  writeU8(out, (dependenceFlag_ ? 0x80 : 0) | (urlFlag_ ? 0x40 : 0) | (priority_ & 0x1F));
  if (dependenceFlag_) writeU16(out, dependsOnId_);
  if (urlFlag_) {
    writeU8(out, static_cast<uint32_t>(url_.size()));
    writeString(out, url_);
  }
  decoderConfig_->render(out);
  slConfig_->render(out);
}

ESDAtom::ESDAtom(uint32_t handlerType, uint32_t mediaKind)
    : FullAtom(fourcc("esds"), 0, 0),
      es_(std::make_unique<ESDescriptor>(handlerType, mediaKind)) {
  es_->setParent(this);
  recomputeSize();
}

}  // namespace fileformat
