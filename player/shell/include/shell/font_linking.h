// Fonts that can show the text a window holds, over the system's
// multi-language service (MLang), and the per-window records through which
// text is read back from windows in the Windows 9x mode. Every function has a
// fallback for a system without MLang (code-page sets 1, code page 1252,
// fonts unchanged). User-interface thread only.
#pragma once

#include <windows.h>
#include <mlang.h>

#include <cstdint>

constexpr int kWindowTextSlots = 40;

// One attached window.
struct FontLinkRecord {
  HFONT font;          // made for the window, or the window's own
  HFONT currentFont;
  HFONT initialFont;   // the window's font when attached (0 if none)
  WNDPROC previousProc;
  HWND window;
  CHARSETINFO charsetInfo;  // ciACP: code page of the window's text in the 9x mode
};

// Started and stopped with the Windows API layer.
void StartFontLinking();
void StopFontLinking();
void StartWindowTextTable();
void StopWindowTextTable();

// Test seam: uses these interfaces in place of MLang's (each may be null).
// The pointers are borrowed: the caller keeps them alive until StopFontLinking.
void UseMLangForTesting(IMultiLanguage* multiLanguage, IMLangFontLink* fontLink,
                        IMLangCodePages* codePages);

int AttachFontLinking(HWND window, const wchar_t* faceList);
LRESULT CALLBACK FontLinkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int GetWindowTextCompat(HWND window, wchar_t* buffer, int capacity);
const FontLinkRecord* FindFontLinkRecord(HWND window);
int AttachedWindowCount();

HFONT FontForText(HDC dc, HFONT font, const wchar_t* text);
HFONT FontForCodePages(HDC dc, HFONT font, uint32_t codePageSet);
bool FontCoversCodePages(HDC dc, HFONT font, uint32_t codePageSet);
UINT TextCodePage(const wchar_t* text);
HFONT CreateFontFromFaceList(const wchar_t* faceList, HDC dc, LOGFONTW* record);
void MakeDefaultLogFont(LOGFONTW* record, HDC dc, int points);
void FindInstalledCodePages();
uint32_t InstalledCodePages();

UINT LocaleAnsiCodePage(LCID locale);
uint32_t LocaleCodePageSet(LCID locale);
uint32_t CodePageSetOf(UINT codePage);
UINT CodePageOfSet(uint32_t set);
