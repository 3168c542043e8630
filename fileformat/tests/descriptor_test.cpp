// Systems descriptors, decoder configuration and decoder-specific information.
#include <gtest/gtest.h>

#include <sstream>

#include "fileformat/decoder_config_descriptor.h"
#include "fileformat/decoder_specific_info.h"
#include "fileformat/es_descriptor.h"
#include "fileformat/object_descriptor.h"
#include "fileformat/render.h"
#include "test_util.h"

namespace fileformat {
namespace {

using test::Bytes;
using test::hexBytes;

TEST(Descriptor, SizeFieldEncodingMatchesItsLength) {
  const struct {
    uint32_t payload;
    const char* field;
  } cases[] = {{0, "00"},         {127, "7f"},         {128, "8100"},
               {16383, "ff7f"},   {16384, "818000"},   {2097151, "ffff7f"},
               {2097152, "81808000"}};
  for (const auto& c : cases) {
    std::ostringstream out;
    writeSizeField(out, c.payload);
    std::string s = out.str();
    EXPECT_EQ(Bytes(s.begin(), s.end()), hexBytes(c.field)) << c.payload;
    EXPECT_EQ(s.size(), sizeFieldLength(c.payload));
  }
  std::vector<uint8_t> bytes(128, 0xAB);
  DecoderSpecificInfo dsi(bytes.data(), 128);
  Bytes r = test::render(dsi);
  ASSERT_EQ(r.size(), 131u);
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 3), hexBytes("058100"));
  EXPECT_EQ(dsi.totalSize(), 131u);
}

TEST(Descriptor, FixedSmallDescriptors) {
  EXPECT_EQ(test::render(SLConfigDescriptor()), hexBytes("060102"));
  EXPECT_EQ(test::render(ESIDIncDescriptor(0x01020304)), hexBytes("0e0401020304"));
  EXPECT_EQ(test::render(ESIDRefDescriptor(3)), hexBytes("0f020003"));
}

TEST(ObjectDescriptors, SizesOfOdIodAndUpdate) {
  ObjectDescriptor od;
  od.AddDescriptor(std::make_unique<ESIDRefDescriptor>(1));
  EXPECT_EQ(od.payloadSize(), 6u);
  EXPECT_EQ(od.totalSize(), 8u);
  Bytes b = test::render(od);
  EXPECT_EQ(b[0], 0x11);
  EXPECT_EQ(((b[2] << 8 | b[3]) >> 6), od.id() % 1024);
  EXPECT_EQ(b[3] & 0x3F, 0x1F);

  InitialObjectDescriptor iod;
  iod.AddDescriptor(std::make_unique<ESIDIncDescriptor>(1));
  iod.AddDescriptor(std::make_unique<ESIDIncDescriptor>(2));
  EXPECT_EQ(iod.payloadSize(), 19u);
  EXPECT_EQ(iod.totalSize(), 21u);
  EXPECT_EQ(test::render(iod), hexBytes("1013 004f fefefefefe 0e0400000001 0e0400000002"));

  ObjectDescriptorUpdate update;
  for (uint16_t i = 1; i <= 2; ++i) {
    auto o = std::make_unique<ObjectDescriptor>();
    o->AddDescriptor(std::make_unique<ESIDRefDescriptor>(i));
    update.AddObjectDescriptor(std::move(o));
  }
  EXPECT_EQ(update.payloadSize(), 16u);
  EXPECT_EQ(update.count(), 2u);
  // A child that grows after it joined still updates the command.
  const_cast<ObjectDescriptor*>(update.objectDescriptor(0))
      ->AddDescriptor(std::make_unique<ESIDRefDescriptor>(9));
  EXPECT_EQ(update.payloadSize(), 20u);
  EXPECT_EQ(test::render(update).size(), 22u);
}

TEST(ObjectDescriptors, IdsContinueAcrossFilesButNeverReadZero) {
  ObjectDescriptor first;
  InitialObjectDescriptor iod;
  ObjectDescriptor second;
  EXPECT_GT(second.id(), first.id());
  EXPECT_EQ(test::render(iod)[3] >> 6, 1);  // the initial one always shows 1
  for (int i = 0; i < 1100; ++i) {
    ObjectDescriptor od;
    Bytes b = test::render(od);
    ASSERT_NE((b[2] << 8 | b[3]) >> 6, 0) << "id " << od.id();
  }
}

TEST(ObjectDescriptors, DumpLines) {
  ObjectDescriptorUpdate update;
  update.AddObjectDescriptor(std::make_unique<ObjectDescriptor>());
  std::ostringstream out;
  update.dump(out);
  EXPECT_EQ(out.str(),
            "    ObjectDescriptorUpdate: \n    {\n       - Tag: 0x1\n       - Size: 4\n"
            "      ObjectDescriptor: \n      {\n        - Tag: 0x11\n        - Size: 2\n"
            "        - URLFlag: 0\n        - URLLength: 0\n      }\n    }\n");
}

TEST(DecoderConfig, TypesByHandlerAndKind) {
  const struct {
    const char* handler;
    uint32_t kind;
    uint8_t object, typeByte;
  } cases[] = {
      {"odsm", 0, 0xFF, 0x05}, {"crsm", 0, 0xFF, 0x09}, {"sdsm", 0, 0xFF, 0x0D},
      {"vide", 1, 0x20, 0x11}, {"vide", 2, 0xC0, 0x11}, {"vide", 3, 0xFE, 0x11},
      {"soun", 1, 0xD0, 0x15}, {"soun", 2, 0xD1, 0x15}, {"soun", 3, 0x40, 0x15},
      {"m7sm", 0, 0xFF, 0x19}, {"ipsm", 0, 0xFF, 0x1D}, {"ocsm", 0, 0xFF, 0x21},
      {"mjsm", 0, 0xFF, 0x81}, {"hint", 0, 0xFF, 0x81}, {"vide", 7, 0xFF, 0x11},
  };
  for (const auto& c : cases) {
    DecoderConfigDescriptor dc(fourcc(c.handler), c.kind);
    Bytes b = test::render(dc);
    ASSERT_EQ(b.size(), 15u);
    EXPECT_EQ(b[2], c.object) << c.handler << c.kind;
    EXPECT_EQ(b[3], c.typeByte) << c.handler << c.kind;
  }
}

TEST(DecoderConfig, AmrInfoAndLimits) {
  DecoderConfigDescriptor dc(fourcc("soun"), 1);
  auto amr = std::make_unique<AmrDecoderSpecificInfo>();
  amr->setVersion(1);
  amr->setMode(7);
  amr->setModeSet(0x0080);
  dc.addDecoderSpecificInfo(std::move(amr));
  EXPECT_EQ(dc.payloadSize(), 27u);
  dc.bufferSize = 0x01234567;  // only 24 bits are written
  dc.maxBitrate = 12200;
  EXPECT_EQ(test::render(dc), hexBytes("041b d0 15 234567 00002fa8 00000000"
                                       "050c 6b726d6d 01 07 0080 00000000"));
  DecoderConfigDescriptor od(fourcc("odsm"), 0);
  od.addDecoderSpecificInfo(std::make_unique<DecoderSpecificInfo>());
  EXPECT_EQ(od.payloadSize(), 13u);
  EXPECT_EQ(od.firstDecoderSpecificInfo(), nullptr);
}

TEST(DecoderSpecificInfo, MakerLayouts) {
  EXPECT_EQ(test::render(VisualDecoderSpecificInfo(0, 10, 176, 144)),
            hexBytes("050c 6b726d6d 00 00 0a 00 00b0 0090"));
  EXPECT_EQ(test::render(CompactAudioDecoderSpecificInfo(1, 0x45)),
            hexBytes("0508 6b726d6d 01 05 0000"));
}

TEST(ESDescriptor, EsdsSizesFollowTheDecoderConfig) {
  ESDAtom esds(fourcc("vide"), 1);
  EXPECT_EQ(esds.size(), 12u + 2 + 3 + 15 + 3);
  std::vector<uint8_t> vol(200, 0x11);
  esds.descriptor()->decoderConfig()->addDecoderSpecificInfo(
      std::make_unique<DecoderSpecificInfo>(vol.data(), 200));
  // The DSI takes a 2-byte size field, and so do the decoder config and ES.
  EXPECT_EQ(esds.descriptor()->decoderConfig()->payloadSize(), 13u + 203);
  EXPECT_EQ(esds.size(), 12u + 3 + 3 + 219 + 3);
  test::expectSizesCurrent(esds);
  Bytes b = test::render(esds);
  EXPECT_EQ(Bytes(b.begin() + 12, b.begin() + 17), hexBytes("03 8161 0000"));
}

TEST(Peer, PythonWalkerReadsTheDescriptorTrees) {
  if (!test::peersAvailable()) GTEST_SKIP() << "python3 not reachable";
  ESDAtom esds(fourcc("soun"), 3);
  std::vector<uint8_t> asc(150, 0x12);
  esds.descriptor()->decoderConfig()->addDecoderSpecificInfo(
      std::make_unique<DecoderSpecificInfo>(asc.data(), 150));
  InitialObjectDescriptor iod;
  iod.AddDescriptor(std::make_unique<ESIDIncDescriptor>(1));
  ObjectDescriptorUpdate update;
  auto od = std::make_unique<ObjectDescriptor>();
  od->AddDescriptor(std::make_unique<ESIDRefDescriptor>(1));
  update.AddObjectDescriptor(std::move(od));

  Bytes all = test::render(esds);
  all.erase(all.begin(), all.begin() + 12);  // the descriptors after the atom header
  for (const AtomRenderable* d : {static_cast<const AtomRenderable*>(&iod),
                                  static_cast<const AtomRenderable*>(&update)}) {
    Bytes b = test::render(*d);
    all.insert(all.end(), b.begin(), b.end());
  }
  std::string path = test::scratchPath("descriptors.hex");
  std::string hex = test::hexOf(all);
  test::writeFile(path, Bytes(hex.begin(), hex.end()));
  std::string out;
  int rc = test::runCommand("python3 '" SUITE_TEST_DATA_DIR "/tests/descriptor_walker.py' < '" +
                                path + "'",
                            &out);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_EQ(out,
            "tag=0x03 size=175\n"
            "  tag=0x04 size=166\n"
            "    tag=0x05 size=150\n"
            "  tag=0x06 size=1\n"
            "tag=0x10 size=13\n"
            "  tag=0x0e size=4\n"
            "tag=0x01 size=8\n"
            "  tag=0x11 size=6\n"
            "    tag=0x0f size=2\n");
}

}  // namespace
}  // namespace fileformat
