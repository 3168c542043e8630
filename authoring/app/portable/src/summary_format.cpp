#include "scrivel/summary_format.h"

#include <cmath>

#include "scrivel/locale_rules.h"
#include "scrivel/text.h"

namespace scrivel {

namespace {

// A device name by the record's index; an index outside the list shows
// nothing rather than reading past it.
std::u16string NameAt(const std::vector<std::u16string>& names, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= names.size()) return std::u16string();
  return names[static_cast<size_t>(index)];
}

std::u16string Size(int32_t width, int32_t height) { return FormatAscii("%d x %d", width, height); }

std::u16string Rate(float rate, const std::u16string& fps) {
  return FormatAscii("%.2f ", static_cast<double>(rate)) + fps;
}

std::u16string Shorten(const SummarySources& s, std::u16string_view path, int width) {
  if (!s.compact) return std::u16string(path);
  return ShortenPath(path, width, s.compact);
}

void TakeStillImage(const CSessionSettings& r, const SummarySources& s, SummaryValues& v) {
  v.VideoSource = CSessionSettings::Text(r.stillImageFile);
  v.VideoSourceShort = Shorten(s, v.VideoSource, s.panelWidth * 9 / 10);
  v.VideoSize = Size(r.stillImageWidth, r.stillImageHeight);
  v.FrameRate.clear();
}

}  // namespace

int64_t MaxDurationSeconds(const CSessionSettings& r) {
  double seconds = r.maxDuration;
  switch (r.unitDuration) {
    case kMinutes: seconds *= 60; break;
    case kHours: seconds *= 3600; break;
    case kDays: seconds *= 86400; break;
    default: break;
  }
  return static_cast<int64_t>(std::trunc(seconds));
}

SummaryValues FormatSummaryValues(const CSessionSettings& r, const SummarySources& s, const PanelTexts& t) {
  SummaryValues v;
  const int shortWidth = s.panelWidth * 9 / 10;
  const bool videoShown = r.streamOut == 2 || r.streamOut == 3;

  v.MaxSizeText = r.maxSize > 0 ? FillText(u"%ld %s", {FormatAscii("%ld", static_cast<long>(r.maxSize)), t.kb})
                                : t.dashes;
  v.MaxDurationText = r.maxDuration > 0 ? FormatTimeSpan(MaxDurationSeconds(r), t.timeSeparator) : t.dashes;

  if (r.liveCapture) {
    v.AudioSource = r.audioDeviceIndex == kNoAudioDevice ? t.dashes : NameAt(s.audioDeviceNames, r.audioDeviceIndex);
    v.AudioSourceShort = v.AudioSource;
    if (r.streamOut == kStillImageStream) {
      TakeStillImage(r, s, v);
    } else {
      v.VideoSource = NameAt(s.videoDeviceNames, r.videoDeviceIndex);
      v.VideoSourceShort = v.VideoSource;
      if (videoShown) {
        v.VideoSize = Size(r.capWidth, r.capHeight);
        v.FrameRate = Rate(r.captureFrameRate, t.fps);
      }
    }
  } else {
    const std::u16string input = CSessionSettings::Text(r.inputFile);
    if (r.fileHasAudio) {
      v.AudioSource = input;
      v.AudioSourceShort = Shorten(s, input, shortWidth);
    } else {
      v.AudioSource = v.AudioSourceShort = t.none;
    }
    if (r.fileHasVideo) {
      v.VideoSource = input;
      v.VideoSourceShort = Shorten(s, input, shortWidth);
      if (videoShown) {
        v.VideoSize = Size(r.fileWidth, r.fileHeight);
        v.FrameRate = Rate(r.fileFrameRate, t.fps);
      }
    } else {
      v.VideoSource = v.VideoSourceShort = t.none;
    }
    if (r.streamOut == kStillImageStream) TakeStillImage(r, s, v);
  }

  if (r.mediaOut == kFileOutput) {
    v.DestinationLabel = t.archive;
    v.Destination = CSessionSettings::Text(r.outputFileName);
    v.DestinationShort = Shorten(s, v.Destination, s.panelWidth);
  } else {
    v.DestinationLabel = t.streaming;
    v.Destination = FillText(t.broadcast, {FormatAscii("%d", r.portNumber[0])});
    v.DestinationShort = v.Destination;
  }

  if (videoShown || r.streamOut == kStillImageStream) {
    v.TargetCodec = t.krMp4;
    v.TargetSize = Size(r.encWidth, r.encHeight);
  }
  if (videoShown) {
    const bool two = r.nLayers == 2;
    v.TargetFrameRate = FormatAscii("%.2f", static_cast<double>(two ? r.enFrameRate : r.baseFrameRate));
    v.TargetBitRate = FormatAscii("%.3f", (two ? r.enBitRate : r.baseBitRate) * 0.001);
  }
  if (r.streamOut == 1 || r.streamOut == 3 || r.streamOut == kStillImageStream) {
    for (const auto& entry : r.audio.stream) {
      if (!entry.enabled) continue;
      // Four slots for five entries: the fifth enabled entry is not listed.
      if (v.AudioCount == kAudioSlots) break;
      const int slot = v.AudioCount++;
      // An unknown codec type gets no name (not the slot's earlier one).
      v.AudioCodecNames[slot] = entry.codec == 0 ? t.gsmAmr : entry.codec == 1 ? t.evrc : entry.codec == 2 ? t.aac
                                                                                                           : u"";
      v.AudioBitRates[slot] = FormatAscii("%.2f", entry.bitRate * 0.001);
    }
  }
  return v;
}

std::u16string ShortenPath(std::u16string_view path, int width, const PathCompactor& compact) {
  constexpr size_t kMaxPath = 259;
  const std::u16string start(path.substr(0, kMaxPath));
  for (size_t length = start.size();; --length) {
    std::u16string buffer = start.substr(0, length);
    if (compact(buffer, width) || length <= 2) return buffer;
  }
}

std::u16string ColumnHeader(std::u16string_view word) {
  const std::u16string ten(10, u' ');
  return FillText(u"%s%s%s", {word, ten, ten});
}

EncodingColumns ComputeEncodingColumns(const PanelTexts& t, const TextLength& length) {
  auto len = [&](std::u16string_view text) {
    return length ? length(text) : static_cast<int>(text.size());
  };
  const int lv = len(ColumnHeader(t.videoWord));
  const int la = len(ColumnHeader(t.audioWord));
  const int lt = len(ColumnHeader(t.target));
  const int lac = len(ColumnHeader(t.actual));
  const int lk = len(t.kbps);
  const int a = 2 * (lk + lac + lv + lt) + 150;
  return EncodingColumns{10,
                         2 * lv + 40,
                         2 * (lt + lv) + 70,
                         2 * (lac + lt + lv) + 70,
                         a,
                         a + 2 * la + 30,
                         a + 2 * (lt + la) + 60,
                         a + 2 * (lt + la) + 115};
}

}  // namespace scrivel
