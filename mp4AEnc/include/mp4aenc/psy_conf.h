// Configuration of the psychoacoustic model: the parameter sets of an
// operating point (bandwidth, scale-factor bands, threshold parameters), the
// threshold-calculation partitions with their quiet thresholds and spreading
// function, and the adaptation summary. Built once per encoder instance.
#pragma once

#include <cstddef>

#include "mp4aenc/error.h"

constexpr int kMaxPartitions = 115;  // MAX_CB
constexpr int kBarkEntries = 25;     // per-Bark tables, Bark 0 .. 24

// One threshold parameter set: 123 words. The word positions are fixed:
// chaosLimit is the 60th word (set to -1 when the complex MDCT feeds the
// model) and chaosDefaultPct is the table read at [int(centre) + 60].
// The values and the reasons for them are in psy_tables.cpp.
struct ThrParamSet {
  float quietDb[kBarkEntries];  // threshold in quiet per Bark, dB SPL
  float quietOffsetDb;          // subtracted from quietDb: maps SPL to spectral energy
  int tmnDb[kBarkEntries];      // tone masking noise per Bark (per-partition mode)
  float minSnrBase;             // Bark-linear minimum SNR: base + slope * centre [dB]
  float minSnrSlope;
  float minSnrClamp;            // bound: a ceiling for a positive slope, a floor otherwise
  float minSnrFixed;            // value given to partitions minSnrFixedFirst .. Last
  int minSnrFixedFirst;         // -1: no fixed range
  int minSnrFixedLast;
  float spreadLowerSlope;       // factor on the Bark distance towards lower partitions
  float spreadUpperSlope;       // ... towards higher partitions
  float chaosLimit;             // chaos values above it count as noise (1 or more: off)
  int chaosDefaultPct[kBarkEntries];  // chaos assumed past the measured lines, per cent
  int nmtDb[kBarkEntries];      // noise masking tone per Bark (per-partition mode)
  int spreadNoLower;            // no spreading towards lower partitions
  int spreadNoMasking;          // leave out the masking term near the masker
  float chaosFreq;              // first limit [Hz]: the chaos measure reaches up to it
  float snrFreq;                // second limit [Hz]: partitions counted for the SNR
  float chaosClampFreq;         // third limit [Hz]: where the chaos clamp starts
  float tmnScalar;              // tone masking noise [dB] when not per partition
  float nmtScalar;              // noise masking tone [dB] when not per partition
  int snrPerPartition;          // 1: tmn and nmt from the per-Bark tables
  float preEchoFactor;          // threshold may grow by this factor per block
  float preEchoQuietFactor;     // ... and stays below this many quiet thresholds
  float preEchoLowFactor;       // ... but never drops below this share of itself
  float pastCountedFactor;      // threshold/energy ratio past the counted partitions
  float lowBark;                // attack detectors: partitions below it are "low"
};
static_assert(sizeof(ThrParamSet) == 123 * 4, "a threshold set is 123 words");
static_assert(offsetof(ThrParamSet, chaosLimit) == 59 * 4, "the 60th word");
static_assert(offsetof(ThrParamSet, chaosDefaultPct) == 60 * 4, "the table at word 60");

// Scale-factor band layout of one block kind.
struct SfbParamSet {
  float sampleRate;
  int lines;       // lines of the band table (1024 or 128)
  int numBands;
  int offsets[52]; // numBands + 1 cumulative offsets
  int widths[51];
};

struct PsyParam {
  float sampleRate;
  float bandwidth;     // Hz
  int bitrate;         // per channel
  int lines;           // half the block length
  int bandwidthLine;   // bandwidth as a line of the band table
  int codedLines;      // lines to code
  int limitLine[3];    // the set's three frequencies as lines
  int channelMode;     // stored as given
  int blockType;       // stored as given
  SfbParamSet* sfb;    // owned
  ThrParamSet* thr;    // owned copy
};

// Partitions of about one third of a Bark.
struct CbParam {
  int count;
  int width[kMaxPartitions];       // lines
  int first[kMaxPartitions];       // first line
  float centre[kMaxPartitions];    // Bark, at most 24
  float widthHz[kMaxPartitions];
  float quiet[kMaxPartitions];     // threshold in quiet, energy
  float quietLow[kMaxPartitions];  // the same for the attack detectors; 0 with noLowFreqQuiet
  int tmn[kMaxPartitions];         // dB, from the set's per-Bark tables
  int nmt[kMaxPartitions];
  float norm[kMaxPartitions];      // spreading normalisation
  float chaosDefault[kMaxPartitions];  // chaos assumed past the measured lines
  float minSnr[kMaxPartitions];    // Bark-linear minimum SNR, dB
  int narrowCount;                 // leading partitions whose Bark step exceeds 0.333
  int countChaos;                  // whole partitions below the first line limit
  int countSnr;                    // ... up to the second
  int endLine;
  int spreadFirst[kMaxPartitions]; // sparse spreading matrix: row i holds
  int spreadCount[kMaxPartitions]; // spreading into i from first .. first+count-1
  int spreadStart[kMaxPartitions]; // index of row i in spreadValues
  float* spreadValues;
};

// Summary of the band and partition layout. 956 bytes on the 32-bit target.
struct AdParam {
  int numBands;
  const int* bandOffsets;
  const int* bandWidths;
  int lines;
  int bandLines;
  float ratio;                           // lines / bandLines
  int numPartitions;
  int partWidth[kMaxPartitions];
  int partOffset[kMaxPartitions + 1];    // with the total after the last
  float lowBark;                         // copied from the threshold set
};
#if !defined(_WIN64) && defined(_WIN32)
static_assert(sizeof(AdParam) == 956, "adaptation record");
#endif

struct PsyConf {
  int srClass;          // 0 above 24000 Hz, 1 above 12000 Hz, else 2
  PsyParam* longParam;
  PsyParam* shortParam;
  CbParam* longCb;
  CbParam* shortCb;
  int* shortToLong;     // per short partition: the first long partition at 8 times its offset
  int cst;              // short-threshold check mode "cst"
  AdParam* longAd;
  AdParam* shortAd;
  int complexMdct;
  int noBmax;
  int lpAdjust;
  int highBw;
  float highBwFac;
  int nShort;
};

ErrorRecord* psy_conf_create(PsyConf** out, int frameLength, float sampleRate,
                             int bitratePerChannel, float bandwidth, int channelMode,
                             int audioObjectType);
void psy_conf_delete(PsyConf* conf);
const CbParam* psy_conf_cb(const PsyConf* conf, int blockType);  // null above 3
void psy_conf_cb_pair(const PsyConf* conf, const CbParam** longCb, const CbParam** shortCb);
void psy_conf_param_pair(const PsyConf* conf, const PsyParam** longParam,
                         const PsyParam** shortParam);
void psy_conf_ad_pair(const PsyConf* conf, const AdParam** longAd, const AdParam** shortAd);

// Channel modes of the tables: 0 a channel of a pair, 1 a single channel.
enum PsyChannelMode { kModePair = 0, kModeSingle = 1 };

float bandwidth_lookup_low_delay(int blockType, int bitrate, float sampleRate, int channelMode);
float bandwidth_lookup(int blockType, int bitrate, float sampleRate, int channelMode, int highBw,
                       float highBwFac);
// A new copy (free with std::free), or null.
ThrParamSet* thr_param_lookup_low_delay(int blockType, int bitrate, int channelMode,
                                        int complexMdct);
ThrParamSet* thr_param_lookup(int blockType, int bitrate, int channelMode, int complexMdct,
                              int variant);
// A new band set for the frame length (1024) and the exact sample rate, or
// null.
SfbParamSet* sfbOffsetFreq(int blockType, float sampleRate, int frameLength);

// blockLength: 2 * frameLength for long blocks, 2 * frameLength / nShort for
// short ones.
ErrorRecord* psyparam_create(PsyParam** out, int blockLength, int frameLength, float sampleRate,
                             int bitrate, float bandwidth, int channelMode, int blockType,
                             int complexMdct, int audioObjectType);
void psyparam_free(PsyParam* param);

ErrorRecord* cb_param_create(CbParam** out, const PsyParam* setup, int fromBands,
                             int noLowFreqQuiet);
void cb_param_free(CbParam* table);
ErrorRecord* ad_param_create(AdParam** out, const PsyParam* psyParam, const CbParam* cbParam);
void ad_param_free(AdParam* param);

float bark(int n, int k, float sampleRate);
float cb_spreading(int j, int i, const float* barks, int noLower, int noMasking,
                   float lowerSlope, float upperSlope);
int cb_first_narrow(const float* barks, int count);
void cb_map_lines(int count, float scale, const int* offsets, const int* partitionOffsets,
                  int* out);
