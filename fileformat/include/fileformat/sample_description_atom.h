// stsd: the track's sample entries. For the two mode-based audio kinds each
// mode met in the samples gets an entry of its own.
#pragma once

#include "fileformat/sample_entry.h"

namespace fileformat {

class SampleDescriptionAtom : public ContainerOf<FullAtom> {
 public:
  SampleDescriptionAtom(uint32_t handlerType, uint32_t mediaKind, uint32_t protocol);

  // Returns the 1-based description index of the sample (0 on a hint track).
  uint32_t addSample(const uint8_t* data, uint32_t size, uint8_t flagByte);
  void addDecoderSpecificInfo(std::unique_ptr<BaseDescriptor> info);
  void setBitrate(uint32_t bitsPerSecond);
  void setBufferSize(uint32_t bytes);
  uint32_t bufferSize() const;
  uint32_t averageBitrate() const;
  BaseDescriptor* videoDecoderSpecificInfo() const;
  uint32_t hintRecordTablePosition() const;

  SampleEntry* entry(size_t i) const { return static_cast<SampleEntry*>(const_cast<Atom*>(child(i))); }
  void addEntry(std::unique_ptr<SampleEntry> e) { adopt(std::move(e)); }
  uint32_t entryCount() const { return static_cast<uint32_t>(childCount()); }
  HintSampleEntry* hintEntry() const;

  uint32_t handlerType() const { return handlerType_; }
  uint32_t mediaKind() const { return mediaKind_; }
  uint32_t streamCode() const { return streamCode_; }

  // AMR bit rate of a mode; 0 outside the table.
  static uint32_t amrRate(uint32_t mode);

 protected:
  uint64_t fieldsSize() const override { return 4; }
  void renderFields(std::ostream& out) const override;

 private:
  uint32_t addModeSample(uint32_t size, uint8_t mode);
  DecoderConfigDescriptor* firstConfig() const;

  uint32_t streamCode_;
  uint32_t handlerType_;
  uint32_t bitrate_ = 0;
  uint32_t mediaKind_;
};

}  // namespace fileformat
