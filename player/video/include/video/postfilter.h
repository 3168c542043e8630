// Post-filter: optional deblocking and deringing of a copy of a decoded
// picture before output. The decoder's reference picture is only read.
#pragma once

#include <cstdint>

#include "video/vdec.h"  // the mode flags VDEC_POSTFILTER_DEBLOCK and _DERING

// Flag byte per 8x8 block, written by the block decoders.
constexpr uint8_t kBlockFlatHorizontal = 1;  // no horizontal frequency in the first row
constexpr uint8_t kBlockFlatVertical = 2;    // no vertical frequency in the first column
constexpr uint8_t kBlockTextured = 4;
// Set by the combined pass: smoothed edge above the block / right of it.
constexpr uint8_t kBlockSmoothedAbove = 16;
constexpr uint8_t kBlockSmoothedRight = 32;

// A picture of the coded size (multiples of 16) with its per-macroblock
// quantisers (raster order) and the block flag arrays: 6 bytes per macroblock,
// luma 8x8 blocks in raster order, then U blocks, then V blocks.
struct PostFilterInput {
  const uint8_t* planes[3];  // Y (stride width), U and V (stride width / 2)
  int width, height;
  const int32_t* quant;
  // The decoder's two flag arrays: flags[0] belongs to the picture being
  // filtered; the filter exchanges the two pointers when it is done, so the
  // decoder writes the next picture's flags into what was flags[1].
  uint8_t** flags;
};

// Filters the picture into `out` (Y, then U, then V, packed at the coded
// size). Mode 0 copies; 1 deblocks; 2 derings; 3 runs the combined pass;
// any other mode is taken as 0. Returns 0, leaving `out` and the flag arrays
// untouched, for a size that is not made of whole macroblocks or a missing
// array the mode needs (quantisers in modes 1 to 3, the flag-array pointer,
// this picture's flags in modes 1 and 3); else 1.
int vdec_postfilter(PostFilterInput& in, uint8_t* out, int mode);

// Plain loops only, without the vector paths (they give the same bytes); for
// tests and benchmarks, set while no picture is being filtered.
void vdec_postfilter_plain(bool plain);
