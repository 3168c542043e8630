#include "fileformat/sample_entry.h"

#include "fileformat/render.h"

namespace fileformat {

DecoderConfigDescriptor* SampleEntry::decoderConfig() const {
  ESDescriptor* es = esDescriptor();
  return es ? es->decoderConfig() : nullptr;
}

BaseDescriptor* SampleEntry::firstDecoderSpecificInfo() const {
  DecoderConfigDescriptor* dc = decoderConfig();
  return dc ? dc->firstDecoderSpecificInfo() : nullptr;
}

void SampleEntry::addDecoderSpecificInfo(std::unique_ptr<BaseDescriptor> info) {
  if (DecoderConfigDescriptor* dc = decoderConfig()) dc->addDecoderSpecificInfo(std::move(info));
}

void SampleEntry::renderFields(std::ostream& out) const {
  for (int i = 0; i < 6; ++i) writeU8(out, 0);
  writeU16(out, 1);
  renderEntryFields(out);
}

EsSampleEntry::EsSampleEntry(uint32_t type, uint32_t handlerType, uint32_t mediaKind)
    : SampleEntry(type) {
  esds_ = adopt(std::make_unique<ESDAtom>(handlerType, mediaKind));
}

VisualSampleEntry::VisualSampleEntry(uint32_t mediaKind)
    : EsSampleEntry(fourcc("mp4v"), fourcc("vide"), mediaKind) {
  recomputeSize();
}

void VisualSampleEntry::renderEntryFields(std::ostream& out) const {
  for (int i = 0; i < 4; ++i) writeU32(out, 0);
  writeU32(out, widthHeight_);
  writeU32(out, 0x00480000);  // 72 dpi
  writeU32(out, 0x00480000);
  writeU32(out, 0);
  writeU16(out, 1);  // frame count
  for (int i = 0; i < 8; ++i) writeU32(out, 0);  // compressor name
  writeU16(out, 24);
  writeU16(out, 0xFFFF);
}

AudioSampleEntry::AudioSampleEntry(uint32_t mediaKind)
    : EsSampleEntry(fourcc("mp4a"), fourcc("soun"), mediaKind) {
  recomputeSize();
}

void AudioSampleEntry::renderEntryFields(std::ostream& out) const {
  writeU32(out, 0);
  writeU32(out, 0);
  writeU16(out, channels_);
  writeU16(out, sampleSize_);
  writeU32(out, 0);
  writeU16(out, sampleRate_ >> 16);
  writeU16(out, sampleRate_);
}

MpegSampleEntry::MpegSampleEntry(uint32_t handlerType)
    : EsSampleEntry(fourcc("mp4s"), handlerType, 0) {
  recomputeSize();
}

HintSampleEntry::HintSampleEntry(uint32_t protocol) : SampleEntry(protocol) { recomputeSize(); }

void HintSampleEntry::append(std::unique_ptr<HintRecord> r, uint32_t size) {
  records_.push_back(std::move(r));
  runningOffset_ += size;
  recomputeSize();
}

void HintSampleEntry::addVideoRecord(uint32_t size, uint32_t time, uint8_t flagByte) {
  append(std::make_unique<HintSampleRecord>(flagByte, time, size, runningOffset_), size);
}

void HintSampleEntry::addAudioRecord(uint8_t firstDataByte, uint32_t size, uint32_t time) {
  append(std::make_unique<HintAudioRecord>(firstDataByte, static_cast<uint16_t>(time), size,
                                           runningOffset_),
         size);
}

void HintSampleEntry::addVideoRecord2(uint32_t size, uint32_t time, uint8_t extra) {
  append(std::make_unique<HintVideoRecord2>(time, size, extra, runningOffset_), size);
}

uint32_t HintSampleEntry::indexOfClassZeroRecord(uint32_t k) const {
  if (k == 0) return 0;
  uint32_t seen = 0;
  for (uint32_t i = 0; i < records_.size(); ++i) {
    if (records_[i]->recordClass() == 0 && seen++ == k) return i;
  }
  return recordCount();
}

uint64_t HintSampleEntry::entryFieldsSize() const {
  uint64_t n = 4;
  for (const auto& r : records_) n += r->renderedSize();
  return n;
}

void HintSampleEntry::renderEntryFields(std::ostream& out) const {
  writeU32(out, recordCount());
  std::streampos pos = out.fail() ? std::streampos(-1) : out.tellp();
  recordTablePosition_ = static_cast<uint32_t>(static_cast<std::streamoff>(pos));
  for (const auto& r : records_) r->render(out);
}

}  // namespace fileformat
