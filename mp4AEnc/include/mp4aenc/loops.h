// The quantisation loops of the AAC core: per frame and channel the
// scalefactors and quantised spectrum that fit the granted bits with the
// least audible distortion, the section data found by greedy merge (or the
// fast fixed-size sectioning while counting), and the best result of the
// outer passes. Scalefactors are kept as the bitstream's (a larger value is
// a coarser step; global_gain is the first coded band's).
#pragma once

#include <cstdint>

#include "mp4aenc/chanmap.h"
#include "mp4aenc/error.h"
#include "mp4aenc/psymain.h"

struct LtpSideInfo;

constexpr int kAacMaxGroupBands = 8 * kPsyMaxBands;

struct AacSection {
  int book, start, length;  // bands within the group
};

// The quantised result of one channel: what the writer needs.
struct AacChannelResult {
  int blockType, windowShape, groups, groupLength[8];
  int maxSfb, bandsPerWindow;
  int bandOffset[kPsyMaxBands + 1];  // of one window
  int sf[kAacMaxGroupBands];         // group * kPsyMaxBands + band
  int book[kAacMaxGroupBands];
  int sectionCount[8];
  AacSection section[8][kPsyMaxBands];
  int globalGain;
  int q[1024];  // grouped order, signed
  long sectionBits, scfBits, spectralBits;
  long usedBits;  // the three above
  float worstNmr, evaluation;
  int commonWindow;
  const TnsInfo* tns;  // null or inactive: no TNS data
  const LtpSideInfo* ltp;  // null: the channel has no long-term prediction
  int jsFlags[kAacMaxGroupBands];  // the coding tools' band flags (ms_stereo.h)
};

// Side-information costs of a section of n bands.
int aac_section_side_bits(int n, int isShort);
// Greedy merge of one group's bands: per band the 12 book counts in, the
// sections out (book, first band, length); answers section + spectral bits.
// noMergeAll keeps one section per band; noMergeEsc keeps escape bands apart.
long aac_section_greedy(int nBands, const int (*bandBits)[12], int isShort, int noMergeAll, int noMergeEsc,
                        AacSection* sections, int* count);
// Fixed-size sectioning: bands / 8 sections (long) or trunc(0.33 * bands)
// (short), each with its best book.
long aac_section_fast(int nBands, const int (*bandBits)[12], int isShort, AacSection* sections, int* count);
// Scalefactor bits of a result whose books are set (book 0 bands cost
// nothing; the first coded band's difference to global_gain is 0).
long aac_scalefactor_bits(const AacChannelResult* r);

// q = trunc(|x|^(3/4) * 2^(-3 (sf - 100) / 16) + 0.4054) with the sign of x,
// from the 3/4-power values; answers the largest magnitude.
int aac_quantise_band(const float* xp, const float* x, int n, int sf, int* q);
// |q|^(4/3) * 2^((sf - 100) / 4).
float aac_dequantise(int q, int sf);

struct AacLoops;
struct AacLoopsSetup {
  int channels;
  const AacChannelMap* map;
  long sampleRate;
  int frameLength;
};
// Reads "itm", "mol", "amp", "evl", "noMergeAllBooks", "noMergeEscBook",
// "atsNoOptimize", "atsExp", "lpp", "vcb11", "tlf", "eah", "fsec", "scfe".
ErrorRecord* aac_loops_create(AacLoops** out, const AacLoopsSetup* setup);
void aac_loops_free(AacLoops* loops);
// One frame: every channel's best result within its granted bits.
ErrorRecord* aac_loops_frame(AacLoops* loops, const PsyOut* const* psy, const long* granted);
// Advanced threshold simulation: targets d_i * T / D of the granted total T
// by each channel's demand d_i; a second channel below 50 bits takes 50 from
// the first.
void aac_loops_targets(const long* demand, const long* granted, int n, long* target);
const AacChannelResult* aac_loops_result(const AacLoops* loops, int channel);
// Outer passes run in the last frame (all channels together).
int aac_loops_passes(const AacLoops* loops);
int aac_loops_mode(const AacLoops* loops);

// Microseconds of a steady clock (the loops' time budget).
long long aac_time_microseconds(void);
