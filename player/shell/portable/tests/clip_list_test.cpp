#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "shell/portable/clip_list.h"
#include "shell/portable/dialog_geometry.h"

namespace {

using shell::ClipHeader;

TEST(ClipList, HeaderBytesAreLittleEndianWithTheReservedByteZero) {
  uint8_t raw[shell::kClipHeaderSize];
  std::fill(std::begin(raw), std::end(raw), uint8_t{0xEE});
  shell::EncodeClipHeader({2, 0x0102, 0xFF03}, raw);
  const uint8_t expected[] = {2, 0, 0x02, 0x01, 0x03, 0xFF};
  EXPECT_TRUE(std::equal(std::begin(raw), std::end(raw), std::begin(expected)));

  // The reserved byte is ignored when read.
  const uint8_t foreign[] = {1, 0x7F, 5, 0, 0, 1};
  const ClipHeader h = shell::DecodeClipHeader(foreign);
  EXPECT_EQ(h.kind, 1);
  EXPECT_EQ(h.titleUnits, 5);
  EXPECT_EQ(h.addressUnits, 256);
  EXPECT_EQ(shell::ClipRecordBytes(h), 6u + 10u + 512u);
  EXPECT_EQ(shell::ClipRecordBytes({0, 0xFFFF, 0xFFFF}), 6u + 4u * 0xFFFFu);
}

TEST(ClipList, TextsAreCutTo255WithoutSplittingAPair) {
  std::u16string text(300, u'a');
  struct Case {
    size_t units;
    size_t highAt;  // index of a high surrogate, or npos
    size_t kept;
  } cases[] = {
      {0, std::u16string::npos, 0},     {255, std::u16string::npos, 255},
      {256, std::u16string::npos, 255}, {300, std::u16string::npos, 255},
      {300, 254, 254},                  {300, 253, 255},
      {255, 254, 255},  // whole texts are kept as they are
  };
  for (const Case& c : cases) {
    std::u16string t = text;
    if (c.highAt != std::u16string::npos) {
      t[c.highAt] = 0xD83C;
      t[c.highAt + 1] = 0xDFB5;
    }
    EXPECT_EQ(shell::KeptClipUnits(t.c_str(), c.units), c.kept) << c.units << " " << c.highAt;
  }
}

TEST(ClipList, MoveToFrontShiftsTheRecordsBefore) {
  int records[] = {0, 1, 2, 3, 4};
  shell::MoveClipToFront(records, 3);
  EXPECT_EQ((std::vector<int>(records, records + 5)), (std::vector<int>{3, 0, 1, 2, 4}));
  shell::MoveClipToFront(records, 0);
  EXPECT_EQ((std::vector<int>(records, records + 5)), (std::vector<int>{3, 0, 1, 2, 4}));
  shell::MoveClipToFront(records, 4);
  EXPECT_EQ((std::vector<int>(records, records + 5)), (std::vector<int>{4, 3, 0, 1, 2}));
}

TEST(MediaBuffer, ValuesAndPositions) {
  struct Case {
    int32_t stored;
    int32_t position;
  } cases[] = {{0, 6}, {7500, 6}, {7000, 6}, {1000, 0}, {15000, 14}, {1999, 0}, {2000, 1},
               {60000, 14}, {500, 0}, {-5000, 0}};
  for (const Case& c : cases) EXPECT_EQ(shell::MediaBufferPosition(c.stored), c.position) << c.stored;
  EXPECT_EQ(shell::MediaBufferValue(true, 9), 0);
  EXPECT_EQ(shell::MediaBufferValue(false, 0), 1000);
  EXPECT_EQ(shell::MediaBufferValue(false, 6), 7000);
  EXPECT_EQ(shell::MediaBufferValue(false, 14), 15000);
  EXPECT_EQ(shell::MediaBufferValue(false, 20), 15000);
}

TEST(ClipInfoScroll, BoundedByZeroAndTheLastPage) {
  using shell::ScrollRequest;
  struct Case {
    ScrollRequest request;
    int32_t position, thumb, visible, total, expected;
  } cases[] = {
      {ScrollRequest::kLineUp, 0, 0, 10, 30, 0},     {ScrollRequest::kLineUp, 5, 0, 10, 30, 4},
      {ScrollRequest::kLineDown, 20, 0, 10, 30, 20},  {ScrollRequest::kLineDown, 19, 0, 10, 30, 20},
      {ScrollRequest::kPageDown, 15, 0, 10, 30, 20},  {ScrollRequest::kPageDown, 0, 0, 10, 30, 10},
      {ScrollRequest::kPageUp, 5, 0, 10, 30, 0},      {ScrollRequest::kThumb, 3, 12, 10, 30, 12},
      {ScrollRequest::kThumb, 3, 25, 10, 30, 20},     {ScrollRequest::kLineDown, 0, 0, 10, 8, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(shell::ClipInfoScroll(c.request, c.position, c.thumb, c.visible, c.total), c.expected)
        << int(c.request) << " " << c.position;
}

TEST(DialogGeometry, CentreOrAlignPerDirection) {
  struct Case {
    int32_t start, ownerSize, size, expected;
  } cases[] = {
      {100, 400, 200, 200},  // centred
      {100, 401, 200, 200},  // (401 - 200) / 2 = 100, truncated
      {100, 200, 200, 100},  // as large: centred, which is the edge
      {100, 199, 200, 100},  // larger: aligned with the edge
      {-50, 300, 101, 49},   // an owner partly off the screen
  };
  for (const Case& c : cases)
    EXPECT_EQ(shell::CentreOrAlign(c.start, c.ownerSize, c.size), c.expected) << c.ownerSize << " " << c.size;
}

}  // namespace
