// 8x8 inverse DCT: the integer Chen-Wang fast transform of the MPEG software
// simulation group, columns first, then rows. Most blocks of low-rate video
// hold few coefficients, so each pass is instantiated for the number of
// leading inputs that can be non-zero; the dropped terms are zeros, so every
// variant gives exactly the full transform's result.
#include <algorithm>

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

void idctPut(BlockCoefs* b, uint8_t* dst, int stride) {
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

void idctInPlace(BlockCoefs* b) {
  switch (columnsPass(b)) {
    case 0: break;
    case 1: rowsInPlace<1>(b->c); break;
    case 2: rowsInPlace<2>(b->c); break;
    case 3: rowsInPlace<3>(b->c); break;
    case 4: rowsInPlace<4>(b->c); break;
    default: rowsInPlace<8>(b->c); break;
  }
}

void idctFull(int32_t blk[64]) {
  for (int c = 0; c < 8; ++c) columnPass<8>(blk + c);
  for (int r = 0; r < 8; ++r) rowPass<8>(blk + 8 * r, blk + 8 * r);
}

}  // namespace vdec
