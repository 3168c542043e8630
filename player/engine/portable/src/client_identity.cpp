#include "engine/client_identity.h"

#include "platform/os.h"

std::u16string OsText(bool ntPlatform, uint32_t major, uint32_t minor) {
  if (!ntPlatform) return minor > 0 ? u"WINDOWS/98" : u"WINDOWS/95";
  if (major >= 5) return u"WINDOWS/2000";
  std::string nt = "WINDOWS/NT" + std::to_string(major) + "." + std::to_string(minor);
  return std::u16string(nt.begin(), nt.end());
}

std::u16string ProcessorText9x(uint32_t processorType) {
  switch (processorType) {
    case 386: return u"INTEL/80386";
    case 486: return u"INTEL/80486";
    case 586: return u"INTEL/PENTIUM";
    default: return u"UNKNOWN";
  }
}

std::u16string ProcessorTextNt(uint32_t architecture, uint32_t level) {
  switch (architecture) {
    case 0:
      switch (level) {
        case 3: return u"INTEL/80386";
        case 4: return u"INTEL/80486";
        case 5: return u"INTEL/PENTIUM";
        case 6: return u"INTEL/PENTIUM_PRO";
        case 15: return u"INTEL/PENTIUMIV";
        default: return u"INTEL/PENTIUM";
      }
    case 1: return u"MIPS";
    case 2: return u"ALPHA";
    case 3: return u"POWERPC";
    default: return u"UNKNOWN";
  }
}

int DisplayProbe(uint32_t bitCount, bool bitFields, uint32_t red, uint32_t green, uint32_t blue) {
  if (!bitFields) {
    switch (bitCount) {
      case 1: return 0;
      case 2: return 1;
      case 4: return 2;
      case 8: return 4;
      case 16: return 6;
      case 24: return 8;
      case 32: return 9;
      default: return -1;
    }
  }
  if (blue == 0x1F && green == 0x3E0 && red == 0x7C00) return 6;
  if (blue == 0x1F && green == 0x7E0 && red == 0xF800) return 7;
  if (blue == 0xFF && green == 0xFF00 && red == 0xFF0000) return 9;
  return -1;
}

std::u16string DisplayText(uint32_t bitsPerPixel, int probe16) {
  switch (bitsPerPixel) {
    case 4: return u"G400";
    case 8: return u"P256";
    case 16: return probe16 == 6 ? u"C555" : probe16 == 7 ? u"C565" : u"????";
    case 24: return u"C888";
    case 32: return u"A888";
    default: return u"????";
  }
}

static void DropLastComma(std::u16string* s) {
  if (!s->empty() && s->back() == u',') s->pop_back();
}

std::u16string SamplingRatesText(uint32_t supported) {
  static const char16_t* const kTexts[8] = {u"8.0,",  u"11.025,", u"16.0,", u"22.050,",
                                            u"24.0,", u"32.0,",   u"44.1,", u"48.0,"};
  std::u16string s;
  for (int i = 0; i < 8; ++i)
    if (supported & (1u << i)) s += kTexts[i];
  DropLastComma(&s);
  return s;
}

std::u16string BitsPerSampleText(bool any8Bit, bool any16Bit) {
  std::u16string s;
  if (any8Bit) s += u"8,";
  if (any16Bit) s += u"16,";
  DropLastComma(&s);
  return s;
}

std::string ComposeDeviceInfo(const DeviceInfoValues& v) {
  using platform::utf16ToUtf8;
  return "MANUF=" + utf16ToUtf8(v.manufacturer) + ";PROC=" + utf16ToUtf8(v.processor) +
         ";MEM=" + std::to_string(v.memoryKb) + ";OS=" + utf16ToUtf8(v.os) +
         ";DISPLAY=" + utf16ToUtf8(v.display) +
         ";AUDIO_SAMPLING_RATES=" + utf16ToUtf8(v.samplingRates) +
         ";AUDIO BITS/SAMPLE=" + utf16ToUtf8(v.bitsPerSample) +
         ";AUDIO_WAVEFORM=" + utf16ToUtf8(v.waveform);
}

std::string ComposeUserAgent(std::u16string_view languageCode) {
  return "WMF/1.1,Orlomer 3.0," + platform::utf16ToUtf8(languageCode);
}
