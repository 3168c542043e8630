// Decoder configuration descriptor (tag 0x04): object and stream type from the
// track's handler and media kind, buffer size, bit rates and the
// decoder-specific information.
#pragma once

#include "fileformat/descriptor.h"

namespace fileformat {

class DecoderConfigDescriptor : public BaseDescriptor {
 public:
  DecoderConfigDescriptor(uint32_t handlerType, uint32_t mediaKind);

  // Kept only for 'sdsm', 'soun' and 'vide' streams; otherwise ignored.
  void addDecoderSpecificInfo(std::unique_ptr<BaseDescriptor> info);
  BaseDescriptor* firstDecoderSpecificInfo() const;
  void removeDecoderSpecificInfos();
  void growBufferSize(uint32_t n) {
    if (n > bufferSize) bufferSize = n;
  }

  uint8_t objectType() const { return objectType_; }
  uint8_t streamType() const { return streamType_; }
  uint32_t mediaKind() const { return mediaKind_; }

  // Read and written directly by the sample description.
  uint32_t bufferSize = 0;  // written as 24 bits
  uint32_t maxBitrate = 0;
  uint32_t avgBitrate = 0;

 protected:
  uint32_t computePayloadSize() const override { return 13 + infos_.totalSize(); }
  void renderPayload(std::ostream& out) const override;

 private:
  uint8_t objectType_;
  uint8_t streamType_;
  bool upstream_ = false;
  uint32_t mediaKind_;
  bool keepsInfos_;
  DescriptorList<BaseDescriptor> infos_;
};

}  // namespace fileformat
