// The layer filter's two buffers: an FFT buffer that gathers interleaved
// samples per channel into blocks and transforms each full block with the
// 1024-point radix-4 FFT, and an output buffer that regroups a stream of
// values into blocks of a fixed length.
#pragma once

#include "mp4aenc/error.h"

constexpr int kFftBufferMaxChannels = 6;

struct FftBuffer {
  int blockSize;  // values per channel, at most 1024
  int channels;
  int fill[kFftBufferMaxChannels];
  float* data[kFftBufferMaxChannels];  // 1024 values each
};

ErrorRecord* fft_buffer_create(FftBuffer** out, int blockSize, int channels);
void fft_buffer_free(FftBuffer* buffer);
// Appends *count interleaved frames' worth per channel (up to a block);
// a channel that completes its block is zero-padded to 1024, transformed
// in place and emptied. Answers whether a block was transformed; *count
// becomes the frames taken.
bool fft_buffer_feed(FftBuffer* buffer, const float* interleaved, int* count);
// The channel's 1024 values (the packed spectrum after a transform).
const float* fft_buffer_spectrum(const FftBuffer* buffer, int channel);

struct OutBuffer {
  int capacity;  // values
  float* values;
  int held;
};

ErrorRecord* out_buffer_create(OutBuffer** out, int capacity);
void out_buffer_free(OutBuffer* buffer);
// Adds n values; once L are together, writes them to dest (every stride-th
// place) and answers L, else 0. Answers -1 and changes nothing when the
// values left over would not fit the capacity.
int out_buffer_put(OutBuffer* buffer, const float* values, int n, float* dest, int blockLength, int stride);
