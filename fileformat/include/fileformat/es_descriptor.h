// The elementary stream descriptor of every sample entry, its SL
// configuration, and the esds atom that carries it.
#pragma once

#include <string>

#include "fileformat/atom.h"
#include "fileformat/decoder_config_descriptor.h"
#include "fileformat/descriptor.h"

namespace fileformat {

// SLConfig (tag 0x06), predefined 2: the MP4-file setting.
class SLConfigDescriptor : public BaseDescriptor {
 public:
  SLConfigDescriptor();

 protected:
  uint32_t computePayloadSize() const override { return 1; }
  void renderPayload(std::ostream& out) const override;

 private:
  uint8_t predefined_ = 2;
};

// ES_Descriptor (tag 0x03).
class ESDescriptor : public BaseDescriptor {
 public:
  ESDescriptor(uint32_t handlerType, uint32_t mediaKind);
  // From a process-wide counter; the file carries 0 (the track id rules).
  uint16_t esId() const { return esId_; }
  DecoderConfigDescriptor* decoderConfig() const { return decoderConfig_.get(); }

 protected:
  uint32_t computePayloadSize() const override;
  void renderPayload(std::ostream& out) const override;

 private:
  uint16_t esId_;
  uint8_t dependenceFlag_ = 0;
  uint8_t urlFlag_ = 0;
  uint8_t priority_ = 0;
  uint16_t dependsOnId_ = 0;
  std::string url_;
  std::unique_ptr<DecoderConfigDescriptor> decoderConfig_;
  std::unique_ptr<SLConfigDescriptor> slConfig_;
};

class ESDAtom : public FullAtom {
 public:
  ESDAtom(uint32_t handlerType, uint32_t mediaKind);
  ESDescriptor* descriptor() const { return es_.get(); }

 protected:
  uint64_t bodySize() const override { return es_->totalSize(); }
  void renderBody(std::ostream& out) const override { es_->render(out); }

 private:
  std::unique_ptr<ESDescriptor> es_;
};

}  // namespace fileformat
