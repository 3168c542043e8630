// The summary panel's values, formatted from the session record, and the
// panel's geometry that needs no device context: the Encoding tab's columns
// and the shortening of a path to a width. Measuring and drawing stay in
// the Windows panel, which hands in the path compaction.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "scrivel/session_settings.h"

namespace scrivel {

// The panel's words, from the string table; English by default.
struct PanelTexts {
  std::u16string none = u"None";            // 206
  std::u16string dashes = u"--";            // 383
  std::u16string fps = u"fps";              // 377
  std::u16string kb = u"KB";                // 384
  std::u16string kbps = u"kbps";            // 375
  std::u16string archive = u"Archive:";     // 185
  std::u16string streaming = u"Streaming:"; // 201
  std::u16string broadcast = u"Broadcast to KRServer on port %d";  // 191
  std::u16string krMp4 = u"KR MP4";         // 141
  std::u16string gsmAmr = u"GSM_AMR";       // 140
  std::u16string evrc = u"EVRC";            // 166
  std::u16string aac = u"AAC";              // 167
  std::u16string videoWord = u"Video";      // 378
  std::u16string audioWord = u"Audio";      // 379
  std::u16string target = u"Target";        // 422
  std::u16string actual = u"Actual";        // 192
  std::u16string timeSeparator = u":";      // the locale's
};

constexpr int kAudioSlots = 4;

struct SummaryValues {
  std::u16string VideoSource, VideoSourceShort, VideoSize, FrameRate;
  std::u16string AudioSource, AudioSourceShort;
  std::u16string DestinationLabel, Destination, DestinationShort;
  std::u16string MaxSizeText, MaxDurationText;
  std::u16string TargetCodec, TargetSize, TargetBitRate, TargetFrameRate;
  std::array<std::u16string, kAudioSlots> AudioCodecNames, AudioBitRates;
  int AudioCount = 0;
};

// Compacts `path` to `width` pixels in the panel's font (the shell's path
// compaction); false when it cannot.
using PathCompactor = std::function<bool(std::u16string& path, int width)>;

// What the panel formats from besides the record.
struct SummarySources {
  std::vector<std::u16string> audioDeviceNames;
  std::vector<std::u16string> videoDeviceNames;
  int panelWidth = 0;  // W, pixels
  PathCompactor compact;
};

// Recomputes every value from the record. At most the first four enabled
// audio entries are listed.
SummaryValues FormatSummaryValues(const CSessionSettings& record, const SummarySources& sources,
                                  const PanelTexts& texts = PanelTexts());

// The whole seconds of the record's `maxDuration` in its unit, truncated.
int64_t MaxDurationSeconds(const CSessionSettings& record);

// A path shortened to `width`: at most 259 characters are taken; while the
// compaction fails the text loses its last character, down to two.
std::u16string ShortenPath(std::u16string_view path, int width, const PathCompactor& compact);

// A column header: the word followed by twenty blanks, which carry the
// header font's underline past the word.
std::u16string ColumnHeader(std::u16string_view word);

// The Encoding tab's column positions, from the lengths of the headers and
// of "kbps" in characters (the measure may be replaced).
struct EncodingColumns {
  int videoCodec, videoTarget, videoActual, videoUnit;
  int audioCodec, audioTarget, audioActual, audioUnit;
};
using TextLength = std::function<int(std::u16string_view)>;
EncodingColumns ComputeEncodingColumns(const PanelTexts& texts = PanelTexts(), const TextLength& length = {});

}  // namespace scrivel
