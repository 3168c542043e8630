// The attack detector that block switching and window-shape adaptation
// share: a history of per-partition levels of the short blocks, rise and
// fall sums against older blocks, and two threshold tests.
#pragma once

#include "mp4aenc/error.h"
#include "mp4aenc/fifo.h"

struct CbParam;

struct AttackDetector {
  int nPart;
  const int* width;      // partition widths in lines
  const float* centre;   // partition centres in Bark
  float lowBark;
  float* quietDb;        // 10 log10(quiet) - 5, or -135
  float* quietLin;
  float* level;          // scratch: one slot
  FloatFifo* history;    // slots of one dB value per partition, slot 0 newest
  float* rise;           // per depth
  float* fall;
  float lowRatio;        // low-frequency energy share of the newest block
};

// The history holds `slots` slots, all filled with the quiet levels.
ErrorRecord* attack_detector_init(AttackDetector* d, const CbParam* cb, float lowBark, int slots,
                                  const char* module);
void attack_detector_free(AttackDetector* d);
// Pushes the levels of one block (complex interleaved spectrum) and fills
// rise, fall (depths 0 .. slots - 2) and lowRatio.
void attack_detector_measure(AttackDetector* d, const float* spectrum);
// First test: marks 1 when the rise at a depth below *depth passes
// base + 50 * depth (doubled for a low-frequency block), or 1000 after an
// attack frame; the counter is reset then, else grows while below maxDepth.
int attack_first_test(AttackDetector* d, float base, int prevAttack, int* depth, int maxDepth);
// Second test: marks 4 when a fall passes 200 (doubled likewise).
int attack_second_test(AttackDetector* d, int* depth, int maxDepth);
