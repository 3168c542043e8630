// The bitstream encoder of the AAC core: before quantisation the bits each
// channel may spend (side-information estimate, reservoir, entropy factor),
// after it the raw data block (channel elements in map order, fill
// elements, END, byte alignment), and the element writers below it. The
// optional framing header (sync, length, counter, CRC-16 over the frame)
// precedes a frame when framing mode 2 is asked for.
#pragma once

#include "mp4aenc/bitbuf.h"
#include "mp4aenc/bitres.h"
#include "mp4aenc/chanmap.h"
#include "mp4aenc/error.h"
#include "mp4aenc/loops.h"

// Book of noise-substituted bands: no spectral data, the noise energy in
// place of the scalefactor.
constexpr int kAacNoiseBook = 13;

// Noise bands (flag 0x08 in jsFlags) get book 13 and their noise value in
// place of the scalefactor (the first within reach of the 9-bit start from
// global_gain - 90, each next within 60 of the one before); sections are
// rebuilt from the books. value(channelArg, group, band, &v) gives the value.
void aac_mark_noise_bands(AacChannelResult* r, bool (*value)(const void* arg, int g, int b, int* v), const void* arg);

// Books of intensity bands (a pair's second channel): the first channel's
// spectrum scaled by 2^(-position / 4), negated with book 14 and negated
// again where ms_used is set.
constexpr int kAacIntensityBook2 = 14;
constexpr int kAacIntensityBook = 15;

// ms_used of a pair's band from the first channel's flags: M/S bands,
// intensity bands coded with M/S, correlated noise.
bool aac_ms_used(int jsFlags);

// The second channel's intensity bands (kJsIntensity in the first
// channel's flags, within max_sfb) get book 15 or 14, whichever decodes
// with the band's phase (position(arg, g, b, &pos, &outOfPhase)), and the
// position in place of the scalefactor; sections are rebuilt from the books.
// A band without a position is left as the loops coded it (silent).
void aac_mark_intensity_bands(AacChannelResult* second, const AacChannelResult* first,
                              bool (*position)(const void* arg, int g, int b, int* pos, int* outOfPhase),
                              const void* arg);

// Element writers; each answers the bits written. ics_info of a pair with a
// common window carries the partner's prediction data too.
long aac_write_ics_info(BitBuffer* b, const AacChannelResult* r, const AacChannelResult* partner = nullptr);
// ms_mask_present 0 (msUsed null or none set), 2 (all set) or 1 and a bit
// per band of each group; msUsed indexed group * kPsyMaxBands + band. With
// intensity bands in the pair an all-set mask is still sent band by band:
// decoders differ on whether mask 2 turns intensity bands.
long aac_write_ms_mask(BitBuffer* b, int groups, int maxSfb, const int* msUsed, int intensity = 0);
long aac_write_tns(BitBuffer* b, const TnsInfo* tns, int blockType, int bandsPerWindow);
long aac_write_ics(BitBuffer* b, const AacChannelResult* r, int commonWindow);
// Fill elements for `fillBits`: while more than 6 remain, one element of
// min(n, 15) (+ esc_count) zero bytes. Answers the bits written; what is left
// (at most 6) is for the byte alignment.
long aac_write_fill(BitBuffer* b, long fillBits);
// Index in the sampling frequency table (without 7350); -1 for another rate.
int aac_bitmux_sampling_index(long sampleRate);

// Framing header: sync 0xFFF, stereo bit, frame bytes (13), counter (5),
// CRC (16, all bits of the frame), index-below-5 bit: 48 bits.
struct AacFramingHeader {
  int protection;
  int64_t start;
  int counter;
};
ErrorRecord* aac_framing_create(AacFramingHeader** out);
void aac_framing_free(AacFramingHeader* h);
long aac_framing_bits(const AacFramingHeader* h);
ErrorRecord* aac_framing_write(AacFramingHeader* h, BitBuffer* b, long frameBytes, int samplingIndex, int channels);
int aac_framing_close(AacFramingHeader* h, BitBuffer* b);

struct AacBitmux;
struct AacBitmuxConfig {
  const AacChannelMap* map;
  int channels;
  long sampleRate, bitrate;
  int frameLength;
  float reservoirFactor;
  int framing;     // 2: framing header; 3: none
  int streamType;  // 0 (stands for 3)
};
ErrorRecord* aac_bitmux_create(AacBitmux** out, const AacBitmuxConfig* config);
void aac_bitmux_free(AacBitmux* m);
BitBuffer* aac_bitmux_buffer(AacBitmux* m);
long aac_bitmux_fill(const AacBitmux* m);
// Grants per channel for a frame: pe per channel, the header bits of the
// output format, the channels' block types and TNS records, and the bits
// the tools' data add per channel (may be null).
ErrorRecord* aac_bitmux_allocate(AacBitmux* m, const float* pe, const int* blockType, const TnsInfo* const* tns,
                                 long headerBits, long* granted, const long* toolBits = nullptr);
// Books the frame's results (written to a scratch buffer to count them
// exactly) and finds the fill bits.
ErrorRecord* aac_bitmux_update(AacBitmux* m, const AacChannelResult* const* results);
// The raw data block into the output buffer; its length is pushed.
ErrorRecord* aac_bitmux_write(AacBitmux* m);
long aac_bitmux_last_fill_bits(const AacBitmux* m);
