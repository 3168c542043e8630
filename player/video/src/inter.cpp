// Predicted macroblocks: motion vectors, inter blocks, reconstruction.
#include "blocks.h"
#include "picture.h"

namespace vdec {

InterBlockFn chooseInterBlock(Coding, bool) { return nullptr; }

int decodeInterMacroblock(VideoDecoderState*, int, const MacroblockHeader&) { return 1; }

int reconstructNotCoded(VideoDecoderState* st, int mb) {
  concealMacroblocks(st, mb, mb + 1, st->packet);
  return 0;
}

int decodePartitioned(VideoDecoderState* st) { return decodeCombined(st); }

}  // namespace vdec
