// The decoder's interface: creation limits, start code helpers, queries.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "video/vdec.h"

TEST(VdecInterface, FrameType) {
  const uint8_t gov[] = {0, 0, 1, 0xB3, 0x00};
  const uint8_t pvop[] = {0, 0, 1, 0xB6, 0x50};
  const uint8_t ivop[] = {0, 0, 1, 0xB6, 0x10};
  const uint8_t other[] = {0, 0, 1, 0xB0, 0x50};
  EXPECT_EQ(vdec_frame_type(gov, 5), 0);
  EXPECT_EQ(vdec_frame_type(pvop, 5), 1);
  EXPECT_EQ(vdec_frame_type(ivop, 5), 0);
  EXPECT_EQ(vdec_frame_type(other, 5), 3);
  EXPECT_EQ(vdec_frame_type(pvop, 4), 3);  // the coding type byte is missing
  EXPECT_EQ(vdec_frame_type(nullptr, 5), 3);
}

TEST(VdecInterface, StartCodeSearches) {
  const uint8_t vop[] = {7, 7, 0, 0, 1, 0xB6, 1, 2, 3};
  EXPECT_EQ(vdec_find_vop_start(vop, sizeof vop), 2);
  EXPECT_EQ(vdec_find_vop_start(vop, 6), -1);  // must lie before length - 4
  const uint8_t pic[] = {1, 0, 0, 0x82, 0, 0, 0};
  EXPECT_EQ(vdec_find_picture_start(pic, sizeof pic), 1);
  const uint8_t none[] = {0, 0, 1, 0xB2, 0, 0, 0, 0};
  EXPECT_EQ(vdec_find_vop_start(none, sizeof none), -1);
  EXPECT_EQ(vdec_find_picture_start(none, sizeof none), -1);
}

TEST(VdecInterface, ParseConfig) {
  const uint8_t au[] = {0, 0, 1, 0xB0, 1, 0, 0, 1, 0xB5, 9, 0, 0, 1, 0xB6, 0x10, 0, 0, 0};
  uint8_t out[sizeof au];
  int32_t size = sizeof au;
  EXPECT_EQ(vdec_parse_config(au, out, &size), 1);
  EXPECT_EQ(size, 10);
  EXPECT_EQ(std::memcmp(out, au, 10), 0);

  const uint8_t shortPic[40] = {0, 0, 0x80, 2};
  uint8_t out2[40];
  size = sizeof shortPic;
  EXPECT_EQ(vdec_parse_config(shortPic, out2, &size), 1);
  EXPECT_EQ(size, 32);

  const uint8_t bad[] = {0, 0, 1, 0xB6, 0, 0, 0, 0};
  size = sizeof bad;
  EXPECT_EQ(vdec_parse_config(bad, out, &size), 0);
}

TEST(VdecInterface, CreateSingleLimits) {
  VideoDecoder dec;
  ASSERT_EQ(vdec_create_single(&dec, 176, 144), 1);
  EXPECT_EQ(vdec_get_width(&dec), 176);
  EXPECT_EQ(vdec_get_height(&dec), 144);
  EXPECT_EQ(vdec_get_mode(&dec), VDEC_MODE_SHORT_HEADER);
  EXPECT_GT(vdec_get_memory_used(&dec), 176 * 144 * 3);
  EXPECT_EQ(vdec_destroy(&dec), 1);
  EXPECT_EQ(dec.state, nullptr);
  EXPECT_EQ(vdec_destroy(&dec), 1);

  // Larger than the player's surface: refused with a clear reason.
  EXPECT_EQ(vdec_create_single(&dec, 704, 576), 0);
  EXPECT_EQ(dec.error, VDEC_ERROR_TOO_LARGE);
  EXPECT_EQ(dec.state, nullptr);
  EXPECT_EQ(vdec_create_single(&dec, 0, 144), 0);
  EXPECT_EQ(dec.error, VDEC_ERROR_ARGUMENT);
}
