#include "shell/portable/dialog_template.h"

namespace shell {

namespace {

class Walker {
 public:
  Walker(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Has(size_t bytes) const { return at_ <= size_ && bytes <= size_ - at_; }
  uint16_t Word(size_t offset) const { return static_cast<uint16_t>(data_[offset] | (data_[offset + 1] << 8)); }
  uint32_t Dword(size_t offset) const { return Word(offset) | (static_cast<uint32_t>(Word(offset + 2)) << 16); }
  size_t At() const { return at_; }
  bool Skip(size_t bytes) {
    if (!Has(bytes)) return false;
    at_ += bytes;
    return true;
  }
  // A menu, class or title field: 0x0000, 0xFFFF and an ordinal, or a
  // terminated UTF-16 text.
  bool Field() {
    if (!Has(2)) return false;
    const uint16_t first = Word(at_);
    if (first == 0) return Skip(2);
    if (first == 0xFFFF) return Skip(4);
    while (Has(2) && Word(at_) != 0) at_ += 2;
    return Skip(2);
  }
  bool Text() {
    while (Has(2) && Word(at_) != 0) at_ += 2;
    return Skip(2);
  }
  bool Align() {
    const size_t pad = (4 - at_ % 4) % 4;
    return Skip(pad) || at_ == size_;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

constexpr uint32_t kSetFont = 0x40;    // DS_SETFONT
constexpr uint32_t kShellFont = 0x48;  // DS_SHELLFONT

void PutWord(uint8_t* at, int32_t value) {
  at[0] = static_cast<uint8_t>(value & 0xFF);
  at[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

}  // namespace

bool FindTemplateItem(const uint8_t* tmpl, size_t size, uint32_t id, TemplatePlaces* places) {
  if (!tmpl) return false;
  Walker w(tmpl, size);
  if (!w.Has(4)) return false;
  const bool extended = w.Word(0) == 1 && w.Word(2) == 0xFFFF;
  const size_t headerBytes = extended ? 26 : 18;
  if (!w.Has(headerBytes)) return false;
  const uint32_t style = extended ? w.Dword(12) : w.Dword(0);
  const uint16_t items = extended ? w.Word(16) : w.Word(8);
  places->dialogWidth = extended ? 22 : 14;
  places->dialogHeight = extended ? 24 : 16;
  w.Skip(headerBytes);
  if (!w.Field() || !w.Field() || !w.Field()) return false;
  if ((style & kSetFont) || (extended && (style & kShellFont) == kShellFont)) {
    if (!w.Skip(extended ? 6 : 2) || !w.Text()) return false;
  }
  for (uint16_t i = 0; i < items; ++i) {
    if (!w.Align()) return false;
    const size_t start = w.At();
    const size_t itemBytes = extended ? 24 : 18;
    if (!w.Has(itemBytes)) return false;
    const size_t place = start + (extended ? 12 : 8);
    const uint32_t itemId = extended ? w.Dword(start + 20) : w.Word(start + 16);
    if (itemId == id) {
      places->itemX = place;
      places->itemY = place + 2;
      places->itemWidth = place + 4;
      places->itemHeight = place + 6;
      return true;
    }
    w.Skip(itemBytes);
    if (!w.Field() || !w.Field() || !w.Has(2)) return false;
    // Creation data: a plain template's count includes its own word, an
    // extended one's does not.
    const uint16_t extra = w.Word(w.At());
    if (!w.Skip(extended ? 2u + extra : (extra > 2 ? extra : 2u))) return false;
  }
  return false;
}

bool FitClipsSheetTemplate(uint8_t* tmpl, size_t size) {
  TemplatePlaces p;
  if (!FindTemplateItem(tmpl, size, kSheetTabControl, &p)) return false;
  const int16_t tabX = static_cast<int16_t>(tmpl[p.itemX] | (tmpl[p.itemX + 1] << 8));
  PutWord(tmpl + p.dialogHeight, 104);
  PutWord(tmpl + p.dialogWidth, 2 * (tabX + 73));
  PutWord(tmpl + p.itemX, 4);
  PutWord(tmpl + p.itemY, 4);
  PutWord(tmpl + p.itemWidth, 145);
  PutWord(tmpl + p.itemHeight, 80);
  return true;
}

}  // namespace shell
