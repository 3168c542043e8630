#include <algorithm>

#include "file_io.h"
#include "platform/os.h"
#include "v2reader/mpeg4_file_v2_reader.h"

namespace v2reader {

SampleTable::~SampleTable() { Close(); }

void SampleTable::Close() {
  if (file) std::fclose(file);
  file = nullptr;
}

void SampleTable::Derive() {
  uint64_t sample = 0, time = 0;
  for (TimeRun& r : stts) {
    r.firstSample = sample;
    r.firstTime = time;
    sample += r.count;
    time += uint64_t(r.count) * r.delta;
  }
  // Runs whose first chunk does not grow are unusable: later lookups stop there.
  for (size_t i = 1; i < stsc.size(); ++i) {
    if (stsc[i].firstChunk <= stsc[i - 1].firstChunk) {
      stsc.resize(i);
      break;
    }
  }
  sample = 0;
  for (size_t i = 0; i < stsc.size(); ++i) {
    stsc[i].firstSample = sample;
    uint64_t chunks = i + 1 < stsc.size() ? stsc[i + 1].firstChunk - stsc[i].firstChunk
                                          : (stco.size() >= stsc[i].firstChunk ? stco.size() - stsc[i].firstChunk + 1 : 0);
    sample += chunks * stsc[i].samplesPerChunk;
  }
  if (constantSize == 0) {
    sizeSums.assign(sizes.size() + 1, 0);
    for (size_t i = 0; i < sizes.size(); ++i) sizeSums[i + 1] = sizeSums[i] + sizes[i];
  }
}

uint32_t SampleTable::SizeOf(uint32_t n) const {
  if (n >= sampleCount) return 0;
  if (constantSize) return constantSize;
  return n < sizes.size() ? sizes[n] : 0;
}

uint32_t SampleTable::DeltaOf(uint32_t n) const {
  auto it = std::upper_bound(stts.begin(), stts.end(), uint64_t(n),
                             [](uint64_t s, const TimeRun& r) { return s < r.firstSample; });
  if (it == stts.begin()) return 0;
  --it;
  return n - it->firstSample < it->count ? it->delta : 0;
}

uint64_t SampleTable::TimeOf(uint32_t n) const {
  auto it = std::upper_bound(stts.begin(), stts.end(), uint64_t(n),
                             [](uint64_t s, const TimeRun& r) { return s < r.firstSample; });
  if (it == stts.begin()) return 0;
  --it;
  uint64_t in = std::min<uint64_t>(n - it->firstSample, it->count);
  return it->firstTime + in * it->delta;
}

uint32_t SampleTable::SampleAtTime(uint64_t t) const {
  auto it = std::upper_bound(stts.begin(), stts.end(), t,
                             [](uint64_t v, const TimeRun& r) { return v < r.firstTime; });
  if (it == stts.begin()) return 0;
  --it;
  uint64_t in = it->delta ? (t - it->firstTime) / it->delta : 0;
  if (in >= it->count) in = it->count ? it->count - 1 : 0;
  uint64_t n = it->firstSample + in;
  if (sampleCount && n >= sampleCount) n = sampleCount - 1;
  return static_cast<uint32_t>(n);
}

uint32_t SampleTable::SyncAtOrBefore(uint32_t n) const {
  // Without a sync table every sample is a sync sample.
  if (!hasSyncTable) return n;
  uint32_t best = 0;
  for (uint32_t s : syncSamples) {
    if (s == 0) continue;
    if (s - 1 <= n) best = std::max(best, s - 1);
  }
  return best;
}

int32_t SampleTable::Read(uint32_t n, uint8_t* buf, int32_t size) {
  uint32_t bytes = SizeOf(n);
  if (bytes == 0 || bytes > INT32_MAX) return 0;
  if (size < 0 || uint32_t(size) < bytes) return -int32_t(bytes);
  if (stsc.empty()) return 0;
  auto run = std::upper_bound(stsc.begin(), stsc.end(), uint64_t(n),
                              [](uint64_t s, const ChunkRun& r) { return s < r.firstSample; });
  if (run == stsc.begin()) return 0;
  --run;
  if (run->samplesPerChunk == 0) return 0;
  uint64_t chunk = run->firstChunk + (n - run->firstSample) / run->samplesPerChunk;  // 1-based
  uint64_t first = run->firstSample + (n - run->firstSample) / run->samplesPerChunk * run->samplesPerChunk;
  if (chunk == 0 || chunk > stco.size()) return 0;
  uint64_t offset = stco[chunk - 1];
  if (constantSize) {
    offset += (n - first) * uint64_t(constantSize);
  } else {
    if (n >= sizes.size()) return 0;
    offset += sizeSums[n] - sizeSums[first];
  }
  if (!file) {
    file = platform::openFile(fileName, "rb");
    if (!file) return 0;
    fileLength = LengthOf(file);
  }
  if (offset > fileLength || bytes > fileLength - offset) return 0;
  if (!SeekTo(file, offset) || std::fread(buf, 1, bytes, file) != bytes) return 0;
  return int32_t(bytes);
}

int32_t SampleTable::Next(uint8_t* buf, int32_t size) {
  int32_t got = Read(cursor, buf, size);
  if (got > 0) {
    currentTime = cursor == 0 ? startTime : currentTime + DeltaOf(cursor - 1);
    ++cursor;
  }
  return got;
}

}  // namespace v2reader
