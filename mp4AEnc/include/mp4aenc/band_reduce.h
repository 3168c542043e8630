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
  float pe[120];            // each band's entropy as coded after the decision
  int bandMark[2 * 120];    // for the bitstream, per band: flag, 1
};
// Units and the two region values for a sample rate (core type 6 takes the
// second table); false for a rate outside the table.
bool diff_ctrl_table(long sampleRate, int coreType, int* units, int* value2, int* value3);
ErrorRecord* DiffCtrlInit(DiffCtrlState** out, int value, int coreType, long sampleRate, int frameLength,
                          int monoLayer);
void DiffCtrlFree(DiffCtrlState* state);
// With clearCore the lower-layer spectrum becomes 0; else the channel's
// bands below nBands (lines below n) lose it.
void DiffCtrlPrepare(DiffCtrlState* state, PsyOut* channel, int clearCore, int nBands, int n);
// Adds a spectrum (the channel's grouped order) to the lower layer over the
// channel's coded lines.
void DiffCtrlAddCore(DiffCtrlState* state, const float* spectrum, const PsyOut* channel);
// Per band from startBand to the coded top within the region (the table's
// second value, in bands): flag 1 codes the full spectrum, 0 the difference
// to the lower layer, whichever needs less entropy ("DiffCtrlLo"/"Sh" 1 all
// full, 2 all difference). Short blocks decide per window group, and keep
// their flags in a layer above the first. The channel's spectrum becomes
// what is coded; mono (may be null) takes the lower layer where the
// difference is coded and 0 elsewhere.
void DiffCtrlDecide(DiffCtrlState* state, PsyOut* channel, float* mono, int startBand, int notFirstLayer);
// The mono-layer form: units of four bands below nBands, the mono buffer of
// the state; without a core (coreKind 0) every band is coded in full.
void DiffCtrlDecideMono(DiffCtrlState* state, PsyOut* channel, int nBands, int coreKind);
