#include <gtest/gtest.h>

#include <vector>

#include "mp4aenc/psy_rules.h"

namespace {

TEST(PsyRules, MergeTable) {
  const int want[4][4] = {{0, 1, 2, 3}, {1, 1, 2, 2}, {2, 2, 2, 2}, {3, 2, 2, 3}};
  for (int m = 0; m < 4; ++m)
    for (int p = 0; p < 4; ++p) EXPECT_EQ(psy_merge_block_type(m, p), want[m][p]);
  // A group of a long-start and a long-stop proposal becomes eight short.
  EXPECT_EQ(psy_merge_block_type(psy_merge_block_type(0, 1), 3), 2);
}

SwGrouping grouping(std::vector<int> lengths) {
  SwGrouping g{};
  for (int l : lengths) g.lengths[g.count++] = l;
  return g;
}

TEST(PsyRules, GroupingsAreUnified) {
  struct Case {
    std::vector<int> a, b, want;
  } cases[] = {
      {{4, 4}, {2, 6}, {2, 2, 4}},
      {{3, 3, 2}, {8}, {3, 3, 2}},
      {{1, 7}, {7, 1}, {1, 6, 1}},
      {{8}, {8}, {8}},
  };
  for (const Case& c : cases) {
    SwGrouping a = grouping(c.a), b = grouping(c.b);
    SwGrouping* both[2] = {&a, &b};
    psy_unify_groupings(both, 2);
    for (const SwGrouping* g : both) {
      ASSERT_EQ(g->count, int(c.want.size()));
      for (int i = 0; i < g->count; ++i) EXPECT_EQ(g->lengths[i], c.want[size_t(i)]);
    }
  }
  // Different window totals: nothing changes.
  SwGrouping a = grouping({4, 4}), b = grouping({2, 2});
  SwGrouping* both[2] = {&a, &b};
  psy_unify_groupings(both, 2);
  EXPECT_EQ(a.count, 2);
  EXPECT_EQ(b.lengths[0], 2);
}

TEST(PsyRules, CorrelationAndCommonWindow) {
  std::vector<float> l(16, 1.0f), r(16, 1.0f), z(16, 0.0f);
  const float* L[1] = {l.data()};
  const float* R[1] = {r.data()};
  const float* Z[1] = {z.data()};
  EXPECT_FLOAT_EQ(psy_pair_correlation(L, R, 1, 8), 1.0f);
  EXPECT_FLOAT_EQ(psy_pair_correlation(Z, Z, 1, 8), 0.0f);
  for (float& v : r) v = -v;
  EXPECT_FLOAT_EQ(psy_pair_correlation(L, R, 1, 8), -1.0f);
  // Exactly 0.4 keeps each channel's own type.
  int a = 1, b = 0;
  EXPECT_EQ(psy_common_window(0.4f, &a, &b, 0, 0, 1, 0), 0);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 0);
  // Above it, an attack moves both by the attack rule: 0 -> 1 each.
  a = 1, b = 0;
  EXPECT_EQ(psy_common_window(0.41f, &a, &b, 0, 0, 1, 0), 1);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 1);
  // Quiet: each by the quiet rule (2 -> 3, 3 -> 0): still different.
  a = 2, b = 3;
  EXPECT_EQ(psy_common_window(-0.9f, &a, &b, 2, 3, 0, 0), 0);
  EXPECT_EQ(a, 3);
  EXPECT_EQ(b, 0);
  int m1 = 40, m2 = 44;
  sync_max_sfb(&m1, &m2);
  EXPECT_EQ(m1, 44);
  EXPECT_EQ(m2, 44);
}

}  // namespace
