#include "fileformat/decoder_specific_info.h"

#include "fileformat/render.h"

namespace fileformat {

namespace {
constexpr uint32_t kVendor = fourcc("krmm");
constexpr uint8_t kTag = 0x05;
}  // namespace

DecoderSpecificInfo::DecoderSpecificInfo() : BaseDescriptor(kTag) { recomputeSize(); }

DecoderSpecificInfo::DecoderSpecificInfo(const uint8_t* data, uint32_t length)
    : BaseDescriptor(kTag), bytes_(data, data + (data ? length : 0)) {
  recomputeSize();
}

void DecoderSpecificInfo::renderPayload(std::ostream& out) const {
  writeBytes(out, bytes_.size(), bytes_.data());
}

VisualDecoderSpecificInfo::VisualDecoderSpecificInfo(uint8_t version, uint8_t level,
                                                     uint16_t width, uint16_t height)
    : BaseDescriptor(kTag), version_(version), level_(level), width_(width), height_(height) {
  recomputeSize();
}

void VisualDecoderSpecificInfo::renderPayload(std::ostream& out) const {
  writeU32(out, kVendor);
  writeU8(out, version_);
  writeU8(out, 0);
  writeU8(out, level_);
  writeU8(out, 0);
  writeU16(out, width_);
  writeU16(out, height_);
}

AmrDecoderSpecificInfo::AmrDecoderSpecificInfo() : BaseDescriptor(kTag) { recomputeSize(); }

void AmrDecoderSpecificInfo::renderPayload(std::ostream& out) const {
  writeU32(out, kVendor);
  writeU8(out, version_);
  writeU8(out, mode_);  // bit 7, a flag the writer never sets, stays 0
  writeU16(out, modeSet_);
  writeU32(out, 0);
}

CompactAudioDecoderSpecificInfo::CompactAudioDecoderSpecificInfo(uint8_t version, uint8_t mode)
    : BaseDescriptor(kTag), version_(version), mode_(mode & 0x3F) {
  recomputeSize();
}

void CompactAudioDecoderSpecificInfo::renderPayload(std::ostream& out) const {
  writeU32(out, kVendor);
  writeU8(out, version_);
  writeU8(out, mode_);
  writeU16(out, 0);
}

}  // namespace fileformat
