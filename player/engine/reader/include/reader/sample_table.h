// The sample table of an audio or video track: its tables, its sample
// descriptions with their sample entries, and sample access by index and by
// time. Lookups use run and chunk indexes built once at open, so reading a
// whole track costs time linear in its length.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "reader/descriptors.h"
#include "reader/grow_array.h"
#include "reader/mp4_atom.h"
#include "reader/shared_wide_string.h"

namespace reader {

// The caller's record for reading several samples at once.
struct SampleRequest {
  static constexpr uint32_t kMaxBuffers = 15;
  static constexpr uint32_t kMaxSlots = 32;
  struct Buffer {
    uint32_t capacity;
    uint8_t* data;
  };
  struct Slot {
    uint32_t size;
    uint32_t timeStamp;
    uint32_t descriptionIndex;
    uint32_t extra;
  };
  uint32_t lead = 0;
  uint32_t bufferCount = 0;  // at most kMaxBuffers
  Buffer buffers[kMaxBuffers] = {};
  Slot slots[kMaxSlots] = {};
};

class Mp4SampleEntry : public Mp4Atom {
 public:
  // readBase: the six reserved bytes and the data reference index follow the
  // header (false for entries that are only skipped).
  Mp4SampleEntry(Mp4Stream& s, uint64_t limit, bool readBase);
  virtual uint16_t EsId() const { return 0; }
  virtual const EsDescriptor* Esd() const { return nullptr; }
  // The decoder configuration and its specific info, or null.
  const DecoderConfigDescriptor* DecoderConfig() const;
  const DecoderSpecificInfo* Dsi() const;
  // -1 for an entry without an ES descriptor.
  int32_t ObjectTypeIndication() const;
  uint16_t dataReferenceIndex = 0;
};

// mp4v, mp4a and mp4s: fields, then a required esds.
class Mp4MpegSampleEntry : public Mp4SampleEntry {
 public:
  Mp4MpegSampleEntry(Mp4Stream& s, uint64_t limit);
  ~Mp4MpegSampleEntry() override { delete esds; }
  uint16_t EsId() const override;
  const EsDescriptor* Esd() const override { return esds ? esds->descriptor : nullptr; }
  Mp4EsdAtom* esds = nullptr;
  // Visual
  uint16_t width = 0, height = 0;
  uint32_t horizontalResolution = 0, verticalResolution = 0;
  uint16_t frameCount = 0, depth = 0;
  // Audio
  uint16_t channelCount = 0, sampleSize = 0;
  uint16_t sampleRate = 0, sampleRateFraction = 0;
};

// The maker's hint protocol entries (validated only; hint tracks are dropped).
class Mp4HintSampleEntry : public Mp4SampleEntry {
 public:
  Mp4HintSampleEntry(Mp4Stream& s, uint64_t limit);
  struct Record {
    uint8_t kind, flags;
    uint16_t word;
    uint32_t values[3];
    uint8_t last;
  };
  uint32_t count = 0;
  std::vector<Record> records;
};

// stsd
class Mp4SampleDescriptionAtom : public Mp4FullAtom {
 public:
  Mp4SampleDescriptionAtom(Mp4Stream& s, uint64_t limit, uint32_t handlerType);
  uint32_t entryCount = 0;
  uint32_t handlerType = 0;
  OwnedArray<Mp4SampleEntry> entries;
  bool hasAmrEntry = false;
  bool hasH263Entry = false;
};

// stts
class Mp4TimeToSampleAtom : public Mp4FullAtom {
 public:
  Mp4TimeToSampleAtom(Mp4Stream& s, uint64_t limit);
  std::vector<uint32_t> counts, deltas;
  std::vector<uint64_t> firstSample, startTime;  // per run; one more entry for the end
};

// stsz
class Mp4SampleSizeAtom : public Mp4FullAtom {
 public:
  Mp4SampleSizeAtom(Mp4Stream& s, uint64_t limit);
  uint32_t defaultSize = 0;
  uint32_t sampleCount = 0;
  std::vector<uint32_t> sizes;      // only when defaultSize is 0
  std::vector<uint64_t> sizesBefore;  // bytes of samples 0..n-1
  uint32_t largest = 0;
};

// stsc
class Mp4SampleToChunkAtom : public Mp4FullAtom {
 public:
  Mp4SampleToChunkAtom(Mp4Stream& s, uint64_t limit);
  std::vector<uint32_t> firstChunk;  // 0-based relative to the first entry
  std::vector<uint32_t> samplesPerChunk;
  std::vector<uint32_t> descriptionIndex;
};

// stco
class Mp4ChunkOffsetAtom : public Mp4FullAtom {
 public:
  Mp4ChunkOffsetAtom(Mp4Stream& s, uint64_t limit);
  std::vector<uint32_t> offsets;
};

// stss
class Mp4SyncSampleAtom : public Mp4FullAtom {
 public:
  Mp4SyncSampleAtom(Mp4Stream& s, uint64_t limit);
  GrowArray<uint32_t> samples;  // 1-based
};

class Mp4SampleTable : public Mp4Atom {
 public:
  Mp4SampleTable(Mp4Stream& s, uint64_t limit, uint32_t handlerType, SharedWideString* path);
  ~Mp4SampleTable() override;

  // Size read; minus the size when capacity is too small (nothing read); 0 at
  // the end or when a table is missing; -1 when the file cannot be read.
  int32_t ReadNextSample(uint8_t* buffer, uint32_t capacity, uint32_t* descriptionIndex);
  // Reads the next count samples into the request's buffers (count in/out).
  int32_t ReadSamples(uint32_t& count, SampleRequest& request);
  // Size, time and description of the next count samples, without reading.
  int32_t PeekSamples(uint32_t& count, SampleRequest& request) const;
  // Positions at media time t (start offset included); returns the new
  // position's time. flag: step past the sample at t (see the source).
  uint32_t Seek(uint32_t t, bool flag);
  void Reset();

  int64_t SampleTime(uint64_t n) const;   // without the start offset; -1 past the table
  int64_t SampleSize(uint64_t n) const;   // -1 past the table
  int64_t SampleAtTime(uint64_t t) const;  // -1 when there is none

  int32_t ObjectTypeIndication() const;
  uint32_t MaxBufferSize() const;
  uint32_t AverageBitrate() const;
  uint32_t LargestSampleSize() const { return stsz ? stsz->largest : 0; }
  const Mp4SampleEntry* Entry(uint32_t i) const;
  const DecoderSpecificInfo* DecoderInfo(uint32_t i) const;
  uint32_t SampleCount() const { return stsz ? stsz->sampleCount : 0; }

  uint32_t handlerType = 0;
  uint32_t position = 0;            // next sample, 0-based
  uint32_t currentTime = 0;         // media time of the last sample read
  uint32_t startOffset = 0;         // from the edit list
  uint32_t currentDescription = 0;  // 0-based

  Mp4TimeToSampleAtom* stts = nullptr;
  Mp4SampleDescriptionAtom* stsd = nullptr;
  Mp4SampleSizeAtom* stsz = nullptr;
  Mp4SampleToChunkAtom* stsc = nullptr;
  Mp4ChunkOffsetAtom* stco = nullptr;
  Mp4SyncSampleAtom* stss = nullptr;

 private:
  struct ChunkRef {
    uint32_t chunk;
    uint64_t first;
    uint32_t samples;
    uint32_t description;
  };
  bool BuildChunkIndex();
  bool ChunkOf(uint64_t n, ChunkRef& out) const;
  uint64_t BytesBefore(uint64_t n, uint64_t chunkFirst) const;
  bool OpenMedia();
  uint32_t TimeAt(uint64_t n) const;  // start offset plus the time of sample n

  SharedWideString* path_ = nullptr;
  std::FILE* media_ = nullptr;
  std::vector<uint64_t> chunkFirstSample_;
  std::vector<uint32_t> chunkSamples_;
  std::vector<uint32_t> chunkDescription_;
};

}  // namespace reader
