#include "flumera/sdp_text.h"

#include <gtest/gtest.h>

namespace flumera {
namespace {

SdpTrack Track(uint32_t kind, uint32_t rate, uint32_t payload, std::vector<uint8_t> config = {}) {
  SdpTrack t;
  t.kind = kind;
  t.bitRate = rate;
  t.payloadNumber = payload;
  t.versionMajor = 3;
  t.versionMinor = 0;
  t.config = std::move(config);
  return t;
}

TEST(SdpText, VideoAmrAndAac) {
  SdpSession s;
  s.title = "Live \xC3\xA9vent";
  s.version = "Content V1.0";
  s.author = "Kestrune";
  s.rating = "G";
  s.versionMajor = 3;
  s.mediaMask = 3;
  s.videoOnlyAllowed = true;
  s.frameRateBase = 15;
  s.iFrameInterval = 10;
  s.width = 176;
  s.height = 144;
  s.decodeBufferSize = 16384;
  s.tracks = {Track(1, 64000, 96, {0x00, 0x00, 0x01, 0xB0, 0x08, 0xAB}), Track(3, 12200, 1), Track(5, 24001, 2)};
  EXPECT_EQ(TotalBitRate(s), 100201u);
  EXPECT_EQ(BuildSdpBody(s),
            "v=0\r\n"
            "s=Live \xC3\xA9vent\r\n"
            "a=version:Content V1.0\r\n"
            "a=author:Kestrune\r\n"
            "a=content_version:3.0\r\n"
            "a=rating:G\r\n"
            " b=AS:101\r\n"
            "t=0 0\r\n"
            "a=video_only_allowed:true\r\n"
            "m=video 0 RTSP/KRP 96\r\n"
            "a=rtpmap:96 KRMP4V-ES/1000\r\n"
            "a=content_version:3.0\r\n"
            "b=AS:64\r\n"
            "a=framerate:15.000000\r\n"
            "a=I_frame_interval:10\r\n"
            "a=fmtp:96 profile-level-id=1;config=000001b008ab;framesize=176-144;decode_buf=16384\r\n"
            "m=audio 0 RTSP/KRP 96\r\n"
            "a=rtpmap:96 AMR/8000\r\n"
            "a=content_version:3.0\r\n"
            "b=AS:13\r\n"
            "m=audio 0 RTSP/KRP 97\r\n"
            "a=content_version:3.0\r\n"
            "b=AS:25\r\n");
}

TEST(SdpText, SecondVideoLayerReplacesTheSum) {
  SdpSession s;
  s.mediaMask = 2;
  s.secondLayer = true;
  s.frameRateBase = 7.5f;
  s.frameRateSecond = 15;
  s.tracks = {Track(1, 32000, 96, {0x01}), Track(2, 80000, 97, {0x02})};
  EXPECT_EQ(TotalBitRate(s), 80000u);
  const std::string body = BuildSdpBody(s);
  EXPECT_NE(body.find(" b=AS:80\r\n"), std::string::npos);
  EXPECT_NE(body.find("a=video_only_allowed:false\r\n"), std::string::npos);
  EXPECT_NE(body.find("m=video 0 RTSP/KRP 97\r\na=rtpmap:97 KRMP4V-ES/1000\r\na=content_version:3.0\r\nb=AS:48\r\n"
                      "a=framerate:15.000000\r\na=I_frame_interval:0\r\na=fmtp:97 profile-level-id=1;config=02\r\n"),
            std::string::npos)
      << body;
  EXPECT_EQ(body.find("m=audio"), std::string::npos);
}

TEST(SdpText, StillImageOnly) {
  SdpSession s;
  s.title = "Still";
  s.version = "v";
  s.information = "info";
  s.copyright = "(c)";
  s.versionMajor = 3;
  s.versionMinor = 1;
  s.mediaMask = 4;
  EXPECT_EQ(BuildSdpBody(s),
            "v=0\r\ns=Still\r\ni=info\r\na=version:v\r\na=content_version:3.1\r\na=copyright:(c)\r\n"
            " b=AS:0\r\nt=0 0\r\nm=application 0 RTSP/GET_PARAMETER IMAGE\r\n");
}

TEST(SdpText, DescribeReplyAndTextLimits) {
  EXPECT_EQ(BuildDescribeReply(7, "v=0\r\n"),
            "RTSP/1.0 200 OK\r\nCSeq:7\r\nContent-Type:application/sdp\r\nContent-Length: 5\r\n\r\nv=0\r\n");
  EXPECT_EQ(BuildDescribeReply(7, ""),
            "RTSP/1.0 200 OK\r\nCSeq:7\r\nContent-Type:application/sdp\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(CutUtf8("ab\xC3\xA9", 3), "ab");  // never half a character
  EXPECT_EQ(CutUtf8("ab\xC3\xA9", 4), "ab\xC3\xA9");
  EXPECT_EQ(CutUtf8(std::string(2000, 'x'), 1024).size(), 1024u);
}

}  // namespace
}  // namespace flumera
