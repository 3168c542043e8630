#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "shell/font_linking.h"
#include "shell/win_api_table.h"
#include "shell_test_support.h"

namespace {

// MLang as a test scripts it: runs of a text with their code-page sets, a
// font's code pages, and the code-page numbers of single bits.
class FakeMLang : public IMLangFontLink {
 public:
  HRESULT WINAPI QueryInterface(REFIID, void** out) override {
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG WINAPI AddRef() override { return ++references; }
  ULONG WINAPI Release() override { return --references; }

  HRESULT WINAPI GetCharCodePages(WCHAR, DWORD* set) override {
    *set = 0x1;
    return S_OK;
  }
  HRESULT WINAPI GetStrCodePages(const WCHAR*, __LONG32 length, DWORD, DWORD* set, __LONG32* run) override {
    ++calls;
    if (next >= runs.size()) return E_FAIL;
    *set = runs[next].second;
    *run = runs[next].first < static_cast<uint32_t>(length) ? runs[next].first : length;
    ++next;
    return S_OK;
  }
  HRESULT WINAPI CodePageToCodePages(UINT codePage, DWORD* set) override {
    for (const auto& p : pages)
      if (p.first == codePage) {
        *set = p.second;
        return S_OK;
      }
    return E_FAIL;
  }
  HRESULT WINAPI CodePagesToCodePage(DWORD set, UINT, UINT* codePage) override {
    for (const auto& p : pages)
      if (p.second == set) {
        *codePage = p.first;
        return S_OK;
      }
    return E_FAIL;
  }
  HRESULT WINAPI GetFontCodePages(HDC, HFONT, DWORD* set) override {
    *set = fontSet;
    return S_OK;
  }
  HRESULT WINAPI MapFont(HDC, DWORD, HFONT, HFONT* out) override {
    if (!mapped) return E_FAIL;
    *out = mapped;
    return S_OK;
  }
  HRESULT WINAPI ReleaseFont(HFONT) override { return S_OK; }
  HRESULT WINAPI ResetFontMapping() override {
    ++resets;
    return S_OK;
  }

  ULONG references = 1;
  std::vector<std::pair<uint32_t, DWORD>> runs;
  size_t next = 0;
  int calls = 0, resets = 0;
  std::vector<std::pair<UINT, DWORD>> pages = {{1252, 0x1}, {1250, 0x2}, {1251, 0x4}};
  DWORD fontSet = 0x1;
  HFONT mapped = nullptr;
};

// Each test gets the system's MLang back afterwards.
class FontLinking : public ::testing::Test {
 protected:
  void UseFake() { UseMLangForTesting(nullptr, &fake, &fake); }
  void TearDown() override {
    StopFontLinking();
    StartFontLinking();
  }
  FakeMLang fake;
};

TEST_F(FontLinking, AsciiTextIsWesternWithAndWithoutMLang) {
  EXPECT_EQ(TextCodePage(L"Plain ASCII title"), 1252u);
  UseMLangForTesting(nullptr, nullptr, nullptr);
  EXPECT_EQ(TextCodePage(L"Plain ASCII title"), 1252u);
  EXPECT_EQ(CodePageSetOf(1251), 1u);
  EXPECT_EQ(CodePageOfSet(4), 1252u);
}

TEST_F(FontLinking, DominantCodePageCountsRuns) {
  UseFake();
  fake.runs = {{10, 0x1 | 0x4}, {3, 0x4}};  // Latin-1 counts 10, Cyrillic 13
  EXPECT_EQ(TextCodePage(L"abcdefghij\x0416\x0417\x0418"), 1251u);
  EXPECT_EQ(fake.calls, 2);
}

TEST_F(FontLinking, ARunOfNothingEndsTheWalk) {
  UseFake();
  fake.runs = {{0, 0x4}, {3, 0x4}};
  EXPECT_EQ(TextCodePage(L"abc"), 1252u);
  EXPECT_EQ(fake.calls, 1);
}

TEST_F(FontLinking, FortyWindowsAttachTheFortyFirstDoesNot) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  std::vector<HWND> edits;
  for (int i = 0; i < 41; ++i)
    edits.push_back(CreateWindowExW(0, L"EDIT", L"", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, instance, nullptr));
  const int before = AttachedWindowCount();
  for (int i = 0; i < kWindowTextSlots - before; ++i) EXPECT_EQ(AttachFontLinking(edits[i], L"Tahoma,Arial"), 1) << i;
  EXPECT_EQ(AttachedWindowCount(), kWindowTextSlots);
  EXPECT_EQ(AttachFontLinking(edits[40], L"Tahoma,Arial"), 0);
  EXPECT_EQ(FindFontLinkRecord(edits[40]), nullptr);
  // A destroyed window frees its slot.
  DestroyWindow(edits[0]);
  EXPECT_EQ(FindFontLinkRecord(edits[0]), nullptr);
  EXPECT_EQ(AttachFontLinking(edits[40], L"Tahoma,Arial"), 1);
  for (HWND e : edits) DestroyWindow(e);
  EXPECT_EQ(AttachedWindowCount(), before);
}

TEST_F(FontLinking, AttachingGivesAFontAndKeepsTheText) {
  HWND edit = CreateWindowExW(0, L"EDIT", L"kept text", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  ASSERT_EQ(AttachFontLinking(edit, L"No Such Face,Another Missing Face"), 1);
  const FontLinkRecord* record = FindFontLinkRecord(edit);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->initialFont, nullptr);
  EXPECT_NE(record->font, nullptr);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0)), record->currentFont);
  wchar_t text[32] = {};
  EXPECT_EQ(GetWindowTextCompat(edit, text, 32), 9);
  EXPECT_STREQ(text, L"kept text");
  // All faces missing: the DC's own face, at 10 points.
  LOGFONTW lf = {};
  GetObjectW(record->font, sizeof(lf), &lf);
  HDC dc = GetDC(edit);
  wchar_t face[LF_FACESIZE] = {};
  GetTextFaceW(dc, LF_FACESIZE, face);
  EXPECT_STREQ(lf.lfFaceName, face);
  EXPECT_EQ(lf.lfHeight, -(GetDeviceCaps(dc, LOGPIXELSY) * 10 / 72));
  ReleaseDC(edit, dc);
  DestroyWindow(edit);
}

TEST_F(FontLinking, DefaultLogFontHeights) {
  HDC dc = GetDC(nullptr);
  ASSERT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 96);
  LOGFONTW lf = {};
  lf.lfFaceName[0] = L'X';
  MakeDefaultLogFont(&lf, dc, 10);
  EXPECT_EQ(lf.lfHeight, -13);
  EXPECT_EQ(lf.lfWeight, 400);
  EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
  EXPECT_EQ(lf.lfPitchAndFamily, 16);
  EXPECT_EQ(lf.lfFaceName[0], L'X');  // the face is not touched
  MakeDefaultLogFont(&lf, dc, 8);
  EXPECT_EQ(lf.lfHeight, -11);
  MakeDefaultLogFont(&lf, nullptr, 8);
  EXPECT_EQ(lf.lfHeight, -11);
  ReleaseDC(nullptr, dc);
}

TEST_F(FontLinking, FaceListTakesTheFirstInstalledFace) {
  HDC dc = GetDC(nullptr);
  // Find a face the system has, and put it behind a missing one.
  wchar_t face[LF_FACESIZE] = {};
  GetTextFaceW(dc, LF_FACESIZE, face);
  const std::wstring list = std::wstring(L"Missing Face,") + face;
  LOGFONTW lf = {};
  lf.lfHeight = -20;
  lf.lfWeight = 700;
  lf.lfWidth = 9;
  HFONT font = CreateFontFromFaceList(list.c_str(), dc, &lf);
  ASSERT_NE(font, nullptr);
  EXPECT_STREQ(lf.lfFaceName, face);
  EXPECT_EQ(lf.lfHeight, -20);
  EXPECT_EQ(lf.lfWeight, 700);
  EXPECT_EQ(lf.lfWidth, 0);
  DeleteObject(font);
  ReleaseDC(nullptr, dc);
}

// Records what reaches the window's own procedure under the subclass.
int g_languageRequests = 0;
LRESULT CALLBACK RecordingProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_INPUTLANGCHANGEREQUEST) {
    ++g_languageRequests;
    return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

TEST_F(FontLinking, LanguageChangeRefusedWhenTheFontLacksItsScript) {
  UseFake();
  WNDCLASSW wc = {};
  wc.lpfnWndProc = RecordingProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ShellLanguageProbe";
  RegisterClassW(&wc);
  HWND w = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_EQ(AttachFontLinking(w, L""), 1);
  const LPARAM russian = static_cast<LPARAM>(0x04190419);
  g_languageRequests = 0;
  fake.fontSet = 0x1;  // Latin-1 only
  EXPECT_EQ(SendMessageW(w, WM_INPUTLANGCHANGEREQUEST, 0, russian), 0);
  EXPECT_EQ(g_languageRequests, 0);
  fake.fontSet = 0x1 | 0x4;  // now with Cyrillic
  SendMessageW(w, WM_INPUTLANGCHANGEREQUEST, 0, russian);
  EXPECT_EQ(g_languageRequests, 1);
  // Destroying restores the window's procedure and frees the record.
  DestroyWindow(w);
  EXPECT_EQ(FindFontLinkRecord(w), nullptr);
  UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

TEST_F(FontLinking, FontForCodePagesMapsOnlyWhatIsNotCovered) {
  UseFake();
  HDC dc = GetDC(nullptr);
  HFONT own = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  HFONT other = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
  fake.mapped = other;
  fake.fontSet = 0x1;
  EXPECT_EQ(FontForCodePages(dc, own, 0x1), own);
  EXPECT_EQ(FontForCodePages(dc, own, 0x4), other);
  fake.mapped = nullptr;
  EXPECT_EQ(FontForCodePages(dc, own, 0x4), own);
  fake.runs = {{3, 0x4}};
  fake.mapped = other;
  EXPECT_EQ(FontForText(dc, own, L"\x0416\x0417\x0418"), other);
  EXPECT_EQ(FontForText(dc, own, nullptr), own);
  ReleaseDC(nullptr, dc);
}

TEST_F(FontLinking, Win9xWindowTextReadsThroughTheRecordsCodePage) {
  ScopedApiMode mode(true);
  HWND edit = CreateWindowExA(0, "EDIT", "", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, GetModuleHandleW(nullptr),
                              nullptr);
  ASSERT_EQ(AttachFontLinking(edit, L""), 1);
  WinApi().SetWindowTextW(edit, L"Smörgåsbord");
  wchar_t text[64] = {};
  EXPECT_EQ(GetWindowTextCompat(edit, text, 64), 11);
  EXPECT_STREQ(text, L"Smörgåsbord");
  EXPECT_EQ(GetWindowTextCompat(edit, text, 5), 4);
  EXPECT_STREQ(text, L"Smör");
  DestroyWindow(edit);
}

}  // namespace
