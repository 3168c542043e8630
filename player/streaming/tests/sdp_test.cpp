#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "streaming/sdp.h"

using namespace streaming;

namespace {
struct Parsed {
  int32_t result;
  std::unique_ptr<SdpSessionDescription> session = std::make_unique<SdpSessionDescription>();
};

Parsed parse(const std::string& text) {
  Parsed p;
  SdpParser parser;
  p.result = ParseSdp(parser, text.data(), uint32_t(text.size()), *p.session);
  return p;
}

std::string str(const RefString* r) { return RefStringText(r); }

const char kSession[] =
    "v=0\r\n"
    "o=- 12 34 IN IP4 127.0.0.1\r\n"
    "s=Title\r\n"
    "i=About the clip\r\n"
    "c=IN IP4 0.0.0.0\r\n"
    "t=0 0\r\n"
    "b=AS:500\r\n"
    "a=author:Someone\r\n"
    "a=range:npt=0-12.5\r\n"
    "a=content_version:3.12\r\n"
    "a=X-allowrecord\r\n"
    "a=video_only_allowed:false\r\n"
    "a=creation_date:20261210\r\n";
}  // namespace

TEST(Sdp, SessionLines) {
  auto p = parse(std::string("\r\n\r\n  ") + kSession);
  ASSERT_EQ(p.result, kSdpOk);
  const SdpSessionDescription& s = *p.session;
  EXPECT_EQ(s.originSessionId, 12u);
  EXPECT_EQ(s.originSessionVersion, 34u);
  EXPECT_EQ(str(s.originAddress), "127.0.0.1");
  EXPECT_EQ(str(s.sessionName), "Title");
  EXPECT_EQ(str(s.sessionInformation), "About the clip");
  EXPECT_EQ(str(s.connectionAddress), "0.0.0.0");
  EXPECT_EQ(str(s.author), "Someone");
  EXPECT_EQ(s.range.format, kRangeNpt);
  EXPECT_EQ(s.contentVersion, 0x030C);
  EXPECT_TRUE(s.allowRecord);
  EXPECT_EQ(s.videoOnlyValue, 1);
  EXPECT_EQ(str(s.creationDate), "20261210");
  EXPECT_EQ(s.mediaCount, 0);

  p = parse("v=0\r\no=- 1234567890 98765432101 IN IP4 h\r\na=content_version:3\r\n");
  ASSERT_EQ(p.result, kSdpOk);
  EXPECT_EQ(str(p.session->originSessionIdText), "1234567890");
  EXPECT_EQ(str(p.session->originSessionVersionText), "98765432101");
  EXPECT_EQ(p.session->contentVersion, 0x0300);
}

TEST(Sdp, StructureAndSyntaxResults) {
  struct Case {
    std::string text;
    int32_t result;
  } cases[] = {
      {"", kSdpOk},
      {"x=1\r\n", kSdpNoRoom},
      {"m=video 0 RTP/AVP 96\r\nv=0\r\n", kSdpStructure},
      {"v=0\r\nv=0\r\n", kSdpStructure},
      {"v=0\r\nm=audio 0 RTP/AVP 97\r\na=rtpmap:97 AMR/8000\r\nv=0\r\n", kSdpStructure},
      {"v=x\r\n", kSdpSessionSyntax},
      {"v=0\r\no=- 1 2 IN IP4\r\n", kSdpSessionSyntax},
      {"v=0\r\no=- 12a4567890 1 IN IP4 h\r\n", kSdpSessionSyntax},
      {"v=0\r\nt=0\r\n", kSdpSessionSyntax},
      {"v=0\r\na=range:npt=x-\r\n", kSdpSessionSyntax},
      {"v=0\r\na=content_version:3.\r\n", kSdpSessionSyntax},
      {"v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\na=rtpmap:96 MP4V-ES/90000\r\n", kSdpMediaSyntax},
      {"v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:97 MP4V-ES/90000\r\n", kSdpMediaSyntax},
      {"v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES\r\n", kSdpMediaSyntax},
      {"v=0\r\nm=audio 0 RTP/AVP 97\r\na=rtpmap:97 AMR/0\r\n", kSdpMediaSyntax},  // clock rate 0
      {"v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\na=fmtp:97 config=00\r\n", kSdpPayloadMismatch},
      {"v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\na=fmtp:96 framesize=176\r\n", kSdpBadFrameSize},
      {"v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\na=fmtp:96 config=0G\r\n", kSdpMediaSyntax},
      {"v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\na=fmtp:96 config=00; \r\n", kSdpMediaSyntax},
      {"v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\nb=AS:x\r\n", kSdpMediaSyntax},
  };
  for (const auto& c : cases) EXPECT_EQ(parse(c.text).result, c.result) << c.text;
}

TEST(Sdp, MediaClassesByEncodingName) {
  std::string text = std::string(kSession) +
                     "m=video 0 RTP/AVP 96 97\r\n"  // two formats: skipped
                     "a=rtpmap:96 MP4V-ES/90000\r\n"
                     "m=video 0 RTP/AVP 96\r\n"
                     "b=AS:64\r\n"
                     "a=rtpmap:96 MP4V-ES/90000\r\n"
                     "a=control:trackID=3\r\n"
                     "a=framerate:15\r\n"
                     "a=content_version:2.15\r\n"
                     "a=fmtp:96 profile-level-id=1;config=000001B0;framesize=176-144\r\n"
                     "m=audio 0 RTP/AVP 97\r\n"
                     "a=rtpmap:97 AMR/8000/1\r\n"
                     "a=fmtp:97 octet-align=0;mode-set=0,2,7,7\r\n"
                     "m=audio 0 RTP/AVP 98\r\n"
                     "a=rtpmap:98 L16/8000\r\n"  // no parser: skipped
                     "m=video 0 RTP/AVP 34\r\n"
                     "a=rtpmap:34 H263-2000/90000\r\n"
                     "a=fmtp:34 codec_profile=0;codec_level=10;framesize=128-96\r\n"
                     "m=audio 0 RTP/AVP 99\r\n"
                     "a=rtpmap:99 EVRC/8000\r\n"
                     "a=lang:en\r\n"
                     "a=fmtp:99 maxframes=5;ptime=20\r\n"
                     "m=audio 0 RTP/AVP 100\r\n"
                     "a=rtpmap:100 AAC/44100\r\n"
                     "a=fmtp:100 config=1208\r\n"
                     "m=application 0 RTSP/GET_PARAMETER IMAGE\r\n"
                     "m=audio 0 RTP/AVP 101\r\n"
                     "a=rtpmap:101 AMR/8000\r\n";
  auto p = parse(text);
  ASSERT_EQ(p.result, kSdpOk);
  const SdpSessionDescription& s = *p.session;
  ASSERT_EQ(s.mediaCount, 7);

  auto* v = dynamic_cast<SdpMpeg4VideoMedia*>(s.media[0]);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->bandwidth, 64000);
  EXPECT_EQ(v->clockRate, 90000);
  EXPECT_EQ(v->GetProfileLevelId(), 1);
  ASSERT_EQ(v->GetConfigLength(), 4u);
  EXPECT_EQ(v->GetConfigBytes()[3], 0xB0);
  EXPECT_EQ(v->GetFrameWidth(), 176);
  EXPECT_EQ(v->GetFrameHeight(), 144);
  EXPECT_DOUBLE_EQ(v->GetFrameRate(), 15.0);
  EXPECT_EQ(v->contentVersion, 0x0201);
  EXPECT_EQ(str(v->control), "trackID=3");

  auto* amr = dynamic_cast<SdpAmrMedia*>(s.media[1]);
  ASSERT_NE(amr, nullptr);
  EXPECT_EQ(str(amr->encodingName), "AMR");
  EXPECT_EQ(amr->clockRate, 8000);
  EXPECT_EQ(amr->GetModeSetMask(), 133u);
  EXPECT_TRUE(amr->GetOctetAlign());

  auto* h263 = dynamic_cast<SdpH263Media*>(s.media[2]);
  ASSERT_NE(h263, nullptr);
  EXPECT_EQ(h263->GetCodecLevel(), 10);
  EXPECT_EQ(h263->GetFrameWidth(), 128);

  auto* evrc = dynamic_cast<SdpEvrcMedia*>(s.media[3]);
  ASSERT_NE(evrc, nullptr);
  EXPECT_EQ(evrc->GetMaxFrames(), 5);
  EXPECT_EQ(evrc->GetPtime(), 20);
  EXPECT_EQ(evrc->GetMaxBundles(), -1);
  EXPECT_STREQ(evrc->GetLanguage(), "en");

  auto* aac = dynamic_cast<SdpConfigAudioMedia*>(s.media[4]);
  ASSERT_NE(aac, nullptr);
  EXPECT_EQ(aac->GetConfigLength(), 2u);

  auto* image = dynamic_cast<SdpImageMedia*>(s.media[5]);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(str(image->encodingName), "X-MP4V-IMAGE");
  EXPECT_EQ(image->GetTextLength(), 42u);

  auto* plain = dynamic_cast<SdpAmrMedia*>(s.media[6]);
  ASSERT_NE(plain, nullptr);
  EXPECT_TRUE(plain->GetOctetAlign());
  EXPECT_EQ(plain->maxPtime, 200);
  for (int i = 0; i < s.mediaCount; ++i) EXPECT_GT(s.media[i]->GetTextLength(), 0u);
}

TEST(Sdp, MediaLimitIsACleanResult) {
  std::string text = "v=0\r\n";
  for (int i = 0; i < 51; ++i) text += "m=audio 0 RTP/AVP 97\r\na=rtpmap:97 AMR/8000\r\n";
  auto p = parse(text);
  EXPECT_EQ(p.result, kSdpNoRoom);
  EXPECT_EQ(p.session->mediaCount, 50);
  // Bandwidth beyond 32 bits is capped, not wrapped.
  p = parse("v=0\r\nm=audio 0 RTP/AVP 97\r\nb=AS:4294967\r\na=rtpmap:97 AMR/8000\r\n");
  ASSERT_EQ(p.result, kSdpOk);
  EXPECT_EQ(p.session->media[0]->bandwidth, 0x7FFFFFFF);
}

TEST(Sdp, ClipInfoBlock) {
  std::string text = std::string(kSession) +
                     "m=video 0 RTP/AVP 96\r\nb=AS:64\r\na=rtpmap:96 MP4V-ES/90000\r\na=control:trackID=3\r\n"
                     "a=content_version:2.1\r\n";
  for (int i = 0; i < 11; ++i) text += "m=audio 0 RTP/AVP 97\r\na=rtpmap:97 AMR/8000\r\n";
  SdpParser parser;
  auto session = std::make_unique<SdpSessionDescription>();
  auto info = std::make_unique<DownloadClipInfo>();
  ASSERT_EQ(ParseSdpIntoClipInfo(parser, text.data(), uint32_t(text.size()), *session, *info), kSdpOk);
  EXPECT_EQ(info->mediaCount, 10u);  // the block holds ten
  EXPECT_STREQ(info->sessionName, "Title");
  EXPECT_EQ(info->rangeEndMs, 12500u);
  EXPECT_EQ(info->contentMajor, 3);
  EXPECT_EQ(info->contentMinor, 12);
  EXPECT_STREQ(info->media[0].encodingName, "MP4V-ES");
  EXPECT_EQ(info->media[0].bandwidth, 64000u);
  EXPECT_EQ(info->media[0].trackNumber, 3u);
  EXPECT_EQ(info->media[0].contentMajor, 2);
  EXPECT_EQ(info->media[0].contentMinor, 1);
  uint8_t bytes[DownloadClipInfo::kSize];
  WriteDownloadClipInfo(*info, bytes);
  EXPECT_EQ(bytes[256], 0x00);  // 64000 = 0x0000FA00, little-endian
  EXPECT_EQ(bytes[257], 0xFA);
  EXPECT_EQ(bytes[260], 3);
  EXPECT_EQ(bytes[2680], 10);
  EXPECT_EQ(bytes[2684], 'T');
  EXPECT_EQ(bytes[3204], 3);
  EXPECT_EQ(bytes[3205], 12);

  auto bad = std::make_unique<SdpSessionDescription>();
  SdpParser parser2;
  EXPECT_EQ(ParseSdpIntoClipInfo(parser2, "v=x", 3, *bad, *info), kSdpSessionSyntax);
  EXPECT_EQ(info->mediaCount, 0u);
  EXPECT_EQ(info->sessionName[0], 0);
}

// SDP texts of GStreamer's RTSP server and of ffmpeg, against what
// GStreamer's own SDP parser read from them (tests/capture_gst_media.py).
TEST(Sdp, AgreesWithGStreamerOnPeerTexts) {
  auto read = [](const std::string& name) {
    std::ifstream f(std::string(SUITE_TEST_DATA_DIR) + "/tests/data/" + name, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  };
  for (const char* name : {"gst_describe.sdp", "ffmpeg_mp4v.sdp", "ffmpeg_h263.sdp"}) {
    const std::string text = read(name);
    ASSERT_FALSE(text.empty()) << name;
    auto p = parse(text);
    ASSERT_EQ(p.result, kSdpOk) << name;
    std::istringstream expected(read(std::string(name) + ".expected"));
    std::string line;
    int media = 0;
    while (std::getline(expected, line)) {
      std::istringstream fields(line);
      std::string kind;
      fields >> kind;
      if (kind == "session") {
        EXPECT_EQ(str(p.session->sessionName), line.substr(8)) << name;
        continue;
      }
      std::string type, fmt, encoding, clock, config, size;
      fields >> type >> fmt >> encoding >> clock >> config >> size;
      ASSERT_LT(media, p.session->mediaCount) << name;
      const SdpMediaDescription& m = *p.session->media[media++];
      EXPECT_EQ(str(m.mediaType), type) << name;
      EXPECT_EQ(std::to_string(m.payloadType), fmt) << name;
      EXPECT_EQ(str(m.encodingName), encoding) << name;
      EXPECT_EQ(std::to_string(m.clockRate), clock) << name;
      std::string hex = "-";
      if (m.GetConfigLength()) {
        hex.clear();
        char b[3];
        for (uint32_t i = 0; i < m.GetConfigLength(); ++i) {
          std::snprintf(b, sizeof b, "%02x", m.GetConfigBytes()[i]);
          hex += b;
        }
      }
      EXPECT_EQ(hex, config) << name;
      if (size != "-") {
        EXPECT_EQ(std::to_string(m.GetFrameWidth()) + "-" + std::to_string(m.GetFrameHeight()), size);
      }
    }
    EXPECT_EQ(media, p.session->mediaCount) << name;
  }
}
