// The rich-edit class on Wine's Rich Edit 2.0: text in a code page both
// ways, the limit a user types against, the event mask, the character
// format and the background colour.
#include <gtest/gtest.h>

#include "dialogs/controls.h"
#include "helpers.h"

using namespace dlgtests;

namespace {

// A parent that counts its edit's change notifications.
class EditHost {
 public:
  EditHost() {
    parent_.On(WM_COMMAND, [this](WPARAM w, LPARAM) -> LRESULT {
      if (HIWORD(w) == EN_CHANGE) ++changes;
      return 0;
    });
    parent_.Create(L"KrDialogsTestEditHost", WS_POPUP | WS_VISIBLE, 0, nullptr, RECT{50, 50, 450, 250});
    dlg::RichEdit::Load();
    edit = dlg::RichEdit(CreateWindowExW(0, L"RichEdit20W", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_MULTILINE, 10,
                                         10, 360, 120, parent_.Handle(), reinterpret_cast<HMENU>(7), TestModule(), nullptr));
  }
  void TypeText(const std::wstring& text) const {
    for (wchar_t c : text) SendMessageW(edit.Handle(), WM_CHAR, c, 1);
  }
  dlg::RichEdit edit;
  int changes = 0;

 private:
  win::Window parent_;
};

struct CodePageText {
  UINT codePage;
  std::string bytes;
  std::wstring wide;
};

TEST(RichEdit, TextInACodePageComesBackAsTheSameBytesAndTheRightCharacters) {
  EditHost host;
  ASSERT_NE(host.edit.Handle(), nullptr);
  const CodePageText cases[] = {
      // "Kalimera" in Greek, Windows-1253.
      {1253, "\xCA\xE1\xEB\xE7\xEC\xDD\xF1\xE1", L"\x039A\x03B1\x03BB\x03B7\x03BC\x03AD\x03C1\x03B1"},
      // "Japanese text" in Shift-JIS (932): kanji and katakana, two bytes each.
      {932, "\x93\xFA\x96\x7B\x8C\xEA\x83\x65\x83\x4C\x83\x58\x83\x67", L"\x65E5\x672C\x8A9E\x30C6\x30AD\x30B9\x30C8"},
  };
  for (const CodePageText& c : cases) {
    EXPECT_TRUE(host.edit.SetTextInCodePage(c.bytes, c.codePage)) << c.codePage;
    EXPECT_EQ(host.edit.WideText(256), c.wide) << c.codePage;
    EXPECT_EQ(host.edit.TextInCodePage(c.codePage), c.bytes) << c.codePage;
    // Western European cannot carry these letters: the code page is used.
    EXPECT_NE(host.edit.TextInCodePage(1252), c.bytes) << c.codePage;
  }
}

TEST(RichEdit, LimitEventMaskCharFormatAndBackground) {
  EditHost host;
  const dlg::RichEdit& edit = host.edit;
  ASSERT_NE(edit.Handle(), nullptr);

  // Changes reach the parent only once the mask asks for them.
  host.TypeText(L"abc");
  EXPECT_EQ(host.changes, 0);
  EXPECT_EQ(edit.SetEventMask(ENM_CHANGE), 0u);
  EXPECT_EQ(edit.EventMask(), static_cast<DWORD>(ENM_CHANGE));
  host.TypeText(L"de");
  EXPECT_GE(host.changes, 2);

  // Typing stops at the limit; reading takes at most what is asked.
  edit.SetLimit(255);
  EXPECT_EQ(edit.Limit(), 255);
  host.TypeText(std::wstring(300, L'x'));
  EXPECT_EQ(edit.WideText(1000).size(), 255u);
  EXPECT_EQ(edit.WideText(4), L"abcd");

  CHARFORMAT2W format = {};
  format.dwMask = CFM_BOLD | CFM_FACE | CFM_SIZE;
  format.dwEffects = CFE_BOLD;
  format.yHeight = 200;
  wcscpy(format.szFaceName, L"Tahoma");
  EXPECT_TRUE(edit.SetCharFormat(format, SCF_ALL));
  SendMessageW(edit.Handle(), EM_SETSEL, 0, -1);
  CHARFORMAT2W read = edit.CharFormat(SCF_SELECTION);
  EXPECT_TRUE(read.dwEffects & CFE_BOLD);
  EXPECT_EQ(read.yHeight, 200);
  EXPECT_STREQ(read.szFaceName, L"Tahoma");

  EXPECT_EQ(edit.SetBackground(RGB(250, 220, 120)), GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(edit.UseSystemBackground(), RGB(250, 220, 120));
  edit.SetEditable(false);
  EXPECT_FALSE(edit.Enabled());
  EXPECT_EQ(edit.SetBackground(RGB(1, 2, 3)), GetSysColor(COLOR_3DFACE));
}

}  // namespace
