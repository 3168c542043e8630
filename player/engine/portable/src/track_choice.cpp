#include "engine/track_choice.h"

#include <algorithm>

std::u16string_view CodecName(const TrackEntry& row) {
  const char16_t* end = std::find(row.codecName, row.codecName + 32, u'\0');
  return std::u16string_view(row.codecName, static_cast<size_t>(end - row.codecName));
}

static bool IsMpeg4Video(std::u16string_view n) { return n == u"MP4V-ES" || n == u"X-MP4V-IMAGE"; }
static bool IsH263(std::u16string_view n) { return n == u"H263-2000" || n == u"H263-1998"; }

bool IsVideoCodec(std::u16string_view name) { return IsMpeg4Video(name) || IsH263(name); }

TrackChoice ChooseTracks(TrackEntry* rows, uint32_t count, const CodecAvailability* codecs,
                         size_t codecCount, std::u16string_view preferredAudio) {
  TrackChoice choice;
  int h263 = -1;
  count = std::min(count, kMaxTracks);
  for (uint32_t i = 0; i < count; ++i) {
    TrackEntry& row = rows[i];
    const std::u16string_view name = CodecName(row);
    for (size_t c = 0; c < codecCount; ++c)
      if (codecs[c].available && codecs[c].shortName == name) row.flags |= kTrackDecoderPresent;
    if (!preferredAudio.empty() && preferredAudio == name) {
      row.flags |= kTrackPreferred;
      choice.audio = static_cast<int>(i);
      choice.preferredFound = true;
    } else if (!IsVideoCodec(name)) {
      // Flags carry the bitrate, so of two equal decoders the richer wins;
      // of equal rows the first stays.
      if (choice.audio < 0 ||
          static_cast<int32_t>(row.flags) > static_cast<int32_t>(rows[choice.audio].flags))
        choice.audio = static_cast<int>(i);
    } else if (IsH263(name)) {
      h263 = static_cast<int>(i);
    } else {
      choice.layers.push_back(static_cast<int>(i));
    }
  }
  choice.mpeg4Layers = choice.layers.size();
  if (h263 >= 0) choice.layers.push_back(h263);
  return choice;
}
