// Stand-in for the ISO MP4 file library: audio-only movies, held in memory
// and written as ftyp, mdat, moov. Every call is logged to the file that
// the environment variable ISOMP4_LOG names.
#include "libisomp4/isomp4.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

void Log(const char* format, ...) {
  const char* path = std::getenv("ISOMP4_LOG");
  if (!path || !*path) return;
  FILE* f = std::fopen(path, "a");
  if (!f) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(f, format, args);
  va_end(args);
  std::fputc('\n', f);
  std::fclose(f);
}

enum Result { kOk = 0, kBadArgument = -1, kNoMemory = -2, kBadState = -3, kIoError = -4, kUnsupported = -5 };

struct HandleBlock {
  char* data;
  uint32_t size;
};

}  // namespace

struct IsoMedia {
  IsoTrack* track = nullptr;
  uint32_t handler = 0, timeScale = 0;
  char language[4] = "und";
  bool editing = false;
  std::vector<uint8_t> sampleEntry;  // 'mp4a' box
  std::vector<uint32_t> sizes, durations;
  std::vector<uint64_t> offsets;  // within the movie's media data
};

struct IsoTrack {
  IsoMovie* movie = nullptr;
  uint32_t id = 0;
  uint32_t flags = 0;
  bool enabled = false;
  IsoMedia* media = nullptr;
  std::vector<uint32_t> dependsOn;  // track ids ('dpnd')
  uint64_t editDuration = 0;        // media time scale
  bool edited = false;
};

struct IsoMovie {
  uint32_t objectDescriptorId = 1;
  uint8_t profiles[5] = {};
  std::vector<IsoTrack*> tracks;
  std::vector<uint8_t> mediaData;
};

namespace {

void Put8(std::vector<uint8_t>& b, uint32_t v) { b.push_back(uint8_t(v)); }
void Put16(std::vector<uint8_t>& b, uint32_t v) {
  Put8(b, v >> 8);
  Put8(b, v);
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v >> 16);
  Put16(b, v);
}
void Put64(std::vector<uint8_t>& b, uint64_t v) {
  Put32(b, uint32_t(v >> 32));
  Put32(b, uint32_t(v));
}
void PutType(std::vector<uint8_t>& b, const char* t) { b.insert(b.end(), t, t + 4); }

// A box: size, type, body.
std::vector<uint8_t> Box(const char* type, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> b;
  Put32(b, uint32_t(body.size() + 8));
  PutType(b, type);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}
std::vector<uint8_t> FullBox(const char* type, uint8_t version, uint32_t flags, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> b;
  Put8(b, version);
  Put8(b, flags >> 16);
  Put16(b, flags);
  b.insert(b.end(), body.begin(), body.end());
  return Box(type, b);
}
void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& from) { to.insert(to.end(), from.begin(), from.end()); }

// A descriptor of MPEG-4 Systems with a four-byte length.
std::vector<uint8_t> Descriptor(uint8_t tag, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> d;
  Put8(d, tag);
  const uint32_t n = uint32_t(body.size());
  Put8(d, 0x80 | ((n >> 21) & 0x7F));
  Put8(d, 0x80 | ((n >> 14) & 0x7F));
  Put8(d, 0x80 | ((n >> 7) & 0x7F));
  Put8(d, n & 0x7F);
  Append(d, body);
  return d;
}

void PutMatrix(std::vector<uint8_t>& b) {
  const uint32_t m[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
  for (uint32_t v : m) Put32(b, v);
}

uint64_t MediaDuration(const IsoMedia* m) {
  uint64_t d = 0;
  for (uint32_t v : m->durations) d += v;
  return d;
}

constexpr uint32_t kMovieTimeScale = 1000;

uint64_t ToMovieTime(uint64_t t, uint32_t scale) { return scale ? t * kMovieTimeScale / scale : 0; }

std::vector<uint8_t> SampleTables(const IsoMedia* m, uint64_t mdatStart) {
  std::vector<uint8_t> stbl;
  {
    std::vector<uint8_t> b;
    Put32(b, 1);
    Append(b, m->sampleEntry);
    Append(stbl, FullBox("stsd", 0, 0, b));
  }
  {  // durations as runs
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    for (uint32_t d : m->durations) {
      if (!runs.empty() && runs.back().second == d)
        ++runs.back().first;
      else
        runs.emplace_back(1, d);
    }
    std::vector<uint8_t> b;
    Put32(b, uint32_t(runs.size()));
    for (auto& r : runs) {
      Put32(b, r.first);
      Put32(b, r.second);
    }
    Append(stbl, FullBox("stts", 0, 0, b));
  }
  {
    std::vector<uint8_t> b;
    Put32(b, 0);
    Put32(b, uint32_t(m->sizes.size()));
    for (uint32_t s : m->sizes) Put32(b, s);
    Append(stbl, FullBox("stsz", 0, 0, b));
  }
  {  // one sample per chunk
    std::vector<uint8_t> b;
    Put32(b, m->sizes.empty() ? 0 : 1);
    if (!m->sizes.empty()) {
      Put32(b, 1);
      Put32(b, 1);
      Put32(b, 1);
    }
    Append(stbl, FullBox("stsc", 0, 0, b));
  }
  {
    bool large = false;
    for (uint64_t o : m->offsets) large |= mdatStart + o > 0xFFFFFFFFull;
    std::vector<uint8_t> b;
    Put32(b, uint32_t(m->offsets.size()));
    for (uint64_t o : m->offsets) {
      if (large)
        Put64(b, mdatStart + o);
      else
        Put32(b, uint32_t(mdatStart + o));
    }
    Append(stbl, FullBox(large ? "co64" : "stco", 0, 0, b));
  }
  return Box("stbl", stbl);
}

std::vector<uint8_t> Track(const IsoTrack* t, uint64_t mdatStart) {
  const IsoMedia* m = t->media;
  const uint64_t mediaDuration = m ? MediaDuration(m) : 0;
  const uint32_t scale = m ? m->timeScale : 0;
  const uint64_t edit = t->edited ? t->editDuration : mediaDuration;
  const uint64_t movieDuration = ToMovieTime(edit, scale);
  std::vector<uint8_t> trak;
  {
    std::vector<uint8_t> b;
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, t->id);
    Put32(b, 0);
    Put32(b, uint32_t(movieDuration));
    Put32(b, 0);
    Put32(b, 0);
    Put16(b, 0);  // layer
    Put16(b, 0);  // alternate group
    Put16(b, 0x0100);  // audio volume
    Put16(b, 0);
    PutMatrix(b);
    Put32(b, 0);
    Put32(b, 0);
    Append(trak, FullBox("tkhd", 0, t->enabled ? 7 : 6, b));
  }
  if (!t->dependsOn.empty()) {
    std::vector<uint8_t> b;
    for (uint32_t id : t->dependsOn) Put32(b, id);
    Append(trak, Box("tref", Box("dpnd", b)));
  }
  if (t->edited) {
    std::vector<uint8_t> b;
    Put32(b, 1);
    Put32(b, uint32_t(movieDuration));
    Put32(b, 0);  // media time
    Put32(b, 0x00010000);
    Append(trak, Box("edts", FullBox("elst", 0, 0, b)));
  }
  if (m) {
    std::vector<uint8_t> mdia;
    {
      std::vector<uint8_t> b;
      Put32(b, 0);
      Put32(b, 0);
      Put32(b, m->timeScale);
      Put32(b, uint32_t(mediaDuration));
      const uint32_t lang = uint32_t(((m->language[0] - 0x60) & 31) << 10 | ((m->language[1] - 0x60) & 31) << 5 |
                                     ((m->language[2] - 0x60) & 31));
      Put16(b, lang);
      Put16(b, 0);
      Append(mdia, FullBox("mdhd", 0, 0, b));
    }
    {
      std::vector<uint8_t> b;
      Put32(b, 0);
      Put32(b, m->handler);
      Put32(b, 0);
      Put32(b, 0);
      Put32(b, 0);
      const char name[] = "SoundHandler";
      b.insert(b.end(), name, name + sizeof name);
      Append(mdia, FullBox("hdlr", 0, 0, b));
    }
    std::vector<uint8_t> minf;
    Append(minf, FullBox("smhd", 0, 0, {0, 0, 0, 0}));
    {
      std::vector<uint8_t> dref;
      Put32(dref, 1);
      Append(dref, FullBox("url ", 0, 1, {}));
      Append(minf, Box("dinf", FullBox("dref", 0, 0, dref)));
    }
    Append(minf, SampleTables(m, mdatStart));
    Append(mdia, Box("minf", minf));
    Append(trak, Box("mdia", mdia));
  }
  return Box("trak", trak);
}

std::vector<uint8_t> Movie(const IsoMovie* movie, uint64_t mdatStart) {
  std::vector<uint8_t> moov;
  uint64_t duration = 0;
  for (const IsoTrack* t : movie->tracks) {
    const IsoMedia* m = t->media;
    if (!m) continue;
    const uint64_t d = ToMovieTime(t->edited ? t->editDuration : MediaDuration(m), m->timeScale);
    if (d > duration) duration = d;
  }
  {
    std::vector<uint8_t> b;
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, kMovieTimeScale);
    Put32(b, uint32_t(duration));
    Put32(b, 0x00010000);
    Put16(b, 0x0100);
    Put16(b, 0);
    Put32(b, 0);
    Put32(b, 0);
    PutMatrix(b);
    for (int i = 0; i < 6; ++i) Put32(b, 0);
    Put32(b, uint32_t(movie->tracks.size() + 1));
    Append(moov, FullBox("mvhd", 0, 0, b));
  }
  {  // initial object descriptor with the profiles and the tracks
    std::vector<uint8_t> od;
    Put16(od, (movie->objectDescriptorId << 6) | 0x0F);
    for (uint8_t p : movie->profiles) Put8(od, p);
    for (const IsoTrack* t : movie->tracks) {
      std::vector<uint8_t> id;
      Put32(id, t->id);
      Append(od, Descriptor(0x0E, id));
    }
    Append(moov, FullBox("iods", 0, 0, Descriptor(0x10, od)));
  }
  for (const IsoTrack* t : movie->tracks) Append(moov, Track(t, mdatStart));
  return Box("moov", moov);
}

bool HandleOk(MP4Handle h) { return h != nullptr; }
HandleBlock* Block(MP4Handle h) { return reinterpret_cast<HandleBlock*>(h); }

uint32_t HandleValue(MP4Handle h, uint32_t index) {
  const HandleBlock* b = Block(h);
  uint32_t v = 0;
  if (b->size >= (index + 1) * 4)
    std::memcpy(&v, b->data + index * 4, 4);
  else if (b->size >= 4)
    std::memcpy(&v, b->data, 4);
  return v;
}

}  // namespace

extern "C" {

int MP4NewMovie(MP4Movie* movie, uint32_t initialObjectDescriptorId, uint8_t odProfile, uint8_t sceneProfile,
                uint8_t audioProfile, uint8_t visualProfile, uint8_t graphicsProfile) {
  Log("MP4NewMovie %u %u %u %u %u %u", initialObjectDescriptorId, odProfile, sceneProfile, audioProfile,
      visualProfile, graphicsProfile);
  if (!movie) return kBadArgument;
  auto* m = new (std::nothrow) IsoMovie;
  if (!m) return kNoMemory;
  m->objectDescriptorId = initialObjectDescriptorId;
  const uint8_t p[5] = {odProfile, sceneProfile, audioProfile, visualProfile, graphicsProfile};
  std::memcpy(m->profiles, p, 5);
  *movie = m;
  return kOk;
}

int MP4NewMovieTrack(MP4Movie movie, uint32_t flags, MP4Track* track) {
  Log("MP4NewMovieTrack %u", flags);
  if (!movie || !track) return kBadArgument;
  // An audio-only library: other kinds of track are not written.
  if (!(flags & kMP4TrackIsAudio)) return kUnsupported;
  auto* t = new (std::nothrow) IsoTrack;
  if (!t) return kNoMemory;
  t->movie = movie;
  t->flags = flags;
  t->id = uint32_t(movie->tracks.size() + 1);
  movie->tracks.push_back(t);
  *track = t;
  return kOk;
}

int MP4NewTrackMedia(MP4Track track, MP4Media* media, uint32_t handlerType, uint32_t timeScale,
                     MP4Handle dataReference) {
  Log("MP4NewTrackMedia track %u '%c%c%c%c' %u %s", track ? track->id : 0, char(handlerType >> 24),
      char(handlerType >> 16), char(handlerType >> 8), char(handlerType), timeScale, dataReference ? "ref" : "0");
  if (!track || !media || !timeScale || track->media) return kBadArgument;
  if (handlerType != 0x736F756E) return kUnsupported;  // 'soun' only
  // Media data elsewhere than in this file is not supported.
  if (dataReference) return kUnsupported;
  auto* m = new (std::nothrow) IsoMedia;
  if (!m) return kNoMemory;
  m->track = track;
  m->handler = handlerType;
  m->timeScale = timeScale;
  track->media = m;
  *media = m;
  return kOk;
}

int MP4BeginMediaEdits(MP4Media media) {
  Log("MP4BeginMediaEdits");
  if (!media) return kBadArgument;
  media->editing = true;
  return kOk;
}

int MP4SetMediaLanguage(MP4Media media, const char* language) {
  Log("MP4SetMediaLanguage %s", language ? language : "(null)");
  if (!media || !language || std::strlen(language) != 3) return kBadArgument;
  for (int i = 0; i < 3; ++i)
    if (language[i] < 'a' || language[i] > 'z') return kBadArgument;
  std::memcpy(media->language, language, 4);
  return kOk;
}

int MP4NewHandle(uint32_t size, MP4Handle* handle) {
  Log("MP4NewHandle %u", size);
  if (!handle) return kBadArgument;
  auto* b = static_cast<HandleBlock*>(std::calloc(1, sizeof(HandleBlock)));
  if (!b) return kNoMemory;
  b->data = static_cast<char*>(std::calloc(size ? size : 1, 1));
  if (!b->data) {
    std::free(b);
    return kNoMemory;
  }
  b->size = size;
  *handle = reinterpret_cast<MP4Handle>(b);
  return kOk;
}

int MP4SetHandleSize(MP4Handle handle, uint32_t size) {
  if (!HandleOk(handle)) return kBadArgument;
  HandleBlock* b = Block(handle);
  char* data = static_cast<char*>(std::realloc(b->data, size ? size : 1));
  if (!data) return kNoMemory;
  if (size > b->size) std::memset(data + b->size, 0, size - b->size);
  b->data = data;
  b->size = size;
  return kOk;
}

int MP4GetHandleSize(MP4Handle handle, uint32_t* size) {
  if (!HandleOk(handle) || !size) return kBadArgument;
  *size = Block(handle)->size;
  return kOk;
}

int MP4DisposeHandle(MP4Handle handle) {
  Log("MP4DisposeHandle");
  if (!HandleOk(handle)) return kBadArgument;
  std::free(Block(handle)->data);
  std::free(Block(handle));
  return kOk;
}

int MP4NewSampleDescription(MP4Media media, MP4Handle description, uint32_t dataReferenceIndex,
                            uint32_t objectTypeIndication, uint32_t streamType, uint32_t bufferSize,
                            uint32_t averageBitrate, uint32_t maximumBitrate, MP4Handle decoderSpecificInfo) {
  Log("MP4NewSampleDescription %u 0x%02x %u %u %u %u dsi %u bytes", dataReferenceIndex, objectTypeIndication,
      streamType, bufferSize, averageBitrate, maximumBitrate,
      HandleOk(decoderSpecificInfo) ? Block(decoderSpecificInfo)->size : 0);
  if (!media || !HandleOk(description) || !HandleOk(decoderSpecificInfo)) return kBadArgument;
  const HandleBlock* dsi = Block(decoderSpecificInfo);
  // The information comes as its own descriptor: tag 5, one length byte.
  if (dsi->size < 2 || uint8_t(dsi->data[0]) != 5 || uint8_t(dsi->data[1]) != dsi->size - 2) return kBadArgument;
  const uint8_t* asc = reinterpret_cast<const uint8_t*>(dsi->data + 2);
  const uint32_t ascBytes = dsi->size - 2;
  // Channel count and rate of the sample entry from the AudioSpecificConfig.
  uint32_t channels = 2;
  if (ascBytes >= 2) {
    const uint32_t index = ((asc[0] & 7) << 1) | (asc[1] >> 7);
    if (index != 15) channels = (asc[1] >> 3) & 15;
    if (channels == 0 || channels > 7) channels = 2;
  }
  std::vector<uint8_t> dcd;
  Put8(dcd, objectTypeIndication);
  Put8(dcd, (streamType << 2) | 1);
  Put8(dcd, bufferSize >> 16);
  Put16(dcd, bufferSize);
  Put32(dcd, maximumBitrate);
  Put32(dcd, averageBitrate);
  Append(dcd, Descriptor(5, std::vector<uint8_t>(asc, asc + ascBytes)));
  std::vector<uint8_t> es;
  Put16(es, 0);  // ES_ID
  Put8(es, 0);
  Append(es, Descriptor(4, dcd));
  Append(es, Descriptor(6, {2}));
  std::vector<uint8_t> entry;
  for (int i = 0; i < 6; ++i) Put8(entry, 0);
  Put16(entry, dataReferenceIndex);
  Put32(entry, 0);
  Put32(entry, 0);
  Put16(entry, channels);
  Put16(entry, 16);
  Put16(entry, 0);
  Put16(entry, 0);
  Put32(entry, (media->timeScale & 0xFFFF) << 16);
  Append(entry, FullBox("esds", 0, 0, Descriptor(3, es)));
  const std::vector<uint8_t> box = Box("mp4a", entry);
  if (MP4SetHandleSize(description, uint32_t(box.size())) != kOk) return kNoMemory;
  std::memcpy(*description, box.data(), box.size());
  return kOk;
}

int MP4AddMediaSamples(MP4Media media, MP4Handle samples, uint32_t sampleCount, MP4Handle durations,
                       MP4Handle sizes, MP4Handle sampleDescription, MP4Handle decodingOffsets,
                       MP4Handle syncSamples) {
  if (!media || !HandleOk(samples) || !HandleOk(durations) || !HandleOk(sizes) || sampleCount == 0)
    return kBadArgument;
  if (!media->editing) return kBadState;
  // Decoding offsets and sync tables have no use for audio here.
  if (decodingOffsets || syncSamples) return kUnsupported;
  if (media->sampleEntry.empty()) {
    if (!HandleOk(sampleDescription)) return kBadState;
    const HandleBlock* d = Block(sampleDescription);
    media->sampleEntry.assign(d->data, d->data + d->size);
    Log("MP4AddMediaSamples with sample description (%u bytes)", d->size);
  }
  const HandleBlock* data = Block(samples);
  uint64_t total = 0;
  for (uint32_t i = 0; i < sampleCount; ++i) total += HandleValue(sizes, i);
  if (total > data->size) return kBadArgument;
  IsoMovie* movie = media->track->movie;
  uint64_t at = 0;
  for (uint32_t i = 0; i < sampleCount; ++i) {
    const uint32_t size = HandleValue(sizes, i);
    media->offsets.push_back(movie->mediaData.size());
    movie->mediaData.insert(movie->mediaData.end(), data->data + at, data->data + at + size);
    media->sizes.push_back(size);
    media->durations.push_back(HandleValue(durations, i));
    at += size;
  }
  return kOk;
}

int MP4EndMediaEdits(MP4Media media) {
  Log("MP4EndMediaEdits samples %lu", static_cast<unsigned long>(media ? media->sizes.size() : 0));
  if (!media || !media->editing) return kBadState;
  media->editing = false;
  return kOk;
}

int MP4GetMediaDuration(MP4Media media, uint64_t* duration) {
  if (!media || !duration) return kBadArgument;
  *duration = MediaDuration(media);
  Log("MP4GetMediaDuration %llu", static_cast<unsigned long long>(*duration));
  return kOk;
}

int MP4InsertMediaIntoTrack(MP4Track track, int32_t trackStart, int32_t mediaTime, uint64_t duration,
                            int32_t mediaRate) {
  Log("MP4InsertMediaIntoTrack track %u %d %d %llu %d", track ? track->id : 0, trackStart, mediaTime,
      static_cast<unsigned long long>(duration), mediaRate);
  if (!track || !track->media) return kBadArgument;
  // One edit from the start at normal rate is all an audio-only file needs.
  if (trackStart != 0 || mediaTime != 0 || mediaRate != 1 || track->edited) return kUnsupported;
  track->editDuration = duration;
  track->edited = true;
  return kOk;
}

int MP4SetTrackEnabled(MP4Track track, uint32_t enabled) {
  Log("MP4SetTrackEnabled track %u %u", track ? track->id : 0, enabled);
  if (!track) return kBadArgument;
  track->enabled = enabled != 0;
  return kOk;
}

int MP4AddTrackReference(MP4Track track, MP4Track dependsOn, uint32_t referenceType, uint32_t* index) {
  Log("MP4AddTrackReference track %u -> %u '%c%c%c%c'", track ? track->id : 0, dependsOn ? dependsOn->id : 0,
      char(referenceType >> 24), char(referenceType >> 16), char(referenceType >> 8), char(referenceType));
  if (!track || !dependsOn || !index || track == dependsOn) return kBadArgument;
  if (referenceType != 0x64706E64) return kUnsupported;  // 'dpnd' only
  track->dependsOn.push_back(dependsOn->id);
  *index = uint32_t(track->dependsOn.size());
  return kOk;
}

int MP4WriteMovieToFile(MP4Movie movie, const char* fileName) {
  Log("MP4WriteMovieToFile %s", fileName ? fileName : "(null)");
  if (!movie || !fileName) return kBadArgument;
  std::vector<uint8_t> ftyp;
  PutType(ftyp, "mp42");
  Put32(ftyp, 0);
  PutType(ftyp, "mp42");
  PutType(ftyp, "isom");
  const std::vector<uint8_t> head = Box("ftyp", ftyp);
  const uint64_t mdatSize = movie->mediaData.size() + 8;
  if (mdatSize > 0xFFFFFFFFull) return kUnsupported;
  const uint64_t mdatStart = head.size() + 8;
  const std::vector<uint8_t> moov = Movie(movie, mdatStart);
  FILE* f = std::fopen(fileName, "wb");
  if (!f) return kIoError;
  std::vector<uint8_t> mdatHeader;
  Put32(mdatHeader, uint32_t(mdatSize));
  PutType(mdatHeader, "mdat");
  bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size() &&
            std::fwrite(mdatHeader.data(), 1, 8, f) == 8 &&
            (movie->mediaData.empty() ||
             std::fwrite(movie->mediaData.data(), 1, movie->mediaData.size(), f) == movie->mediaData.size()) &&
            std::fwrite(moov.data(), 1, moov.size(), f) == moov.size();
  ok = std::fclose(f) == 0 && ok;
  return ok ? kOk : kIoError;
}

int MP4DisposeMovie(MP4Movie movie) {
  Log("MP4DisposeMovie");
  if (!movie) return kBadArgument;
  for (IsoTrack* t : movie->tracks) {
    delete t->media;
    delete t;
  }
  delete movie;
  return kOk;
}

}  // extern "C"
