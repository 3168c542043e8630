#include <gtest/gtest.h>

#include <cstring>

#include "streaming/ref_string.h"

using namespace streaming;

TEST(RefString, SharingCountsReferencesAndLastReleaseFrees) {
  RefString* a = nullptr;
  RefStringAssign(a, "clip");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->length, 4u);
  RefString* b = nullptr;
  RefStringShare(b, a);
  EXPECT_EQ(b, a);
  EXPECT_EQ(a->references, 2);
  RefStringShare(b, b);  // itself: unchanged
  EXPECT_EQ(a->references, 2);
  RefStringRelease(b);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(a->references, 1);
  RefStringRelease(a);  // frees: ASan reports a leak or double free otherwise
  EXPECT_EQ(a, nullptr);
}

TEST(RefString, BytesWithNulKeepLengthAndZeroTheRest) {
  RefString r;
  ASSERT_TRUE(RefStringMakeFromBytes(r, 5, "ab\0cd"));
  EXPECT_EQ(r.length, 5u);
  EXPECT_EQ(0, std::memcmp(r.text, "ab\0\0\0\0", 6));
  RefStringDestroy(&r, 0);
}

TEST(RefString, NullTextGivesEmptyRecord) {
  RefString* h = nullptr;
  RefStringAssign(h, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->length, 0u);
  EXPECT_STREQ(h->text, "");
  RefString* e = nullptr;
  RefStringMakeEmpty(e);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->references, 1);
  RefStringRelease(h);
  RefStringRelease(e);
}
