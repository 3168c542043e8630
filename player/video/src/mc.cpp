// Motion compensation: half-pel prediction from the reference with rounding
// control, unrestricted vectors (edge pixels repeated), the residual added
// in the same pass.
#include <algorithm>
#include <cstring>

#include "motion.h"

namespace vdec {

namespace {

struct RefPlane {
  const uint8_t* p;
  int stride;
  int w, h;  // picture edge: pixels beyond it repeat the last row or column
};

// Prediction of a size x size block at half-pel position (x2, y2).
template <int Size>
void predictBlock(uint8_t* dst, int dstStride, const RefPlane& ref, int x2, int y2, int rounding) {
  const int ix = x2 >> 1, iy = y2 >> 1;
  const int hx = x2 & 1, hy = y2 & 1;
  const uint8_t* src;
  int ss;
  uint8_t patch[(Size + 1) * (Size + 1)];
  if (ix < 0 || iy < 0 || ix + Size + hx > ref.w || iy + Size + hy > ref.h) {
    for (int r = 0; r <= Size; ++r) {
      const uint8_t* row = ref.p + size_t(std::clamp(iy + r, 0, ref.h - 1)) * ref.stride;
      for (int c = 0; c <= Size; ++c) patch[r * (Size + 1) + c] = row[std::clamp(ix + c, 0, ref.w - 1)];
    }
    src = patch;
    ss = Size + 1;
  } else {
    src = ref.p + size_t(iy) * ref.stride + ix;
    ss = ref.stride;
  }
  switch (hx | (hy << 1)) {
    case 0:
      for (int r = 0; r < Size; ++r) std::memcpy(dst + r * dstStride, src + r * ss, Size);
      break;
    case 1: {
      const int add = 1 - rounding;
      for (int r = 0; r < Size; ++r, src += ss, dst += dstStride)
        for (int c = 0; c < Size; ++c) dst[c] = uint8_t((src[c] + src[c + 1] + add) >> 1);
      break;
    }
    case 2: {
      const int add = 1 - rounding;
      for (int r = 0; r < Size; ++r, src += ss, dst += dstStride)
        for (int c = 0; c < Size; ++c) dst[c] = uint8_t((src[c] + src[c + ss] + add) >> 1);
      break;
    }
    default: {
      const int add = 2 - rounding;
      for (int r = 0; r < Size; ++r, src += ss, dst += dstStride)
        for (int c = 0; c < Size; ++c)
          dst[c] = uint8_t((src[c] + src[c + 1] + src[c + ss] + src[c + ss + 1] + add) >> 2);
      break;
    }
  }
}

void addResidual(uint8_t* dst, int stride, const int32_t* res) {
  for (int r = 0; r < 8; ++r, dst += stride, res += 8)
    for (int c = 0; c < 8; ++c) dst[c] = uint8_t(std::clamp(dst[c] + res[c], 0, 255));
}

// Chroma vector of a one-vector macroblock: luma quarter positions go to the
// chroma half position.
inline int chromaVector(int v) { return (v >> 1) | (v & 1); }

// Chroma vector of a four-vector macroblock from the sum of the luma vectors.
inline int chromaVector4(int sum) {
  const int a = sum < 0 ? -sum : sum;
  const int v = kChromaRound4mv[a & 15] + (a >> 4) * 2;
  return sum < 0 ? -v : v;
}

// Textured bit of a predicted block: set when a block of the previous
// picture that its displaced area covers had it.
uint8_t coveredTexture(const uint8_t* prev, int gridW, int gridH, int bx, int by, int vx, int vy) {
  const int px = bx * 8 + (vx >> 1), py = by * 8 + (vy >> 1);
  const int x0 = std::clamp(px >> 3, 0, gridW - 1), x1 = std::clamp((px + 7 + (vx & 1)) >> 3, 0, gridW - 1);
  const int y0 = std::clamp(py >> 3, 0, gridH - 1), y1 = std::clamp((py + 7 + (vy & 1)) >> 3, 0, gridH - 1);
  uint8_t f = 0;
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) f |= prev[y * gridW + x];
  return f & 4;
}

}  // namespace

void motionCompensate(VideoDecoderState* st, int mb, int cbp, bool four) {
  const VolInfo* vol = st->vol0;
  DecodedFrame* cur = st->cur;
  const DecodedFrame* ref = st->predFrom;
  const int cols = vol->mbCols;
  const int mbx = mb % cols, mby = mb / cols;
  const int w = cur->width;
  const int rounding = cur->vop_rounding_type;
  const int stride = 2 * cols;
  const int base = mby * 2 * stride + mbx * 2;
  // Pixels outside the coded picture repeat its edge column and row.
  const RefPlane luma{ref->y, w, vol->codedWidth, vol->codedHeight};
  const RefPlane cu{ref->u, w / 2, vol->codedWidth >> 1, vol->codedHeight >> 1};
  const RefPlane cv{ref->v, w / 2, vol->codedWidth >> 1, vol->codedHeight >> 1};

  uint8_t* y = cur->y + size_t(16 * mby) * w + 16 * mbx;
  int cx, cy;
  if (!four) {
    const int vx = st->mvx[base], vy = st->mvy[base];
    predictBlock<16>(y, w, luma, 32 * mbx + vx, 32 * mby + vy, rounding);
    cx = chromaVector(vx);
    cy = chromaVector(vy);
  } else {
    int sx = 0, sy = 0;
    for (int b = 0; b < 4; ++b) {
      const int i = base + (b >> 1) * stride + (b & 1);
      const int vx = st->mvx[i], vy = st->mvy[i];
      sx += vx;
      sy += vy;
      predictBlock<8>(y + (8 * (b >> 1)) * w + 8 * (b & 1), w, luma,
                      32 * mbx + 16 * (b & 1) + vx, 32 * mby + 16 * (b >> 1) + vy, rounding);
    }
    cx = chromaVector4(sx);
    cy = chromaVector4(sy);
  }
  const size_t coff = size_t(8 * mby) * (w / 2) + 8 * mbx;
  predictBlock<8>(cur->u + coff, w / 2, cu, 16 * mbx + cx, 16 * mby + cy, rounding);
  predictBlock<8>(cur->v + coff, w / 2, cv, 16 * mbx + cx, 16 * mby + cy, rounding);

  for (int b = 0; b < 6; ++b) {
    if (!(cbp & (32 >> b))) continue;
    int s;
    uint8_t* dst = blockPixels(cur, mbx, mby, b, &s);
    addResidual(dst, s, st->blocks[b].c);
  }

  if (st->postFilter) {
    const uint8_t* prev = st->blockFlags[1];
    uint8_t* flags = st->blockFlags[0];
    const size_t n = size_t(vol->mbCount);
    for (int b = 0; b < 6; ++b) {
      uint8_t f = (cbp & (32 >> b)) && st->blocks[b].count >= 4 ? 4 : 0;
      if (b < 4) {
        const int i = base + (b >> 1) * stride + (b & 1);
        f |= coveredTexture(prev, stride, 2 * vol->mbRows, 2 * mbx + (b & 1), 2 * mby + (b >> 1),
                            st->mvx[i], st->mvy[i]);
      } else {
        f |= coveredTexture(prev + (b == 4 ? 4 : 5) * n, cols, vol->mbRows, mbx, mby, cx, cy);
      }
      flags[blockFlagIndex(st, mb, b)] = f;
    }
  }
}

int reconstructNotCoded(VideoDecoderState* st, int mb) {
  setMacroblockVectors(st, mb, 0, 0);
  st->mbCbp[mb] = 0;
  motionCompensate(st, mb, 0, false);
  return 0;
}

}  // namespace vdec
