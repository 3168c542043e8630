// Motion vectors and motion compensation.
#pragma once

#include "picture.h"

namespace vdec {

// A motion vector difference component in half-pel units (kVlcInvalid on a
// code error), and the wrap of a predicted vector into the f_code range.
int readMotionDifference(BitReader& br, int fcode);
int wrapVector(int v, int fcode);
// Median prediction for luma block b of macroblock mb.
void predictVector(const VideoDecoderState* st, int mb, int b, int* px, int* py);
// Reads one or four vectors of a macroblock into the vector arrays; 0 ok.
int decodeMacroblockVectors(VideoDecoderState* st, int mb, bool four);

// Half-pel interpolation of a size x size block (8 or 16) from src (stride
// ss), mode hx | hy << 1, and the saturating add of an 8 x 8 residual: with
// SSE2 where the build has it, and the plain loops they are checked against.
void interpolate(uint8_t* dst, int dstStride, const uint8_t* src, int ss, int size, int mode,
                 int rounding);
void interpolatePlain(uint8_t* dst, int dstStride, const uint8_t* src, int ss, int size, int mode,
                      int rounding);
void addResidual(uint8_t* dst, int stride, const int32_t* res);
void addResidualPlain(uint8_t* dst, int stride, const int32_t* res);

// Predicts macroblock mb from the reference with its vectors and adds the
// transformed residual of the blocks coded in cbp (st->blocks).
void motionCompensate(VideoDecoderState* st, int mb, int cbp, bool four);

}  // namespace vdec
