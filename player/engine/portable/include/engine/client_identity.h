// The texts that identify the player to servers: the device capability
// string and the User-Agent. The values are gathered by the Windows side;
// composing them is plain text work.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// OS value: Windows 9x or NT platform with its version numbers.
std::u16string OsText(bool ntPlatform, uint32_t major, uint32_t minor);
// PROC value on Windows 9x, by processor type (386, 486, 586).
std::u16string ProcessorText9x(uint32_t processorType);
// PROC value on NT, by processor architecture (0 Intel, 1 MIPS, 2 Alpha,
// 3 PowerPC) and, for Intel, processor level.
std::u16string ProcessorTextNt(uint32_t architecture, uint32_t level);

// The display probe: a pixel format code from a bitmap's bit count and, when
// it has bit fields, its colour masks.
int DisplayProbe(uint32_t bitCount, bool bitFields, uint32_t red, uint32_t green, uint32_t blue);
// DISPLAY value from the window's bits per pixel and, for 16, the probe.
std::u16string DisplayText(uint32_t bitsPerPixel, int probe16);

// Rates in the order 8.0 ... 48.0 kHz; bit i of supported = rate i usable.
constexpr uint32_t kProbeRatesHz[8] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000};
std::u16string SamplingRatesText(uint32_t supported);
std::u16string BitsPerSampleText(bool any8Bit, bool any16Bit);

struct DeviceInfoValues {
  std::u16string manufacturer = u"INTEL";
  std::u16string processor;
  int32_t memoryKb = 0;  // available physical bytes / 1000
  std::u16string os;
  std::u16string display;
  std::u16string samplingRates;
  std::u16string bitsPerSample;
  std::u16string waveform = u"pcm";
};
std::string ComposeDeviceInfo(const DeviceInfoValues& v);

// "WMF/1.1,Orlomer 3.0,<language code>" in UTF-8.
std::string ComposeUserAgent(std::u16string_view languageCode);
