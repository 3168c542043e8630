// Motion compensation: half-pel prediction from the reference with rounding
// control, unrestricted vectors (edge pixels repeated), the residual added
// in the same pass.
#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "motion.h"

namespace vdec {

namespace {

struct RefPlane {
  const uint8_t* p;
  int stride;
  int w, h;  // picture edge: pixels beyond it repeat the last row or column
};

// Half-pel interpolation, mode hx | hy << 1; the plain loops are the
// reference for the vector ones.
template <int Size>
void interpolatePlainT(uint8_t* dst, int dstStride, const uint8_t* src, int ss, int mode, int rounding) {
  switch (mode) {
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

void addResidualPlainT(uint8_t* dst, int stride, const int32_t* res) {
  for (int r = 0; r < 8; ++r, dst += stride, res += 8)
    for (int c = 0; c < 8; ++c) dst[c] = uint8_t(std::clamp(dst[c] + res[c], 0, 255));
}

#ifdef __SSE2__
// Rows of 8 pixels in the low half of a register, of 16 in all of it.
template <int Size>
inline __m128i loadRow(const uint8_t* p) {
  if constexpr (Size == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
template <int Size>
inline void storeRow(uint8_t* p, __m128i v) {
  if constexpr (Size == 16) return _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

template <int Size>
void interpolateT(uint8_t* dst, int dstStride, const uint8_t* src, int ss, int mode, int rounding) {
  if (mode == 0) return interpolatePlainT<Size>(dst, dstStride, src, ss, 0, rounding);
  if (mode != 3) {
    // (a + b + 1) >> 1 is the byte average; without the 1 it is one less
    // where a + b is odd.
    const int step = mode == 1 ? 1 : ss;
    const __m128i odd = _mm_set1_epi8(char(rounding));
    for (int r = 0; r < Size; ++r, src += ss, dst += dstStride) {
      const __m128i a = loadRow<Size>(src), b = loadRow<Size>(src + step);
      const __m128i avg = _mm_avg_epu8(a, b);
      storeRow<Size>(dst, _mm_sub_epi8(avg, _mm_and_si128(_mm_xor_si128(a, b), odd)));
    }
    return;
  }
  // Sums of two neighbours in 16 bits, each row's reused for the next.
  const __m128i zero = _mm_setzero_si128();
  const __m128i add = _mm_set1_epi16(short(2 - rounding));
  auto pairLo = [&](const uint8_t* p) {
    return _mm_add_epi16(_mm_unpacklo_epi8(loadRow<Size>(p), zero), _mm_unpacklo_epi8(loadRow<Size>(p + 1), zero));
  };
  auto pairHi = [&](const uint8_t* p) {
    return _mm_add_epi16(_mm_unpackhi_epi8(loadRow<Size>(p), zero), _mm_unpackhi_epi8(loadRow<Size>(p + 1), zero));
  };
  __m128i lo = pairLo(src), hi = Size == 16 ? pairHi(src) : zero;
  for (int r = 0; r < Size; ++r, src += ss, dst += dstStride) {
    const __m128i nlo = pairLo(src + ss);
    const __m128i sumLo = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(lo, nlo), add), 2);
    __m128i sumHi = zero, nhi = zero;
    if constexpr (Size == 16) {
      nhi = pairHi(src + ss);
      sumHi = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(hi, nhi), add), 2);
    }
    storeRow<Size>(dst, _mm_packus_epi16(sumLo, sumHi));
    lo = nlo;
    hi = nhi;
  }
}

// The residual saturated to 16 bits and added with saturation: the same
// clamp to 0..255 as the plain loop, since a pixel is at most 255.
void addResidualT(uint8_t* dst, int stride, const int32_t* res) {
  const __m128i zero = _mm_setzero_si128();
  for (int r = 0; r < 8; ++r, dst += stride, res += 8) {
    const __m128i d = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)), zero);
    const __m128i v = _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(res)),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(res + 4)));
    const __m128i s = _mm_adds_epi16(d, v);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(s, s));
  }
}
#else
template <int Size>
void interpolateT(uint8_t* dst, int dstStride, const uint8_t* src, int ss, int mode, int rounding) {
  interpolatePlainT<Size>(dst, dstStride, src, ss, mode, rounding);
}
void addResidualT(uint8_t* dst, int stride, const int32_t* res) { addResidualPlainT(dst, stride, res); }
#endif

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
  interpolateT<Size>(dst, dstStride, src, ss, hx | (hy << 1), rounding);
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
    addResidualT(dst, s, st->blocks[b].c);
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

void interpolate(uint8_t* dst, int dstStride, const uint8_t* src, int ss, int size, int mode,
                 int rounding) {
  if (size == 16) return interpolateT<16>(dst, dstStride, src, ss, mode, rounding);
  interpolateT<8>(dst, dstStride, src, ss, mode, rounding);
}
void interpolatePlain(uint8_t* dst, int dstStride, const uint8_t* src, int ss, int size, int mode,
                      int rounding) {
  if (size == 16) return interpolatePlainT<16>(dst, dstStride, src, ss, mode, rounding);
  interpolatePlainT<8>(dst, dstStride, src, ss, mode, rounding);
}
void addResidual(uint8_t* dst, int stride, const int32_t* res) { addResidualT(dst, stride, res); }
void addResidualPlain(uint8_t* dst, int stride, const int32_t* res) { addResidualPlainT(dst, stride, res); }

int reconstructNotCoded(VideoDecoderState* st, int mb) {
  setMacroblockVectors(st, mb, 0, 0);
  st->mbCbp[mb] = 0;
  motionCompensate(st, mb, 0, false);
  return 0;
}

}  // namespace vdec
