// Bandwidth rows and threshold parameter sets of the psychoacoustic model.
//
// Both are the encoder's own design, derived from the informative
// psychoacoustic model of ISO/IEC 13818-7: tonality from the unpredictability
// of each line, a signal-to-mask ratio between "tone masking noise" and
// "noise masking tone", a per-partition minimum SNR, the threshold in quiet,
// pre-echo control against the previous block, and spreading with the
// ISO/IEC 11172-3 model-2 function. The reasoning sits beside the values.
//
// Channel modes: the driver passes 0 for each channel of a pair and 1 for a
// single channel (an LFE counts as single).
#include "psy_tables.h"

// ---------------------------------------------------------------------------
// Bandwidth rows: {mode, bit/s per channel from, to, sample rate from, to,
// lowpass long, short, high-bandwidth long, short}. The first matching row
// wins. The measure behind our rows is the number of bits a channel has per
// coded line: bitrate / (2 * bandwidth) (frame bits = bitrate * 1024 / fs,
// coded lines = bandwidth * 2048 / fs). Below about 1.3 bits per line the
// loops cannot keep the noise under the thresholds of the low bands and
// coarse noise spreads over everything; above about 2.2 bits the extra
// octave costs little. Our rows aim at 1.5 and are rounded down to 250 Hz.
// Long and short blocks get the same lowpass, so that a block switch never
// changes the audible bandwidth. Rows without their own high-bandwidth value
// repeat the normal one.
// ---------------------------------------------------------------------------
const BandwidthRow kBandwidthRows[] = {
    // The nine rows the design fixes; they come first and stay as they are.
    {0, 5000, 15999, 8000, 8000, 3437.5f, 3437.5f, 3437.5f, 3437.5f},
    {1, 8000, 11999, 16000, 16000, 4000, 4000, 4000, 4000},
    {0, 24000, 39999, 44100, 44100, 13000, 13000, 13000, 13000},   // 64 kbit/s stereo: 1.23 bits/line at 32000
    {0, 60000, 80000, 44100, 44100, 15000, 15000, 15000, 15000},   // 128 stereo: 2.13 at 64000
    {1, 16000, 39999, 44100, 44100, 15000, 15000, 15000, 15000},
    {1, 81000, 160000, 44100, 44100, 17000, 17000, 17000, 17000},
    {0, 24000, 31999, 48000, 48000, 6000, 6000, 6000, 6000},
    {0, 60000, 80000, 48000, 48000, 15000, 15000, 16000, 16000},   // 128 stereo at 48000: 2.13
    {1, 60000, 75999, 48000, 48000, 15500, 15500, 17000, 17000},
    {0, 5000, 700000, 64000, 88200, 15000, 15000, 15000, 15000},
    {1, 5000, 700000, 64000, 88200, 15000, 15000, 15000, 15000},
    // Ours. 16 kbit/s mono at 22050: 16000 / (2 * 5250) = 1.52 bits per line.
    {1, 12000, 19999, 22050, 24000, 5250, 5250, 5250, 5250},
    // 24 kbit/s mono at 24000: 24000 / (2 * 8000) = 1.5.
    {1, 20000, 27999, 22050, 24000, 8000, 8000, 8000, 8000},
    // 32 kbit/s stereo at 22050 (16000 per channel): 1.52, as the mono row.
    // Mid/side coding saves bits on a pair, but the side channel still
    // needs the same bandwidth, so a pair gets no more per channel.
    {0, 12000, 19999, 22050, 24000, 5250, 5250, 5250, 5250},
    // 48 and 56 kbit/s stereo at 32000 (24000, 28000 per channel): 1.6 and
    // 1.87. One row for both keeps 28000 at 7500 Hz and avoids a lower
    // rate getting the wider band.
    {0, 20000, 31999, 32000, 32000, 7500, 7500, 7500, 7500},
    // 96 and 112 kbit/s stereo at 44100 (48000, 56000 per channel): 1.71
    // and 2.0. 1.5 would give 16000 Hz at 48000, wider than the fixed row
    // at 64000 (15000 Hz); the lowpass must not fall as the rate rises.
    {0, 40000, 59999, 44100, 48000, 14000, 14000, 14000, 14000},
    // A single channel at 40 to 81 kbit/s and 44.1 kHz: between the fixed
    // rows (15000 Hz below 40000, 17000 from 81000): 1.33 to 2.7 bits.
    {1, 40000, 80999, 44100, 44100, 15000, 15000, 15000, 15000},
    // 128 kbit/s per channel and more: 2.5 bits per line at 16000 Hz; the
    // ear gains little above.
    {0, 81000, 160000, 44100, 48000, 16000, 16000, 16000, 16000},
    // The filter's other table entries (its sample rate for a bitrate
    // depends on the channel count) and the scalable coder's layers, at the
    // same 1.5 bits per line where the band allows it.
    // 24 kbit/s stereo at 16000 (12000 per channel): 1.5 at 4000 Hz, as
    // the fixed mono row there.
    {0, 8000, 15999, 16000, 16000, 4000, 4000, 4000, 4000},
    // A single channel at 12 to 20 kbit/s and 16 kHz: 1.5 at 12000.
    {1, 12000, 19999, 16000, 16000, 4000, 4000, 4000, 4000},
    // 32 and 48 kbit/s mono at 32000: 1.6 and 2.4 bits at 10000 Hz; one
    // band for both, so that the higher rate never sounds duller.
    {1, 28000, 59999, 32000, 32000, 10000, 10000, 10000, 10000},
    // 96 to 128 kbit/s mono at 22050: the band reaches 10 kHz, near the
    // top of the table; the spare bits lower the noise.
    {1, 28000, 160000, 22050, 24000, 10000, 10000, 10000, 10000},
    // A single channel at 24 to 60 kbit/s and 48 kHz (a scalable layer of
    // 32 kbit/s: 1.52 bits at 10500 Hz).
    {1, 24000, 59999, 48000, 48000, 10500, 10500, 10500, 10500},
};
const int kBandwidthRowCount = int(sizeof kBandwidthRows / sizeof kBandwidthRows[0]);
const BandwidthRow* const kBandwidthRowsLowDelay = nullptr;
const int kBandwidthRowCountLowDelay = 0;

// ---------------------------------------------------------------------------
// Per-Bark tables shared by every set (index: int(partition centre)).
// ---------------------------------------------------------------------------

// Threshold in quiet, dB SPL, per Bark z: the smallest value of Terhardt's
// approximation 3.64 (f/kHz)^-0.8 - 6.5 exp(-0.6 (f/kHz - 3.3)^2)
// + 0.001 (f/kHz)^4 within [z, z + 1) Bark (the encoder's Bark formula),
// so that no partition is allowed more noise than the ear misses anywhere in
// it. The dip at 16 (3-3.6 kHz) is the ear canal's resonance; the steep rise
// above 22 is why no row codes above 16 kHz at low rates. A test recomputes
// these values.
static constexpr float kQuietDb[kBarkEntries] = {
    23.1f, 13.2f, 9.5f, 7.4f, 6.1f, 5.1f, 4.4f, 3.8f, 3.2f, 2.6f,     // 0-9: 0-1.2 kHz
    2.0f, 1.3f, 0.2f, -1.2f, -3.0f, -4.7f, -5.0f, -4.6f, -1.7f, 1.2f, // 10-19: -6.5 kHz
    2.6f, 4.6f, 9.3f, 20.8f, 50.2f};                                   // 20-24: -19 kHz

// Tone masking noise per Bark, used by sets with snrPerPartition: the
// ISO/IEC 13818-7 value of 18 dB at low Barks, then the model-2 rule of
// ISO/IEC 11172-3 (14.5 + z, rounded up): a tonal masker hides less noise the
// higher it sits. Held at 24 dB above 9 Bark: beyond that the rule would make
// the top bands, which carry the least tonal detail, the dearest.
static constexpr int kTmnDb[kBarkEntries] = {
    18, 18, 18, 18, 19, 20, 21, 22, 23, 24, 24, 24, 24,
    24, 24, 24, 24, 24, 24, 24, 24, 24, 24, 24, 24};

// Noise masking tone per Bark: 6 dB everywhere, as ISO/IEC 13818-7 (model 2
// of ISO/IEC 11172-3 has 5.5; noise masks noise about equally at all Barks).
static constexpr int kNmtDb[kBarkEntries] = {
    6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6};

// Chaos assumed where it is not measured, per cent: the 0.4 that
// ISO/IEC 13818-7 gives every line above its measured range (a tonality of
// about 0.1: nearly noise). Flat, as there.
static constexpr int kChaosDefaultPct[kBarkEntries] = {
    40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40,
    40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40};

// ---------------------------------------------------------------------------
// Scalar knobs of one set.
// ---------------------------------------------------------------------------
struct Knobs {
  float quietOffsetDb;
  float minSnrBase, minSnrSlope, minSnrClamp;
  float tmn, nmt;
  int perPartition;
  float preEchoFactor, preEchoLowFactor;
  float chaosFreq, chaosClampFreq;
};

static constexpr ThrParamSet make_set(const Knobs& k) {
  ThrParamSet s{};
  for (int z = 0; z < kBarkEntries; ++z) {
    s.quietDb[z] = kQuietDb[z];
    s.tmnDb[z] = kTmnDb[z];
    s.nmtDb[z] = kNmtDb[z];
    s.chaosDefaultPct[z] = kChaosDefaultPct[z];
  }
  s.quietOffsetDb = k.quietOffsetDb;
  s.minSnrBase = k.minSnrBase;
  s.minSnrSlope = k.minSnrSlope;
  s.minSnrClamp = k.minSnrClamp;
  // The lowest partition holds DC and the lines below about 40 Hz (long) or
  // 170 Hz (short): below hearing, and a DC offset in the input must not
  // cost bits. Its minimum SNR is 0 dB.
  s.minSnrFixed = 0.0f;
  s.minSnrFixedFirst = 0;
  s.minSnrFixedLast = 0;
  // Spreading: the distance in Bark is stretched by 3 towards lower
  // partitions (masking hardly reaches down) and by 1.5 towards higher ones
  // (upward spread of masking), the factors of ISO/IEC 13818-7. Both keep
  // the masking term near the masker.
  s.spreadLowerSlope = 3.0f;
  s.spreadUpperSlope = 1.5f;
  s.spreadNoLower = 0;
  s.spreadNoMasking = 0;
  // With an FFT spectrum the measured chaos is trusted wherever it is
  // measured (1: no clamp). The lookup writes -1 here when the complex MDCT
  // feeds the model: its spectra come from the coding windows, which change
  // shape at every block switch, so the three spectra of the prediction do
  // not share one window and the fast-turning phase of the high lines is
  // not predictable; every line from chaosClampFreq up then counts as noise.
  s.chaosLimit = 1.0f;
  s.chaosFreq = k.chaosFreq;
  // The second limit is capped at the coded lines by the builder: every
  // coded partition is counted, and the ones past the bandwidth, which are
  // never coded, take pastCountedFactor.
  s.snrFreq = 24000.0f;
  s.chaosClampFreq = k.chaosClampFreq;
  s.tmnScalar = k.tmn;
  s.nmtScalar = k.nmt;
  s.snrPerPartition = k.perPartition;
  s.preEchoFactor = k.preEchoFactor;
  // A threshold above a million times the quiet threshold (60 dB) means a
  // block louder than any coded signal; the cap only guards the arithmetic.
  s.preEchoQuietFactor = 1.0e6f;
  s.preEchoLowFactor = k.preEchoLowFactor;
  // Past the bandwidth nothing is coded: threshold = spread energy.
  s.pastCountedFactor = 1.0f;
  // The attack detectors weigh the partitions below 10 Bark (about 1.2 kHz)
  // as "low": an attack there with little high energy is a bass note, not a
  // transient that smears.
  s.lowBark = 10.0f;
  return s;
}

// The two sets the encoder does not select (variant 1 for a pair, 2 for
// other channels) ask 2 dB and 1 dB less tone masking noise: mid/side
// coding of a pair and a single channel's whole rate leave that much room.
static constexpr Knobs lean(Knobs k, float tmnLess) {
  k.tmn -= tmnLess;
  return k;
}

// Long sets. Quiet offset: a full-scale sine is taken as 96 dB SPL (a 16-bit
// LSB at 0 dB); its line in the unscaled complex-MDCT spectrum of a 2048
// block is about 146.6 dB and the quiet formula adds 42.3 dB (16887.8 per
// line), so 96 dB SPL maps to 96 - (-8) + 42.3 = 146.3: offset -8. Lower rates
// assume a quieter playback (offset down to -14: 6 dB more quiet threshold)
// because every bit saved at the edge of audibility goes to the loud bands.
// Minimum SNR: base - slope * centre with a floor, after ISO/IEC 13818-7's
// minimum values, which fall from about 24.5 dB at the lowest Barks to a few
// dB at the top; lower rates start lower and fall to 0. Pre-echo: a
// threshold may rise by preEchoFactor per block (ISO/IEC 13818-7: 2, 3 dB)
// and never fall below preEchoLowFactor of itself, so that a block after
// silence does not get thresholds 40 dB down and starve the others.
// chaosFreq: the chaos is measured up to 4800 Hz (the 206 lines of a long
// block at 48 kHz that ISO/IEC 13818-7 measures); the complex-MDCT clamp
// starts at 4000 Hz.
static constexpr Knobs kLong16 = {-14, 12.0f, -0.8f, 0.0f, 15, 4, 0, 3.0f, 0.10f, 4800, 4000};
static constexpr Knobs kLong24 = {-12, 16.0f, -0.9f, 1.0f, 16, 5, 0, 3.0f, 0.10f, 4800, 4000};
static constexpr Knobs kLong32 = {-10, 20.0f, -1.0f, 2.0f, 17, 5, 0, 2.5f, 0.05f, 4800, 4000};
static constexpr Knobs kLong48 = {-8, 24.5f, -1.1f, 3.0f, 18, 6, 0, 2.0f, 0.01f, 4800, 4000};
// From 60000 bit/s per channel the per-Bark tone masking table is used.
static constexpr Knobs kLong64 = {-8, 24.5f, -1.1f, 3.0f, 18, 6, 1, 2.0f, 0.01f, 4800, 4000};

// Short sets. A short block's line carries 18 dB less sine energy (an
// eighth of the window) and a partition of the same Bark width 9 dB less
// quiet energy (an eighth of the lines), so the quiet offset is 9 dB
// higher. Transients need less SNR than steady tones (temporal masking
// around the attack): the minimum SNR starts 4 dB lower. Pre-echo control
// between short windows allows 6 dB per window (factor 4): a short window
// already confines the noise to 3 ms. Chaos measured up to 4800 Hz; with
// the complex MDCT the clamp starts at 2000 Hz, as three short windows span
// only 8 ms and the phase of the higher lines moves too much between them.
static constexpr Knobs kShort16 = {-5, 8.0f, -0.8f, 0.0f, 15, 4, 0, 4.0f, 0.10f, 4800, 2000};
static constexpr Knobs kShort24 = {-3, 12.0f, -0.9f, 0.0f, 16, 5, 0, 4.0f, 0.10f, 4800, 2000};
static constexpr Knobs kShort32 = {-1, 16.0f, -1.0f, 0.0f, 17, 5, 0, 4.0f, 0.10f, 4800, 2000};
static constexpr Knobs kShort48 = {1, 20.5f, -1.1f, 0.0f, 18, 6, 0, 4.0f, 0.10f, 4800, 2000};
static constexpr Knobs kShort64 = {1, 20.5f, -1.1f, 0.0f, 18, 6, 1, 4.0f, 0.10f, 4800, 2000};

#define THR_SETS(k) {make_set(k), make_set(lean(k, 2)), make_set(lean(k, 1))}

// Rows by bit/s per channel; the first matching row wins. The filter's
// points: 16000 (16 mono, 32 stereo), 24000 (24 mono, 48 stereo), 28000
// (56 stereo), 32000 (64 stereo), 48000 (96 stereo), 56000 (112 stereo),
// 64000 (128 stereo).
const ThrRow kThrRows[] = {
    {5000, 19999, THR_SETS(kLong16), THR_SETS(kShort16)},
    {20000, 29999, THR_SETS(kLong24), THR_SETS(kShort24)},
    {30000, 43999, THR_SETS(kLong32), THR_SETS(kShort32)},
    {44000, 59999, THR_SETS(kLong48), THR_SETS(kShort48)},
    {60000, 400000, THR_SETS(kLong64), THR_SETS(kShort64)},
};
const int kThrRowCount = int(sizeof kThrRows / sizeof kThrRows[0]);
const ThrRow* const kThrRowsLowDelay = nullptr;
const int kThrRowCountLowDelay = 0;
