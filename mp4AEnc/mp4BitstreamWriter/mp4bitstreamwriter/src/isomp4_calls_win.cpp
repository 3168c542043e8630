#include <windows.h>

#include "isomp4_calls.h"

namespace {

template <typename F>
bool Bind(HMODULE module, const char* name, F* to) {
  *to = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *to != nullptr;
}

IsoMp4Calls g_calls;
bool g_loaded = false;
const char* g_missing = nullptr;

}  // namespace

// Loaded once and kept for the life of the process (there is no point at
// which no writer may still need it).
const IsoMp4Calls* isomp4_calls(const char** why) {
  if (!g_loaded) {
    HMODULE module = LoadLibraryW(L"libisomp4.dll");
    if (!module) {
      if (why) *why = "libisomp4.dll";
      return nullptr;
    }
    IsoMp4Calls c = {};
    const char* missing = nullptr;
#define BIND(field, name) \
  if (!missing && !Bind(module, name, &c.field)) missing = name
    BIND(NewMovie, "MP4NewMovie");
    BIND(NewMovieTrack, "MP4NewMovieTrack");
    BIND(NewTrackMedia, "MP4NewTrackMedia");
    BIND(BeginMediaEdits, "MP4BeginMediaEdits");
    BIND(SetMediaLanguage, "MP4SetMediaLanguage");
    BIND(NewHandle, "MP4NewHandle");
    BIND(SetHandleSize, "MP4SetHandleSize");
    BIND(GetHandleSize, "MP4GetHandleSize");
    BIND(DisposeHandle, "MP4DisposeHandle");
    BIND(NewSampleDescription, "MP4NewSampleDescription");
    BIND(AddMediaSamples, "MP4AddMediaSamples");
    BIND(EndMediaEdits, "MP4EndMediaEdits");
    BIND(GetMediaDuration, "MP4GetMediaDuration");
    BIND(InsertMediaIntoTrack, "MP4InsertMediaIntoTrack");
    BIND(SetTrackEnabled, "MP4SetTrackEnabled");
    BIND(AddTrackReference, "MP4AddTrackReference");
    BIND(WriteMovieToFile, "MP4WriteMovieToFile");
    BIND(DisposeMovie, "MP4DisposeMovie");
#undef BIND
    if (missing) {
      FreeLibrary(module);
      g_missing = missing;
    } else {
      g_calls = c;
    }
    g_loaded = !missing;
    if (missing) {
      if (why) *why = g_missing;
      return nullptr;
    }
  }
  return &g_calls;
}
