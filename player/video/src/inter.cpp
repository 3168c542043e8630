// Predicted macroblocks: vectors, residual blocks, reconstruction.
#include "blocks.h"
#include "motion.h"

namespace vdec {

int decodeInterMacroblock(VideoDecoderState* st, int mb, const MacroblockHeader& h) {
  const bool four = h.kind == MB_INTER4V;
  if (decodeMacroblockVectors(st, mb, four)) return 1;
  for (int b = 0; b < 6; ++b) {
    if (!(h.cbp & (32 >> b))) continue;
    if (st->interBlock(st, st->qp, &st->blocks[b])) return 1;
    idctInPlace(&st->blocks[b]);
  }
  motionCompensate(st, mb, h.cbp, four);
  return 0;
}

}  // namespace vdec
