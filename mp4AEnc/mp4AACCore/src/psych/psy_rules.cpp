// Decisions of the psychoacoustic driver.
#include "mp4aenc/psy_rules.h"

#include <cmath>

int psy_merge_block_type(int merged, int proposal) {
  static const int table[4][4] = {{0, 1, 2, 3}, {1, 1, 2, 2}, {2, 2, 2, 2}, {3, 2, 2, 3}};
  if (merged < 0 || merged > 3 || proposal < 0 || proposal > 3) return 2;
  return table[merged][proposal];
}

void psy_unify_groupings(SwGrouping* const* groupings, int count) {
  if (count < 1) return;
  int total = -1;
  unsigned mask = 0;
  for (int c = 0; c < count; ++c) {
    const SwGrouping& g = *groupings[c];
    int end = 0;
    for (int i = 0; i < g.count; ++i) {
      end += g.lengths[i];
      if (end < 8) mask |= 1u << (end - 1);  // a boundary after window end - 1
    }
    if (total >= 0 && end != total) return;
    total = end;
  }
  SwGrouping unified{};
  int start = 0;
  for (int w = 0; w < total; ++w) {
    if (w + 1 == total || (mask & (1u << w))) {
      unified.lengths[unified.count++] = w + 1 - start;
      start = w + 1;
    }
  }
  for (int c = 0; c < count; ++c) {
    const int force = groupings[c]->force;
    *groupings[c] = unified;
    groupings[c]->force = force;
  }
}

float psy_pair_correlation(const float* const* left, const float* const* right, int n,
                           int lines) {
  double e = 0.0, c = 0.0;
  for (int s = 0; s < n; ++s)
    for (int k = 0; k < 2 * lines; k += 2) {
      const double lr = left[s][k], li = left[s][k + 1], rr = right[s][k], ri = right[s][k + 1];
      e += lr * lr + li * li + rr * rr + ri * ri;
      c += lr * rr + li * ri;
    }
  return e > 1e-10 ? float(2.0 * c / e) : 0.0f;
}

int psy_common_window(float correlation, int* typeLeft, int* typeRight, int lastLeft,
                      int lastRight, int attackLeft, int attackRight) {
  if (std::fabs(correlation) > 0.4f) {
    if (*typeLeft == *typeRight) {
      *typeLeft = *typeRight = psy_merge_block_type(*typeLeft, *typeRight);
    } else if (attackLeft || attackRight) {
      *typeLeft = sw_cont_next_on_attack(lastLeft);
      *typeRight = sw_cont_next_on_attack(lastRight);
    } else {
      *typeLeft = sw_cont_next_quiet(lastLeft);
      *typeRight = sw_cont_next_quiet(lastRight);
    }
  }
  return *typeLeft == *typeRight;
}

void sync_max_sfb(int* maxSfbLeft, int* maxSfbRight) {
  const int m = *maxSfbLeft > *maxSfbRight ? *maxSfbLeft : *maxSfbRight;
  *maxSfbLeft = *maxSfbRight = m;
}
