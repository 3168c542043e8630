// The control's rules without windows: property values and their record
// copies, the context menu's entries, ReportError's texts, the contract.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "ctlvane/contract.h"
#include "ctlvane/rules.h"

namespace ctlvane {
namespace {

using mediaengine::KRSettingsRecords;

constexpr HResult H(uint32_t code) { return static_cast<HResult>(code); }

TEST(PropertyRules, NumbersAcceptedAtTheirBoundsAndRefusedJustOutside) {
  struct Case {
    int32_t id;
    double value;
    HResult refusal;  // kOk: accepted
  } const cases[] = {
      {kEncWidth, 79, H(0x800A0430)},       {kEncWidth, 80, kOk},
      {kEncWidth, 1280, kOk},               {kEncWidth, 1281, H(0x800A0430)},
      {kEncHeight, 59, H(0x800A0431)},      {kEncHeight, 60, kOk},
      {kEncHeight, 1024, kOk},              {kEncHeight, 1025, H(0x800A0431)},
      {kNLayers, 0, kInvalidValue},         {kNLayers, 2, kOk},
      {kNLayers, 3, kInvalidValue},         {kBaseBitRate, 0, kInvalidValue},
      {kBaseBitRate, 1000000, kOk},         {kEnBitRate, 1000001, kInvalidValue},
      {kBandwidth, 1, kOk},                 {kBandwidth, 0, kInvalidValue},
      // Float properties are compared as the floats the control holds.
      {kBaseFrameRate, 0.2, kOk},           {kBaseFrameRate, static_cast<float>(0.2), kOk},
      {kBaseFrameRate, 0.19, H(0x800A03FE)}, {kBaseFrameRate, 35.0, kOk},
      {kBaseFrameRate, 35.01, H(0x800A03FE)}, {kEnFrameRate, 0.2, H(0x800A03FF)},
      {kEnFrameRate, 0.21, kOk},            {kEnFrameRate, 35.0, kOk},
      {kEnFrameRate, 35.01, H(0x800A03FF)}, {kIFrameInterval, -1, kOk},
      {kIFrameInterval, -2, kInvalidValue}, {kMediaOut, 4, kOk},
      {kMediaOut, 2, kInvalidValue},        {kMediaOut, 12, kOk},
      {kStreamOut, 5, kOk},                 {kStreamOut, 4, H(0x800A0400)},
      {kSourceType, 1, kOk},                {kSourceType, 2, H(0x800A03EE)},
      {kEncPreviewType, 2, kOk},            {kEncPreviewType, 3, H(0x800A0403)},
      {kCapWidth, 79, kInvalidValue},       {kCapHeight, 1024, kOk},
      {kContentVersion, 21, kOk},           {kContentVersion, 22, H(0x800A0402)},
      {kMaxDuration, 0.0, kOk},             {kMaxDuration, 999.99, kOk},
      {kMaxDuration, 1000, kInvalidValue},  {kMaxDuration, -0.5, kInvalidValue},
      {kUnitDuration, 4, kOk},              {kUnitDuration, 0, kInvalidValue},
      {kMaxSize, 65535, kOk},               {kMaxSize, 65536, kInvalidValue},
      {kMaxSize, -1, kInvalidValue},        {kBFullSearch, -7, kOk},
      {kGuiMode, 0, kOk},
  };
  for (const Case& c : cases) {
    PropertyVerdict v = CheckNumber(c.id, c.value);
    EXPECT_EQ(v.refusal, c.refusal) << c.id << " = " << c.value;
    if (!v.Accepted()) {
      EXPECT_TRUE(v.putBack) << c.id;
    }
  }
}

TEST(PropertyRules, StatisticsPeriodsAreReplacedNotPutBack) {
  struct Case {
    int32_t id;
    double value;
    HResult refusal;
    double replacement;
  } const cases[] = {
      {kStatRefreshRate, 99, kBadStatRefreshRate, 500},     {kStatRefreshRate, 100, kOk, 0},
      {kStatWindowDuration, 999, kBadStatWindowDuration, 5000}, {kStatWindowDuration, 1000, kOk, 0},
      {kStatWindowDuration, 3600000, kOk, 0},               {kStatWindowDuration, 3600001, kBadStatWindowDuration, 5000},
  };
  for (const Case& c : cases) {
    PropertyVerdict v = CheckNumber(c.id, c.value);
    EXPECT_EQ(v.refusal, c.refusal) << c.id << " = " << c.value;
    if (!v.Accepted()) {
      EXPECT_FALSE(v.putBack);
      EXPECT_EQ(v.replacement, c.replacement);
    }
  }
}

TEST(PropertyRecords, EachValueLandsInItsRecordAndTheOutputCopy) {
  KRSettingsRecords r{};
  ASSERT_TRUE(StoreNumber(kEncWidth, 320, r));
  ASSERT_TRUE(StoreNumber(kEncHeight, 240, r));
  ASSERT_TRUE(StoreNumber(kNLayers, 2, r));
  ASSERT_TRUE(StoreNumber(kBaseBitRate, 64000, r));
  ASSERT_TRUE(StoreNumber(kEnBitRate, 32000, r));
  ASSERT_TRUE(StoreNumber(kBaseFrameRate, 12.5, r));
  ASSERT_TRUE(StoreNumber(kEnFrameRate, 25, r));
  ASSERT_TRUE(StoreNumber(kIFrameInterval, -1, r));
  ASSERT_TRUE(StoreNumber(kMediaOut, 5, r));
  ASSERT_TRUE(StoreNumber(kStreamOut, 3, r));
  ASSERT_TRUE(StoreNumber(kSourceType, 1, r));
  ASSERT_TRUE(StoreNumber(kEncPreviewType, 2, r));
  ASSERT_TRUE(StoreNumber(kBandwidth, 56000, r));
  ASSERT_TRUE(StoreNumber(kContentVersion, 30, r));
  ASSERT_TRUE(StoreNumber(kMaxDuration, 12.5, r));
  ASSERT_TRUE(StoreNumber(kUnitDuration, 3, r));
  ASSERT_TRUE(StoreNumber(kMaxSize, 700, r));
  ASSERT_TRUE(StoreNumber(kEnableSecurityCheck, 1, r));
  ASSERT_TRUE(StoreNumber(kBMultiplePass, 1, r));
  ASSERT_TRUE(StoreNumber(kBClientNoAudio, 1, r));
  ASSERT_TRUE(StoreNumber(kBEnableRandomPositioning, 1, r));
  EXPECT_EQ(r.video.width, 320);
  EXPECT_EQ(r.output.width, 320);
  EXPECT_EQ(r.video.height, 240);
  EXPECT_EQ(r.output.height, 240);
  EXPECT_EQ(r.video.layers, 2);
  EXPECT_EQ(r.output.enhancementLayers, 1u) << "the output copy holds the layers less one";
  EXPECT_EQ(r.video.bitRate[0], 64000);
  EXPECT_EQ(r.output.layerBitRate[0], 64000u);
  EXPECT_EQ(r.video.bitRate[1], 32000);
  EXPECT_EQ(r.output.layerBitRate[1], 32000u);
  EXPECT_EQ(r.video.frameRate[0], 12.5f);
  EXPECT_EQ(r.output.layerFrameRate[0], 12.5f);
  EXPECT_EQ(r.video.frameRate[1], 25.0f);
  EXPECT_EQ(r.output.layerFrameRate[1], 25.0f);
  EXPECT_EQ(r.video.iFrameInterval, -1);
  EXPECT_EQ(r.output.mediaOutputType, 5);
  EXPECT_EQ(r.output.streamType, 3);
  EXPECT_EQ(r.application.liveSource, 1);
  EXPECT_EQ(r.application.applicationMode, 2);
  EXPECT_EQ(r.output.bandwidth, 56000u);
  EXPECT_EQ(r.output.contentVersion, 30);
  EXPECT_EQ(r.application.maxDuration, 12.5f);
  EXPECT_EQ(r.application.durationUnit, 3);
  EXPECT_EQ(r.application.maxSize, 700u);
  EXPECT_EQ(r.output.furtherValue1, 1u);
  EXPECT_EQ(r.video.reserved, 1);
  EXPECT_EQ(r.output.clientNoAudio, 1);
  EXPECT_EQ(r.output.randomPositioning, 1);

  // What a refusal puts back is what the record holds.
  double v = 0;
  ASSERT_TRUE(StoredNumber(kNLayers, r, &v));
  EXPECT_EQ(v, 2);
  ASSERT_TRUE(StoredNumber(kBaseFrameRate, r, &v));
  EXPECT_EQ(v, 12.5);
  // The control's own properties have no place in the records.
  EXPECT_FALSE(StoreNumber(kStatRefreshRate, 500, r));
  EXPECT_FALSE(StoredNumber(kCapWidth, r, &v));
}

TEST(PropertyRecords, TextsUpTo255CharactersAreStoredLongerOnesRefused) {
  struct Case {
    int32_t id;
    HResult tooLong;
  } const cases[] = {{kOutputFileName, kInvalidFileName},  {kSrcFileName, kInvalidValue},
                     {kProfileName, kInvalidFileName},     {kProfileDescription, kStringTooLong},
                     {kScratchDisk, kInvalidValue}};
  const std::u16string longest(255, u'x'), tooLong(256, u'y');
  for (const Case& c : cases) {
    KRSettingsRecords r{};
    EXPECT_TRUE(CheckText(c.id, longest).Accepted()) << c.id;
    ASSERT_TRUE(StoreText(c.id, longest, r));
    EXPECT_EQ(StoredText(c.id, r), longest) << c.id;
    EXPECT_EQ(CheckText(c.id, tooLong).refusal, c.tooLong) << c.id;
    ASSERT_TRUE(StoreText(c.id, u"C:\\a.mp4", r));
    EXPECT_EQ(StoredText(c.id, r), u"C:\\a.mp4") << "a shorter text leaves nothing of the longer one";
  }
  KRSettingsRecords r{};
  StoreText(kScratchDisk, u"D:\\scratch\\", r);
  StoreText(kSrcFileName, u"in.avi", r);
  EXPECT_EQ(std::u16string(r.output.outputText), u"D:\\scratch\\");
  EXPECT_EQ(std::u16string(r.application.inputFileName), u"in.avi");
  EXPECT_FALSE(StoreText(kEncWidth, u"x", r));
}

TEST(ContextMenu, EntriesByRunStateAndSettings) {
  const unsigned P = kMenuProperties, S = kMenuSeparator, V = kMenuPreview, A = kMenuStart, O = kMenuStop;
  struct Case {
    int runState;
    int settings;
    unsigned kept;
  } const cases[] = {
      {0, 15, P | S | V | A},  // stopped: Stop always goes
      {1, 15, P | S | V | A},
      {0, 0, 0},
      {0, 1, P},  // neither Preview nor Start: no separator
      {0, 1 | 2, P | S | V},
      {0, 1 | 4, P | S | A},
      {0, 2 | 4, V | A},  // no property sheet: no separator
      {0, 8, 0},
      {3, 15, O},  // encoding: only Stop, when allowed
      {2, 15, O},
      {3, 7, 0},
      {2, 8, O},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ContextMenuEntries(c.runState, c.settings), c.kept) << c.runState << "/" << c.settings;
}

std::u16string Loaded(unsigned id) {
  if (id == kCaptionTextId) return u"Error occurred in KRActive";
  if (id == kUnknownTextId) return u"Error unknown";
  if (id == 0x138A) return u"%s could not be written to %s.  The disk is full.";
  if (id == 0x1771) return u"Unable to open the still image: ";
  return u"text " + std::u16string(1, static_cast<char16_t>(u'A' + id % 26));
}

TEST(ErrorMessages, ByCodeWithFileNamesAsArgumentsOnly) {
  struct Case {
    HResult code;
    std::u16string output, still, message;
  } const cases[] = {
      {kAbort, u"", u"", u"Error occurred in KRActive"},
      {kOk, u"", u"", u"Error unknown"},
      {1, u"", u"", u"Error unknown"},
      {H(0x800A03ED), u"", u"", u"Error unknown"},
      {H(0x800A03FE), u"", u"", u"Error unknown"},
      {H(0x800A0434), u"", u"", u"Error unknown"},
      {H(0x80004005), u"", u"", u"Error unknown"},
      {H(0x800A03EA), u"", u"", Loaded(0x03EA)},
      {kDiskFull, u"C:\\out\\clip.mp4", u"", u"clip.mp4 could not be written to C:\\out\\.  The disk is full."},
      // A name with format characters prints as it is.
      {kDiskFull, u"C:\\100%s %d\\a%n.mp4", u"", u"a%n.mp4 could not be written to C:\\100%s %d\\.  The disk is full."},
      {kDiskFull, u"clip.mp4", u"", u"clip.mp4 could not be written to .  The disk is full."},
      {kOpenStillImage, u"", u"C:\\img\\logo%s.bmp", u"Unable to open the still image: C:\\img\\logo%s.bmp"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ErrorMessage(c.code, Loaded, c.output, c.still), c.message) << std::hex << c.code;

  // A string that cannot be loaded leaves an empty message.
  auto none = [](unsigned) { return std::u16string(); };
  EXPECT_EQ(ErrorMessage(kDiskFull, none, u"C:\\a.mp4", u""), u"");
  EXPECT_EQ(ErrorMessage(kAbort, none, u"", u""), u"");
}

TEST(ErrorMessages, EveryRowHasTheIdOfItsLowWordAndIdsAreDistinct) {
  std::map<unsigned, uint32_t> seen;
  for (uint32_t code : kControlErrorCodes) {
    unsigned id = ErrorTextId(static_cast<HResult>(code));
    EXPECT_EQ(id, code & 0xFFFF);
    EXPECT_TRUE(seen.emplace(id, code).second) << std::hex << code;
    EXPECT_NE(id, kCaptionTextId);
    EXPECT_NE(id, kUnknownTextId);
    EXPECT_NE(id, kDefaultProfileTextId);
  }
  EXPECT_EQ(ErrorTextId(H(0x800B03E9)), 0u) << "another facility with the same low word";
}

TEST(Contract, PropertiesMethodsAndEventsInTheirIdRanges) {
  int properties = 0, methods = 0, aboutBox = 0;
  for (size_t i = 0; i < kDispatchContractSize; ++i) {
    const ContractMember& m = kDispatchContract[i];
    if (m.kind == MemberKind::kProperty) {
      EXPECT_EQ(m.dispid, ++properties) << m.name;
      EXPECT_STREQ(m.params, "") << m.name;
    } else if (m.dispid == -552) {
      ++aboutBox;
      EXPECT_STREQ(m.name, "AboutBox");
    } else {
      EXPECT_EQ(m.dispid, 44 + methods++) << m.name;
    }
  }
  EXPECT_EQ(properties, 43);
  EXPECT_EQ(methods, 55);
  EXPECT_EQ(aboutBox, 1);
  int custom = 0;
  std::map<int32_t, std::string> stock;
  for (size_t i = 0; i < kEventContractSize; ++i) {
    const ContractMember& e = kEventContract[i];
    if (e.dispid > 0) {
      EXPECT_EQ(e.dispid, ++custom) << e.name;
    } else {
      stock[e.dispid] = e.name;
    }
  }
  EXPECT_EQ(custom, 13);
  EXPECT_EQ(stock, (std::map<int32_t, std::string>{{-608, "Error"}, {-607, "MouseUp"}, {-606, "MouseMove"},
                                                   {-605, "MouseDown"}, {-601, "DblClick"}, {-600, "Click"}}));
}

}  // namespace
}  // namespace ctlvane
