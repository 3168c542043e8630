// How the player tells the user things: ShowMessage (a message box keyed by
// a string-table id) and the instrumentation log, a text file that takes the
// place of every message box while the setting "InstrumentTesting" names a
// file. Callable from any thread; each log line opens, appends and closes.
#pragma once

#include <windows.h>

using MessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);

// The message box's result, or 0 when the text went to the log.
int ShowMessage(HINSTANCE instance, UINT id, const wchar_t* argument, UINT style);
int IsInstrumentLogOn(HINSTANCE instance);
// One line: the local time as "MM/DD hh:mm:ss:mmm ", then the text formatted
// (texts as %ls), written as UTF-8. A format of exactly "\n" writes only the
// newline.
void InstrumentLog(HINSTANCE instance, const wchar_t* format, ...);
// The same with an already formatted text.
void InstrumentLogText(HINSTANCE instance, const wchar_t* text);

// A message box of the player's own text and caption, through the same seam
// (no log: its answer is needed).
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style);
// The main window, found by its class name (string 3), or null.
HWND PlayerMainWindow(HINSTANCE instance);

// Test seam over MessageBoxW; null restores it.
void SetMessageBoxForTesting(MessageBoxFunction function);
