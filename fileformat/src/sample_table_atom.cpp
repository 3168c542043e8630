#include "fileformat/sample_table_atom.h"

#include "fileformat/render.h"
#include "platform/os.h"

namespace fileformat {

SampleTableAtom::SampleTableAtom(uint32_t handlerType, uint32_t mediaKind, uint32_t protocol)
    : ContainerAtom(fourcc("stbl")) {
  recomputeSize();
  // Children in their written order.
  stts_ = adopt(std::make_unique<TimeToSampleAtom>(handlerType));
  stsz_ = adopt(std::make_unique<SampleSizeAtom>(handlerType));
  stco_ = adopt(std::make_unique<ChunkOffsetAtom>(handlerType));
  stsc_ = adopt(std::make_unique<SampleToChunkAtom>(handlerType));
  stsd_ = adopt(std::make_unique<SampleDescriptionAtom>(handlerType, mediaKind, protocol));
  if (handlerType == fourcc("vide")) stss_ = adopt(std::make_unique<SyncSampleAtom>());
}

SampleTableAtom::~SampleTableAtom() {
  if (input_) std::fclose(input_);
}

void SampleTableAtom::addSample(uint32_t mediaType, const uint8_t* data, uint32_t size,
                                uint32_t time, uint32_t flags) {
  if (HintSampleEntry* hint = stsd_->hintEntry()) {
    if (mediaType == fourcc("soun") && data && size) {
      // The record takes the flag's mode; the caller's sample stays as given.
      hint->addAudioRecord(static_cast<uint8_t>((data[0] & 0xF0) | (flags & 0x0F)), size, time);
    } else if (mediaType == fourcc("vide")) {
      hint->addVideoRecord(size, time, static_cast<uint8_t>(flags));
    }
    return;
  }
  stts_->add(time);
  uint32_t index = stsd_->addSample(data, size, static_cast<uint8_t>(flags));
  stsz_->add(size);
  bool newChunk = stsc_->add(index, size);
  stco_->add(size, newChunk);
  if (stss_) stss_->add(flags);
}

void SampleTableAtom::addVideoSample(uint32_t mediaType, const uint8_t*, uint32_t size,
                                     uint32_t time, uint32_t extra) {
  if (HintSampleEntry* hint = stsd_->hintEntry()) {
    if (mediaType == fourcc("vide")) hint->addVideoRecord2(size, time, static_cast<uint8_t>(extra));
    return;
  }
  stts_->add(time);
  stsz_->add(size);
  bool newChunk = stsc_->add(1, size);
  stco_->add(size, newChunk);
  if (stss_) stss_->add(0);
}

void SampleTableAtom::setMediaFile(std::u16string name, uint32_t payloadStart) {
  mediaFile_ = std::move(name);
  payloadStart_ = payloadStart;
  if (input_) std::fclose(input_);
  input_ = nullptr;
  inputTried_ = false;
}

bool SampleTableAtom::locate(uint32_t n, uint64_t* position, uint32_t* size) const {
  int64_t sz = stsz_->sampleSize(n);
  if (sz < 0) return false;
  uint32_t chunk = stsc_->chunkOfSample(n);
  int64_t offset = stco_->offsetOf(chunk);
  if (offset < 0) return false;
  uint64_t pos = uint64_t(offset) + payloadStart_;
  for (uint32_t s = stsc_->firstSampleOfChunk(chunk); s < n; ++s) {
    int64_t earlier = stsz_->sampleSize(s);
    if (earlier < 0) return false;
    pos += uint64_t(earlier);
  }
  *position = pos;
  *size = static_cast<uint32_t>(sz);
  return true;
}

bool SampleTableAtom::readAt(uint64_t position, uint8_t* buffer, uint32_t size) {
  if (!inputTried_) {
    inputTried_ = true;
    input_ = platform::openFile(mediaFile_, "rb");
  }
  if (!input_ || position > uint64_t(INT32_MAX) ||
      std::fseek(input_, static_cast<long>(position), SEEK_SET) != 0) {
    return false;
  }
  return std::fread(buffer, 1, size, input_) == size;
}

SampleBuffer* SampleTableAtom::readSample(uint32_t n) {
  uint64_t pos;
  uint32_t size;
  // A sample larger than a pool buffer is refused, never cut short.
  if (!locate(n, &pos, &size) || size > kReadBufferSize) return nullptr;
  if (!pool_) pool_ = std::make_unique<SampleBufferPool>(kReadBufferSize, 1);
  SampleBuffer* b = pool_->acquire();
  if (!readAt(pos, b->data(), size)) {
    b->release();
    return nullptr;
  }
  b->length = size;
  return b;
}

int64_t SampleTableAtom::readSampleInto(uint32_t n, uint8_t* buffer, uint32_t capacity) {
  uint64_t pos;
  uint32_t size;
  if (!locate(n, &pos, &size)) return 0;
  if (size > capacity) return -int64_t(size);
  return readAt(pos, buffer, size) ? int64_t(size) : 0;
}

void SampleTableAtom::advanceTime() {
  if (current_ > 0) {
    int64_t d = stts_->durationOfSample(static_cast<uint32_t>(current_));
    if (d > 0) currentTime_ += uint64_t(d);
  }
}

SampleBuffer* SampleTableAtom::readNextSample() {
  advanceTime();
  SampleBuffer* b = readSample(static_cast<uint32_t>(current_));
  ++current_;
  return b;
}

int64_t SampleTableAtom::readNextSampleInto(uint8_t* buffer, uint32_t capacity) {
  advanceTime();
  int64_t r = readSampleInto(static_cast<uint32_t>(current_), buffer, capacity);
  if (r >= 1) ++current_;
  return r;
}

int64_t SampleTableAtom::syncSampleAt(uint32_t t) {
  int64_t s = stts_->sampleAtTime(t);
  if (s < 0 || !stss_) return -1;
  int64_t k = stss_->syncAtOrAfter(static_cast<uint32_t>(s));
  if (k < 0) return -1;
  currentTime_ = stts_->timeOfSample(static_cast<uint32_t>(k));
  current_ = k + 1;
  return k;
}

SampleBuffer* SampleTableAtom::seekToTime(uint32_t t) {
  int64_t k = syncSampleAt(t);
  return k < 0 ? nullptr : readSample(static_cast<uint32_t>(k));
}

int64_t SampleTableAtom::seekToTimeInto(uint32_t t, uint8_t* buffer, uint32_t capacity) {
  int64_t k = syncSampleAt(t);
  return k < 0 ? 0 : readSampleInto(static_cast<uint32_t>(k), buffer, capacity);
}

const HintRecord* SampleTableAtom::hintRecordAtCurrent() const {
  HintSampleEntry* hint = stsd_->hintEntry();
  return hint && current_ >= 0 ? hint->record(static_cast<size_t>(current_)) : nullptr;
}

const HintRecord* SampleTableAtom::hintRecordBeforeCurrent() const {
  HintSampleEntry* hint = stsd_->hintEntry();
  return hint && current_ >= 1 ? hint->record(static_cast<size_t>(current_ - 1)) : nullptr;
}

int64_t SampleTableAtom::seekToHintRecord(uint32_t k) {
  HintSampleEntry* hint = stsd_->hintEntry();
  current_ = hint ? hint->indexOfClassZeroRecord(k) : 0;
  return current_;
}

}  // namespace fileformat
