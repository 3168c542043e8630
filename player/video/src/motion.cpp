// Motion vectors: differences, median prediction within the video packet,
// and the range wrap.
#include <algorithm>

#include "motion.h"

namespace vdec {

namespace {

inline int median(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

}  // namespace

// One motion vector difference component (half-pel units); kVlcInvalid on
// a code error.
int readMotionDifference(BitReader& br, int fcode) {
  const int code = vlcRead(br, kMvd);
  if (code == kVlcInvalid) return kVlcInvalid;
  if (fcode <= 1 || code == 0) return code;
  const int rsize = fcode - 1;
  const int residual = int(br.read(rsize));
  const int mag = ((code < 0 ? -code : code) - 1) * (1 << rsize) + residual + 1;
  return code < 0 ? -mag : mag;
}

int wrapVector(int v, int fcode) {
  const int range = 64 << (fcode - 1);
  const int low = -(32 << (fcode - 1)), high = (32 << (fcode - 1)) - 1;
  if (v < low) v += range;
  if (v > high) v -= range;
  return v;
}

// Median prediction for luma block b of macroblock mb. Candidates outside the
// picture or in another video packet are not valid: one invalid candidate
// counts as zero, two take the third's value, three give zero.
void predictVector(const VideoDecoderState* st, int mb, int b, int* px, int* py) {
  const VolInfo* vol = st->vol0;
  const int cols = vol->mbCols;
  const int stride = 2 * cols;
  const int bx = 2 * (mb % cols) + (b & 1), by = 2 * (mb / cols) + (b >> 1);
  // Left, above, and above-right (above-left for block 3), in block units.
  static const int kThirdDx[4] = {2, 1, 1, -1};
  const int cx[3] = {bx - 1, bx, bx + kThirdDx[b]};
  const int cy[3] = {by, by - 1, by - 1};
  int vx[3], vy[3];
  bool valid[3];
  int validCount = 0;
  const uint16_t packet = st->mbPacket[mb];
  for (int i = 0; i < 3; ++i) {
    valid[i] = cx[i] >= 0 && cx[i] < stride && cy[i] >= 0;
    if (valid[i]) {
      const int nmb = (cy[i] >> 1) * cols + (cx[i] >> 1);
      valid[i] = nmb == mb || st->mbPacket[nmb] == packet;
    }
    vx[i] = vy[i] = 0;
    if (valid[i]) {
      vx[i] = st->mvx[cy[i] * stride + cx[i]];
      vy[i] = st->mvy[cy[i] * stride + cx[i]];
      ++validCount;
    }
  }
  if (validCount == 0) {
    *px = *py = 0;
    return;
  }
  if (validCount == 1) {
    const int k = valid[0] ? 0 : valid[1] ? 1 : 2;
    *px = vx[k];
    *py = vy[k];
    return;
  }
  *px = median(vx[0], vx[1], vx[2]);
  *py = median(vy[0], vy[1], vy[2]);
}

int decodeVector(VideoDecoderState* st, int mb, int b, int fcode, int* x, int* y) {
  BitReader& br = st->vol0->br;
  const int dx = readMotionDifference(br, fcode);
  if (dx == kVlcInvalid) return 1;
  const int dy = readMotionDifference(br, fcode);
  if (dy == kVlcInvalid) return 1;
  int px, py;
  predictVector(st, mb, b, &px, &py);
  *x = wrapVector(px + dx, fcode);
  *y = wrapVector(py + dy, fcode);
  return 0;
}

int decodeMacroblockVectors(VideoDecoderState* st, int mb, bool four) {
  const int fcode = std::max(1, st->cur->fcodeForward);
  const int cols = st->vol0->mbCols;
  const int stride = 2 * cols;
  const int base = (mb / cols) * 2 * stride + (mb % cols) * 2;
  if (!four) {
    int x, y;
    if (decodeVector(st, mb, 0, fcode, &x, &y)) return 1;
    setMacroblockVectors(st, mb, x, y);
    return 0;
  }
  for (int b = 0; b < 4; ++b) {
    int x, y;
    if (decodeVector(st, mb, b, fcode, &x, &y)) return 1;
    const int i = base + (b >> 1) * stride + (b & 1);
    st->mvx[i] = int16_t(x);
    st->mvy[i] = int16_t(y);
  }
  return 0;
}

}  // namespace vdec
