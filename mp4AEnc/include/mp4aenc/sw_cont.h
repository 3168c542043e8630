// Block-switching decision: from the short-block spectra of the look-ahead
// it detects attacks, proposes the next window sequence and groups the
// short windows.
#pragma once

#include "mp4aenc/error.h"
#include "mp4aenc/fifo.h"

struct PsyConf;
struct AttackDetector;

// Grouping of the eight short windows of a frame (group lengths sum to nSub).
struct SwGrouping {
  int count;
  int lengths[8];
  int force;  // set by the driver: 0 none, 1 no attack, 2 attack
};

struct SwCont {
  AttackDetector* detector;  // history of nSub + nSub/2 slots
  float preConst;            // "preConst": base threshold of the first test
  int lastSequence;          // history of the next decision; the driver writes the final type
  int prevAttack;
  int firstDepth, secondDepth;
  int marks[12];             // 0..3 carried from the previous call, 4.. this call's blocks
  SwGrouping grouping;       // what this call reports: the windows of the frame it decides for
  SwGrouping pending;        // built from this call's marks, reported by the next call
  int forceFlag;
  int d8r;                   // "d8r", kept for the driver
  int extra;
  int nSub;
  // Diagnostics of the last call.
  float maxRise;
  int attack;
};

ErrorRecord* sw_cont_create(SwCont** out, const PsyConf* conf, int nSub, int extra);
// One decision per frame; shortSpectra holds complex short spectra, slot 0
// newest, the frame's nSub new blocks in slots nSub - 1 .. 0.
void lowPeRatioHist(SwCont* state, const FloatFifo* shortSpectra, int* sequenceOut, int nSub);
int sw_cont_next_on_attack(int previous);
int sw_cont_next_quiet(int previous);
void sw_cont_free(SwCont* state);
