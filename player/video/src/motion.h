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

// Predicts macroblock mb from the reference with its vectors and adds the
// transformed residual of the blocks coded in cbp (st->blocks).
void motionCompensate(VideoDecoderState* st, int mb, int cbp, bool four);

}  // namespace vdec
