#include "fileformat/sample_description_atom.h"

#include <algorithm>

#include "fileformat/decoder_specific_info.h"
#include "fileformat/render.h"

namespace fileformat {

namespace {
bool isSystemsHandler(uint32_t h) {
  for (const char* s : {"odsm", "sdsm", "crsm", "ipsm", "mjsm", "ocsm", "m7sm"}) {
    if (h == fourcc(s)) return true;
  }
  return false;
}
bool isModeAudio(uint32_t handler, uint32_t kind) {
  return handler == fourcc("soun") && (kind == 1 || kind == 2);
}
}  // namespace

uint32_t SampleDescriptionAtom::amrRate(uint32_t mode) {
  static constexpr uint32_t kRates[] = {4750, 5150, 5900, 6700, 7400, 7950, 10200, 12200, 2400};
  return mode < std::size(kRates) ? kRates[mode] : 0;
}

SampleDescriptionAtom::SampleDescriptionAtom(uint32_t handlerType, uint32_t mediaKind,
                                             uint32_t protocol)
    : ContainerOf<FullAtom>(fourcc("stsd"), 0, 0),
      streamCode_(handlerType),
      handlerType_(handlerType),
      mediaKind_(mediaKind) {
  recomputeSize();
  if (handlerType == fourcc("vide")) {
    addEntry(std::make_unique<VisualSampleEntry>(mediaKind));
  } else if (handlerType == fourcc("soun")) {
    if (mediaKind == 3) addEntry(std::make_unique<AudioSampleEntry>(3));
  } else if (isSystemsHandler(handlerType)) {
    addEntry(std::make_unique<MpegSampleEntry>(handlerType));
  } else if (handlerType == fourcc("hint")) {
    addEntry(std::make_unique<HintSampleEntry>(protocol));
  } else {
    streamCode_ = 2;
    addEntry(std::make_unique<MpegSampleEntry>(handlerType));
  }
}

DecoderConfigDescriptor* SampleDescriptionAtom::firstConfig() const {
  SampleEntry* e = entry(0);
  return e ? e->decoderConfig() : nullptr;
}

HintSampleEntry* SampleDescriptionAtom::hintEntry() const {
  if (handlerType_ != fourcc("hint")) return nullptr;
  return dynamic_cast<HintSampleEntry*>(entry(0));
}

uint32_t SampleDescriptionAtom::addSample(const uint8_t*, uint32_t size, uint8_t flagByte) {
  if (handlerType_ == fourcc("hint")) return 0;
  if (isModeAudio(handlerType_, mediaKind_)) return addModeSample(size, flagByte & 0x0F);
  if (DecoderConfigDescriptor* dc = firstConfig()) dc->growBufferSize(size);
  return 1;
}

uint32_t SampleDescriptionAtom::addModeSample(uint32_t size, uint8_t mode) {
  uint16_t lastModeSet = 0;
  for (uint32_t i = 0; i < entryCount(); ++i) {
    BaseDescriptor* info = entry(i)->firstDecoderSpecificInfo();
    if (mediaKind_ == 1) {
      auto* amr = dynamic_cast<AmrDecoderSpecificInfo*>(info);
      if (!amr) continue;
      if (amr->mode() == mode) return i + 1;
      amr->setModeSet(static_cast<uint16_t>(amr->modeSet() | (1u << mode)));
      lastModeSet = amr->modeSet();
    } else {
      auto* compact = dynamic_cast<CompactAudioDecoderSpecificInfo*>(info);
      if (compact && compact->mode() == mode) return i + 1;
    }
  }
  auto e = std::make_unique<AudioSampleEntry>(mediaKind_);
  DecoderConfigDescriptor* dc = e->decoderConfig();
  dc->bufferSize = size;
  if (mediaKind_ == 1) {
    auto amr = std::make_unique<AmrDecoderSpecificInfo>();
    amr->setVersion(1);
    amr->setMode(mode);
    amr->setModeSet(static_cast<uint16_t>((1u << mode) | lastModeSet));
    dc->maxBitrate = dc->avgBitrate = amrRate(mode);
    dc->addDecoderSpecificInfo(std::move(amr));
  } else {
    dc->maxBitrate = dc->avgBitrate = bitrate_;
    dc->addDecoderSpecificInfo(std::make_unique<CompactAudioDecoderSpecificInfo>(1, mode));
  }
  addEntry(std::move(e));
  return entryCount();
}

void SampleDescriptionAtom::addDecoderSpecificInfo(std::unique_ptr<BaseDescriptor> info) {
  SampleEntry* first = entry(0);
  if (!first) return;
  bool vide = handlerType_ == fourcc("vide");
  if (vide && mediaKind_ == 2) {
    // H.263 carries the maker's own fixed information, not the caller's.
    first->addDecoderSpecificInfo(std::make_unique<VisualDecoderSpecificInfo>(0, 10, 176, 144));
  } else if (handlerType_ == fourcc("sdsm") || vide ||
             (handlerType_ == fourcc("soun") && mediaKind_ == 3)) {
    first->addDecoderSpecificInfo(std::move(info));
  }
}

void SampleDescriptionAtom::setBitrate(uint32_t rate) {
  DecoderConfigDescriptor* dc = firstConfig();
  if (handlerType_ == fourcc("soun")) {
    bitrate_ = rate;
    if (mediaKind_ != 3) return;
  } else if (handlerType_ != fourcc("vide")) {
    return;
  }
  if (dc) dc->maxBitrate = dc->avgBitrate = rate;
}

void SampleDescriptionAtom::setBufferSize(uint32_t bytes) {
  DecoderConfigDescriptor* dc = firstConfig();
  if (handlerType_ == fourcc("vide") && dc) dc->bufferSize = bytes;
}

uint32_t SampleDescriptionAtom::bufferSize() const {
  DecoderConfigDescriptor* dc = firstConfig();
  bool media = handlerType_ == fourcc("soun") || handlerType_ == fourcc("vide");
  return media && dc ? dc->bufferSize : 0;
}

uint32_t SampleDescriptionAtom::averageBitrate() const {
  DecoderConfigDescriptor* dc = firstConfig();
  bool media = handlerType_ == fourcc("soun") || handlerType_ == fourcc("vide");
  return media && dc ? dc->avgBitrate : 0;
}

BaseDescriptor* SampleDescriptionAtom::videoDecoderSpecificInfo() const {
  if (handlerType_ != fourcc("vide") || !entry(0)) return nullptr;
  return entry(0)->firstDecoderSpecificInfo();
}

uint32_t SampleDescriptionAtom::hintRecordTablePosition() const {
  for (uint32_t i = 0; i < entryCount(); ++i) {
    if (entry(i)->esId() == 0) return entry(i)->hintValue();
  }
  return 0;
}

void SampleDescriptionAtom::renderFields(std::ostream& out) const { writeU32(out, entryCount()); }

}  // namespace fileformat
