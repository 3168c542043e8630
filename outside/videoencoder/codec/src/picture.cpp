// One picture: the VOP header, then every macroblock coded intra, predicted
// or not coded, reconstructed exactly as the decoder will reconstruct it.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tables.h"
#include "vdec_internal.h"
#include "venc_internal.h"

namespace venc {

namespace {

constexpr uint32_t kVopStart = 0x000001B6;
constexpr int kTimeBits = 10;  // vop_time_increment_resolution 1000

inline int clip2048(int v) { return std::clamp(v, -2048, 2047); }
inline uint8_t clip255(int v) { return uint8_t(std::clamp(v, 0, 255)); }

// H.263 dequantisation, as the decoder does it.
inline int dequant(int level, int qp) {
  const int add = (qp - 1) | 1;
  return clip2048(level > 0 ? 2 * qp * level + add : 2 * qp * level - add);
}

inline int median(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

// Block b of a macroblock: its pixels in a frame and their stride.
uint8_t* blockAt(const Frame& f, int mbx, int mby, int b, int* stride) {
  if (b < 4) {
    *stride = f.y.stride;
    return f.y.p + size_t(16 * mby + 8 * (b >> 1)) * f.y.stride + 16 * mbx + 8 * (b & 1);
  }
  const Plane& p = b == 4 ? f.u : f.v;
  *stride = p.stride;
  return p.p + size_t(8 * mby) * p.stride + 8 * mbx;
}

struct Macroblock {
  int16_t levels[6][64];  // raster order
  int cbp = 0;            // bits 5..0: blocks 0..5 carry levels
};

// Median of the left, above and above-right vectors; candidates outside the
// picture are not valid (one counts as zero, two take the third's value).
void predictVector(const VideoEncoderState* st, int mbx, int mby, int* px, int* py) {
  const int cols = st->mbCols, mb = mby * cols + mbx;
  const bool valid[3] = {mbx > 0, mby > 0, mby > 0 && mbx + 1 < cols};
  const int idx[3] = {mb - 1, mb - cols, mb - cols + 1};
  int vx[3] = {}, vy[3] = {}, n = 0, k = 0;
  for (int i = 0; i < 3; ++i) {
    if (!valid[i]) continue;
    vx[i] = st->mvx[idx[i]];
    vy[i] = st->mvy[idx[i]];
    ++n;
    k = i;
  }
  if (n <= 1) {
    *px = n ? vx[k] : 0;
    *py = n ? vy[k] : 0;
    return;
  }
  *px = median(vx[0], vx[1], vx[2]);
  *py = median(vy[0], vy[1], vy[2]);
}

// The DC a block predicts from, in the decoder's rule: the left or the upper
// neighbour's dequantised DC, whichever gradient is smaller; 1024 for a
// neighbour outside the picture or not intra.
int dcPrediction(const VideoEncoderState* st, int mbx, int mby, int b) {
  const int cols = st->mbCols;
  auto intraAt = [&](int x, int y) { return x >= 0 && y >= 0 && st->intra[y * cols + x]; };
  int fa = 1024, fb = 1024, fc = 1024;
  if (b < 4) {
    const int bx = 2 * mbx + (b & 1), by = 2 * mby + (b >> 1), stride = 2 * cols;
    auto at = [&](int x, int y, int* out) {
      if (x >= 0 && y >= 0 && intraAt(x >> 1, y >> 1)) *out = st->dcLuma[y * stride + x];
    };
    at(bx - 1, by, &fa);
    at(bx - 1, by - 1, &fb);
    at(bx, by - 1, &fc);
  } else {
    const int16_t* plane = b == 4 ? st->dcCb : st->dcCr;
    const int mb = mby * cols + mbx;
    if (intraAt(mbx - 1, mby)) fa = plane[mb - 1];
    if (intraAt(mbx - 1, mby - 1)) fb = plane[mb - cols - 1];
    if (intraAt(mbx, mby - 1)) fc = plane[mb - cols];
  }
  return std::abs(fa - fb) < std::abs(fb - fc) ? fc : fa;
}

int16_t* dcSlot(VideoEncoderState* st, int mbx, int mby, int b) {
  if (b < 4) return &st->dcLuma[(2 * mby + (b >> 1)) * 2 * st->mbCols + 2 * mbx + (b & 1)];
  return &(b == 4 ? st->dcCb : st->dcCr)[mby * st->mbCols + mbx];
}

void codeIntra(VideoEncoderState* st, BitWriter& bw, int mbx, int mby, bool inPredicted) {
  const int qp = st->qp;
  const int mb = mby * st->mbCols + mbx;
  st->intra[mb] = 1;
  st->mvx[mb] = st->mvy[mb] = 0;
  Macroblock m;
  int dcDiff[6];
  for (int b = 0; b < 6; ++b) {
    int stride;
    const uint8_t* src = blockAt(st->cur, mbx, mby, b, &stride);
    int16_t pix[64];
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) pix[8 * r + c] = src[r * stride + c];
    int32_t coef[64];
    forwardDct(pix, coef);
    const int scaler = b < 4 ? vdec::kDcScalerLum[qp] : vdec::kDcScalerChrom[qp];
    const int qf0 = std::clamp((coef[0] + scaler / 2) / scaler, 0, 255);
    const int pred = dcPrediction(st, mbx, mby, b);
    dcDiff[b] = qf0 - (pred + scaler / 2) / scaler;
    int16_t* lv = m.levels[b];
    lv[0] = 0;
    bool any = false;
    for (int i = 1; i < 64; ++i) {
      const int l = std::clamp(coef[i] / (2 * qp), -2047, 2047);
      lv[i] = int16_t(l);
      any |= l != 0;
    }
    if (any) m.cbp |= 32 >> b;
    // Reconstruction.
    int32_t c[64];
    c[0] = clip2048(qf0 * scaler);
    *dcSlot(st, mbx, mby, b) = int16_t(c[0]);
    for (int i = 1; i < 64; ++i) c[i] = lv[i] ? dequant(lv[i], qp) : 0;
    vdec::idctFull(c);
    uint8_t* dst = blockAt(st->recon, mbx, mby, b, &stride);
    for (int r = 0; r < 8; ++r)
      for (int k = 0; k < 8; ++k) dst[r * stride + k] = clip255(c[8 * r + k]);
  }
  const CodeTables& t = codeTables();
  const int cbpc = m.cbp & 3, cbpy = m.cbp >> 2;
  if (inPredicted) {
    bw.put(0, 1);  // coded
    bw.put(t.mcbpcInter[3 * 4 + cbpc].bits, t.mcbpcInter[3 * 4 + cbpc].len);
  } else {
    bw.put(t.mcbpcIntra[cbpc].bits, t.mcbpcIntra[cbpc].len);
  }
  bw.put(0, 1);  // ac_pred_flag
  bw.put(t.cbpy[cbpy].bits, t.cbpy[cbpy].len);
  for (int b = 0; b < 6; ++b) {
    putDcDiff(bw, dcDiff[b], b >= 4);
    if (m.cbp & (32 >> b)) putCoefficients(bw, m.levels[b], 1, false);
  }
}

int deviation16(const uint8_t* p, int stride) {
  int sum = 0;
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 16; ++c) sum += p[r * stride + c];
  const int mean = (sum + 128) >> 8;
  int dev = 0;
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 16; ++c) dev += std::abs(p[r * stride + c] - mean);
  return dev;
}

// Returns true when the macroblock was left not coded.
bool codePredicted(VideoEncoderState* st, BitWriter& bw, int mbx, int mby, int vx, int vy) {
  const int qp = st->qp;
  const int mb = mby * st->mbCols + mbx;
  int px, py;
  predictVector(st, mbx, mby, &px, &py);
  // The prediction goes straight into the reconstruction; residuals are
  // added on top of it.
  int stride;
  uint8_t* dst = blockAt(st->recon, mbx, mby, 0, &stride);
  predictBlock(dst, stride, st->ref.y, 32 * mbx + vx, 32 * mby + vy, 16);
  const int cx = (vx >> 1) | (vx & 1), cy = (vy >> 1) | (vy & 1);
  dst = blockAt(st->recon, mbx, mby, 4, &stride);
  predictBlock(dst, stride, st->ref.u, 16 * mbx + cx, 16 * mby + cy, 8);
  dst = blockAt(st->recon, mbx, mby, 5, &stride);
  predictBlock(dst, stride, st->ref.v, 16 * mbx + cx, 16 * mby + cy, 8);
  Macroblock m;
  const int deadZone = qp / 2;
  for (int b = 0; b < 6; ++b) {
    int ss, ps;
    const uint8_t* src = blockAt(st->cur, mbx, mby, b, &ss);
    const uint8_t* pred = blockAt(st->recon, mbx, mby, b, &ps);
    int16_t diff[64];
    int energy = 0;
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) {
        diff[8 * r + c] = int16_t(src[r * ss + c] - pred[r * ps + c]);
        energy += std::abs(diff[8 * r + c]);
      }
    int16_t* lv = m.levels[b];
    // Every coefficient is at most a quarter of the differences' sum: below
    // the first level's threshold (2 qp past the dead zone) the block has no
    // level, and the transform is not needed.
    if (energy / 4 + 1 < 2 * qp + deadZone) {
      std::memset(lv, 0, sizeof m.levels[b]);
      continue;
    }
    int32_t coef[64];
    forwardDct(diff, coef);
    bool any = false;
    for (int i = 0; i < 64; ++i) {
      const int a = std::abs(coef[i]);
      const int l = a > deadZone ? std::min((a - deadZone) / (2 * qp), 2047) : 0;
      lv[i] = int16_t(coef[i] < 0 ? -l : l);
      any |= l != 0;
    }
    if (any) m.cbp |= 32 >> b;
  }
  st->intra[mb] = 0;
  if (!m.cbp && !vx && !vy) {
    st->mvx[mb] = st->mvy[mb] = 0;
    bw.put(1, 1);  // not_coded
    return true;
  }
  st->mvx[mb] = int16_t(vx);
  st->mvy[mb] = int16_t(vy);
  const CodeTables& t = codeTables();
  const int cbpc = m.cbp & 3, cbpy = 15 - (m.cbp >> 2);
  bw.put(0, 1);
  bw.put(t.mcbpcInter[cbpc].bits, t.mcbpcInter[cbpc].len);
  bw.put(t.cbpy[cbpy].bits, t.cbpy[cbpy].len);
  // Differences wrapped into the f_code range; the decoder wraps the sum back.
  const int range = 64 << (st->fcode - 1), lo = -(range >> 1), hi = (range >> 1) - 1;
  auto wrap = [&](int d) { return d < lo ? d + range : d > hi ? d - range : d; };
  putMotionCode(bw, wrap(vx - px), st->fcode);
  putMotionCode(bw, wrap(vy - py), st->fcode);
  for (int b = 0; b < 6; ++b) {
    if (!(m.cbp & (32 >> b))) continue;
    putCoefficients(bw, m.levels[b], 0, true);
    int32_t c[64];
    for (int i = 0; i < 64; ++i) c[i] = m.levels[b][i] ? dequant(m.levels[b][i], qp) : 0;
    vdec::idctFull(c);
    dst = blockAt(st->recon, mbx, mby, b, &stride);
    for (int r = 0; r < 8; ++r)
      for (int k = 0; k < 8; ++k) dst[r * stride + k] = clip255(dst[r * stride + k] + c[8 * r + k]);
  }
  return false;
}

}  // namespace

void encodePicture(VideoEncoderState* st, BitWriter& bw, bool intraPicture, uint32_t timeMs,
                   VencFrameInfo* info) {
  bw.put(kVopStart, 32);
  bw.put(intraPicture ? 0 : 1, 2);
  const uint32_t second = timeMs / 1000;
  for (uint32_t s = st->baseSecond; s < second; ++s) bw.put(1, 1);  // modulo_time_base
  st->baseSecond = second;
  bw.put(0, 1);
  bw.put(1, 1);  // marker
  bw.put(timeMs % 1000, kTimeBits);
  bw.put(1, 1);  // marker
  bw.put(1, 1);  // vop_coded
  if (!intraPicture) bw.put(0, 1);  // vop_rounding_type
  bw.put(0, 3);  // intra_dc_vlc_thr: the DC always through its own codes
  bw.put(uint32_t(st->qp), 5);
  if (!intraPicture) bw.put(uint32_t(st->fcode), 3);

  std::memset(st->intra, 0, size_t(st->mbCount));
  int intraCount = 0, skipped = 0;
  for (int mby = 0; mby < st->mbRows; ++mby) {
    for (int mbx = 0; mbx < st->mbCols; ++mbx) {
      if (intraPicture) {
        codeIntra(st, bw, mbx, mby, false);
        ++intraCount;
        continue;
      }
      int px, py, vx, vy, sad;
      predictVector(st, mbx, mby, &px, &py);
      searchMotion(st, mbx, mby, px, py, &vx, &vy, &sad);
      const uint8_t* src = st->cur.y.p + size_t(16 * mby) * st->cur.y.stride + 16 * mbx;
      if (sad > 512 && sad > deviation16(src, st->cur.y.stride) + 512) {
        codeIntra(st, bw, mbx, mby, true);
        ++intraCount;
      } else if (codePredicted(st, bw, mbx, mby, vx, vy)) {
        ++skipped;
      }
    }
  }
  bw.stuff();
  info->intra = intraPicture ? 1 : 0;
  info->quantiser = st->qp;
  info->intraMacroblocks = intraCount;
  info->skippedMacroblocks = skipped;
}

}  // namespace venc
