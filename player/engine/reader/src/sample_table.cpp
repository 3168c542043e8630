#include "reader/sample_table.h"

#include <algorithm>

#include "platform/os.h"

namespace reader {

// ---- sample entries -------------------------------------------------------

Mp4SampleEntry::Mp4SampleEntry(Mp4Stream& s, uint64_t limit, bool readBase) : Mp4Atom(s, limit) {
  uint8_t reserved[6];
  if (!ok_ || (readBase && (!s.ReadBytes(reserved, 6) || !s.ReadU16(dataReferenceIndex) || s.tell() > end_)))
    Fail(READ_SAMPLE_ENTRY_FAILED);
}

const DecoderConfigDescriptor* Mp4SampleEntry::DecoderConfig() const {
  const EsDescriptor* esd = Esd();
  return esd ? esd->decoderConfig : nullptr;
}

const DecoderSpecificInfo* Mp4SampleEntry::Dsi() const {
  const DecoderConfigDescriptor* dc = DecoderConfig();
  return dc ? dc->info : nullptr;
}

int32_t Mp4SampleEntry::ObjectTypeIndication() const {
  const DecoderConfigDescriptor* dc = DecoderConfig();
  return dc ? dc->objectTypeIndication : -1;
}

uint16_t Mp4MpegSampleEntry::EsId() const { return Esd() ? Esd()->esId : 0; }

Mp4MpegSampleEntry::Mp4MpegSampleEntry(Mp4Stream& s, uint64_t limit) : Mp4SampleEntry(s, limit, true) {
  if (!ok_) return;
  int32_t code = READ_MPEG_SAMPLE_ENTRY_FAILED;
  bool read = true;
  uint32_t skip[4];
  if (type_ == FourCC("mp4v")) {
    code = READ_VISUAL_SAMPLE_ENTRY_FAILED;
    uint32_t reserved;
    uint16_t preDefined;
    char compressor[32];
    read = s.ReadBytes(skip, 16) && s.ReadTwoU16(width, height) && s.ReadU32(horizontalResolution) &&
           s.ReadU32(verticalResolution) && s.ReadU32(reserved) && s.ReadU16(frameCount) &&
           s.ReadBytes(compressor, 32) && s.ReadU16(depth) && s.ReadU16(preDefined);
  } else if (type_ == FourCC("mp4a")) {
    code = READ_AUDIO_SAMPLE_ENTRY_FAILED;
    uint32_t reserved;
    read = s.ReadBytes(skip, 8) && s.ReadU16(channelCount) && s.ReadU16(sampleSize) && s.ReadU32(reserved) &&
           s.ReadTwoU16(sampleRate, sampleRateFraction);
  }
  if (!read || s.PeekAtomType(end_) != FourCC("esds")) {
    Fail(code);
    return;
  }
  if (int32_t e = 0; !BuildInto(esds, e, code, s, end_)) {
    Fail(e);
    return;
  }
  Finish(s, code);
}

Mp4HintSampleEntry::Mp4HintSampleEntry(Mp4Stream& s, uint64_t limit) : Mp4SampleEntry(s, limit, true) {
  if (!ok_) return;
  constexpr int32_t kCode = READ_HINT_SAMPLE_ENTRY_FAILED;
  const bool krsi = type_ == FourCC("krsi"), krau = type_ == FourCC("krau");
  const bool video = type_ == FourCC("krbl") || type_ == FourCC("krss") || type_ == FourCC("krts");
  if (!krsi && !krau && !video) {
    Finish(s, kCode);
    return;
  }
  if (!s.ReadU32(count) || count == 0) {
    Fail(kCode);
    return;
  }
  Record r{};
  uint64_t skip = 0;
  if (krsi) {
    if (!s.ReadByte(r.kind) || !s.ReadU32(r.values[0]) || !s.ReadU32(r.values[1]) || !s.ReadU32(r.values[2]) ||
        !s.ReadByte(r.last)) {
      Fail(kCode);
      return;
    }
    records.push_back(r);
    skip = uint64_t(count) * 14 - 14;
  } else if (krau) {
    if (!s.ReadByte(r.kind) || !s.ReadU16(r.word) || !s.ReadU32(r.values[0]) || !s.ReadByte(r.last)) {
      Fail(READ_AUDIO_HINT_SAMPLE_FAILED);
      return;
    }
    records.push_back(r);
    skip = uint64_t(count) * 8 - 8;
  } else {
    if (count < 2) {
      Fail(READ_VIDEO_HINT_SAMPLE_FAILED);
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (!s.ReadByte(r.kind) || !s.ReadByte(r.flags) || !s.ReadU16(r.word) || !s.ReadU32(r.values[0]) ||
          !s.ReadByte(r.last)) {
        Fail(READ_VIDEO_HINT_SAMPLE_FAILED);
        return;
      }
      records.push_back(r);
    }
    skip = uint64_t(count - 2) * 9;
  }
  if (!s.SeekWithin(s.tell() + skip, end_)) {
    Fail(kCode);
    return;
  }
  Finish(s, kCode);
}

Mp4SampleDescriptionAtom::Mp4SampleDescriptionAtom(Mp4Stream& s, uint64_t limit, uint32_t handler)
    : Mp4FullAtom(s, limit), handlerType(handler) {
  constexpr int32_t kCode = READ_SAMPLE_DESCRIPTION_ATOM_FAILED;
  if (!ok_ || !s.ReadU32(entryCount) || entryCount == 0) {
    Fail(kCode);
    return;
  }
  const bool soun = handler == FourCC("soun"), vide = handler == FourCC("vide"), hint = handler == FourCC("hint");
  const bool systems = handler == FourCC("odsm") || handler == FourCC("sdsm") || handler == FourCC("mjsm") ||
                       handler == FourCC("m7sm") || handler == FourCC("ipsm") || handler == FourCC("crsm") ||
                       handler == FourCC("ocsm");
  // Each entry takes at least a header's bytes or fails, so a large count
  // ends at the atom's end.
  for (uint32_t i = 0; i < entryCount; ++i) {
    const uint32_t type = s.PeekAtomType(end_);
    if (!soun && !vide && !hint && !systems) {
      if (SkipBySize(s, end_) != 0) Fail(kCode);
      break;
    }
    if ((soun && type == FourCC("samr")) || (vide && type == FourCC("s263"))) {
      if (SkipBySize(s, end_) != 0) {
        Fail(kCode);
        return;
      }
      (soun ? hasAmrEntry : hasH263Entry) = true;
      continue;
    }
    Mp4SampleEntry* entry;
    if ((soun && type == FourCC("mp4a")) || (vide && type == FourCC("mp4v")) || (systems && type == FourCC("mp4s")))
      entry = BuildAtom<Mp4MpegSampleEntry>(s, end_);
    else if (hint)
      entry = BuildAtom<Mp4HintSampleEntry>(s, end_);
    else {
      // Another entry type: kept by its header only and skipped.
      const uint64_t at = s.tell();
      entry = BuildAtom<Mp4SampleEntry>(s, end_, false);
      if (entry && entry->ok() && !s.Seek(at + entry->size())) {
        delete entry;
        Fail(kCode);
        return;
      }
    }
    if (!entry || !entry->ok()) {
      Fail(entry ? entry->error() : READ_SAMPLE_ENTRY_FAILED);
      delete entry;
      return;
    }
    if (!entries.Adopt(entry)) {
      Fail(kCode);
      return;
    }
  }
  if (ok_) Finish(s, kCode);
}

// ---- tables ---------------------------------------------------------------

namespace {

// count entries of entryBytes each must fit in what is left of the atom.
bool Fits(const Mp4Stream& s, uint64_t end, uint32_t count, uint32_t entryBytes) {
  return s.tell() <= end && uint64_t(count) * entryBytes <= end - s.tell();
}

bool ReadWords(Mp4Stream& s, std::vector<uint32_t>& out, uint32_t n) {
  out.resize(n);
  for (auto& v : out)
    if (!s.ReadU32(v)) return false;
  return true;
}

}  // namespace

Mp4TimeToSampleAtom::Mp4TimeToSampleAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  constexpr int32_t kCode = READ_TIME_TO_SAMPLE_ATOM_FAILED;
  uint32_t n;
  if (!ok_ || !s.ReadU32(n) || !Fits(s, end_, n, 8)) {
    Fail(kCode);
    return;
  }
  counts.resize(n);
  deltas.resize(n);
  firstSample.resize(n + 1);
  startTime.resize(n + 1);
  for (uint32_t i = 0; i < n; ++i) {
    if (!s.ReadU32(counts[i]) || !s.ReadU32(deltas[i])) {
      Fail(kCode);
      return;
    }
    firstSample[i + 1] = firstSample[i] + counts[i];
    startTime[i + 1] = startTime[i] + uint64_t(counts[i]) * deltas[i];
  }
  Finish(s, kCode);
}

Mp4SampleSizeAtom::Mp4SampleSizeAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  constexpr int32_t kCode = READ_SAMPLE_SIZE_ATOM_FAILED;
  if (!ok_ || !s.ReadU32(defaultSize) || !s.ReadU32(sampleCount)) {
    Fail(kCode);
    return;
  }
  if (defaultSize != 0) {
    largest = sampleCount ? defaultSize : 0;
    Finish(s, kCode);
    return;
  }
  if (!Fits(s, end_, sampleCount, 4) || !ReadWords(s, sizes, sampleCount)) {
    Fail(kCode);
    return;
  }
  sizesBefore.resize(sizes.size() + 1);
  for (size_t i = 0; i < sizes.size(); ++i) {
    sizesBefore[i + 1] = sizesBefore[i] + sizes[i];
    largest = std::max(largest, sizes[i]);
  }
  Finish(s, kCode);
}

Mp4SampleToChunkAtom::Mp4SampleToChunkAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  constexpr int32_t kCode = READ_SAMPLE_TO_CHUNK_ATOM_FAILED;
  uint32_t n;
  if (!ok_ || !s.ReadU32(n) || !Fits(s, end_, n, 12)) {
    Fail(kCode);
    return;
  }
  firstChunk.resize(n);
  samplesPerChunk.resize(n);
  descriptionIndex.resize(n);
  uint32_t base = 0;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t first;
    if (!s.ReadU32(first) || !s.ReadU32(samplesPerChunk[i]) || !s.ReadU32(descriptionIndex[i])) {
      Fail(kCode);
      return;
    }
    if (i == 0) base = first;
    // Chunks without samples and runs going backwards would make every
    // lookup after them meaningless: refused at open.
    if (first < base || samplesPerChunk[i] == 0 || (i > 0 && first - base < firstChunk[i - 1])) {
      Fail(kCode);
      return;
    }
    firstChunk[i] = first - base;
  }
  Finish(s, kCode);
}

Mp4ChunkOffsetAtom::Mp4ChunkOffsetAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  uint32_t n;
  if (!ok_ || !s.ReadU32(n) || !Fits(s, end_, n, 4) || !ReadWords(s, offsets, n)) {
    Fail(READ_CHUNK_OFFSET_ATOM_FAILED);
    return;
  }
  Finish(s, READ_CHUNK_OFFSET_ATOM_FAILED);
}

Mp4SyncSampleAtom::Mp4SyncSampleAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  constexpr int32_t kCode = READ_SYNC_SAMPLE_ATOM_FAILED;
  uint32_t n;
  if (!ok_ || !s.ReadU32(n) || !Fits(s, end_, n, 4) || n > INT32_MAX / 4 || !samples.Reserve(int32_t(n))) {
    Fail(kCode);
    return;
  }
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t v;
    if (!s.ReadU32(v) || !samples.Append(v)) {
      Fail(kCode);
      return;
    }
  }
  Finish(s, kCode);
}

// ---- the sample table -----------------------------------------------------

Mp4SampleTable::Mp4SampleTable(Mp4Stream& s, uint64_t limit, uint32_t handler, SharedWideString* path)
    : Mp4Atom(s, limit), handlerType(handler), path_(path ? path->AddRef() : nullptr) {
  if (!ok_) {
    Fail(READ_SAMPLE_TABLE_ATOM_FAILED);
    return;
  }
  while (s.tell() < end_) {
    const uint32_t type = s.PeekAtomType(end_);
    int32_t code = 0;
    bool built = true;
    switch (type) {
      case FourCC("stts"): built = BuildInto(stts, code, READ_TIME_TO_SAMPLE_ATOM_FAILED, s, end_); break;
      case FourCC("stsz"): built = BuildInto(stsz, code, READ_SAMPLE_SIZE_ATOM_FAILED, s, end_); break;
      case FourCC("stsc"): built = BuildInto(stsc, code, READ_SAMPLE_TO_CHUNK_ATOM_FAILED, s, end_); break;
      case FourCC("stco"): built = BuildInto(stco, code, READ_CHUNK_OFFSET_ATOM_FAILED, s, end_); break;
      case FourCC("stss"): built = BuildInto(stss, code, READ_SYNC_SAMPLE_ATOM_FAILED, s, end_); break;
      case FourCC("stsd"):
        built = BuildInto(stsd, code, READ_SAMPLE_DESCRIPTION_ATOM_FAILED, s, end_, handler);
        break;
      case FourCC("ctts"):
        built = SkipBySize(s, end_) == 0;
        code = READ_SAMPLE_TABLE_ATOM_FAILED;
        break;
      case FourCC("udta"):
        built = SkipBySize(s, end_) == 0;
        code = READ_USER_DATA_ATOM_FAILED;
        break;
      default:
        // Children of other types are passed over inside the table.
        built = SkipBySize(s, end_) == 0;
        code = READ_SAMPLE_TABLE_ATOM_FAILED;
        break;
    }
    if (!built) {
      Fail(code);
      return;
    }
  }
  if (!stts || !stsd || !stsz || !stsc || !stco || !BuildChunkIndex()) {
    Fail(READ_SAMPLE_TABLE_ATOM_FAILED);
    return;
  }
  Finish(s, READ_SAMPLE_TABLE_ATOM_FAILED);
}

Mp4SampleTable::~Mp4SampleTable() {
  if (media_) std::fclose(media_);
  ReleaseText(path_);
  delete stts;
  delete stsd;
  delete stsz;
  delete stsc;
  delete stco;
  delete stss;
}

bool Mp4SampleTable::BuildChunkIndex() {
  const size_t chunks = stco->offsets.size();
  chunkFirstSample_.assign(chunks, 0);
  chunkSamples_.assign(chunks, 0);
  chunkDescription_.assign(chunks, 0);
  uint64_t sample = 0;
  const size_t runs = stsc->firstChunk.size();
  // Without runs no chunk has samples; there is nothing to find.
  if (runs == 0) {
    chunkFirstSample_.clear();
    chunkSamples_.clear();
    chunkDescription_.clear();
    return true;
  }
  for (size_t e = 0; e < runs; ++e) {
    const uint64_t from = stsc->firstChunk[e];
    const uint64_t to = std::min<uint64_t>(e + 1 < runs ? stsc->firstChunk[e + 1] : chunks, chunks);
    for (uint64_t c = from; c < to; ++c) {
      chunkFirstSample_[c] = sample;
      chunkSamples_[c] = stsc->samplesPerChunk[e];
      chunkDescription_[c] = stsc->descriptionIndex[e];
      sample += stsc->samplesPerChunk[e];
    }
  }
  return true;
}

bool Mp4SampleTable::ChunkOf(uint64_t n, ChunkRef& out) const {
  // Every chunk holds at least one sample (runs cover all chunks and empty
  // runs are refused), so the index is strictly increasing.
  auto it = std::upper_bound(chunkFirstSample_.begin(), chunkFirstSample_.end(), n);
  if (it == chunkFirstSample_.begin()) return false;
  const size_t c = static_cast<size_t>(it - chunkFirstSample_.begin()) - 1;
  if (n >= chunkFirstSample_[c] + chunkSamples_[c]) return false;
  out = {static_cast<uint32_t>(c), chunkFirstSample_[c], chunkSamples_[c], chunkDescription_[c]};
  return true;
}

uint64_t Mp4SampleTable::BytesBefore(uint64_t n, uint64_t chunkFirst) const {
  if (stsz->defaultSize) return (n - chunkFirst) * stsz->defaultSize;
  return stsz->sizesBefore[n] - stsz->sizesBefore[chunkFirst];
}

int64_t Mp4SampleTable::SampleSize(uint64_t n) const {
  if (!stsz) return -1;
  if (stsz->defaultSize) return n < stsz->sampleCount ? stsz->defaultSize : -1;
  return n < stsz->sizes.size() ? stsz->sizes[n] : -1;
}

int64_t Mp4SampleTable::SampleTime(uint64_t n) const {
  if (!stts) return -1;
  const auto& first = stts->firstSample;
  const size_t runs = stts->counts.size();
  if (n > first[runs]) return -1;
  if (n == first[runs]) return static_cast<int64_t>(stts->startTime[runs]);
  const size_t r = static_cast<size_t>(std::upper_bound(first.begin(), first.end(), n) - first.begin()) - 1;
  return static_cast<int64_t>(stts->startTime[r] + (n - first[r]) * stts->deltas[r]);
}

int64_t Mp4SampleTable::SampleAtTime(uint64_t t) const {
  if (!stts || stts->counts.empty()) return -1;
  const auto& start = stts->startTime;
  const size_t runs = stts->counts.size();
  if (t >= start[runs]) return handlerType == FourCC("vide") ? static_cast<int64_t>(stts->firstSample[runs]) : -1;
  const size_t r = static_cast<size_t>(std::upper_bound(start.begin(), start.end(), t) - start.begin()) - 1;
  // t < start[runs] makes run r one of positive length that holds t.
  return static_cast<int64_t>(stts->firstSample[r] + (t - start[r]) / stts->deltas[r]);
}

uint32_t Mp4SampleTable::TimeAt(uint64_t n) const {
  const int64_t t = SampleTime(n);
  return startOffset + static_cast<uint32_t>(t < 0 ? 0 : t);
}

bool Mp4SampleTable::OpenMedia() {
  if (media_) return true;
  if (!path_) return false;
  media_ = platform::openFile(path_->view(), "rb");
  return media_ != nullptr;
}

namespace {

bool ReadAt(std::FILE* f, uint64_t pos, uint8_t* out, uint32_t n) {
#ifdef _WIN32
  if (_fseeki64(f, static_cast<int64_t>(pos), SEEK_SET) != 0) return false;
#else
  if (fseeko(f, static_cast<off_t>(pos), SEEK_SET) != 0) return false;
#endif
  return std::fread(out, 1, n, f) == n;
}

uint32_t DescriptionOf(uint32_t index) { return index ? index - 1 : 0; }

}  // namespace

int32_t Mp4SampleTable::ReadNextSample(uint8_t* buffer, uint32_t capacity, uint32_t* descriptionIndex) {
  if (!stsz || !stts || !stsc || !stco) return 0;
  const uint32_t n = position;
  // The time is computed, not accumulated, so a retry after a too-small
  // buffer gives the same time.
  currentTime = TimeAt(n);
  if (n >= stsz->sampleCount) return 0;
  const int64_t size = SampleSize(n);
  if (size < 0) return 0;
  if (size > INT32_MAX) return -1;
  if (capacity < size) return -static_cast<int32_t>(size);
  ChunkRef chunk;
  if (!ChunkOf(n, chunk)) return 0;
  currentDescription = DescriptionOf(chunk.description);
  if (descriptionIndex) *descriptionIndex = currentDescription;
  if (!OpenMedia()) return -1;
  const uint64_t at = uint64_t(stco->offsets[chunk.chunk]) + BytesBefore(n, chunk.first);
  if (size > 0 && !ReadAt(media_, at, buffer, static_cast<uint32_t>(size))) return -1;
  position = n + 1;
  return static_cast<int32_t>(size);
}

int32_t Mp4SampleTable::ReadSamples(uint32_t& count, SampleRequest& r) {
  if (!stsz || !stts || !stsc || !stco) return -1;
  if (position >= stsz->sampleCount) {
    count = 0;
    return END_OF_TRACK;
  }
  uint32_t wanted = std::min(count, SampleRequest::kMaxSlots);
  const uint32_t bufferCount = std::min(r.bufferCount, SampleRequest::kMaxBuffers);
  uint32_t done = 0, buf = 0, fill = 0;
  int32_t result = EVERYTHING_FINE;
  while (wanted > 0) {
    ChunkRef chunk;
    if (!ChunkOf(position, chunk)) {
      result = INVALID_CHUNK_OFFSET;
      break;
    }
    const uint32_t left = static_cast<uint32_t>(chunk.first + chunk.samples - position);
    const uint32_t m = std::min({left, wanted, stsz->sampleCount - position});
    uint64_t total = 0;
    for (uint32_t j = 0; j < m; ++j) {
      const int64_t size = SampleSize(position + j);
      if (size < 0) {
        result = INVALID_SAMPLE_SIZE;
        break;
      }
      r.slots[done + j].size = static_cast<uint32_t>(size);
      r.slots[done + j].timeStamp = TimeAt(position + j);
      total += static_cast<uint64_t>(size);
    }
    if (result != EVERYTHING_FINE) break;
    if (!OpenMedia()) {
      result = FILE_OPEN_FAILED;
      break;
    }
    uint64_t at = uint64_t(stco->offsets[chunk.chunk]) + BytesBefore(position, chunk.first);
    while (total > 0) {
      if (buf >= bufferCount) {
        result = INSUFFICIENT_BUFFER_SIZE;
        break;
      }
      SampleRequest::Buffer& b = r.buffers[buf];
      const uint32_t room = b.capacity > fill ? b.capacity - fill : 0;
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(room, total));
      if (n > 0 && (!b.data || !ReadAt(media_, at, b.data + fill, n))) {
        result = READ_FAILED;
        break;
      }
      at += n;
      total -= n;
      fill += n;
      if (fill >= b.capacity) {
        ++buf;
        fill = 0;
      }
    }
    if (result != EVERYTHING_FINE) break;
    position += m;
    done += m;
    wanted -= m;
    if (position >= stsz->sampleCount) {
      result = END_OF_TRACK;
      break;
    }
  }
  if (result == EVERYTHING_FINE || result == END_OF_TRACK) {
    if (done > 0) currentTime = r.slots[done - 1].timeStamp;
    count = done;
    return result;
  }
  // A run that could not be read leaves the position before it.
  currentTime = position ? TimeAt(position - 1) : currentTime;
  count = 0;
  return result;
}

int32_t Mp4SampleTable::PeekSamples(uint32_t& count, SampleRequest& r) const {
  if (!stsz || !stts || !stsc || !stco) return READ_FAILED;
  const uint32_t wanted = std::min(count, SampleRequest::kMaxSlots);
  for (uint32_t j = 0; j < wanted; ++j) {
    const uint64_t n = uint64_t(position) + j;
    if (n >= stsz->sampleCount) {
      count = j;
      return END_OF_TRACK;
    }
    const int64_t size = SampleSize(n);
    if (size < 0) return INVALID_SAMPLE_SIZE;
    ChunkRef chunk;
    if (!ChunkOf(n, chunk)) return READ_FAILED;
    r.slots[j].size = static_cast<uint32_t>(size);
    r.slots[j].timeStamp = TimeAt(n);
    r.slots[j].descriptionIndex = DescriptionOf(chunk.description);
  }
  count = wanted;
  return EVERYTHING_FINE;
}

uint32_t Mp4SampleTable::Seek(uint32_t t, bool flag) {
  if (t <= startOffset) {
    position = 0;
    return startOffset;
  }
  const uint32_t count = SampleCount();
  const int64_t s = SampleAtTime(t - startOffset);
  if (s < 0) {
    position = count;
    currentTime = TimeAt(count);
    return currentTime;
  }
  uint64_t p = static_cast<uint64_t>(s);
  if (handlerType == FourCC("vide")) {
    if (flag) {
      p = p + 1;
    } else {
      // The sync sample at or before s; none (or no sync table) goes back
      // to the first sample.
      int64_t best = -1;
      if (stss)
        for (uint32_t v : stss->samples)
          if (v >= 1 && v - 1 <= p && int64_t(v) - 1 > best) best = int64_t(v) - 1;
      if (best < 0) {
        position = 0;
        return startOffset;
      }
      p = static_cast<uint64_t>(best);
    }
  } else if (flag && SampleTime(p) >= 0 && startOffset + uint64_t(SampleTime(p)) < t && p + 1 < count) {
    p = p + 1;
  }
  if (p > count) p = count;
  position = static_cast<uint32_t>(p);
  if (position > 0) currentTime = TimeAt(position - 1);
  return TimeAt(position);
}

void Mp4SampleTable::Reset() {
  position = 0;
  currentTime = 0;
}

const Mp4SampleEntry* Mp4SampleTable::Entry(uint32_t i) const {
  if (!stsd || i >= static_cast<uint32_t>(stsd->entries.count())) return nullptr;
  return stsd->entries[static_cast<int32_t>(i)];
}

int32_t Mp4SampleTable::ObjectTypeIndication() const {
  if (!stsd) return 0;
  if (stsd->hasAmrEntry || stsd->hasH263Entry ||
      (handlerType != FourCC("soun") && handlerType != FourCC("vide")))
    return 0xFF;
  const Mp4SampleEntry* e = Entry(0);
  return e ? e->ObjectTypeIndication() : 0;
}

uint32_t Mp4SampleTable::MaxBufferSize() const {
  if (!stsd || (handlerType != FourCC("soun") && handlerType != FourCC("vide"))) return 0;
  if (handlerType == FourCC("vide") && (stsd->hasH263Entry || ObjectTypeIndication() == 0xC0)) return 0;
  uint32_t best = 0;
  for (const Mp4SampleEntry* e : stsd->entries)
    if (const DecoderConfigDescriptor* dc = e->DecoderConfig()) best = std::max(best, dc->bufferSize);
  return best;
}

uint32_t Mp4SampleTable::AverageBitrate() const {
  const Mp4SampleEntry* e = Entry(0);
  const DecoderConfigDescriptor* dc = e ? e->DecoderConfig() : nullptr;
  return dc ? dc->averageBitrate : 0;
}

const DecoderSpecificInfo* Mp4SampleTable::DecoderInfo(uint32_t i) const {
  if (handlerType != FourCC("soun") && handlerType != FourCC("vide")) return nullptr;
  const Mp4SampleEntry* e = Entry(i);
  return e ? e->Dsi() : nullptr;
}

}  // namespace reader
