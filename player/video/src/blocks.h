// Block decoders and their choice per picture.
#pragma once

#include "vdec_internal.h"

namespace vdec {

// Which coefficient codes a picture uses.
enum class Coding { Standard, Reversible, ShortHeader };

IntraBlockFn chooseIntraBlock(Coding k, bool matrix);
InterBlockFn chooseInterBlock(Coding k, bool matrix);

// dct_dc_size and dct_dc_differential of an intra block; 0 ok.
int readIntraDc(BitReader& br, int block, int* diff);

// Post-filter flag of an intra block from its dequantised coefficients.
uint8_t intraBlockFlag(const int32_t* c);

}  // namespace vdec
