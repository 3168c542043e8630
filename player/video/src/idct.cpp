// 8x8 inverse DCT: the integer Chen-Wang fast transform of the MPEG software
// simulation group, columns first, then rows. Most blocks of low-rate video
// hold few coefficients, so each pass is instantiated for the number of
// leading inputs that can be non-zero; the dropped terms are zeros, so every
// variant gives exactly the full transform's result.
#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VDEC_IDCT_AVX2 1
#endif

#include "vdec_internal.h"

namespace vdec {

namespace {

constexpr int W1 = 2841;  // 2048 * sqrt(2) * cos(k * pi / 16)
constexpr int W2 = 2676;
constexpr int W3 = 2408;
constexpr int W5 = 1609;
constexpr int W6 = 1108;
constexpr int W7 = 565;

// The 1/sqrt(2) rotation of the odd part, (181 * v + 128) >> 8; in 64 bits,
// since a block of extreme coefficients (damaged data) overflows 32.
inline int32_t rotate(int32_t v) { return int32_t((181 * int64_t(v) + 128) >> 8); }

// First pass down one column (stride 8); rows R and below are zero.
template <int R>
inline void columnPass(int32_t* b) {
  if constexpr (R == 1) {
    const int32_t v = b[0] * 8;
    for (int i = 0; i < 8; ++i) b[8 * i] = v;
    return;
  } else {
    int32_t x0 = b[0] * 2048 + 128;
    int32_t x1 = R > 4 ? b[32] * 2048 : 0;
    int32_t x2 = R > 6 ? b[48] : 0;
    int32_t x3 = R > 2 ? b[16] : 0;
    int32_t x4 = b[8];
    int32_t x5 = R > 7 ? b[56] : 0;
    int32_t x6 = R > 5 ? b[40] : 0;
    int32_t x7 = R > 3 ? b[24] : 0;
    int32_t x8 = W7 * (x4 + x5);
    x4 = x8 + (W1 - W7) * x4;
    x5 = x8 - (W1 + W7) * x5;
    x8 = W3 * (x6 + x7);
    x6 = x8 - (W3 - W5) * x6;
    x7 = x8 - (W3 + W5) * x7;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2);
    x2 = x1 - (W2 + W6) * x2;
    x3 = x1 + (W2 - W6) * x3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = rotate(x4 + x5);
    x4 = rotate(x4 - x5);
    b[0] = (x7 + x1) >> 8;
    b[8] = (x3 + x2) >> 8;
    b[16] = (x0 + x4) >> 8;
    b[24] = (x8 + x6) >> 8;
    b[32] = (x8 - x6) >> 8;
    b[40] = (x0 - x4) >> 8;
    b[48] = (x3 - x2) >> 8;
    b[56] = (x7 - x1) >> 8;
  }
}

// Second pass along one row; columns C and beyond are zero. Results go to
// out[0..7].
template <int C>
inline void rowPass(const int32_t* b, int32_t* out) {
  if constexpr (C == 1) {
    const int32_t v = (b[0] + 32) >> 6;
    for (int i = 0; i < 8; ++i) out[i] = v;
    return;
  } else {
    int32_t x0 = b[0] * 256 + 8192;
    int32_t x1 = C > 4 ? b[4] * 256 : 0;
    int32_t x2 = C > 6 ? b[6] : 0;
    int32_t x3 = C > 2 ? b[2] : 0;
    int32_t x4 = b[1];
    int32_t x5 = C > 7 ? b[7] : 0;
    int32_t x6 = C > 5 ? b[5] : 0;
    int32_t x7 = C > 3 ? b[3] : 0;
    int32_t x8 = W7 * (x4 + x5) + 4;
    x4 = (x8 + (W1 - W7) * x4) >> 3;
    x5 = (x8 - (W1 + W7) * x5) >> 3;
    x8 = W3 * (x6 + x7) + 4;
    x6 = (x8 - (W3 - W5) * x6) >> 3;
    x7 = (x8 - (W3 + W5) * x7) >> 3;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2) + 4;
    x2 = (x1 - (W2 + W6) * x2) >> 3;
    x3 = (x1 + (W2 - W6) * x3) >> 3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = rotate(x4 + x5);
    x4 = rotate(x4 - x5);
    out[0] = (x7 + x1) >> 14;
    out[1] = (x3 + x2) >> 14;
    out[2] = (x0 + x4) >> 14;
    out[3] = (x8 + x6) >> 14;
    out[4] = (x8 - x6) >> 14;
    out[5] = (x0 - x4) >> 14;
    out[6] = (x3 - x2) >> 14;
    out[7] = (x7 - x1) >> 14;
  }
}

// Highest set row + 1 of a column's map byte (bit 7 = row 0), 0 when empty.
inline int rowsUsed(uint8_t m) { return m ? 8 - __builtin_ctz(m) : 0; }

// Runs the column pass on the non-empty columns and returns how many leading
// columns the row pass has to look at (1, 2, 3, 4 or 8).
int columnsPass(BlockCoefs* b) {
  int cols = 0;
  for (int c = 0; c < 8; ++c) {
    const int rows = rowsUsed(b->map[c]);
    if (!rows) continue;
    cols = c + 1;
    int32_t* col = b->c + c;
    switch (rows) {
      case 1: columnPass<1>(col); break;
      case 2: columnPass<2>(col); break;
      case 3: columnPass<3>(col); break;
      case 4: columnPass<4>(col); break;
      default: columnPass<8>(col); break;
    }
  }
  return cols > 4 ? 8 : cols;
}

template <int C>
void rowsPut(const int32_t* c, uint8_t* dst, int stride) {
  int32_t out[8];
  for (int r = 0; r < 8; ++r, dst += stride) {
    rowPass<C>(c + 8 * r, out);
    for (int i = 0; i < 8; ++i) dst[i] = uint8_t(std::clamp(out[i], 0, 255));
  }
}

template <int C>
void rowsInPlace(int32_t* c) {
  for (int r = 0; r < 8; ++r) rowPass<C>(c + 8 * r, c + 8 * r);
}

}  // namespace

void idctPutPlain(BlockCoefs* b, uint8_t* dst, int stride) {
  switch (columnsPass(b)) {
    case 0:
      for (int r = 0; r < 8; ++r) std::fill_n(dst + r * stride, 8, uint8_t(0));
      break;
    case 1: rowsPut<1>(b->c, dst, stride); break;
    case 2: rowsPut<2>(b->c, dst, stride); break;
    case 3: rowsPut<3>(b->c, dst, stride); break;
    case 4: rowsPut<4>(b->c, dst, stride); break;
    default: rowsPut<8>(b->c, dst, stride); break;
  }
}

void idctInPlacePlain(BlockCoefs* b) {
  switch (columnsPass(b)) {
    case 0: break;
    case 1: rowsInPlace<1>(b->c); break;
    case 2: rowsInPlace<2>(b->c); break;
    case 3: rowsInPlace<3>(b->c); break;
    case 4: rowsInPlace<4>(b->c); break;
    default: rowsInPlace<8>(b->c); break;
  }
}

#ifdef VDEC_IDCT_AVX2
// The full transform with eight lanes of 32 bits: the column pass on the rows
// as vectors, then, transposed, the row pass on the columns. The arithmetic
// is the scalar passes' own, so the result is the same to the bit.
namespace {

#define VDEC_AVX2 __attribute__((target("avx2")))

VDEC_AVX2 inline __m256i mul(__m256i v, int k) { return _mm256_mullo_epi32(v, _mm256_set1_epi32(k)); }

// rotate() without 64 bits: v = 256 hi + lo with 0 <= lo < 256.
VDEC_AVX2 inline __m256i rotate8(__m256i v) {
  const __m256i hi = mul(_mm256_srai_epi32(v, 8), 181);
  const __m256i lo = mul(_mm256_and_si256(v, _mm256_set1_epi32(255)), 181);
  return _mm256_add_epi32(hi, _mm256_srai_epi32(_mm256_add_epi32(lo, _mm256_set1_epi32(128)), 8));
}

VDEC_AVX2 inline void transpose(__m256i* r) {
  __m256i t[8], u[8];
  for (int i = 0; i < 8; i += 2) {
    t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
    t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
  }
  for (int i = 0; i < 8; i += 4) {
    u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
    u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
    u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
    u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
  }
  for (int i = 0; i < 4; ++i) {
    r[i] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x20);
    r[i + 4] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x31);
  }
}

// One pass on eight lines at once; in[k] holds input k of every line. Column
// pass: Row false; row pass: Row true (its extra rounding and shifts).
template <bool Row>
VDEC_AVX2 inline void pass8(__m256i* v) {
  const __m256i add4 = _mm256_set1_epi32(Row ? 4 : 0);
  constexpr int pre = Row ? 3 : 0;
  __m256i x0 = _mm256_add_epi32(_mm256_slli_epi32(v[0], Row ? 8 : 11), _mm256_set1_epi32(Row ? 8192 : 128));
  __m256i x1 = _mm256_slli_epi32(v[4], Row ? 8 : 11);
  __m256i x2 = v[6], x3 = v[2], x4 = v[1], x5 = v[7], x6 = v[5], x7 = v[3];
  __m256i x8 = _mm256_add_epi32(mul(_mm256_add_epi32(x4, x5), W7), add4);
  x4 = _mm256_srai_epi32(_mm256_add_epi32(x8, mul(x4, W1 - W7)), pre);
  x5 = _mm256_srai_epi32(_mm256_sub_epi32(x8, mul(x5, W1 + W7)), pre);
  x8 = _mm256_add_epi32(mul(_mm256_add_epi32(x6, x7), W3), add4);
  x6 = _mm256_srai_epi32(_mm256_sub_epi32(x8, mul(x6, W3 - W5)), pre);
  x7 = _mm256_srai_epi32(_mm256_sub_epi32(x8, mul(x7, W3 + W5)), pre);
  x8 = _mm256_add_epi32(x0, x1);
  x0 = _mm256_sub_epi32(x0, x1);
  x1 = _mm256_add_epi32(mul(_mm256_add_epi32(x3, x2), W6), add4);
  x2 = _mm256_srai_epi32(_mm256_sub_epi32(x1, mul(x2, W2 + W6)), pre);
  x3 = _mm256_srai_epi32(_mm256_add_epi32(x1, mul(x3, W2 - W6)), pre);
  x1 = _mm256_add_epi32(x4, x6);
  x4 = _mm256_sub_epi32(x4, x6);
  x6 = _mm256_add_epi32(x5, x7);
  x5 = _mm256_sub_epi32(x5, x7);
  x7 = _mm256_add_epi32(x8, x3);
  x8 = _mm256_sub_epi32(x8, x3);
  x3 = _mm256_add_epi32(x0, x2);
  x0 = _mm256_sub_epi32(x0, x2);
  x2 = rotate8(_mm256_add_epi32(x4, x5));
  x4 = rotate8(_mm256_sub_epi32(x4, x5));
  constexpr int out = Row ? 14 : 8;
  v[0] = _mm256_srai_epi32(_mm256_add_epi32(x7, x1), out);
  v[1] = _mm256_srai_epi32(_mm256_add_epi32(x3, x2), out);
  v[2] = _mm256_srai_epi32(_mm256_add_epi32(x0, x4), out);
  v[3] = _mm256_srai_epi32(_mm256_add_epi32(x8, x6), out);
  v[4] = _mm256_srai_epi32(_mm256_sub_epi32(x8, x6), out);
  v[5] = _mm256_srai_epi32(_mm256_sub_epi32(x0, x4), out);
  v[6] = _mm256_srai_epi32(_mm256_sub_epi32(x3, x2), out);
  v[7] = _mm256_srai_epi32(_mm256_sub_epi32(x7, x1), out);
}

// Leaves the result rows in v.
VDEC_AVX2 inline void transform8(const int32_t* c, __m256i* v) {
  for (int r = 0; r < 8; ++r) v[r] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + 8 * r));
  pass8<false>(v);
  transpose(v);
  pass8<true>(v);
  transpose(v);
}

VDEC_AVX2 void putAvx2(const int32_t* c, uint8_t* dst, int stride) {
  __m256i v[8];
  transform8(c, v);
  for (int r = 0; r < 8; r += 4) {
    // Saturating packs give the clamp to 0..255; the permutes undo their
    // interleaving of the 128-bit halves.
    const __m256i a = _mm256_permute4x64_epi64(_mm256_packs_epi32(v[r], v[r + 1]), 0xD8);
    const __m256i b = _mm256_permute4x64_epi64(_mm256_packs_epi32(v[r + 2], v[r + 3]), 0xD8);
    const __m256i p = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
    const __m128i lo = _mm256_castsi256_si128(p), hi = _mm256_extracti128_si256(p, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + r * stride), lo);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (r + 1) * stride), _mm_unpackhi_epi64(lo, lo));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (r + 2) * stride), hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (r + 3) * stride), _mm_unpackhi_epi64(hi, hi));
  }
}

VDEC_AVX2 void inPlaceAvx2(int32_t* c) {
  __m256i v[8];
  transform8(c, v);
  for (int r = 0; r < 8; ++r) _mm256_storeu_si256(reinterpret_cast<__m256i*>(c + 8 * r), v[r]);
}

inline bool avx2() {
  static const bool available = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return available;
}

}  // namespace
#endif

namespace {

// Only the DC coefficient marked: both passes reduce to one value,
// (8 DC + 32) >> 6, everywhere.
inline bool dcOnly(const BlockCoefs* b) {
  static constexpr uint8_t kDcMap[8] = {0x80, 0, 0, 0, 0, 0, 0, 0};
  return std::memcmp(b->map, kDcMap, sizeof kDcMap) == 0;
}
inline int32_t dcValue(const BlockCoefs* b) { return (b->c[0] * 8 + 32) >> 6; }

}  // namespace

void idctPut(BlockCoefs* b, uint8_t* dst, int stride) {
  if (dcOnly(b)) {
    const uint8_t v = uint8_t(std::clamp(dcValue(b), 0, 255));
    for (int r = 0; r < 8; ++r) std::memset(dst + r * stride, v, 8);
    return;
  }
#ifdef VDEC_IDCT_AVX2
  if (avx2()) return putAvx2(b->c, dst, stride);
#endif
  idctPutPlain(b, dst, stride);
}

void idctInPlace(BlockCoefs* b) {
  if (dcOnly(b)) {
    std::fill_n(b->c, 64, dcValue(b));
    return;
  }
#ifdef VDEC_IDCT_AVX2
  if (avx2()) return inPlaceAvx2(b->c);
#endif
  idctInPlacePlain(b);
}

void idctFull(int32_t blk[64]) {
  for (int c = 0; c < 8; ++c) columnPass<8>(blk + c);
  for (int r = 0; r < 8; ++r) rowPass<8>(blk + 8 * r, blk + 8 * r);
}

}  // namespace vdec
