#include <gtest/gtest.h>

#include "streaming/rtsp_token.h"

using namespace streaming;

TEST(RtspToken, HashesOfTheVocabulary) {
  struct Case {
    const char* word;
    uint16_t hash;
  } cases[] = {{"CSeq", 0xE659}, {"Session", 0xB426}, {"$", 0x0024}, {"RTSP/1.0", 0xEBE0},
               {"client_port=", 0x7E5D}, {"server_port=", 0x7E5D}, {"Range", 0x011D},
               {"Invalid Range", 0x011D}, {"Transport", 0x2FC4}, {"Unsupported Transport", 0x2FC4},
               {"Not Found", 0x5F14}, {"Session Not Found", 0x5F14}, {"Conference Not Found", 0x5F14},
               {"\xE9", 0xFFE9}, {"", 0}};
  for (const auto& c : cases) EXPECT_EQ(MakeToken(c.word).hash, c.hash) << c.word;
  EXPECT_EQ(vocab::kCSeq.hash, 0xE659);  // built at compile time the same way
}

TEST(RtspToken, CollidingKeysStayApartAndCaseOnlyMattersForMethods) {
  EXPECT_FALSE(TokenMatches(vocab::kClientPort, vocab::kServerPort));
  EXPECT_TRUE(TokenMatches(MakeToken("cSEQ"), vocab::kCSeq));
  EXPECT_FALSE(TokenEqualsExact(MakeToken("describe"), vocab::kMethodTable[kMethodDescribe].token));
  EXPECT_TRUE(TokenEqualsExact(MakeToken("DESCRIBE"), vocab::kMethodTable[kMethodDescribe].token));
  // Bytes that differ in more than bit 0x20 do not match ('[' vs '{').
  EXPECT_FALSE(TokenEqualsNoCase(MakeToken("a["), MakeToken("a{")) &&
               TokenEqualsNoCase(MakeToken("a["), MakeToken("a;")));
}

TEST(RtspToken, MethodTableAndStatusPhrases) {
  for (int32_t code = 0; code < 11; ++code) EXPECT_EQ(vocab::kMethodTable[code].code, code);
  RtspToken t;
  EXPECT_TRUE(MethodToken(kMethodFrame, t));
  EXPECT_STREQ(t.text, "$");
  EXPECT_FALSE(MethodToken(11, t));
  EXPECT_STREQ(StatusPhrase(480).text, "Unsupported Client");
  EXPECT_STREQ(StatusPhrase(454).text, "Session Not Found");
  EXPECT_TRUE(StatusPhrase(409).empty());
  EXPECT_TRUE(StatusPhrase(453).empty());
}
