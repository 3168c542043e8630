// Sample entries of the stsd: mp4v, mp4a and mp4s each carry an esds; the hint
// entry collects one record per sample of the track it hints.
#pragma once

#include <memory>
#include <vector>

#include "fileformat/atom.h"
#include "fileformat/es_descriptor.h"
#include "fileformat/hint_records.h"

namespace fileformat {

class SampleEntry : public ContainerAtom {
 public:
  explicit SampleEntry(uint32_t type) : ContainerAtom(type) {}

  virtual uint16_t esId() const { return 0; }
  virtual ESDescriptor* esDescriptor() const { return nullptr; }
  // 0 for every entry but the hint entry (its record table position).
  virtual uint32_t hintValue() const { return 0; }
  DecoderConfigDescriptor* decoderConfig() const;
  BaseDescriptor* firstDecoderSpecificInfo() const;
  void addDecoderSpecificInfo(std::unique_ptr<BaseDescriptor> info);

 protected:
  // Six reserved bytes and the data reference index 1 (the one 'url ').
  uint64_t fieldsSize() const override { return 8 + entryFieldsSize(); }
  void renderFields(std::ostream& out) const override;
  virtual uint64_t entryFieldsSize() const { return 0; }
  virtual void renderEntryFields(std::ostream&) const {}
};

// An entry that owns an esds after its fields.
class EsSampleEntry : public SampleEntry {
 public:
  EsSampleEntry(uint32_t type, uint32_t handlerType, uint32_t mediaKind);
  uint16_t esId() const override { return esds_->descriptor()->esId(); }
  ESDescriptor* esDescriptor() const override { return esds_->descriptor(); }

 private:
  ESDAtom* esds_;
};

class VisualSampleEntry : public EsSampleEntry {
 public:
  explicit VisualSampleEntry(uint32_t mediaKind);

 protected:
  uint64_t entryFieldsSize() const override { return 70; }
  void renderEntryFields(std::ostream& out) const override;

 private:
  uint32_t widthHeight_ = 0x014000F0;  // 320 x 240: what stored files carry
};

class AudioSampleEntry : public EsSampleEntry {
 public:
  explicit AudioSampleEntry(uint32_t mediaKind);

 protected:
  uint64_t entryFieldsSize() const override { return 20; }
  void renderEntryFields(std::ostream& out) const override;

 private:
  // Rate 0 with 2 channels is what the player's reader has always been given.
  uint16_t channels_ = 2;
  uint16_t sampleSize_ = 16;
  uint32_t sampleRate_ = 0;
};

class MpegSampleEntry : public EsSampleEntry {
 public:
  explicit MpegSampleEntry(uint32_t handlerType);
};

class HintSampleEntry : public SampleEntry {
 public:
  explicit HintSampleEntry(uint32_t protocol);
  void addVideoRecord(uint32_t size, uint32_t time, uint8_t flagByte);
  void addAudioRecord(uint8_t firstDataByte, uint32_t size, uint32_t time);
  void addVideoRecord2(uint32_t size, uint32_t time, uint8_t extra);
  const HintRecord* record(size_t i) const {
    return i < records_.size() ? records_[i].get() : nullptr;
  }
  uint32_t recordCount() const { return static_cast<uint32_t>(records_.size()); }
  // Position of the k-th record of class 0 (the record count when fewer).
  uint32_t indexOfClassZeroRecord(uint32_t k) const;
  uint32_t hintValue() const override { return recordTablePosition_; }

 protected:
  uint64_t entryFieldsSize() const override;
  void renderEntryFields(std::ostream& out) const override;

 private:
  void append(std::unique_ptr<HintRecord> r, uint32_t size);

  std::vector<std::unique_ptr<HintRecord>> records_;
  uint32_t runningOffset_ = 0;
  mutable uint32_t recordTablePosition_ = 0;
};

}  // namespace fileformat
