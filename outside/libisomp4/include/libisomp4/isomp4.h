// The ISO MP4 file library's calls as the AAC library's MP4 output uses
// them. Every call answers 0 on success. A handle is a pointer to the
// pointer of its data, which the caller may read and write within the size.
#pragma once

#include <cstdint>

struct IsoMovie;
struct IsoTrack;
struct IsoMedia;
typedef IsoMovie* MP4Movie;
typedef IsoTrack* MP4Track;
typedef IsoMedia* MP4Media;
typedef char** MP4Handle;

// Track flags of MP4NewMovieTrack.
constexpr uint32_t kMP4TrackIsAudio = 4;

extern "C" {
int MP4NewMovie(MP4Movie* movie, uint32_t initialObjectDescriptorId, uint8_t odProfile, uint8_t sceneProfile,
                uint8_t audioProfile, uint8_t visualProfile, uint8_t graphicsProfile);
int MP4NewMovieTrack(MP4Movie movie, uint32_t flags, MP4Track* track);
int MP4NewTrackMedia(MP4Track track, MP4Media* media, uint32_t handlerType, uint32_t timeScale,
                     MP4Handle dataReference);
int MP4BeginMediaEdits(MP4Media media);
int MP4SetMediaLanguage(MP4Media media, const char* language);
int MP4NewHandle(uint32_t size, MP4Handle* handle);
int MP4SetHandleSize(MP4Handle handle, uint32_t size);
int MP4GetHandleSize(MP4Handle handle, uint32_t* size);
int MP4DisposeHandle(MP4Handle handle);
// The handle receives the sample entry; the decoder-specific information
// holds its descriptor (tag 5, length, bytes).
int MP4NewSampleDescription(MP4Media media, MP4Handle description, uint32_t dataReferenceIndex,
                            uint32_t objectTypeIndication, uint32_t streamType, uint32_t bufferSize,
                            uint32_t averageBitrate, uint32_t maximumBitrate, MP4Handle decoderSpecificInfo);
// sampleCount samples back to back in `samples`; `durations` and `sizes`
// hold one 32-bit value (host order) for all, or one per sample. The sample
// description is needed with the first samples of a media only.
int MP4AddMediaSamples(MP4Media media, MP4Handle samples, uint32_t sampleCount, MP4Handle durations,
                       MP4Handle sizes, MP4Handle sampleDescription, MP4Handle decodingOffsets,
                       MP4Handle syncSamples);
int MP4EndMediaEdits(MP4Media media);
int MP4GetMediaDuration(MP4Media media, uint64_t* duration);
int MP4InsertMediaIntoTrack(MP4Track track, int32_t trackStart, int32_t mediaTime, uint64_t duration,
                            int32_t mediaRate);
int MP4SetTrackEnabled(MP4Track track, uint32_t enabled);
int MP4AddTrackReference(MP4Track track, MP4Track dependsOn, uint32_t referenceType, uint32_t* index);
int MP4WriteMovieToFile(MP4Movie movie, const char* fileName);
int MP4DisposeMovie(MP4Movie movie);
}
