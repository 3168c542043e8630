// Test-only capture devices: a camera and a microphone that the tests
// register with the filter mapper in the video and audio input categories of
// their own Wine prefix. The test process sets their behaviour through the
// DLL's exports before the engine creates them (same module, same globals).
#pragma once

#include <windows.h>

// {6B3E2A01-8C44-4F1D-9E27-3A5C0B7D1E01}
static const GUID CLSID_FakeVideoCapture = {0x6B3E2A01, 0x8C44, 0x4F1D, {0x9E, 0x27, 0x3A, 0x5C, 0x0B, 0x7D, 0x1E, 0x01}};
// {6B3E2A02-8C44-4F1D-9E27-3A5C0B7D1E01}
static const GUID CLSID_FakeAudioCapture = {0x6B3E2A02, 0x8C44, 0x4F1D, {0x9E, 0x27, 0x3A, 0x5C, 0x0B, 0x7D, 0x1E, 0x01}};

struct FakeCaptureSettings {
  // Sizes the capture pin's IAMStreamConfig lists as capabilities (none:
  // GetNumberOfCapabilities gives 0).
  int capabilityCount;
  SIZE capabilities[8];
  // Sizes SetFormat takes; none: the capabilities' sizes.
  int acceptCount;
  SIZE accept[12];
  SIZE initial;  // the format in force when the filter is made
  BOOL previewPin;
  // The microphone's clock offers IAMClockAdjust.
  BOOL clockAdjust;
};

// What the filters saw, for the tests.
struct FakeCaptureLog {
  LONG setFormatCalls;
  SIZE lastSetFormat;
  LONGLONG clockDelta;
  LONG clockDeltaCalls;
  LONG cameraRuns;
  LONG picturesOffered;  // each push of a picture, delivered or dropped
};

typedef void(WINAPI* FakeCaptureConfigureFn)(const FakeCaptureSettings* settings);
typedef void(WINAPI* FakeCaptureReadLogFn)(FakeCaptureLog* log, BOOL clear);

// The picture of frame `index` (RGB24, bottom-up rows padded to 4 bytes):
// a gradient shifted by the index with a bright band at a row that walks.
inline BYTE FakeCapturePixel(int x, int y, int channel, int index) {
  if ((y + index * 4) % 64 < 6) return 235;
  return BYTE((x * (channel + 1) + y * (3 - channel) + index * 5) & 0xFF);
}
