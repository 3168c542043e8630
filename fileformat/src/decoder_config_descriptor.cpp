#include "fileformat/decoder_config_descriptor.h"

#include "fileformat/render.h"

namespace fileformat {

namespace {
struct Types {
  uint8_t object, stream;
};

Types typesFor(uint32_t handler, uint32_t kind) {
  switch (handler) {
    case fourcc("odsm"): return {0xFF, 1};
    case fourcc("crsm"): return {0xFF, 2};
    case fourcc("sdsm"): return {0xFF, 3};
    case fourcc("m7sm"): return {0xFF, 6};
    case fourcc("ipsm"): return {0xFF, 7};
    case fourcc("ocsm"): return {0xFF, 8};
    case fourcc("vide"): {
      static constexpr uint8_t kVideo[] = {0xFF, 0x20, 0xC0, 0xFE};
      return {kind < 4 ? kVideo[kind] : uint8_t(0xFF), 4};
    }
    case fourcc("soun"): {
      static constexpr uint8_t kAudio[] = {0xFF, 0xD0, 0xD1, 0x40};
      return {kind < 4 ? kAudio[kind] : uint8_t(0xFF), 5};
    }
    default: return {0xFF, 0x20};
  }
}
}  // namespace

DecoderConfigDescriptor::DecoderConfigDescriptor(uint32_t handlerType, uint32_t mediaKind)
    : BaseDescriptor(0x04),
      mediaKind_(mediaKind),
      keepsInfos_(handlerType == fourcc("sdsm") || handlerType == fourcc("soun") ||
                  handlerType == fourcc("vide")) {
  Types t = typesFor(handlerType, mediaKind);
  objectType_ = t.object;
  streamType_ = t.stream;
  recomputeSize();
}

void DecoderConfigDescriptor::addDecoderSpecificInfo(std::unique_ptr<BaseDescriptor> info) {
  if (!keepsInfos_ || !info) return;
  infos_.add(std::move(info), this);
  recomputeSize();
}

BaseDescriptor* DecoderConfigDescriptor::firstDecoderSpecificInfo() const { return infos_.at(0); }

void DecoderConfigDescriptor::removeDecoderSpecificInfos() {
  infos_.clear();
  recomputeSize();
}

void DecoderConfigDescriptor::renderPayload(std::ostream& out) const {
  writeU8(out, objectType_);
  writeU8(out, (uint32_t(streamType_) << 2) | (upstream_ ? 2 : 0) | 1);
  writeU24(out, bufferSize);
  writeU32(out, maxBitrate);
  writeU32(out, avgBitrate);
  infos_.render(out);
}

}  // namespace fileformat
