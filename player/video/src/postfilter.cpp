#include "video/postfilter.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// One plane with its 8x8 block grid and flags; `quantOf(bx, by)` gives the
// quantiser that governs a block.
struct Plane {
  uint8_t* px;
  int stride, width, height;
  int bw, bh;         // blocks per row and column
  uint8_t* flags;     // bw * bh bytes
  const int32_t* quant;
  int mbCols;
  int blocksPerMb;    // 2 for luma (2x2 blocks per macroblock), 1 for chroma

  int Qp(int bx, int by) const {
    const int q = quant[(by / blocksPerMb) * mbCols + bx / blocksPerMb];
    return std::clamp(q, 1, 31);
  }
  uint8_t& Flag(int bx, int by) const { return flags[by * bw + bx]; }
};

// Pixels across an edge: p(i) for i = 0, 1, 2, ... on the upper (left) side
// going outward, q(i) on the lower (right) side.
struct EdgeLine {
  uint8_t* at;  // q0
  int across;   // step from one pixel to the next across the edge
  uint8_t& p(int i) const { return at[-(i + 1) * across]; }
  uint8_t& q(int i) const { return at[i * across]; }
};

// Moves x and y toward each other by `amount` in the direction of their difference.
void Approach(uint8_t& x, uint8_t& y, int amount) {
  if (y > x) {
    x = uint8_t(x + amount), y = uint8_t(y - amount);
  } else {
    x = uint8_t(x - amount), y = uint8_t(y + amount);
  }
}

void DeblockLine(const EdgeLine& l, bool flat, int qp) {
  const int d = l.q(0) - l.p(0);
  if (d == 0 || std::abs(d) >= (flat ? 2 * qp : qp)) return;
  const uint8_t mid = uint8_t((l.p(0) + l.q(0)) >> 1);
  l.p(0) = l.q(0) = mid;
  const int e = std::abs(l.q(1) - l.p(1));
  if (flat) {
    Approach(l.p(1), l.q(1), (e + 3) >> 2);
    Approach(l.p(2), l.q(2), (std::abs(l.q(2) - l.p(2)) + 7) >> 3);
  } else {
    Approach(l.p(1), l.q(1), (e + 7) >> 3);
  }
}

// Smoothing of an edge between two flat blocks (combined pass): six pixels,
// each averaged with the seven around it, from the unfiltered values.
bool SmoothFlatLine(const EdgeLine& l, int qp) {
  const int d = l.q(0) - l.p(0);
  if (std::abs(d) <= 4 || std::abs(d) >= qp) return false;
  int v[14];  // p6..p0 q0..q6, all inside the two blocks
  for (int i = 0; i < 7; ++i) {
    v[6 - i] = l.p(i);
    v[7 + i] = l.q(i);
  }
  for (int k = 4; k <= 9; ++k) {  // p2..q2
    int sum = 0;
    for (int j = k - 3; j <= k + 3; ++j) sum += v[j];
    const uint8_t out = uint8_t((v[k] + sum + 4) >> 3);
    if (k < 7) l.p(6 - k) = out; else l.q(k - 7) = out;
  }
  return true;
}

// The default-mode filter of the MPEG-4 deblocking annex.
void DefaultModeLine(const EdgeLine& l, int qp) {
  const int p0 = l.p(0), p1 = l.p(1), p2 = l.p(2), p3 = l.p(3);
  const int q0 = l.q(0), q1 = l.q(1), q2 = l.q(2), q3 = l.q(3);
  if (std::abs(q0 - p0) <= 4) return;
  const int a0 = 2 * (p1 - q1) + 5 * (q0 - p0);
  const int a1 = 5 * (p1 - p2) + 2 * (p3 - p0);
  const int a2 = 5 * (q2 - q1) + 2 * (q0 - q3);
  const int m = std::min(std::abs(a1), std::abs(a2));
  if (std::abs(a0) >= 8 * qp || std::abs(a0) <= m) return;
  int d = (5 * (std::abs(a0) - m) + 32) >> 6;
  if (a0 > 0) d = -d;
  const int limit = (p0 - q0) >> 1;
  if ((d > 0) != (limit > 0) || d == 0) {
    d = 0;
  } else {
    d = limit > 0 ? std::min(d, limit) : std::max(d, limit);
  }
  l.p(0) = uint8_t(p0 - d);
  l.q(0) = uint8_t(q0 + d);
}

enum class EdgeMode { Deblock, Combined };

bool plainLoops = false;

#ifdef __SSE2__
inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}
inline __m128i Abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

// Approach() on eight lines where `take` is set.
inline void Approach8(__m128i& x, __m128i& y, __m128i amount, __m128i take) {
  const __m128i up = _mm_cmpgt_epi16(y, x);
  const __m128i nx = Select(up, _mm_add_epi16(x, amount), _mm_sub_epi16(x, amount));
  const __m128i ny = Select(up, _mm_sub_epi16(y, amount), _mm_add_epi16(y, amount));
  x = Select(take, nx, x), y = Select(take, ny, y);
}

// DeblockLine on the eight lines of an edge at once; v holds p3..p0 q0..q3
// in 16-bit lanes, one lane per line.
inline void Deblock8(__m128i v[8], bool flat, int qp) {
  __m128i &p2 = v[1], &p1 = v[2], &p0 = v[3], &q0 = v[4], &q1 = v[5], &q2 = v[6];
  const __m128i d = _mm_sub_epi16(q0, p0);
  const __m128i take = _mm_andnot_si128(_mm_cmpeq_epi16(d, _mm_setzero_si128()),
                                        _mm_cmpgt_epi16(_mm_set1_epi16(int16_t(flat ? 2 * qp : qp)), Abs16(d)));
  if (_mm_movemask_epi8(take) == 0) return;
  const __m128i mid = _mm_srli_epi16(_mm_add_epi16(p0, q0), 1);
  p0 = Select(take, mid, p0), q0 = Select(take, mid, q0);
  const __m128i e = Abs16(_mm_sub_epi16(q1, p1));
  if (flat) {
    Approach8(p1, q1, _mm_srli_epi16(_mm_add_epi16(e, _mm_set1_epi16(3)), 2), take);
    const __m128i f = Abs16(_mm_sub_epi16(q2, p2));
    Approach8(p2, q2, _mm_srli_epi16(_mm_add_epi16(f, _mm_set1_epi16(7)), 3), take);
  } else {
    Approach8(p1, q1, _mm_srli_epi16(_mm_add_epi16(e, _mm_set1_epi16(7)), 3), take);
  }
}

// Eight registers of eight 16-bit lanes, rows to columns.
inline void Transpose8(__m128i r[8]) {
  __m128i a[8], b[8];
  for (int i = 0; i < 4; ++i) {
    a[2 * i] = _mm_unpacklo_epi16(r[2 * i], r[2 * i + 1]);
    a[2 * i + 1] = _mm_unpackhi_epi16(r[2 * i], r[2 * i + 1]);
  }
  for (int i = 0; i < 2; ++i)
    for (int k = 0; k < 2; ++k) {
      b[4 * i + 2 * k] = _mm_unpacklo_epi32(a[4 * i + k], a[4 * i + k + 2]);
      b[4 * i + 2 * k + 1] = _mm_unpackhi_epi32(a[4 * i + k], a[4 * i + k + 2]);
    }
  for (int k = 0; k < 4; ++k) {
    r[2 * k] = _mm_unpacklo_epi64(b[k], b[k + 4]);
    r[2 * k + 1] = _mm_unpackhi_epi64(b[k], b[k + 4]);
  }
}

// SmoothFlatLine on eight lines; v holds p7..p0 q0..q7 (q0 at 8). True when
// a line was smoothed.
inline bool SmoothFlat8(__m128i v[16], int qp) {
  const __m128i ad = Abs16(_mm_sub_epi16(v[8], v[7]));
  const __m128i take = _mm_and_si128(_mm_cmpgt_epi16(ad, _mm_set1_epi16(4)),
                                     _mm_cmpgt_epi16(_mm_set1_epi16(int16_t(qp)), ad));
  if (_mm_movemask_epi8(take) == 0) return false;
  __m128i out[6];
  for (int k = 5; k <= 10; ++k) {  // p2..q2
    __m128i sum = _mm_add_epi16(v[k], _mm_set1_epi16(4));
    for (int j = k - 3; j <= k + 3; ++j) sum = _mm_add_epi16(sum, v[j]);
    out[k - 5] = _mm_srli_epi16(sum, 3);
  }
  for (int k = 5; k <= 10; ++k) v[k] = Select(take, out[k - 5], v[k]);
  return true;
}

// DefaultModeLine on eight lines; v as for SmoothFlat8.
inline void DefaultMode8(__m128i v[16], int qp) {
  const __m128i p0 = v[7], p1 = v[6], p2 = v[5], p3 = v[4], q0 = v[8], q1 = v[9], q2 = v[10], q3 = v[11];
  const __m128i zero = _mm_setzero_si128();
  auto times = [](__m128i x, int k) { return _mm_mullo_epi16(x, _mm_set1_epi16(int16_t(k))); };
  const __m128i a0 = _mm_add_epi16(times(_mm_sub_epi16(p1, q1), 2), times(_mm_sub_epi16(q0, p0), 5));
  const __m128i a1 = _mm_add_epi16(times(_mm_sub_epi16(p1, p2), 5), times(_mm_sub_epi16(p3, p0), 2));
  const __m128i a2 = _mm_add_epi16(times(_mm_sub_epi16(q2, q1), 5), times(_mm_sub_epi16(q0, q3), 2));
  const __m128i m = _mm_min_epi16(Abs16(a1), Abs16(a2)), abs0 = Abs16(a0);
  const __m128i act = _mm_and_si128(
      _mm_cmpgt_epi16(Abs16(_mm_sub_epi16(q0, p0)), _mm_set1_epi16(4)),
      _mm_and_si128(_mm_cmpgt_epi16(_mm_set1_epi16(int16_t(8 * qp)), abs0), _mm_cmpgt_epi16(abs0, m)));
  if (_mm_movemask_epi8(act) == 0) return;
  __m128i d = _mm_srai_epi16(_mm_add_epi16(times(_mm_sub_epi16(abs0, m), 5), _mm_set1_epi16(32)), 6);
  d = Select(_mm_cmpgt_epi16(a0, zero), _mm_sub_epi16(zero, d), d);
  const __m128i limit = _mm_srai_epi16(_mm_sub_epi16(p0, q0), 1);
  const __m128i dPos = _mm_cmpgt_epi16(d, zero), lPos = _mm_cmpgt_epi16(limit, zero);
  const __m128i same = _mm_andnot_si128(_mm_or_si128(_mm_xor_si128(dPos, lPos), _mm_cmpeq_epi16(d, zero)), act);
  d = _mm_and_si128(same, Select(lPos, _mm_min_epi16(d, limit), _mm_max_epi16(d, limit)));
  v[7] = _mm_sub_epi16(p0, d), v[8] = _mm_add_epi16(q0, d);
}

// A combined-pass edge: sixteen pixels across it (eight on each side, all
// inside the two blocks). True when a line was smoothed.
bool CombinedEdgeSse2(uint8_t* q0, int stride, bool horizontal, bool flat, int qp) {
  const __m128i zero = _mm_setzero_si128();
  __m128i v[16];
  auto at = [&](int k) {
    return horizontal ? q0 + (k - 8) * ptrdiff_t(stride) : q0 + (k & 7) * ptrdiff_t(stride) + (k < 8 ? -8 : 0);
  };
  for (int k = 0; k < 16; ++k) v[k] = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at(k))), zero);
  if (!horizontal) Transpose8(v), Transpose8(v + 8);
  bool smoothed = false;
  if (flat) {
    smoothed = SmoothFlat8(v, qp);
  } else {
    DefaultMode8(v, qp);
  }
  if (!horizontal) Transpose8(v), Transpose8(v + 8);
  for (int k = 0; k < 16; ++k) _mm_storel_epi64(reinterpret_cast<__m128i*>(at(k)), _mm_packus_epi16(v[k], v[k]));
  return smoothed;
}

// A whole deblocked edge: rows p3..q3 for a horizontal edge, or the eight
// rows of pixels across a vertical edge turned into columns and back.
void DeblockEdgeSse2(uint8_t* q0, int stride, bool horizontal, bool flat, int qp) {
  const __m128i zero = _mm_setzero_si128();
  __m128i v[8];
  for (int k = 0; k < 8; ++k) {
    const uint8_t* at = horizontal ? q0 + (k - 4) * ptrdiff_t(stride) : q0 + k * ptrdiff_t(stride) - 4;
    v[k] = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at)), zero);
  }
  if (!horizontal) Transpose8(v);
  Deblock8(v, flat, qp);
  if (!horizontal) Transpose8(v);
  for (int k = 0; k < 8; ++k) {
    uint8_t* at = horizontal ? q0 + (k - 4) * ptrdiff_t(stride) : q0 + k * ptrdiff_t(stride) - 4;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at), _mm_packus_epi16(v[k], v[k]));
  }
}
constexpr bool kVectors = true;
#else
constexpr bool kVectors = false;
bool CombinedEdgeSse2(uint8_t*, int, bool, bool, int) { return false; }
#endif

// The edge between block (bx, by) and the block below (horizontal) or to the
// right (vertical), filtered with quantiser qp.
void FilterEdge(const Plane& pl, int bx, int by, bool horizontal, int qp, EdgeMode mode) {
  const int nx = horizontal ? bx : bx + 1, ny = horizontal ? by + 1 : by;
  if (nx >= pl.bw || ny >= pl.bh) return;  // picture borders stay
  const uint8_t flatBit = horizontal ? kBlockFlatVertical : kBlockFlatHorizontal;
  const bool flat = (pl.Flag(bx, by) & flatBit) && (pl.Flag(nx, ny) & flatBit);
  uint8_t* q0 = pl.px + size_t(ny * 8) * pl.stride + nx * 8;
#ifdef __SSE2__
  if (mode == EdgeMode::Deblock && !plainLoops) return DeblockEdgeSse2(q0, pl.stride, horizontal, flat, qp);
#endif
  const int across = horizontal ? pl.stride : 1, along = horizontal ? 1 : pl.stride;
  bool smoothed = false;
  if (kVectors && !plainLoops) {
    smoothed = CombinedEdgeSse2(q0, pl.stride, horizontal, flat, qp);
  } else {
    for (int i = 0; i < 8; ++i) {
      const EdgeLine l{q0 + i * along, across};
      if (mode == EdgeMode::Deblock) {
        DeblockLine(l, flat, qp);
      } else if (flat) {
        smoothed |= SmoothFlatLine(l, qp);
      } else {
        DefaultModeLine(l, qp);
      }
    }
  }
  if (smoothed) {
    if (horizontal) {
      pl.Flag(nx, ny) |= kBlockSmoothedAbove;
    } else {
      pl.Flag(bx, by) |= kBlockSmoothedRight;
    }
  }
}

// Walks the plane group by group (a macroblock's 2x2 luma blocks, or 2x2
// chroma blocks): horizontal edges inside and below the group, then vertical
// edges inside and right of it. Luma edges take the macroblock's quantiser,
// chroma edges that of the block below or to the right.
void EdgePass(const Plane& pl, EdgeMode mode) {
  const bool luma = pl.blocksPerMb == 2;
  for (int gy = 0; gy < pl.bh; gy += 2) {
    for (int gx = 0; gx < pl.bw; gx += 2) {
      const int groupQp = pl.Qp(gx, gy);
      for (int horizontal = 1; horizontal >= 0; --horizontal) {
        for (int dy = 0; dy < 2; ++dy) {
          for (int dx = 0; dx < 2; ++dx) {
            const int bx = gx + dx, by = gy + dy;
            if (bx >= pl.bw || by >= pl.bh) continue;
            const int nx = horizontal ? bx : bx + 1, ny = horizontal ? by + 1 : by;
            if (nx >= pl.bw || ny >= pl.bh) continue;
            FilterEdge(pl, bx, by, horizontal != 0, luma ? groupQp : pl.Qp(nx, ny), mode);
          }
        }
      }
    }
  }
}

struct BlockRange {
  int max, min;
  int range() const { return max - min; }
  int threshold() const { return (max + min + 1) >> 1; }
};

BlockRange RangeOf(const Plane& pl, int bx, int by) {
  BlockRange r{0, 255};
  const uint8_t* s = pl.px + size_t(by * 8) * pl.stride + bx * 8;
#ifdef __SSE2__
  if (!plainLoops) {
    __m128i hi = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s)), lo = hi;
    for (int y = 1; y < 8; ++y) {
      const __m128i row = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + size_t(y) * pl.stride));
      hi = _mm_max_epu8(hi, row), lo = _mm_min_epu8(lo, row);
    }
    for (int shift : {4, 2, 1}) {
      const __m128i count = _mm_cvtsi32_si128(shift * 8);
      hi = _mm_max_epu8(hi, _mm_srl_epi64(hi, count)), lo = _mm_min_epu8(lo, _mm_srl_epi64(lo, count));
    }
    return {_mm_cvtsi128_si32(hi) & 255, _mm_cvtsi128_si32(lo) & 255};
  }
#endif
  for (int y = 0; y < 8; ++y, s += pl.stride)
    for (int x = 0; x < 8; ++x) r.max = std::max<int>(r.max, s[x]), r.min = std::min<int>(r.min, s[x]);
  return r;
}

// Filters the pixels of one block whose 3x3 neighbourhood lies on one side of
// the threshold, from a copy of the block with a one-pixel ring; pixels whose
// neighbourhood leaves the picture stay.
#ifdef __SSE2__
// The same filter eight pixels of a row at a time: lane i of a row register
// is window column i, so output column i + 1 reads lanes i, i + 1 and i + 2.
void DeringBlockSse2(const Plane& pl, int bx, int by, int threshold, int maxDiff) {
  alignas(16) uint8_t win[10][16] = {};
  const int x0 = bx * 8 - 1, y0 = by * 8 - 1;
  for (int y = 0; y < 10; ++y) {
    const uint8_t* row = pl.px + size_t(std::clamp(y0 + y, 0, pl.height - 1)) * pl.stride;
    win[y][0] = row[std::max(x0, 0)];
    std::memcpy(&win[y][1], row + x0 + 1, 8);
    win[y][9] = row[std::min(x0 + 9, pl.width - 1)];
  }
  alignas(16) uint8_t keepColumn[16] = {};
  for (int i = 0; i < 8; ++i) keepColumn[i] = x0 + i + 1 != 0 && x0 + i + 1 != pl.width - 1 ? 0xFF : 0;
  const __m128i columns = _mm_load_si128(reinterpret_cast<const __m128i*>(keepColumn));
  const __m128i t = _mm_set1_epi8(char(threshold)), zero = _mm_setzero_si128();
  const __m128i md = _mm_set1_epi16(int16_t(maxDiff)), eight = _mm_set1_epi16(8);
  __m128i w[10], b[10], rowSum[10], rowAnd[10], rowOr[10];
  for (int y = 0; y < 10; ++y) {
    w[y] = _mm_load_si128(reinterpret_cast<const __m128i*>(win[y]));
    b[y] = _mm_cmpeq_epi8(_mm_max_epu8(w[y], t), w[y]);  // at or above the threshold
    const __m128i c1 = _mm_srli_si128(b[y], 1), c2 = _mm_srli_si128(b[y], 2);
    rowAnd[y] = _mm_and_si128(b[y], _mm_and_si128(c1, c2));
    rowOr[y] = _mm_or_si128(b[y], _mm_or_si128(c1, c2));
    const __m128i l = _mm_unpacklo_epi8(w[y], zero), c = _mm_unpacklo_epi8(_mm_srli_si128(w[y], 1), zero),
                  r = _mm_unpacklo_epi8(_mm_srli_si128(w[y], 2), zero);
    rowSum[y] = _mm_add_epi16(_mm_add_epi16(l, r), _mm_add_epi16(c, c));
  }
  for (int y = 1; y <= 8; ++y) {
    const int py = y0 + y;
    if (py == 0 || py == pl.height - 1) continue;
    const __m128i all = _mm_and_si128(rowAnd[y - 1], _mm_and_si128(rowAnd[y], rowAnd[y + 1]));
    const __m128i any = _mm_or_si128(rowOr[y - 1], _mm_or_si128(rowOr[y], rowOr[y + 1]));
    const __m128i take = _mm_and_si128(_mm_cmpeq_epi8(all, any), columns);
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(rowSum[y - 1], rowSum[y + 1]), _mm_add_epi16(rowSum[y], rowSum[y]));
    const __m128i filtered = _mm_srli_epi16(_mm_add_epi16(sum, eight), 4);
    const __m128i v8 = _mm_srli_si128(w[y], 1), v = _mm_unpacklo_epi8(v8, zero);
    const __m128i limited = _mm_min_epi16(_mm_max_epi16(filtered, _mm_sub_epi16(v, md)), _mm_add_epi16(v, md));
    const __m128i out = _mm_or_si128(_mm_and_si128(take, _mm_packus_epi16(limited, limited)), _mm_andnot_si128(take, v8));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pl.px + size_t(py) * pl.stride + x0 + 1), out);
  }
}
#endif

void DeringBlock(const Plane& pl, int bx, int by, int threshold, int maxDiff) {
#ifdef __SSE2__
  if (!plainLoops) return DeringBlockSse2(pl, bx, by, threshold, maxDiff);
#endif
  uint8_t win[10][10];
  uint8_t bin[10][10];
  const int x0 = bx * 8 - 1, y0 = by * 8 - 1;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      const int px = std::clamp(x0 + x, 0, pl.width - 1), py = std::clamp(y0 + y, 0, pl.height - 1);
      win[y][x] = pl.px[size_t(py) * pl.stride + px];
      bin[y][x] = win[y][x] >= threshold;
    }
  for (int y = 1; y <= 8; ++y) {
    const int py = y0 + y;
    if (py == 0 || py == pl.height - 1) continue;
    for (int x = 1; x <= 8; ++x) {
      const int px = x0 + x;
      if (px == 0 || px == pl.width - 1) continue;
      const uint8_t b = bin[y][x];
      bool same = true;
      for (int j = -1; j <= 1 && same; ++j)
        for (int i = -1; i <= 1; ++i) same &= bin[y + j][x + i] == b;
      if (!same) continue;
      const int sum = win[y - 1][x - 1] + 2 * win[y - 1][x] + win[y - 1][x + 1] +
                      2 * win[y][x - 1] + 4 * win[y][x] + 2 * win[y][x + 1] +
                      win[y + 1][x - 1] + 2 * win[y + 1][x] + win[y + 1][x + 1];
      const int filtered = (sum + 8) >> 4;
      const int v = win[y][x];
      pl.px[size_t(py) * pl.stride + px] = uint8_t(std::clamp(filtered, v - maxDiff, v + maxDiff));
    }
  }
}

int MaxDiff(int qp) { return qp / 4 + 4; }

void DeringLuma(const Plane& pl) {
  for (int my = 0; my < pl.bh; my += 2) {
    for (int mx = 0; mx < pl.bw; mx += 2) {
      BlockRange r[4];
      int best = 0;
      for (int k = 0; k < 4; ++k) {
        r[k] = RangeOf(pl, mx + (k & 1), my + (k >> 1));
        if (r[k].range() >= r[best].range()) best = k;  // the later one on a tie
      }
      const int mbRange = r[best].range(), mbThreshold = r[best].threshold();
      if (mbRange < 16) continue;
      const int maxDiff = MaxDiff(pl.Qp(mx, my));
      for (int k = 0; k < 4; ++k) {
        const int threshold = r[k].range() < 32 && mbRange >= 64 ? mbThreshold : r[k].threshold();
        DeringBlock(pl, mx + (k & 1), my + (k >> 1), threshold, maxDiff);
      }
    }
  }
}

void DeringChroma(const Plane& pl) {
  for (int by = 0; by < pl.bh; ++by)
    for (int bx = 0; bx < pl.bw; ++bx) {
      const BlockRange r = RangeOf(pl, bx, by);
      if (r.range() >= 4) DeringBlock(pl, bx, by, r.threshold(), MaxDiff(pl.Qp(bx, by)));
    }
}

// Deringing of the combined pass: textured blocks only, and not those whose
// edges were mostly smoothed already.
void DeringCombined(const Plane& pl) {
  for (int by = 0; by < pl.bh; ++by)
    for (int bx = 0; bx < pl.bw; ++bx) {
      const uint8_t f = pl.Flag(bx, by);
      if (!(f & kBlockTextured)) continue;
      int edges = 0, smoothed = 0;
      auto count = [&](bool exists, bool set) { edges += exists, smoothed += exists && set; };
      count(by > 0, f & kBlockSmoothedAbove);
      count(by + 1 < pl.bh, by + 1 < pl.bh && (pl.Flag(bx, by + 1) & kBlockSmoothedAbove));
      count(bx > 0, bx > 0 && (pl.Flag(bx - 1, by) & kBlockSmoothedRight));
      count(bx + 1 < pl.bw, f & kBlockSmoothedRight);
      if (smoothed >= std::max(2, edges - 1)) continue;
      const BlockRange r = RangeOf(pl, bx, by);
      if (r.range() >= 16) DeringBlock(pl, bx, by, r.threshold(), MaxDiff(pl.Qp(bx, by)));
    }
}

}  // namespace

void vdec_postfilter_plain(bool plain) { plainLoops = plain; }

int vdec_postfilter(PostFilterInput& in, uint8_t* out, int mode) {
  const int w = in.width, h = in.height;
  if (w <= 0 || h <= 0 || w % 16 || h % 16) return 0;
  // A mode this filter does not know copies, like mode 0.
  if (mode < 0 || mode > 3) mode = 0;
  if (!out || !in.planes[0] || !in.planes[1] || !in.planes[2] || !in.flags) return 0;
  // Every filtering mode reads the quantisers; deblocking reads this picture's flags.
  if (mode != 0 && !in.quant) return 0;
  if ((mode & VDEC_POSTFILTER_DEBLOCK) && !in.flags[0]) return 0;
  const size_t lumaSize = size_t(w) * h, chromaSize = lumaSize / 4;
  std::memcpy(out, in.planes[0], lumaSize);
  std::memcpy(out + lumaSize, in.planes[1], chromaSize);
  std::memcpy(out + lumaSize + chromaSize, in.planes[2], chromaSize);
  const int mbCols = w / 16, mbCount = mbCols * (h / 16);
  Plane planes[3] = {
      {out, w, w, h, w / 8, h / 8, in.flags[0], in.quant, mbCols, 2},
      {out + lumaSize, w / 2, w / 2, h / 2, w / 16, h / 16, in.flags[0] + 4 * mbCount, in.quant, mbCols, 1},
      {out + lumaSize + chromaSize, w / 2, w / 2, h / 2, w / 16, h / 16, in.flags[0] + 5 * mbCount, in.quant,
       mbCols, 1},
  };
  if (mode == (VDEC_POSTFILTER_DEBLOCK | VDEC_POSTFILTER_DERING)) {
    for (const Plane& pl : planes) {
      // Smoothed-edge bits describe this picture only.
      for (int i = 0; i < pl.bw * pl.bh; ++i) pl.flags[i] &= uint8_t(~(kBlockSmoothedAbove | kBlockSmoothedRight));
      EdgePass(pl, EdgeMode::Combined);
      DeringCombined(pl);
    }
  } else if (mode == VDEC_POSTFILTER_DEBLOCK) {
    for (const Plane& pl : planes) EdgePass(pl, EdgeMode::Deblock);
  } else if (mode == VDEC_POSTFILTER_DERING) {
    DeringLuma(planes[0]);
    DeringChroma(planes[1]);
    DeringChroma(planes[2]);
  }
  if (mode != 0) std::swap(in.flags[0], in.flags[1]);
  return 1;
}
