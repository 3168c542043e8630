// stbl: indexes a track's samples and reads them back from the file the
// samples were spooled to.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "fileformat/sample_buffer.h"
#include "fileformat/sample_description_atom.h"
#include "fileformat/sample_tables.h"

namespace fileformat {

class SampleTableAtom : public ContainerAtom {
 public:
  static constexpr uint32_t kReadBufferSize = 32728;

  SampleTableAtom(uint32_t handlerType, uint32_t mediaKind, uint32_t protocol);
  ~SampleTableAtom() override;

  // The general path: the flag byte selects the description (audio modes)
  // and the sync status.
  void addSample(uint32_t mediaType, const uint8_t* data, uint32_t size, uint32_t time,
                 uint32_t flags);
  // The video-sample route: no description lookup, every sample is a sync sample.
  void addVideoSample(uint32_t mediaType, const uint8_t* data, uint32_t size, uint32_t time,
                      uint32_t extra);

  // Where the samples live: a file and the position of the first payload
  // byte in it (chunk offsets count from there until the base is applied).
  void setMediaFile(std::u16string name, uint32_t payloadStart);

  // Sample n (from 0) in a pooled buffer the caller releases; null when n is
  // out of range, the file cannot be read, or the sample exceeds the buffer.
  SampleBuffer* readSample(uint32_t n);
  // The size read, -size when the caller's buffer is too small (nothing is
  // read), 0 when n is out of range or the read fails.
  int64_t readSampleInto(uint32_t n, uint8_t* buffer, uint32_t capacity);
  SampleBuffer* readNextSample();
  int64_t readNextSampleInto(uint8_t* buffer, uint32_t capacity);
  SampleBuffer* seekToTime(uint32_t t);
  int64_t seekToTimeInto(uint32_t t, uint8_t* buffer, uint32_t capacity);
  const HintRecord* hintRecordAtCurrent() const;
  const HintRecord* hintRecordBeforeCurrent() const;
  int64_t seekToHintRecord(uint32_t k);
  uint64_t currentTime() const { return currentTime_; }

  TimeToSampleAtom* stts() const { return stts_; }
  SampleDescriptionAtom* stsd() const { return stsd_; }
  SampleSizeAtom* stsz() const { return stsz_; }
  SampleToChunkAtom* stsc() const { return stsc_; }
  ChunkOffsetAtom* stco() const { return stco_; }
  SyncSampleAtom* stss() const { return stss_; }

 private:
  // File position and size of sample n; false when a lookup fails.
  bool locate(uint32_t n, uint64_t* position, uint32_t* size) const;
  bool readAt(uint64_t position, uint8_t* buffer, uint32_t size);
  int64_t syncSampleAt(uint32_t t);
  void advanceTime();

  TimeToSampleAtom* stts_;
  SampleDescriptionAtom* stsd_;
  SampleSizeAtom* stsz_;
  ChunkOffsetAtom* stco_;
  SampleToChunkAtom* stsc_;
  SyncSampleAtom* stss_ = nullptr;

  std::u16string mediaFile_;
  uint32_t payloadStart_ = 0;
  int64_t current_ = 0;
  uint64_t currentTime_ = 0;
  std::unique_ptr<SampleBufferPool> pool_;
  std::FILE* input_ = nullptr;
  bool inputTried_ = false;
};

}  // namespace fileformat
