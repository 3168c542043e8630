// Motion search: whole-pel (a diamond walk, or every position of the range)
// then the eight half-pel neighbours, on the luma SAD plus a small cost for
// the vector's distance from its prediction.
#include <algorithm>
#include <climits>
#include <cstdlib>

#include "motion.h"
#include "venc_internal.h"

namespace venc {

namespace {

inline int sad16(const uint8_t* a, int sa, const uint8_t* b, int sb, int limit) {
  int s = 0;
  for (int r = 0; r < 16; ++r, a += sa, b += sb) {
    for (int c = 0; c < 16; ++c) s += std::abs(a[c] - b[c]);
    if (s >= limit) return s;  // no better than the best so far
  }
  return s;
}

struct Searcher {
  const VideoEncoderState* st;
  const uint8_t* cur;
  int stride;
  int x0, y0;           // macroblock position in pixels
  int minX, maxX, minY, maxY;  // whole-pel vector range
  int predX, predY;     // half-pel
  int bestX = 0, bestY = 0, bestCost = INT_MAX, bestSad = INT_MAX;

  int vectorCost(int hx, int hy) const { return 2 * (std::abs(hx - predX) + std::abs(hy - predY)); }

  void tryWhole(int fx, int fy) {
    if (fx < minX || fx > maxX || fy < minY || fy > maxY) return;
    const int vc = vectorCost(2 * fx, 2 * fy);
    if (vc >= bestCost) return;
    const uint8_t* r = st->ref.y.p + size_t(y0 + fy) * stride + x0 + fx;
    const int s = sad16(cur, stride, r, stride, bestCost - vc);
    if (s + vc < bestCost) {
      bestCost = s + vc;
      bestSad = s;
      bestX = 2 * fx;
      bestY = 2 * fy;
    }
  }
};

}  // namespace

void predictBlock(uint8_t* dst, int dstStride, const Plane& ref, int x2, int y2, int size) {
  const int ix = x2 >> 1, iy = y2 >> 1;
  const int hx = x2 & 1, hy = y2 & 1;
  if (ix >= 0 && iy >= 0 && ix + size + hx <= ref.w && iy + size + hy <= ref.h) {
    vdec::interpolate(dst, dstStride, ref.p + size_t(iy) * ref.stride + ix, ref.stride, size,
                      hx | (hy << 1), 0);
    return;
  }
  uint8_t patch[17 * 17];
  for (int r = 0; r <= size; ++r) {
    const uint8_t* row = ref.p + size_t(std::clamp(iy + r, 0, ref.h - 1)) * ref.stride;
    for (int c = 0; c <= size; ++c) patch[r * (size + 1) + c] = row[std::clamp(ix + c, 0, ref.w - 1)];
  }
  vdec::interpolate(dst, dstStride, patch, size + 1, size, hx | (hy << 1), 0);
}

void searchMotion(const VideoEncoderState* st, int mbx, int mby, int predX, int predY, int* vx,
                  int* vy, int* sad) {
  Searcher s;
  s.st = st;
  s.stride = st->cur.y.stride;
  s.x0 = 16 * mbx;
  s.y0 = 16 * mby;
  s.cur = st->cur.y.p + size_t(s.y0) * s.stride + s.x0;
  // Whole-pel vectors keep the block inside the reference and, with a
  // half-pel step either way, inside the f_code range.
  const int range = std::min(st->s.searchRange, (16 << (st->fcode - 1)) - 1);
  s.minX = std::max(-range, -s.x0);
  s.maxX = std::min(range, st->codedW - 16 - s.x0);
  s.minY = std::max(-range, -s.y0);
  s.maxY = std::min(range, st->codedH - 16 - s.y0);
  s.predX = predX;
  s.predY = predY;

  s.tryWhole(0, 0);
  s.tryWhole(predX >> 1, predY >> 1);
  if (st->s.fullSearch) {
    for (int fy = s.minY; fy <= s.maxY; ++fy)
      for (int fx = s.minX; fx <= s.maxX; ++fx) s.tryWhole(fx, fy);
  } else {
    // Large diamond until its centre holds, then one small diamond.
    static const int kLarge[8][2] = {{0, -2}, {1, -1}, {2, 0}, {1, 1}, {0, 2}, {-1, 1}, {-2, 0}, {-1, -1}};
    for (int step = 0; step < 32; ++step) {
      const int cx = s.bestX >> 1, cy = s.bestY >> 1;
      for (const auto& d : kLarge) s.tryWhole(cx + d[0], cy + d[1]);
      if ((s.bestX >> 1) == cx && (s.bestY >> 1) == cy) break;
    }
    const int cx = s.bestX >> 1, cy = s.bestY >> 1;
    s.tryWhole(cx + 1, cy);
    s.tryWhole(cx - 1, cy);
    s.tryWhole(cx, cy + 1);
    s.tryWhole(cx, cy - 1);
  }

  // Half-pel neighbours of the best whole-pel vector.
  const int lo = -(32 << (st->fcode - 1)), hi = (32 << (st->fcode - 1)) - 1;
  const int cx = s.bestX, cy = s.bestY;
  uint8_t pred[256];
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      if (!dx && !dy) continue;
      const int hx = cx + dx, hy = cy + dy;
      if (hx < lo || hx > hi || hy < lo || hy > hi) continue;
      const int x2 = 2 * s.x0 + hx, y2 = 2 * s.y0 + hy;
      if (x2 < 0 || y2 < 0 || (x2 >> 1) + 16 + (x2 & 1) > st->codedW ||
          (y2 >> 1) + 16 + (y2 & 1) > st->codedH)
        continue;
      const int vc = s.vectorCost(hx, hy);
      if (vc >= s.bestCost) continue;
      vdec::interpolate(pred, 16, st->ref.y.p + size_t(y2 >> 1) * s.stride + (x2 >> 1), s.stride,
                        16, (x2 & 1) | ((y2 & 1) << 1), 0);
      const int sd = sad16(s.cur, s.stride, pred, 16, s.bestCost - vc);
      if (sd + vc < s.bestCost) {
        s.bestCost = sd + vc;
        s.bestSad = sd;
        s.bestX = hx;
        s.bestY = hy;
      }
    }
  }
  *vx = s.bestX;
  *vy = s.bestY;
  *sad = s.bestSad;
}

}  // namespace venc
