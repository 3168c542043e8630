// The encoder's internal decoder: rebuilds each channel's time signal from
// the quantised frame as a decoder does (dequantise, mid/side, intensity,
// regroup, inverse TNS, inverse transform with the signalled windows and
// overlap).
// Long-term prediction takes its output as history.
#pragma once

#include "mp4aenc/chanmap.h"
#include "mp4aenc/error.h"
#include "mp4aenc/loops.h"
#include "mp4aenc/tns.h"

struct TfIntDec;

// frameLength 1024 (eight short windows of 128 lines).
ErrorRecord* tf_int_dec_create(TfIntDec** out, int channels, int frameLength, long sampleRate);
void tf_int_dec_free(TfIntDec* dec);

// The dequantised spectrum of a result in its grouped order (book 0 bands
// and lines beyond the coded bands are 0).
void tf_dequantise(const AacChannelResult* r, float* grouped);
// Intensity bands of a pair's second channel (books 14, 15): the first
// channel's dequantised band scaled by 2^(-position / 4), negative for book
// 14, turned again where the band's ms_used is set; grouped order.
void tf_intensity(const AacChannelResult* first, const AacChannelResult* second, const float* firstGrouped,
                  float* secondGrouped);
// Grouped order to window-interleaved order (line k of window w at k * 8 + w)
// for eight-short results; long results are copied.
void tf_regroup(const AacChannelResult* r, const float* grouped, float* interleaved);

// Long-term prediction's part: called with each channel's spectrum (line
// order) after mid/side and before inverse TNS, to add its prediction.
typedef void (*TfPredictionAdd)(const void* arg, int channel, float* spectrum);
void tf_int_dec_set_prediction(TfIntDec* dec, TfPredictionAdd add, const void* arg);

// One frame: results and TNS records per channel, the element map for the
// pairs' mid/side. Afterwards output(channel) holds the frame's samples and
// overlap(channel) the second half of the block that the next frame adds.
ErrorRecord* tf_int_dec_frame(TfIntDec* dec, const AacChannelMap* map, const AacChannelResult* const* results,
                              const TnsInfo* const* tns);
const float* tf_int_dec_output(const TfIntDec* dec, int channel);
const float* tf_int_dec_overlap(const TfIntDec* dec, int channel);
