#include "fileformat/render.h"
#include "fileformat/sample_tables.h"

namespace fileformat {

TimeToSampleAtom::TimeToSampleAtom(uint32_t handlerType)
    : FullAtom(fourcc("stts"), 0, 0), handlerType_(handlerType) {
  recomputeSize();
}

bool TimeToSampleAtom::isMedia() const {
  return handlerType_ == fourcc("soun") || handlerType_ == fourcc("vide") ||
         handlerType_ == fourcc("ipsm");
}

void TimeToSampleAtom::add(uint32_t time) {
  if (isMedia()) {
    ++samples_;
    if (firstPending_) {
      firstPending_ = false;
      lastTime_ = time;
      recomputeSize();  // a lone sample already has its entry
      return;
    }
    uint32_t delta = time - lastTime_;
    lastTime_ = time;
    appendDelta(delta);
  } else if (handlerType_ == fourcc("sdsm") || handlerType_ == fourcc("odsm")) {
    if (!firstPending_) return;
    firstPending_ = false;
    lastTime_ = time;
    appendDelta(0);
  }
}

void TimeToSampleAtom::appendDelta(uint32_t delta) {
  if (entries_.empty() || entries_.back().delta != delta) {
    entries_.push_back({1, delta});
  } else {
    ++entries_.back().count;
  }
  recomputeSize();
}

std::vector<TimeToSampleAtom::Entry> TimeToSampleAtom::completedEntries() const {
  std::vector<Entry> e = entries_;
  if (isMedia()) {
    // Media tracks count every sample, so the table always agrees with stsz;
    // a one-sample track gets (1, 0).
    if (e.empty()) {
      if (samples_) e.push_back({1, 0});
    } else {
      ++e.back().count;
    }
  } else if (e.size() >= 2 || (e.size() == 1 && int32_t(e[0].delta) >= 1)) {
    ++e.back().count;
  }
  return e;
}

int64_t TimeToSampleAtom::sampleAtTime(uint32_t t) const {
  uint64_t time = 0;
  uint32_t sample = 0;
  for (const Entry& e : completedEntries()) {
    if (e.delta == 0) {
      if (time >= t) return sample;
      sample += e.count;
      continue;
    }
    if (time + uint64_t(e.count) * e.delta > t) {
      uint64_t k = time >= t ? 0 : (t - time + e.delta - 1) / e.delta;
      return sample + static_cast<int64_t>(k);
    }
    time += uint64_t(e.count) * e.delta;
    sample += e.count;
  }
  return -1;
}

uint64_t TimeToSampleAtom::timeOfSample(uint32_t n) const {
  uint64_t time = 0;
  for (const Entry& e : completedEntries()) {
    uint32_t k = n < e.count ? n : e.count;
    time += uint64_t(k) * e.delta;
    n -= k;
    if (n == 0) break;
  }
  return time;
}

int64_t TimeToSampleAtom::durationOfSample(uint32_t n) const {
  if (n == 0) return 0;
  uint32_t i = n - 1;
  for (const Entry& e : completedEntries()) {
    if (i < e.count) return e.delta;
    i -= e.count;
  }
  return -1;
}

void TimeToSampleAtom::renderBody(std::ostream& out) const {
  std::vector<Entry> e = completedEntries();
  writeU32(out, static_cast<uint32_t>(e.size()));
  for (const Entry& x : e) {
    writeU32(out, x.count);
    writeU32(out, x.delta);
  }
}

}  // namespace fileformat
