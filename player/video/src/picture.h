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

// Clears the per-macroblock state for a new picture; returns the length of
// its resync marker.
int startPicture(VideoDecoderState* st);
int decodeCombined(VideoDecoderState* st);
int decodePartitioned(VideoDecoderState* st);

// Bits of mbAcPred.
constexpr uint8_t MB_AC_PRED = 1;
constexpr uint8_t MB_DC_VLC = 2;  // partitioned mode: DC read ahead of the texture

// Video packets and groups of blocks.
bool resyncMarkerFollows(const BitReader& br, int len);
int readPacketHeader(VideoDecoderState* st, int len, int* mb);
// With a resync marker after macroblock mb - 1: reads the packet header and
// conceals the macroblocks it skips. Returns the macroblock to go on with,
// or -1 at the end of the picture.
int nextPacket(VideoDecoderState* st, int mb, int resyncLen);
// After damage at macroblock failed, searching from bit position from: finds
// the next video packet (group of blocks, picture) and conceals up to it.
// Returns the macroblock to go on with, or -1 at the end of the picture.
int recover(VideoDecoderState* st, int failed, uint32_t from, int resyncLen, int rowsPerGob);

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
