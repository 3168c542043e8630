// The five tables of a track's sample table: stts, stsz, stsc, stco, stss.
// Each is constructed with the track's handler type, which decides which
// samples it records.
#pragma once

#include <cstdint>
#include <vector>

#include "fileformat/atom.h"

namespace fileformat {

class TimeToSampleAtom : public FullAtom {
 public:
  explicit TimeToSampleAtom(uint32_t handlerType);
  void add(uint32_t time);
  // First sample whose decode time is at or after t; -1 past the end.
  int64_t sampleAtTime(uint32_t t) const;
  // Sum of the deltas of the first n samples.
  uint64_t timeOfSample(uint32_t n) const;
  // Delta of sample n counted from 1; 0 for n = 0, -1 past the end.
  int64_t durationOfSample(uint32_t n) const;

  struct Entry {
    uint32_t count, delta;
  };
  // The entries as written: the last sample, which has no successor to give
  // it a delta, is counted into the last entry.
  std::vector<Entry> completedEntries() const;

 protected:
  uint64_t bodySize() const override {
    bool lone = isMedia() && entries_.empty() && samples_ > 0;
    return 4 + 8 * (uint64_t(entries_.size()) + (lone ? 1 : 0));
  }
  void renderBody(std::ostream& out) const override;

 private:
  void appendDelta(uint32_t delta);
  bool isMedia() const;

  std::vector<Entry> entries_;
  uint32_t handlerType_;
  uint32_t lastTime_ = 0;
  bool firstPending_ = true;
  uint32_t samples_ = 0;
};

class SampleSizeAtom : public FullAtom {
 public:
  explicit SampleSizeAtom(uint32_t handlerType);
  void add(uint32_t size);
  // Size of sample i from the list; -1 beyond it (use commonSize when set).
  int64_t sizeOf(uint32_t i) const;
  // Size of sample i whatever the form; -1 beyond the samples.
  int64_t sampleSize(uint32_t i) const;
  uint32_t commonSize() const { return commonSize_; }
  uint32_t sampleCount() const { return count_; }

 protected:
  uint64_t bodySize() const override { return 8 + (commonSize_ ? 0 : 4 * uint64_t(sizes_.size())); }
  void renderBody(std::ostream& out) const override;

 private:
  uint32_t commonSize_ = 0;
  uint32_t count_ = 0;
  std::vector<uint32_t> sizes_;
  uint32_t handlerType_;
};

class SampleToChunkAtom : public FullAtom {
 public:
  static constexpr uint32_t kChunkSampleLimit = 20;
  static constexpr uint32_t kChunkByteLimit = 10240;

  explicit SampleToChunkAtom(uint32_t handlerType);
  // Returns whether the sample starts a new chunk.
  bool add(uint32_t descriptionIndex, uint32_t size);
  uint32_t chunkOfSample(uint32_t s) const;
  uint32_t firstSampleOfChunk(uint32_t c) const;

  struct Entry {
    uint32_t firstChunk, samplesPerChunk, descriptionIndex;  // firstChunk from 0
  };
  const std::vector<Entry>& entries() const { return entries_; }

 protected:
  uint64_t bodySize() const override { return 4 + 12 * uint64_t(entries_.size()); }
  void renderBody(std::ostream& out) const override;

 private:
  std::vector<Entry> entries_;
  uint32_t handlerType_;
  uint32_t samplesInChunk_ = 0;
  uint32_t bytesInChunk_ = 0;
  uint32_t nextChunk_ = 0;
  uint32_t previousIndex_ = 0;
};

class ChunkOffsetAtom : public FullAtom {
 public:
  explicit ChunkOffsetAtom(uint32_t handlerType);
  void add(uint32_t size, bool startsNewChunk);
  // Adds the media data's position in the file to every entry, once.
  void applyBase(uint32_t base);
  int64_t offsetOf(uint32_t c) const;
  uint32_t entryCount() const { return static_cast<uint32_t>(offsets_.size()); }
  uint32_t runningOffset() const { return runningOffset_; }

 protected:
  uint64_t bodySize() const override { return 4 + 4 * uint64_t(offsets_.size()); }
  void renderBody(std::ostream& out) const override;

 private:
  std::vector<uint32_t> offsets_;
  uint32_t handlerType_;
  uint32_t runningOffset_ = 0;
  bool basePending_ = true;
};

class SyncSampleAtom : public FullAtom {
 public:
  SyncSampleAtom();
  // Flag bits 2 and 3 mark a sample that is not a sync sample.
  void add(uint32_t flags);
  // First sync sample at or after s; 0 for s = 0; -1 when none.
  int64_t syncAtOrAfter(uint32_t s) const;
  const std::vector<uint32_t>& syncSamples() const { return syncs_; }

 protected:
  uint64_t bodySize() const override { return 4 + 4 * uint64_t(syncs_.size()); }
  void renderBody(std::ostream& out) const override;

 private:
  std::vector<uint32_t> syncs_;  // from 0; written from 1
  uint32_t samplesSeen_ = 0;
};

}  // namespace fileformat
