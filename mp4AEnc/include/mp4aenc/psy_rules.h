// The decisions the psychoacoustic driver takes between its services: the
// block type a group of channels shares, the grouping of their short
// windows, the correlation and common window of a pair, and the shared
// band count of a pair's output.
#pragma once

#include "mp4aenc/sw_cont.h"

// Block type of a group: merged so far (start at 0) and one channel's
// proposal; long-start and long-stop together become eight short.
int psy_merge_block_type(int merged, int proposal);

// Rewrites every grouping as the runs between the union of their group
// boundaries; nothing changes when the window counts differ.
void psy_unify_groupings(SwGrouping* const* groupings, int count);

// Correlation of a pair over n complex short spectra of each channel:
// 2 sum(Re L Re R + Im L Im R) / sum(|L|^2 + |R|^2), 0 when that energy is
// 1e-10 or less.
float psy_pair_correlation(const float* const* left, const float* const* right, int n,
                           int lines);

// Common-window decision of a pair (mode 2). Above a correlation magnitude
// of 0.4 the two proposals are aligned: equal ones through the merge table,
// unequal ones each by itself by the next-sequence rule of an attack (when
// either channel saw one) or of a quiet frame. Answers 1 when the pair then
// uses one window (equal types).
int psy_common_window(float correlation, int* typeLeft, int* typeRight, int lastLeft,
                      int lastRight, int attackLeft, int attackRight);

// Both outputs of a pair get the larger band count.
void sync_max_sfb(int* maxSfbLeft, int* maxSfbRight);
