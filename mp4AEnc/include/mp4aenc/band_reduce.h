// Band reduction for scarce bits: the loudness cut removes the quietest
// bands of each window group up to a share of its loudness that grows with
// the workload; super starving keeps only the strongest line pairs of each
// band from a start band up.
#pragma once

#include "mp4aenc/error.h"
#include "mp4aenc/psymain.h"

struct LdnsCutState {
  float ldnsMin, ldnsMax, ldnsAvg;
  int lastBlockType;
  int* mask;  // 63: per band of a group, 1 = cut in the last frame
};

ErrorRecord* LdnsCutInit(LdnsCutState** out, float ldnsMin, float ldnsMax, float ldnsAvg);
void LdnsCutFree(LdnsCutState* state);
// loudness per group x band (index g * kPsyMaxBands + b); pe likewise, may
// be null. Cut bands lose their lines, energy and PE. Answers the number
// of bands cut.
int LdnsCutFrame(PsyOut* channel, const float* loudness, float* pe, float workload, LdnsCutState* state);

struct SuperStarvState {
  int enabled;
  int minSfb, numLin, minSfbShort, numLinShort;
  int removeEnBelowThres;
  float minFreqLong, minFreqShort;
  // The line choice of the last record, for a second record that shares it.
  unsigned char chosen[1024];
};

// Reads "sst-minSfb", "sst-minFreqLong", "sst-minSfbSh", "sst-minFreqShort",
// "sst-numLin", "sst-numLinSh", "sst-removeEnBelowThres". An odd line count
// puts the defaults back (off) and answers "wrong parameter for sst-numLin
// or sst-numLinSh: Disabling superstarving !!!".
ErrorRecord* SuperStarvInit(SuperStarvState* state, float sampleRate, int nLongBands, const int* longOffsets,
                            int nShortBands, const int* shortOffsets);
// One band's picks: min(keep, width - 1) lines as adjacent pairs of free
// lines, the strongest pair first (a pick without a free pair takes line
// 0); with removeBelow a picked line is kept only when x^2 reaches the
// threshold. Marks chosen lines; answers the picks made.
int superstarv_band(const float* x, int width, int keep, float threshold, int removeBelow, unsigned char* chosen);
// First (and second, which may be null) from the start band up; with
// shareLines the second takes the first's line choice.
void SuperStarvFrame(SuperStarvState* state, PsyOut* first, PsyOut* second, int shareLines);

// Scalable difference control.
struct DiffCtrlState {
  int frameLength;
  float* core;   // lower-layer spectrum
  float* work;   // difference
  float* mono;   // mono-layer mode
  int flags[120];  // 1 full spectrum, 0 difference
  int units;
  int unitValue2, unitValue3;
  int unitMark[2 * 40];
  int modeLong, modeShort;  // "DiffCtrlLo", "DiffCtrlSh"
};
// Units and the two region values for a sample rate (core type 6 takes the
// second table); false for a rate outside the table.
bool diff_ctrl_table(long sampleRate, int coreType, int* units, int* value2, int* value3);
ErrorRecord* DiffCtrlInit(DiffCtrlState** out, int value, int coreType, long sampleRate, int frameLength,
                          int monoLayer);
void DiffCtrlFree(DiffCtrlState* state);
