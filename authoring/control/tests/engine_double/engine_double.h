// The media engine's test double (tests only): "KRMedia.KRMedia.1" with the
// configuration, file, live, statistics and grant interfaces, registered in
// the control tests' own Wine prefix. Every call is logged as a line
// "Interface.Method arguments"; each call answers what the test queued for
// it (S_OK when nothing is queued); events the test queues are handed out by
// GetDSEvent after the event message is posted to the event window the
// control gave. The test program reaches the same module through its
// exports (same process, same globals).
#pragma once

#include <windows.h>

#include "mediaengine/interfaces.h"

// What the double hands out.
struct EngineDoubleFacts {
  KRSourceFileInfo sourceInfo;   // GetSourceFileInfo (its file name is the one asked for)
  KRVideoCaptureConfig capture;  // GetConfigVideoCapture; ConfigVideoCapture changes it
  // Taken as the capture when a start answers 0x800A041E (width 0: none).
  KRVideoCaptureConfig movedCapture;
  BITMAPINFOHEADER image;  // GetDecodedImg
};

// What the control handed over.
struct EngineDoubleSeen {
  mediaengine::KRSettingsRecords records;  // the last of each Config* call
  HWND eventWindow;
  LONG eventMessage;
  LONG blocksHeld;  // event blocks handed out and not freed
};

// Everything back to the start: no answers, no log, no events, the
// records at the engine's defaults, the facts zero.
typedef void(WINAPI* EngineDoubleResetFn)();
typedef void(WINAPI* EngineDoubleSetFactsFn)(const EngineDoubleFacts* facts);
// The next call of `call` ("File.StartEncode", "QueryInterface.Live", ...)
// answers `answer`; several queue in order.
typedef void(WINAPI* EngineDoubleAnswerFn)(const char* call, HRESULT answer);
// An event for GetDSEvent. With a block, parameter 1 is a copy of its
// `blockBytes` bytes (freed by FreeDSEvent) and parameter 2 is `p2` as
// given. Posts the event message when the control has given its window.
typedef void(WINAPI* EngineDoubleQueueEventFn)(LONG code, LONG_PTR p1, LONG_PTR p2, const void* block,
                                               LONG blockBytes);
// The log, one call per line; answers the length it needs (with the
// terminator). `clear` empties it after reading.
typedef LONG(WINAPI* EngineDoubleReadLogFn)(char* text, LONG size, BOOL clear);
typedef void(WINAPI* EngineDoubleReadSeenFn)(EngineDoubleSeen* seen);
