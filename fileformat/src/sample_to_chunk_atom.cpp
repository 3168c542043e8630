#include "fileformat/render.h"
#include "fileformat/sample_tables.h"

namespace fileformat {

SampleToChunkAtom::SampleToChunkAtom(uint32_t handlerType)
    : FullAtom(fourcc("stsc"), 0, 0), handlerType_(handlerType) {
  recomputeSize();
}

bool SampleToChunkAtom::add(uint32_t descriptionIndex, uint32_t size) {
  bool newChunk;
  if (descriptionIndex != previousIndex_) {
    previousIndex_ = descriptionIndex;
    newChunk = true;
  } else if (entries_.empty() || samplesInChunk_ == kChunkSampleLimit) {
    newChunk = true;
  } else {
    ++samplesInChunk_;
    newChunk = false;
    bool byteLimited = handlerType_ == fourcc("odsm") || handlerType_ == fourcc("soun") ||
                       handlerType_ == fourcc("vide");
    if (byteLimited && uint64_t(bytesInChunk_) + size > kChunkByteLimit) {
      newChunk = true;
    } else {
      bytesInChunk_ += size;
    }
  }
  if (!newChunk) {
    ++entries_.back().samplesPerChunk;
    return false;
  }
  samplesInChunk_ = 1;
  bytesInChunk_ = size;
  size_t n = entries_.size();
  // A run equal to the one before it is covered by that one.
  if (n >= 2 && entries_[n - 1].samplesPerChunk == entries_[n - 2].samplesPerChunk &&
      entries_[n - 1].descriptionIndex == entries_[n - 2].descriptionIndex) {
    entries_.back() = {nextChunk_, 1, descriptionIndex};
  } else {
    entries_.push_back({nextChunk_, 1, descriptionIndex});
  }
  ++nextChunk_;
  recomputeSize();
  return true;
}

uint32_t SampleToChunkAtom::chunkOfSample(uint32_t s) const {
  uint64_t first = 0;  // first sample of the run
  for (size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    if (e.samplesPerChunk == 0) continue;
    bool last = i + 1 == entries_.size();
    uint64_t chunks = last ? UINT32_MAX : entries_[i + 1].firstChunk - e.firstChunk;
    uint64_t samples = chunks * e.samplesPerChunk;
    if (last || s < first + samples) return e.firstChunk + static_cast<uint32_t>((s - first) / e.samplesPerChunk);
    first += samples;
  }
  return 0;
}

uint32_t SampleToChunkAtom::firstSampleOfChunk(uint32_t c) const {
  uint64_t first = 0;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    bool last = i + 1 == entries_.size();
    if (last || c < entries_[i + 1].firstChunk) {
      return static_cast<uint32_t>(first + uint64_t(c - e.firstChunk) * e.samplesPerChunk);
    }
    first += uint64_t(entries_[i + 1].firstChunk - e.firstChunk) * e.samplesPerChunk;
  }
  return 0;
}

void SampleToChunkAtom::renderBody(std::ostream& out) const {
  writeU32(out, static_cast<uint32_t>(entries_.size()));
  for (const Entry& e : entries_) {
    writeU32(out, e.firstChunk + 1);
    writeU32(out, e.samplesPerChunk);
    writeU32(out, e.descriptionIndex);
  }
}

}  // namespace fileformat
