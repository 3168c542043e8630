#include "isomp4_calls.h"

namespace {
const IsoMp4Calls kLinked = {MP4NewMovie,         MP4NewMovieTrack,  MP4NewTrackMedia,      MP4BeginMediaEdits,
                             MP4SetMediaLanguage, MP4NewHandle,      MP4SetHandleSize,      MP4GetHandleSize,
                             MP4DisposeHandle,    MP4NewSampleDescription, MP4AddMediaSamples, MP4EndMediaEdits,
                             MP4GetMediaDuration, MP4InsertMediaIntoTrack, MP4SetTrackEnabled, MP4AddTrackReference,
                             MP4WriteMovieToFile, MP4DisposeMovie};
}  // namespace

const IsoMp4Calls* isomp4_calls(const char** why) {
  if (why) *why = nullptr;
  return &kLinked;
}
