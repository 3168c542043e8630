// Picture data decoding shared by the combined and partitioned loops.
#pragma once

#include "vdec_internal.h"

namespace vdec {

struct MacroblockHeader {
  uint8_t kind;  // MbKind
  bool acPred;
  int cbp;     // bits 5..0: blocks 0..5
  int prevQp;  // running quantiser before this macroblock's change
};

int decodeCombined(VideoDecoderState* st);
int decodePartitioned(VideoDecoderState* st);

// Copies macroblocks [from, to) from the reference and marks them not coded.
void concealMacroblocks(VideoDecoderState* st, int from, int to, int packet);
void setMacroblockVectors(VideoDecoderState* st, int mb, int x, int y);
uint8_t* blockPixels(DecodedFrame* f, int mbx, int mby, int b, int* stride);
size_t blockFlagIndex(const VideoDecoderState* st, int mb, int b);

// Reconstruction; 0 ok, non-zero on a code error.
int decodeIntraMacroblock(VideoDecoderState* st, int mb, int cbp);
int decodeInterMacroblock(VideoDecoderState* st, int mb, const MacroblockHeader& h);
int reconstructNotCoded(VideoDecoderState* st, int mb);

}  // namespace vdec
