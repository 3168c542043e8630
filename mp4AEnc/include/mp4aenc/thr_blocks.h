// Numerical building blocks of the threshold stage: the chaos
// (unpredictability) measure per spectral line, partition energies,
// spreading, tonality, the two signal-to-mask forms, pre-echo limits and the
// mapping of partition values onto scale-factor bands.
#pragma once

#include "mp4aenc/error.h"
#include "mp4aenc/fifo.h"
#include "mp4aenc/psy_conf.h"

// Chaos per line of complex spectra (interleaved re, im; `current` newest).
// Methods: 0 linear and 1 geometric magnitude prediction from the two older
// spectra (ISO/IEC 13818-7 unpredictability), 2 and 3 peakiness along
// frequency, 4 method 2 below nLimit capped by method 0. Lines with energy
// below 1e-6 in any of the three spectra take defaultValue (0, 1, 4). An
// unknown method writes nothing and answers a record.
ErrorRecord* CalculateChaosMeasure(const float* older, const float* previous, const float* current,
                                   int nLines, int nLimit, float defaultValue, int method,
                                   float* out);

// Per partition: energy (sum of re^2 + im^2) and chaos-weighted energy; past
// nFirst partitions the weighted energy is energy * defaultChaos[partition].
void partition_energy(const float* spectrum, const float* chaos, int nAll, int nFirst,
                      const int* widths, const float* defaultChaos, float* energyOut,
                      float* weightedOut);
// spread[i] = sum over the sparse row i of the table of weight * energy.
// weighted and spreadWeightedOut may be null.
void partition_spread(const float* energy, const float* weighted, int n, const CbParam* spreading,
                      float* spreadOut, float* spreadWeightedOut);
// out = -log10(2 r), r = weighted / energy clamped to 0.05 .. 0.5 (1 tonal, 0
// noise); a partition without energy counts as noise.
void partition_log_ratio(const float* energy, const float* weighted, int n, float* out);

// What the two signal-to-mask forms read: the partition table (minimum SNR,
// per-partition tmn and nmt, normalisation, counted partitions), the set
// (scalar tmn/nmt, the per-partition switch, the factor past the counted
// partitions) and the quiet threshold per partition (possibly lowered).
struct SmrState {
  const CbParam* cb;
  const ThrParamSet* thr;
  const float* quiet;
};
// snr = max(minSnr, (1 - t) * nmt + t * tmn); threshold = energy * norm *
// 10^(-snr/10), past the counted partitions energy * norm * factor; then at
// least the quiet threshold. nmt is the scalar used unless the set asks for
// per-partition values.
void smr_from_tonality(const SmrState* state, const float* tonality, const float* energy,
                       float nmt, float* threshold);
// The same with snr = max(nmt, minSnr) (no tonality).
void smr_fixed(const SmrState* state, const float* energy, float nmt, float* threshold);

// out = max(lowFactor * nb, min(nb, previous * factor, quietFactor * quiet)).
void pre_echo_limit(const float* nb, const float* previous, float factor, float quietFactor,
                    const float* quiet, float lowFactor, int n, float* out);
// For each of the eight short windows: when value / (reference + 0.0001) is
// below the window's own ratio, the window's threshold becomes that ratio
// times its reference.
void short_window_limit(int index, float value, float reference, float* const* windows,
                        const float* const* references);
// Caps long-resolution values in [first, end) by the mean over the nShort
// windows of the short line that each group of nWin long lines falls on.
void short_threshold_cap(float* values, const float* const* windows, int end, int nShort,
                         int first, int nWin);
// values above limit in [start, end) become 1.
void clamp_to_one(float* values, int start, int end, float limit);

// Temporal masking weights per band from the long and short spectra in the
// history FIFO (complex, slot 20 the long block, slots 19..12 the short
// windows), x the time constant in ms, n the lines of the long block.
void band_stationarity(const FloatFifo* history, int nBands, const int* widths, float x, int n,
                       float* out);

// Per band: the sum of the partition values weighted by the share of each
// partition's lines inside the band (starting at 1e-7). Band offsets are
// multiplied by scale to reach the partition table's lines.
void band_from_partitions(const float* values, const CbParam* cb, const int* bandOffsets,
                          int nBands, float scale, float* out);
// Per band: the smallest threshold / width ratio of the partitions that
// overlap it.
void band_min_ratio(const float* threshold, const CbParam* cb, const int* bandOffsets, int nBands,
                    float scale, float* out);
