// The MP4 file library's calls as a table: linked in natively, loaded from
// libisomp4.dll on Windows when an MP4 output is opened (the filter that
// carries this library must load without it).
#pragma once

#include "libisomp4/isomp4.h"

struct IsoMp4Calls {
  decltype(&MP4NewMovie) NewMovie;
  decltype(&MP4NewMovieTrack) NewMovieTrack;
  decltype(&MP4NewTrackMedia) NewTrackMedia;
  decltype(&MP4BeginMediaEdits) BeginMediaEdits;
  decltype(&MP4SetMediaLanguage) SetMediaLanguage;
  decltype(&MP4NewHandle) NewHandle;
  decltype(&MP4SetHandleSize) SetHandleSize;
  decltype(&MP4GetHandleSize) GetHandleSize;
  decltype(&MP4DisposeHandle) DisposeHandle;
  decltype(&MP4NewSampleDescription) NewSampleDescription;
  decltype(&MP4AddMediaSamples) AddMediaSamples;
  decltype(&MP4EndMediaEdits) EndMediaEdits;
  decltype(&MP4GetMediaDuration) GetMediaDuration;
  decltype(&MP4InsertMediaIntoTrack) InsertMediaIntoTrack;
  decltype(&MP4SetTrackEnabled) SetTrackEnabled;
  decltype(&MP4AddTrackReference) AddTrackReference;
  decltype(&MP4WriteMovieToFile) WriteMovieToFile;
  decltype(&MP4DisposeMovie) DisposeMovie;
};

// Null when the library cannot be had; *why then says what is missing.
const IsoMp4Calls* isomp4_calls(const char** why);
