// The checks the engine applies to the four settings records, as one table of
// edge cases, and the error family's names and trace texts.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "mediaengine/errors.h"
#include "mediaengine/records.h"

using namespace mediaengine;

namespace {

enum class Record { Video, Output, Application };

struct Case {
  const char* name;
  Record record;
  // Prepares the stored records (already at their defaults) and the incoming
  // one (a copy of the stored records before the change).
  std::function<void(KRSettingsRecords& stored, KRSettingsRecords& in)> setup;
  int32_t result;
  std::function<void(const KRSettingsRecords& stored)> check;
};

std::u16string Repeat(char16_t c, int n) { return std::u16string(size_t(n), c); }

void Put(RecordText& text, const std::u16string& s) {
  std::fill(std::begin(text), std::end(text), u'\0');
  std::copy_n(s.begin(), std::min<size_t>(s.size(), kRecordTextChars), text);
}

std::u16string Text(const RecordText& text) { return std::u16string(text, size_t(BoundedTextLength(text))); }

const Case kCases[] = {
    {"WidthAndHeightOutOfRangeKeepStored", Record::Video,
     [](auto& s, auto& in) {
       s.video.width = 176, s.video.height = 144;
       in.video.width = 2000, in.video.height = 50;
     },
     0, [](auto& s) { EXPECT_EQ(s.video.width, 176); EXPECT_EQ(s.video.height, 144); }},
    {"StoredWidthOutOfRangeBecomesDefault", Record::Video,
     [](auto& s, auto& in) { s.video.width = 5000, in.video.width = 2000; }, 0,
     [](auto& s) { EXPECT_EQ(s.video.width, 128); }},
    {"FrameSizeFollowsTheTakenSize", Record::Video,
     [](auto&, auto& in) { in.video.width = 176, in.video.height = 144, in.video.frameSize = 7; }, 0,
     [](auto& s) { EXPECT_EQ(s.video.frameSize, 176 * 144 * 3 / 2); }},
    {"BaseRateNotBelowSourcePlusOneIsRefusedAndStays", Record::Video,
     [](auto&, auto& in) {
       in.video.sourceFrameRate = 15.0f, in.video.frameRate[0] = 16.5f, in.video.height = 200;
     },
     KRM_E_INVALID_BASE_FRAMERATE,
     [](auto& s) {
       EXPECT_EQ(s.video.frameRate[0], 16.5f);
       EXPECT_EQ(s.video.sourceFrameRate, 15.0f);
       EXPECT_EQ(s.video.height, 96) << "fields after the refused rate keep their old values";
     }},
    {"BaseRateJustBelowSourcePlusOneIsTaken", Record::Video,
     [](auto&, auto& in) { in.video.sourceFrameRate = 15.0f, in.video.frameRate[0] = 15.9f; }, 0,
     [](auto& s) { EXPECT_EQ(s.video.frameRate[0], 15.9f); }},
    {"EnhanceRateRefusedWithItsOwnCode", Record::Video,
     [](auto&, auto& in) {
       in.video.layers = 2, in.video.sourceFrameRate = 15.0f, in.video.frameRate[1] = 16.5f;
     },
     KRM_E_INVALID_ENHANCE_FRAMERATE, [](auto& s) { EXPECT_EQ(s.video.frameRate[1], 16.5f); }},
    {"OneLayerLeavesLayerOneAlone", Record::Video,
     [](auto&, auto& in) { in.video.frameRate[1] = 99.0f, in.video.bitRate[1] = 0; }, 0,
     [](auto& s) { EXPECT_EQ(s.video.frameRate[1], 10.0f); EXPECT_EQ(s.video.bitRate[1], 18290); }},
    {"ZeroRateIsRefused", Record::Video, [](auto&, auto& in) { in.video.frameRate[0] = 0.0f; }, 0,
     [](auto& s) { EXPECT_EQ(s.video.frameRate[0], 5.0f); }},
    {"Rate35IsTaken", Record::Video,
     [](auto&, auto& in) { in.video.sourceFrameRate = 35.0f, in.video.frameRate[0] = 35.0f; }, 0,
     [](auto& s) { EXPECT_EQ(s.video.frameRate[0], 35.0f); }},
    {"Rate35_01IsNot", Record::Video,
     [](auto&, auto& in) { in.video.sourceFrameRate = 35.01f, in.video.frameRate[0] = 35.01f; }, 0,
     [](auto& s) { EXPECT_EQ(s.video.sourceFrameRate, 30.0f); EXPECT_EQ(s.video.frameRate[0], 5.0f); }},
    {"IFrameIntervalBelowMinusOne", Record::Video,
     [](auto& s, auto& in) { s.video.iFrameInterval = -5, in.video.iFrameInterval = -2; }, 0,
     [](auto& s) { EXPECT_EQ(s.video.iFrameInterval, 10); }},
    {"FlagsAreCopied", Record::Video,
     [](auto&, auto& in) {
       in.video.fullSearch = 1, in.video.fixedIFrameInterval = 0, in.video.videoRandomPositioning = 0,
       in.video.reserved = 7, in.video.iFrameInterval = -1;
     },
     0,
     [](auto& s) {
       EXPECT_EQ(s.video.fullSearch, 1);
       EXPECT_EQ(s.video.fixedIFrameInterval, 0);
       EXPECT_EQ(s.video.videoRandomPositioning, 0);
       EXPECT_EQ(s.video.reserved, 7);
       EXPECT_EQ(s.video.iFrameInterval, -1);
     }},

    {"StreamOutputWithoutFileKeepsTheFileName", Record::Output,
     [](auto& s, auto& in) {
       Put(s.output.outputFileName, u"kept.mp4");
       in.output.mediaOutputType = 4, in.output.fileOutput = 0;
       Put(in.output.outputFileName, u"other.mp4");
     },
     0, [](auto& s) { EXPECT_EQ(Text(s.output.outputFileName), u"kept.mp4"); }},
    {"StreamOutputWithFileTakesTheFileName", Record::Output,
     [](auto&, auto& in) {
       in.output.mediaOutputType = 12, in.output.fileOutput = 1;
       Put(in.output.outputFileName, u"taken.mp4");
     },
     0, [](auto& s) { EXPECT_EQ(Text(s.output.outputFileName), u"taken.mp4"); }},
    {"LongTitleIsCutLongFileNameEmptied", Record::Output,
     [](auto& s, auto& in) {
       Put(s.output.outputFileName, u"old.mp4");
       Put(in.output.title, Repeat(u't', 300));
       Put(in.output.outputFileName, Repeat(u'f', 300));
     },
     0,
     [](auto& s) {
       EXPECT_EQ(Text(s.output.title), Repeat(u't', 255));
       EXPECT_EQ(Text(s.output.outputFileName), u"");
     }},
    {"TextWithoutTerminatorCountsAsTooLong", Record::Output,
     [](auto&, auto& in) {
       Put(in.output.author, Repeat(u'a', 256));
       Put(in.output.stillImageFileName, Repeat(u's', 256));
     },
     0,
     [](auto& s) {
       EXPECT_EQ(Text(s.output.author), Repeat(u'a', 255));
       EXPECT_EQ(s.output.author[255], u'\0');
       EXPECT_EQ(Text(s.output.stillImageFileName), u"");
     }},
    {"ContentVersion30After21", Record::Output,
     [](auto& s, auto& in) { s.output.contentVersion = 21, in.output.contentVersion = 30; }, 0,
     [](auto& s) { EXPECT_EQ(s.output.contentVersion, 30); }},
    {"ContentVersion25KeepsStored", Record::Output,
     [](auto& s, auto& in) { s.output.contentVersion = 21, in.output.contentVersion = 25; }, 0,
     [](auto& s) { EXPECT_EQ(s.output.contentVersion, 21); }},
    {"OutputRangesKeepOrDefault", Record::Output,
     [](auto& s, auto& in) {
       s.output.rtspPort = 9000;  // stored out of range
       in.output.rtspPort = 8000, in.output.mediaOutputType = 3, in.output.streamType = 6;
       in.output.bandwidth = 0, in.output.furtherValue2 = 0, in.output.clientIdleTime = 0;
       in.output.enhancementLayers = 2, in.output.frameRate = 36.0f;
     },
     0,
     [](auto& s) {
       EXPECT_EQ(s.output.rtspPort, 7070);
       EXPECT_EQ(s.output.mediaOutputType, 1);
       EXPECT_EQ(s.output.streamType, 3);
       EXPECT_EQ(s.output.bandwidth, 23040u);
       EXPECT_EQ(s.output.furtherValue2, 50u);
       EXPECT_EQ(s.output.clientIdleTime, 60);
       EXPECT_EQ(s.output.enhancementLayers, 0u);
       EXPECT_EQ(s.output.frameRate, 30.0f);
     }},
    {"ClientPairTakenOrRefusedTogether", Record::Output,
     [](auto& s, auto& in) {
       s.output.clientInterval = 0;  // stored pair not both positive
       in.output.clientInterval = 30, in.output.clientReportCount = 0;
     },
     0,
     [](auto& s) { EXPECT_EQ(s.output.clientInterval, 60); EXPECT_EQ(s.output.clientReportCount, 1); }},
    {"SecondLayerOnlyWithAnEnhancementLayer", Record::Output,
     [](auto&, auto& in) {
       in.output.layerFrameRate[1] = 12.5f, in.output.layerBitRate[1] = 40000;
       in.output.layerFrameRate[0] = 7.5f;
     },
     0,
     [](auto& s) {
       EXPECT_EQ(s.output.layerFrameRate[0], 7.5f);
       EXPECT_EQ(s.output.layerFrameRate[1], 10.0f);
       EXPECT_EQ(s.output.layerBitRate[1], 18290u);
     }},

    {"MaxDurationAndSizeOutOfRangeBecomeZero", Record::Application,
     [](auto& s, auto& in) {
       s.application.maxDuration = 10.0f, s.application.maxSize = 100;
       in.application.maxDuration = 1000.0f, in.application.maxSize = 70000;
     },
     0,
     [](auto& s) { EXPECT_EQ(s.application.maxDuration, 0.0f); EXPECT_EQ(s.application.maxSize, 0u); }},
    {"MaxDurationAndSizeInRange", Record::Application,
     [](auto&, auto& in) { in.application.maxDuration = 999.99f, in.application.maxSize = 40000; }, 0,
     [](auto& s) { EXPECT_EQ(s.application.maxDuration, 999.99f); EXPECT_EQ(s.application.maxSize, 40000u); }},
    {"LongInputFileNameNotTaken", Record::Application,
     [](auto& s, auto& in) {
       Put(s.application.inputFileName, u"in.avi");
       Put(in.application.inputFileName, Repeat(u'x', 256));
     },
     0, [](auto& s) { EXPECT_EQ(Text(s.application.inputFileName), u"in.avi"); }},
    {"LongProfileNameEmptiesALongStoredOne", Record::Application,
     [](auto& s, auto& in) {
       Put(s.application.profileName, Repeat(u'p', 256));
       Put(s.application.profileDescription, u"kept");
       Put(in.application.profileName, Repeat(u'q', 300));
       Put(in.application.profileDescription, Repeat(u'q', 300));
     },
     0,
     [](auto& s) {
       EXPECT_EQ(Text(s.application.profileName), u"");
       EXPECT_EQ(Text(s.application.profileDescription), u"kept");
     }},
    {"DeviceIndexesModeUnitAndLiveSource", Record::Application,
     [](auto& s, auto& in) {
       s.application.videoDeviceIndex = 3;
       in.application.videoDeviceIndex = 5, in.application.audioDeviceIndex = 4;
       in.application.applicationMode = 3, in.application.durationUnit = 0, in.application.liveSource = 2;
       in.application.applicationValue = -9;
     },
     0,
     [](auto& s) {
       EXPECT_EQ(s.application.videoDeviceIndex, 3);
       EXPECT_EQ(s.application.audioDeviceIndex, 4);
       EXPECT_EQ(s.application.applicationMode, 2);
       EXPECT_EQ(s.application.durationUnit, 1);
       EXPECT_EQ(s.application.liveSource, 0);
       EXPECT_EQ(s.application.applicationValue, -9);
     }},
};

class RecordChecks : public testing::TestWithParam<Case> {};

TEST_P(RecordChecks, TakesWhatIsInRange) {
  const Case& c = GetParam();
  KRSettingsRecords stored{};
  ResetToDefaults(stored);
  KRSettingsRecords in = stored;
  c.setup(stored, in);
  int32_t result = 0;
  switch (c.record) {
    case Record::Video: result = TakeVideoEncoderConfig(stored.video, in.video); break;
    case Record::Output: TakeOutputConfig(stored.output, in.output); break;
    case Record::Application: TakeApplicationConfig(stored.application, in.application); break;
  }
  EXPECT_EQ(result, c.result);
  c.check(stored);
}

INSTANTIATE_TEST_SUITE_P(Table, RecordChecks, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(RecordDefaults, AsTheControlExpectsThem) {
  KRSettingsRecords r{};
  Put(r.output.outputText, u"not a default");
  Put(r.application.profileDescription, u"not a default either");
  ResetToDefaults(r);
  for (const RecordText* t : {&r.output.title, &r.output.author, &r.output.copyright, &r.output.description,
                              &r.output.rating})
    EXPECT_EQ(Text(*t), u"Kestrune Corp.");
  EXPECT_EQ(Text(r.output.outputText), u"not a default");
  EXPECT_EQ(Text(r.application.profileDescription), u"not a default either");
  EXPECT_EQ(r.video.frameSize, 18432);
  EXPECT_EQ(r.video.frameRate[1], 10.0f);
  EXPECT_EQ(r.output.bandwidth, 23040u);
  EXPECT_EQ(r.output.contentVersion, 30);
  EXPECT_EQ(r.audio.stream[0].codec, 0);
  EXPECT_EQ(r.audio.stream[0].enabled, 1);
  EXPECT_EQ(r.audio.stream[0].bitRate, 4750);
  EXPECT_EQ(r.audio.stream[1].codec, 1);
  EXPECT_EQ(r.audio.stream[1].enabled, 0);
  EXPECT_EQ(r.audio.stream[1].bitRate, 9200);
  for (int i = 2; i < kAudioStreamEntries; ++i) {
    EXPECT_EQ(r.audio.stream[i].codec, -1);
    EXPECT_EQ(r.audio.stream[i].samplingRate, 0);
  }
  EXPECT_EQ(r.application.applicationMode, 2);
  EXPECT_EQ(r.application.durationUnit, 1);
}

TEST(RecordAudio, CopiedWithoutChecks) {
  KRSettingsRecords r{};
  ResetToDefaults(r);
  KRAudioEncoderConfig in{};
  in.stream[4] = {7, 3, -1, 123456, 9};
  TakeAudioEncoderConfig(r.audio, in);
  EXPECT_EQ(r.audio.stream[4].codec, 7);
  EXPECT_EQ(r.audio.stream[4].bitRate, 123456);
  EXPECT_EQ(r.audio.stream[0].codec, 0);
}

TEST(MediaEngineErrors, NamesTextsAndTraceLines) {
  EXPECT_STREQ(MediaEngineErrorName(static_cast<int32_t>(0x800A03E9u)), "KRM_E_BAD_STATE");
  EXPECT_STREQ(MediaEngineErrorName(static_cast<int32_t>(0x800A044Cu)), "KRM_E_MISSING_IDENTIFIER");
  EXPECT_STREQ(MediaEngineErrorName(static_cast<int32_t>(0x800A1772u)), "KRM_E_OPEN_INPUT_FILE");
  EXPECT_EQ(MediaEngineErrorName(static_cast<int32_t>(0x800A0400u)), nullptr);
  EXPECT_EQ(KRM_E_INVALID_BASE_FRAMERATE, static_cast<int32_t>(0x800A03FEu));
  EXPECT_EQ(KRM_E_OUT_OF_MEMORY, static_cast<int32_t>(0x800A03FAu));
  EXPECT_STREQ(MediaEngineTraceText(KRM_E_STRING_TOO_LONG), "The given string is too long");
  EXPECT_STREQ(MediaEngineTraceText(KRM_E_INVALID_DEVICE_ID), "Invalid device ID");
  EXPECT_EQ(MediaEngineTraceText(KRM_E_BAD_STATE), nullptr) << "DirectShow's own text is used";
  EXPECT_EQ(FormatTextTrace("COKRMedia", "GetGraphState", "No graph created !"),
            "COKRMedia::GetGraphState:No graph created !");
  EXPECT_EQ(FormatCodeTrace("COKRMedia", "StartGraph", "Bad parameter"), "COKRMedia::StartGraph: Bad parameter");
}

}  // namespace
