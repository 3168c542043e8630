// Which tracks of a clip the player plays: one audio track, by decoder and
// bitrate or by the user's preferred codec, and up to two MPEG-4 video layers
// or one H.263 track.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/media_types.h"

struct CodecAvailability {
  std::u16string_view shortName;
  bool available;
};

struct TrackChoice {
  int audio = -1;             // row index, -1 = none
  std::vector<int> layers;    // MPEG-4 layers in table order, then the H.263 row
  size_t mpeg4Layers = 0;
  bool preferredFound = false;
};

// Marks rows (bit 18 decoder present, bit 19 preferred) and chooses.
TrackChoice ChooseTracks(TrackEntry* rows, uint32_t count, const CodecAvailability* codecs,
                         size_t codecCount, std::u16string_view preferredAudio);

bool IsVideoCodec(std::u16string_view name);
std::u16string_view CodecName(const TrackEntry& row);
