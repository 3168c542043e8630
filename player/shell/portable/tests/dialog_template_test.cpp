#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/portable/dialog_template.h"

namespace {

class TemplateBuilder {
 public:
  explicit TemplateBuilder(bool extended) : extended_(extended) {}

  void Word(uint32_t v) {
    bytes.push_back(static_cast<uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
  }
  void Dword(uint32_t v) {
    Word(v & 0xFFFF);
    Word(v >> 16);
  }
  void Text(const std::u16string& s) {
    for (char16_t c : s) Word(c);
    Word(0);
  }
  void Align() {
    while (bytes.size() % 4) bytes.push_back(0);
  }
  void Header(uint32_t style, uint16_t items, int x, int y, int cx, int cy) {
    if (extended_) {
      Word(1);
      Word(0xFFFF);
      Dword(0);
      Dword(0);
      Dword(style);
    } else {
      Dword(style);
      Dword(0);
    }
    Word(items);
    Word(x);
    Word(y);
    Word(cx);
    Word(cy);
    Word(0);               // no menu
    Word(0);               // default class
    Text(u"Properties");   // title
    if (style & 0x40) {
      Word(8);
      if (extended_) {
        Word(400);
        bytes.push_back(0);
        bytes.push_back(1);
      }
      Text(u"MS Shell Dlg");
    }
  }
  void Item(uint32_t id, int x, int y, int cx, int cy, bool classByName, uint16_t extra) {
    Align();
    lastItem = bytes.size();
    if (extended_) {
      Dword(0);
      Dword(0);
      Dword(0x50000000);
    } else {
      Dword(0x50000000);
      Dword(0);
    }
    Word(x);
    Word(y);
    Word(cx);
    Word(cy);
    if (extended_) {
      Dword(id);
    } else {
      Word(id);
    }
    if (classByName) {
      Text(u"SysTabControl32");
    } else {
      Word(0xFFFF);
      Word(0x0080);  // a button by ordinal
    }
    Text(u"Tab");
    if (extended_) {
      Word(extra);
      for (uint16_t i = 0; i < extra; ++i) bytes.push_back(0xAB);
    } else {
      Word(extra ? extra + 2 : 0);
      for (uint16_t i = 0; i < extra; ++i) bytes.push_back(0xAB);
    }
  }

  std::vector<uint8_t> bytes;
  size_t lastItem = 0;

 private:
  bool extended_;
};

int16_t At(const std::vector<uint8_t>& b, size_t offset) {
  return static_cast<int16_t>(b[offset] | (b[offset + 1] << 8));
}

TEST(DialogTemplate, TheSheetsTabIsFoundAndResizedInBothForms) {
  for (bool extended : {false, true}) {
    for (uint32_t style : {0x80C800C0u, 0x80C80080u}) {  // with and without a font
      TemplateBuilder t(extended);
      t.Header(style, 4, 0, 0, 220, 140);
      t.Item(1, 10, 120, 50, 14, false, 0);
      t.Item(2, 70, 120, 50, 14, false, 3);  // creation data to skip
      t.Item(shell::kSheetTabControl, 7, 5, 212, 114, true, 0);
      t.Item(9, 130, 120, 50, 14, false, 0);
      shell::TemplatePlaces p;
      ASSERT_TRUE(shell::FindTemplateItem(t.bytes.data(), t.bytes.size(), shell::kSheetTabControl, &p))
          << extended << " " << style;
      EXPECT_EQ(At(t.bytes, p.itemX), 7);
      EXPECT_EQ(At(t.bytes, p.itemHeight), 114);
      ASSERT_TRUE(shell::FitClipsSheetTemplate(t.bytes.data(), t.bytes.size()));
      EXPECT_EQ(At(t.bytes, p.dialogWidth), 2 * (7 + 73));
      EXPECT_EQ(At(t.bytes, p.dialogHeight), 104);
      EXPECT_EQ(At(t.bytes, p.itemX), 4);
      EXPECT_EQ(At(t.bytes, p.itemY), 4);
      EXPECT_EQ(At(t.bytes, p.itemWidth), 145);
      EXPECT_EQ(At(t.bytes, p.itemHeight), 80);
      // The item behind it is found where it is.
      ASSERT_TRUE(shell::FindTemplateItem(t.bytes.data(), t.bytes.size(), 9, &p));
      EXPECT_EQ(At(t.bytes, p.itemX), 130);
    }
  }
}

TEST(DialogTemplate, NoTabOrACutTemplateChangesNothing) {
  TemplateBuilder t(false);
  t.Header(0x80C800C0u, 2, 0, 0, 220, 140);
  t.Item(1, 10, 120, 50, 14, false, 0);
  t.Item(shell::kSheetTabControl, 4, 4, 212, 114, true, 0);
  std::vector<uint8_t> noTab = t.bytes;
  noTab[8] = 1;  // one item: the tab lies beyond the count
  const std::vector<uint8_t> before = noTab;
  EXPECT_FALSE(shell::FitClipsSheetTemplate(noTab.data(), noTab.size()));
  EXPECT_EQ(noTab, before);
  // Every cut before the tab's whole item record ends the walk cleanly.
  for (size_t n = 0; n < t.lastItem + 18; ++n) {
    std::vector<uint8_t> cut(t.bytes.begin(), t.bytes.begin() + static_cast<long>(n));
    shell::TemplatePlaces p;
    EXPECT_FALSE(shell::FindTemplateItem(cut.data(), cut.size(), shell::kSheetTabControl, &p)) << n;
  }
  EXPECT_FALSE(shell::FitClipsSheetTemplate(nullptr, 0));
}

}  // namespace
