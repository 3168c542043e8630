#include "shell/portable/skin_controls.h"

namespace shell {
namespace {

void Append(std::u16string* out, uint32_t v, bool twoDigits) {
  const std::string digits = std::to_string(v);
  if (twoDigits && v < 10) out->push_back(u'0');
  out->append(digits.begin(), digits.end());
}

}  // namespace

std::u16string FormatTimeText(uint32_t position, uint32_t duration) {
  // The duration text, and a width class that grows with its fields.
  std::u16string total;
  int widthClass = 2;
  uint32_t h = duration / 3600, m = (duration - 3600 * h) / 60, s = duration % 60;
  if (h > 0) {
    Append(&total, h, false);
    total += u':';
    widthClass += 1;
  }
  if (m > 0 && (m >= 10 || h == 0)) {
    Append(&total, m, false);
    total += u':';
    widthClass += m >= 10 ? 2 : 1;
  } else if (h > 0) {  // 1 to 9 minutes, or none, under hours: two digits
    Append(&total, m, true);
    total += u':';
    widthClass += widthClass > 2 ? 2 : 1;
  } else {
    total = u"0:";
  }
  Append(&total, s, true);

  std::u16string text;
  h = position / 3600;
  m = (position - 3600 * h) / 60;
  s = position % 60;
  if (h > 0 || widthClass >= 5) {
    Append(&text, h, false);
    text += u':';
  }
  if (m == 0 && h == 0 && widthClass < 3) {
    text += u"0:";
  } else {
    Append(&text, m, m < 10 && (h > 0 || widthClass > 3));
    text += u':';
  }
  Append(&text, s, true);
  return text + u"/" + total;
}

int32_t SeekPositionAt(int32_t x, int32_t barLeft, int32_t barWidth, int32_t duration) {
  if (x < 0 || barWidth <= 0 || duration <= 0) return 0;
  const double p = static_cast<double>(x - barLeft) * duration / barWidth;
  if (p < 0) return 0;
  if (p > duration) return duration;
  return static_cast<int32_t>(p);
}

int32_t SeekXOf(int32_t position, int32_t barLeft, int32_t barWidth, int32_t duration) {
  if (duration <= 0) return barLeft;
  return barLeft + static_cast<int32_t>(static_cast<double>(barWidth) * position / duration);
}

int32_t VolumeTrack::ThumbTopFor(int32_t value) const { return top + Usable() * (100 - value) / 100; }

int32_t VolumeTrack::ValueAt(int32_t thumbTop) const {
  const int32_t u = Usable();
  return u > 0 ? (top - thumbTop) * 100 / u + 100 : 100;
}

}  // namespace shell
