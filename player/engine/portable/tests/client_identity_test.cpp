#include <gtest/gtest.h>

#include "engine/client_identity.h"

TEST(ClientIdentity, OsAndProcessorTexts) {
  EXPECT_EQ(OsText(true, 5, 0), u"WINDOWS/2000");
  EXPECT_EQ(OsText(true, 6, 1), u"WINDOWS/2000");
  EXPECT_EQ(OsText(true, 4, 0), u"WINDOWS/NT4.0");
  EXPECT_EQ(OsText(false, 4, 10), u"WINDOWS/98");
  EXPECT_EQ(OsText(false, 4, 0), u"WINDOWS/95");
  struct Nt { uint32_t arch, level; std::u16string text; };
  const Nt nt[] = {{0, 3, u"INTEL/80386"}, {0, 4, u"INTEL/80486"}, {0, 5, u"INTEL/PENTIUM"},
                   {0, 6, u"INTEL/PENTIUM_PRO"}, {0, 15, u"INTEL/PENTIUMIV"}, {0, 7, u"INTEL/PENTIUM"},
                   {1, 0, u"MIPS"}, {2, 0, u"ALPHA"}, {3, 0, u"POWERPC"}, {9, 0, u"UNKNOWN"},
                   {0xFFFF, 0, u"UNKNOWN"}};
  for (const Nt& c : nt) EXPECT_EQ(ProcessorTextNt(c.arch, c.level), c.text) << c.arch << "/" << c.level;
  EXPECT_EQ(ProcessorText9x(486), u"INTEL/80486");
  EXPECT_EQ(ProcessorText9x(686), u"UNKNOWN");
}

TEST(ClientIdentity, DisplayProbeAndText) {
  EXPECT_EQ(DisplayProbe(16, true, 0xF800, 0x7E0, 0x1F), 7);
  EXPECT_EQ(DisplayProbe(16, true, 0x7C00, 0x3E0, 0x1F), 6);
  EXPECT_EQ(DisplayProbe(32, true, 0xFF0000, 0xFF00, 0xFF), 9);
  EXPECT_EQ(DisplayProbe(16, true, 0x1F, 0x7E0, 0xF800), -1);  // BGR order is unknown
  EXPECT_EQ(DisplayProbe(16, false, 0, 0, 0), 6);
  EXPECT_EQ(DisplayProbe(12, false, 0, 0, 0), -1);
  EXPECT_EQ(DisplayText(16, 7), u"C565");
  EXPECT_EQ(DisplayText(16, 6), u"C555");
  EXPECT_EQ(DisplayText(16, -1), u"????");
  EXPECT_EQ(DisplayText(4, 0), u"G400");
  EXPECT_EQ(DisplayText(8, 0), u"P256");
  EXPECT_EQ(DisplayText(24, 0), u"C888");
  EXPECT_EQ(DisplayText(32, 0), u"A888");
  EXPECT_EQ(DisplayText(15, 0), u"????");
}

TEST(ClientIdentity, AudioTextsAndComposition) {
  EXPECT_EQ(SamplingRatesText(0), u"");
  EXPECT_EQ(SamplingRatesText(0xFF), u"8.0,11.025,16.0,22.050,24.0,32.0,44.1,48.0");
  EXPECT_EQ(SamplingRatesText(0x0A), u"11.025,22.050");
  EXPECT_EQ(BitsPerSampleText(true, true), u"8,16");
  EXPECT_EQ(BitsPerSampleText(false, true), u"16");
  EXPECT_EQ(BitsPerSampleText(false, false), u"");

  DeviceInfoValues v;
  v.processor = u"INTEL/PENTIUMIV";
  v.memoryKb = 524288;
  v.os = u"WINDOWS/2000";
  v.display = u"C565";
  v.samplingRates = u"8.0,44.1";
  v.bitsPerSample = u"16";
  EXPECT_EQ(ComposeDeviceInfo(v),
            "MANUF=INTEL;PROC=INTEL/PENTIUMIV;MEM=524288;OS=WINDOWS/2000;DISPLAY=C565;"
            "AUDIO_SAMPLING_RATES=8.0,44.1;AUDIO BITS/SAMPLE=16;AUDIO_WAVEFORM=pcm");
  EXPECT_EQ(ComposeUserAgent(u"ENGL"), "WMF/1.1,Orlomer 3.0,ENGL");
}
