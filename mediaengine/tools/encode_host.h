// A host that plays the authoring control's part on the media engine: it
// creates "KRMedia.KRMedia.1" by ProgID, hands it the records and its event
// window, starts the file source and pumps 0x5F4 and GetDSEvent until the
// run ends. Shared by the engine's tests and the medlark_encode tool.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "mediaengine/interfaces.h"

// Registers the COM servers found beside the program (each one's
// DllRegisterServer); answers the names that failed, empty when all went.
std::vector<std::string> RegisterCompanions(const std::vector<std::string>& dlls);

struct EncodeJob {
  std::wstring input, output;
  LONG streamType = 3;  // 1 audio, 2 video, 3 both
  LONG outputType = 1;  // 1 file; 4, 5, 12 streams
  LONG amrBitRate = 12200;
  LONG previewType = 0;
  int width = 176, height = 144;
  float sourceRate = 15.0f, layerRate = 15.0f;
  LONG videoBitRate = 64000;
  LONG rtspPort = 0;  // 0: the default
  DWORD timeoutMs = 120000;
};

struct EncodeResult {
  HRESULT created = E_FAIL;  // creation by ProgID
  HRESULT started = E_FAIL;  // StartEncode(1)
  HRESULT stopped = E_FAIL;  // Stop after EC_COMPLETE
  bool complete = false;     // EC_COMPLETE arrived
  bool archived = false;     // 32778 arrived after the stop
  int notices = 0;           // 0x5F4 messages
  std::vector<LONG> events;  // codes in order
  std::vector<double> streamTimes;  // GetStreamTime while running
  double wallSeconds = 0;    // start to EC_COMPLETE
};

// The whole run on an engine made for it; the engine is released at the end.
void RunFileEncode(const EncodeJob& job, EncodeResult* result);

// The records a job asks for, on an engine's configuration.
HRESULT ApplyJob(IKRMediaConfig* config, const EncodeJob& job);

// Where a host takes its events from and hands them back.
struct EventCalls {
  std::function<HRESULT(LONG*, LONG_PTR*, LONG_PTR*)> get;
  std::function<HRESULT(LONG, LONG_PTR, LONG_PTR)> free;
};
// The file source's own event operations.
EventCalls FileEvents(IGenFromFile* source);

// Pumps the window's 0x5F4 until `wanted` comes (true) or the time is up;
// each event is handed back. While waiting, `tick` runs every 50 ms.
bool PumpEvents(const EventCalls& events, HWND window, LONG wanted, DWORD ms, EncodeResult* result,
                const std::function<void()>& tick);
inline bool PumpEvents(IGenFromFile* source, HWND window, LONG wanted, DWORD ms, EncodeResult* result,
                       const std::function<void()>& tick) {
  return PumpEvents(FileEvents(source), window, wanted, ms, result, tick);
}

// A window for the engine's notices (destroyed by the caller).
HWND MakeEventWindow();
