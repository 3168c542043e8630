// Audio-only MP4 file through the outside MP4 file library: one track per
// layer, one sample per frame; the file is written at close.
#include <cstring>
#include <new>

#include "isomp4_calls.h"
#include "writer.h"

namespace {

const char kModule[] = "mp4AEnc/mp4BitstreamWriter/mp4bitstreamwriter/src/mp4file";
const char kLibraryFailed[] = "problem in mp4 file library functions";
constexpr uint32_t kSound = 0x736F756E;       // 'soun'
constexpr uint32_t kDependsOn = 0x64706E64;   // 'dpnd'

}  // namespace

struct Mp4FileState {
  const IsoMp4Calls* c = nullptr;
  char fileName[513] = {};
  MP4Movie movie = nullptr;
  MP4Track tracks[kMp4Layers] = {};
  MP4Media media[kMp4Layers] = {};
  MP4Handle description[kMp4Layers] = {};
  MP4Handle dsi[kMp4Layers] = {};
  int layerOfTrack[kMp4Layers] = {};
  int trackCount = 0;
  MP4Handle duration = nullptr, sample = nullptr, size = nullptr;
};

namespace {

ErrorRecord* failed(int line, const char* call, int result) {
  return error_create(kModule, line, call, "%s (%s answered %d)", kLibraryFailed, call, result);
}

void dispose(Mp4FileState* f) {
  if (!f->c) return;
  for (int t = 0; t < kMp4Layers; ++t) {
    if (f->description[t]) f->c->DisposeHandle(f->description[t]);
    if (f->dsi[t]) f->c->DisposeHandle(f->dsi[t]);
  }
  for (MP4Handle h : {f->duration, f->sample, f->size})
    if (h) f->c->DisposeHandle(h);
  if (f->movie) f->c->DisposeMovie(f->movie);
}

void put32(MP4Handle h, uint32_t v) { std::memcpy(*h, &v, 4); }

#define CALL(expr, name)                                   \
  do {                                                     \
    const int result_ = (expr);                            \
    if (result_ != 0) return failed(__LINE__, name, result_); \
  } while (0)

ErrorRecord* open_tracks(Mp4BitstreamWriter* w, Mp4FileState* f) {
  const IsoMp4Calls& c = *f->c;
  CALL(c.NewMovie(&f->movie, 1, 255, 255, 1, 255, 255), "MP4NewMovie");
  for (int l = 0; l < kMp4Layers; ++l) {
    if (!w->hasHeader[l]) continue;
    const int t = f->trackCount;
    const Mp4AudioHeader& h = w->headers[l];
    CALL(c.NewMovieTrack(f->movie, kMP4TrackIsAudio, &f->tracks[t]), "MP4NewMovieTrack");
    CALL(c.NewTrackMedia(f->tracks[t], &f->media[t], kSound, uint32_t(w->layers[l].sampleRate), nullptr),
         "MP4NewTrackMedia");
    CALL(c.BeginMediaEdits(f->media[t]), "MP4BeginMediaEdits");
    CALL(c.SetMediaLanguage(f->media[t], "und"), "MP4SetMediaLanguage");
    // The decoder-specific information as its descriptor: tag 5, length,
    // the AudioSpecificConfig in whole bytes.
    const uint32_t ascBytes = uint32_t((h.bits + 7) / 8);
    CALL(c.NewHandle(ascBytes + 2, &f->dsi[t]), "MP4NewHandle");
    (*f->dsi[t])[0] = 5;
    (*f->dsi[t])[1] = char(ascBytes);
    std::memcpy(*f->dsi[t] + 2, h.bytes, ascBytes);
    CALL(c.NewHandle(0, &f->description[t]), "MP4NewHandle");
    const uint32_t bitrate = uint32_t(w->layers[l].bitrate);
    CALL(c.NewSampleDescription(f->media[t], f->description[t], 1, 0x40, 5, 8192, bitrate, bitrate, f->dsi[t]),
         "MP4NewSampleDescription");
    f->layerOfTrack[t] = l;
    ++f->trackCount;
  }
  CALL(c.NewHandle(4, &f->duration), "MP4NewHandle");
  put32(f->duration, uint32_t(w->layers[0].frameLength));
  CALL(c.NewHandle(0, &f->sample), "MP4NewHandle");
  CALL(c.NewHandle(4, &f->size), "MP4NewHandle");
  return nullptr;
}

}  // namespace

ErrorRecord* mp4file_open(Mp4BitstreamWriter* w, const char* fileName) {
  if (!fileName || !*fileName) return error_create(kModule, __LINE__, nullptr, "no file name");
  if (std::strlen(fileName) > 512) return error_create(kModule, __LINE__, nullptr, "file name longer than 512 characters");
  const char* why = nullptr;
  const IsoMp4Calls* calls = isomp4_calls(&why);
  if (!calls) return error_create(kModule, __LINE__, nullptr, "%s (%s not found)", kLibraryFailed, why ? why : "?");
  auto* f = new (std::nothrow) Mp4FileState;
  if (!f) return error_create(kModule, __LINE__, nullptr, "out of memory");
  f->c = calls;
  std::strcpy(f->fileName, fileName);
  w->file = f;
  ErrorRecord* err = open_tracks(w, f);
  if (err) {
    dispose(f);
    delete f;
    w->file = nullptr;
    return err;
  }
  return nullptr;
}

ErrorRecord* mp4file_write(Mp4BitstreamWriter* w, BitBuffer* layers[kMp4Layers]) {
  Mp4FileState* f = w->file;
  if (!f) return error_create(kModule, __LINE__, nullptr, "writer not open");
  const IsoMp4Calls& c = *f->c;
  for (int t = 0; t < f->trackCount; ++t) {
    BitBuffer* in = layers[f->layerOfTrack[t]];
    while (in && bitbuf_pending_frames(in) > 0) {
      const long length = in->frameLengths[in->frameHead];
      if (length < 0 || length > bitbuf_bit_count(in))
        return error_create(kModule, __LINE__, nullptr, "frame longer than the bits held");
      const uint32_t bytes = uint32_t((length + 7) / 8);
      CALL(c.SetHandleSize(f->sample, bytes), "MP4SetHandleSize");
      uint32_t drained = 0;
      ErrorRecord* err = bitbuf_copy_bytes(in, &drained, reinterpret_cast<uint8_t*>(*f->sample));
      if (err) return error_add_trace(kModule, __LINE__, "mp4file_write", err);
      uint32_t held = 0;
      CALL(c.GetHandleSize(f->sample, &held), "MP4GetHandleSize");
      put32(f->size, held);
      // The sample description goes with the first sample only.
      CALL(c.AddMediaSamples(f->media[t], f->sample, 1, f->duration, f->size, f->description[t], nullptr, nullptr),
           "MP4AddMediaSamples");
      if (f->description[t]) {
        c.DisposeHandle(f->description[t]);
        f->description[t] = nullptr;
      }
    }
  }
  return nullptr;
}

namespace {

ErrorRecord* finish(Mp4FileState* f) {
  const IsoMp4Calls& c = *f->c;
  for (int t = 0; t < f->trackCount; ++t) {
    CALL(c.EndMediaEdits(f->media[t]), "MP4EndMediaEdits");
    uint64_t duration = 0;
    CALL(c.GetMediaDuration(f->media[t], &duration), "MP4GetMediaDuration");
    CALL(c.InsertMediaIntoTrack(f->tracks[t], 0, 0, duration, 1), "MP4InsertMediaIntoTrack");
    CALL(c.SetTrackEnabled(f->tracks[t], 1), "MP4SetTrackEnabled");
    if (t > 0) {
      uint32_t index = 0;
      CALL(c.AddTrackReference(f->tracks[t], f->tracks[t - 1], kDependsOn, &index), "MP4AddTrackReference");
    }
  }
  CALL(c.WriteMovieToFile(f->movie, f->fileName), "MP4WriteMovieToFile");
  return nullptr;
}

}  // namespace

ErrorRecord* mp4file_close(Mp4BitstreamWriter* w) {
  Mp4FileState* f = w->file;
  if (!f) return nullptr;
  ErrorRecord* err = finish(f);
  dispose(f);
  delete f;
  w->file = nullptr;
  return err;
}
