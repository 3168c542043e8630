// Block decoders: coefficient codes, DC and AC prediction, dequantisation.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "blocks.h"

namespace vdec {

namespace {

inline int clip2048(int v) { return std::clamp(v, -2048, 2047); }

inline void markNonZero(BlockCoefs* b, int pos) { b->map[pos & 7] |= uint8_t(0x80 >> (pos >> 3)); }

// Zeroes a block's coefficients and map. Plain stores: the compiler's own
// memset of this size is a string instruction with a slow start.
inline void clearBlock(BlockCoefs* b) {
#ifdef __SSE2__
  const __m128i z = _mm_setzero_si128();
#pragma GCC unroll 16
  for (int i = 0; i < 64; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(b->c + i), z);
#else
  std::memset(b->c, 0, sizeof b->c);
#endif
  std::memset(b->map, 0, sizeof b->map);
}

// One coefficient event; false on a code error.
struct Event {
  int last, run, level;
};

template <Coding K, bool Intra>
inline bool readEventFull(BitReader& br, Event* e) {
  if constexpr (K == Coding::ShortHeader) {
    bool negative = false;
    const int sym = vlcReadSigned(br, kTcoefInter, &negative);
    if (sym >= 0) {
      e->last = sym >> 12;
      e->run = (sym >> 6) & 63;
      e->level = negative ? -(sym & 63) : (sym & 63);
      return true;
    }
    if (sym != -1) return false;
    e->last = int(br.read1());
    e->run = int(br.read(6));
    e->level = int(int8_t(uint8_t(br.read(8))));
    return e->level != 0 && e->level != -128;
  } else if constexpr (K == Coding::Reversible) {
    const VlcTable& t = Intra ? kRvlcIntra : kRvlcInter;
    bool negative = false;
    const int sym = vlcReadSigned(br, t, &negative);
    if (sym >= 0) {
      e->last = sym >> 12;
      e->run = (sym >> 6) & 63;
      e->level = negative ? -(sym & 63) : (sym & 63);
      return true;
    }
    if (sym != -1) return false;
    br.skip(1);
    e->last = int(br.read1());
    e->run = int(br.read(6));
    br.skip(1);
    const int level = int(br.read(11));
    br.skip(1);
    e->level = (br.read(5) & 1) ? -level : level;  // the last of five bits is the sign
    return level != 0;
  } else {
    const VlcTable& t = Intra ? kTcoefIntra : kTcoefInter;
    bool negative = false;
    int sym = vlcReadSigned(br, t, &negative);
    if (sym >= 0) {
      e->last = sym >> 12;
      e->run = (sym >> 6) & 63;
      e->level = negative ? -(sym & 63) : (sym & 63);
      return true;
    }
    if (sym != -1) return false;
    if (!br.read1()) {  // escape mode 1: level offset
      sym = vlcRead(br, t);
      if (sym < 0) return false;
      e->last = sym >> 12;
      e->run = (sym >> 6) & 63;
      const int lmax = (Intra ? kLmaxIntra : kLmaxInter)[e->last][e->run];
      if (lmax < 0) return false;
      const int level = (sym & 63) + lmax;
      e->level = br.read1() ? -level : level;
      return true;
    }
    if (!br.read1()) {  // escape mode 2: run offset
      sym = vlcRead(br, t);
      if (sym < 0) return false;
      e->last = sym >> 12;
      const int level = sym & 63;
      const int rmax = (Intra ? kRmaxIntra : kRmaxInter)[e->last][level];
      if (rmax < 0) return false;
      e->run = ((sym >> 6) & 63) + rmax + 1;
      e->level = br.read1() ? -level : level;
      return true;
    }
    // escape mode 3: fixed-length
    e->last = int(br.read1());
    e->run = int(br.read(6));
    br.skip(1);
    const uint32_t v = br.read(12);
    br.skip(1);
    e->level = int(v << 20) >> 20;
    return e->level != 0;
  }
}

template <Coding K, bool Intra>
inline const VlcTable& coefTable() {
  if constexpr (K == Coding::ShortHeader) return kTcoefInter;
  if constexpr (K == Coding::Reversible) return Intra ? kRvlcIntra : kRvlcInter;
  return Intra ? kTcoefIntra : kTcoefInter;
}

// Reads coefficient events from scan position start; store(pos, level) puts
// each. Returns the last scan position + 1, or -1 on a code error.
//
// The common short codes (with their sign) take one look into the table's
// fast part, on bits kept in a register, so that a code's length is all that
// stands between one look and the next; escapes and long codes go through
// the full reader above, which stays the reference.
template <Coding K, bool Intra, typename Store>
inline int readCoefs(BitReader& reader, int start, const uint8_t* scan, Store store) {
  // A local reader stays in registers: the stores into the block could
  // otherwise alias its position.
  BitReader br = reader;
  const CoefEntry* fast = coefTable<K, Intra>().fast;
  uint64_t cache = 0;  // bits from br.pos on, first bit at the top
  int left = 0;        // how many of them are loaded
  auto refill = [&] {
    const uint32_t byte = br.pos >> 3;
    uint64_t v;
    if (byte + 8 <= br.size) {
      std::memcpy(&v, br.buf + byte, 8);
      v = __builtin_bswap64(v);
    } else {
      v = 0;
      for (uint32_t i = 0; i < 8; ++i) v = (v << 8) | (byte + i < br.size ? br.buf[byte + i] : 0u);
    }
    cache = v << (br.pos & 7);
    left = 64 - int(br.pos & 7);
  };
  refill();
  int i = start;
  int result;
  for (;;) {
    if (left < kCoefFastBits) refill();
    const CoefEntry f = fast[cache >> (64 - kCoefFastBits)];
    Event e;
    if (f.lenLast) {
      const int n = f.lenLast & 31;
      cache <<= n;
      left -= n;
      br.pos += uint32_t(n);
      e.last = f.lenLast >> 7;
      e.run = f.run;
      e.level = f.level;
    } else {
      const bool ok = readEventFull<K, Intra>(br, &e);
      refill();
      if (!ok) {
        result = -1;
        break;
      }
    }
    i += e.run;
    if (i > 63) {
      result = -1;
      break;
    }
    store(scan[i], e.level);
    if (e.last) {
      result = i + 1;
      break;
    }
    ++i;
    if (br.overrun()) {
      result = -1;
      break;
    }
  }
  reader.pos = br.pos;
  return result;
}

// H.263 dequantisation: |F| = (2|L| + 1) QP, minus 1 for even QP.
inline int dequantH263(int level, int qp) {
  const int add = (qp - 1) | 1;
  const int v = level > 0 ? 2 * qp * level + add : 2 * qp * level - add;
  return clip2048(v);
}

// Codes read and dequantised by the H.263 method straight into the block.
template <Coding K, bool Intra>
int readDequantH263(BitReader& br, int start, int qp, BlockCoefs* out) {
  int32_t* c = out->c;
  return readCoefs<K, Intra>(br, start, kScanZigzag, [&](int pos, int level) {
    c[pos] = dequantH263(level, qp);
    markNonZero(out, pos);
  });
}

int readDcDiff(BitReader& br, bool luma, int* diff) {
  const int size = vlcRead(br, luma ? kDcSizeLum : kDcSizeChrom);
  if (size < 0) return 1;
  if (size == 0) {
    *diff = 0;
    return 0;
  }
  int v = int(br.read(size));
  if (!(v >> (size - 1))) v = v - (1 << size) + 1;
  if (size > 8) br.skip(1);  // marker
  *diff = v;
  return 0;
}

inline int roundedDiv(int a, int b) { return (a > 0 ? a + (b >> 1) : a - (b >> 1)) / b; }

// The stored prediction values of the blocks around block b of macroblock mb;
// null where the neighbour is outside the picture, not intra, or in another
// video packet.
struct Neighbours {
  PredStore* self;
  const PredStore* left;
  const PredStore* upLeft;
  const PredStore* up;
};

bool usable(const VideoDecoderState* st, int nmb, int mb) {
  return nmb == mb || (mbIsIntra(st->mbKind[nmb]) && st->mbPacket[nmb] == st->mbPacket[mb]);
}

Neighbours neighbours(VideoDecoderState* st, int mb, int b) {
  const VolInfo* vol = st->vol0;
  const int cols = vol->mbCols;
  // The six blocks of a macroblock share one division.
  if (st->nbMb != mb) {
    st->nbMb = mb;
    st->nbX = mb % cols;
    st->nbY = mb / cols;
  }
  const int mbx = st->nbX, mby = st->nbY;
  Neighbours n{};
  if (b < 4) {
    const int bx = 2 * mbx + (b & 1), by = 2 * mby + (b >> 1);
    const int stride = 2 * cols;
    const int idx = by * stride + bx;
    n.self = &st->pred[idx];
    auto at = [&](int x, int y) -> const PredStore* {
      if (x < 0 || y < 0) return nullptr;
      const int nmb = (y >> 1) * cols + (x >> 1);
      return usable(st, nmb, mb) ? &st->pred[y * stride + x] : nullptr;
    };
    n.left = at(bx - 1, by);
    n.upLeft = at(bx - 1, by - 1);
    n.up = at(bx, by - 1);
  } else {
    const size_t base = size_t(st->mbCount) * (b == 4 ? 4 : 5);
    PredStore* plane = st->pred + base;
    n.self = &plane[mb];
    n.left = mbx > 0 && usable(st, mb - 1, mb) ? &plane[mb - 1] : nullptr;
    n.up = mby > 0 && usable(st, mb - cols, mb) ? &plane[mb - cols] : nullptr;
    n.upLeft =
        mbx > 0 && mby > 0 && usable(st, mb - cols - 1, mb) ? &plane[mb - cols - 1] : nullptr;
  }
  return n;
}

template <bool Matrix, Coding K>
int intraBlockMpeg4(VideoDecoderState* st, int mb, int b, bool coded, BlockCoefs* out) {
  const VolInfo* vol = st->vol0;
  BitReader& br = st->vol0->br;
  int32_t* c = out->c;
  clearBlock(out);
  const int qp = st->qp;
  const bool luma = b < 4;
  const int scaler = luma ? kDcScalerLum[qp] : kDcScalerChrom[qp];

  const Neighbours n = neighbours(st, mb, b);
  const int dcDefault = vol->dcDefault;
  const int fa = n.left ? n.left->dc : dcDefault;
  const int fb = n.upLeft ? n.upLeft->dc : dcDefault;
  const int fc = n.up ? n.up->dc : dcDefault;
  const bool fromAbove = std::abs(fa - fb) < std::abs(fb - fc);
  const int pred = fromAbove ? fc : fa;
  const PredStore* p = fromAbove ? n.up : n.left;
  const bool acPred = (st->mbAcPred[mb] & 1) != 0;
  const uint8_t* scan = !acPred ? kScanZigzag : fromAbove ? kScanAltHorizontal : kScanAltVertical;

  int start = 0;
  int dcDiff = 0;
  if (st->useDcVlc) {
    if (st->dcPreRead) {
      dcDiff = st->mbDc[6 * mb + b];
    } else if (readDcDiff(br, luma, &dcDiff)) {
      return 1;
    }
    start = 1;
  }
  // Levels inside the block are dequantised as they are read; the first row
  // and column stay levels until they are predicted and stored for the
  // neighbours, and are dequantised after that.
  [[maybe_unused]] const uint8_t* w = vol->intraMatrix;
  int sum = 0;  // mismatch control (matrices)
  auto dequant = [&](int pos) {
    if constexpr (Matrix) {
      c[pos] = clip2048(c[pos] * w[pos] * qp / 8);
      sum += c[pos];
    } else {
      c[pos] = dequantH263(c[pos], qp);
    }
    markNonZero(out, pos);
  };
  constexpr uint64_t kEdges = 0x01010101010101FFull;  // raster positions of row 0 and column 0
  int count = start;
  if (coded) {
    // Without a branch on the position, which the scan makes unpredictable:
    // keep is all ones on the first row and column.
    count = readCoefs<K, true>(br, start, scan, [&](int pos, int level) {
      const int32_t keep = -int32_t((kEdges >> pos) & 1);
      int32_t dq;
      if constexpr (Matrix) {
        dq = clip2048(level * w[pos] * qp / 8);
        sum += dq & ~keep;
      } else {
        dq = dequantH263(level, qp);
      }
      c[pos] = (level & keep) | (dq & ~keep);
      out->map[pos & 7] |= uint8_t((0x80 >> (pos >> 3)) & ~keep);
    });
    if (count < 0) return 1;
  }
  if (!st->useDcVlc) dcDiff = c[0];
  const int qf0 = dcDiff + (pred + scaler / 2) / scaler;

  // The first row (from above) or column (from the left) is predicted.
  const int predStep = fromAbove ? 1 : 8;
  if (acPred && p) {
    const int16_t* src = fromAbove ? p->row : p->col;
    for (int i = 1; i < 8; ++i) {
      const int v = p->qp == qp ? src[i - 1] : roundedDiv(src[i - 1] * p->qp, qp);
      c[i * predStep] = clip2048(c[i * predStep] + v);
    }
  }
  PredStore* self = n.self;
  for (int i = 1; i < 8; ++i) {
    self->row[i - 1] = int16_t(c[i]);
    self->col[i - 1] = int16_t(c[8 * i]);
  }
  self->qp = int16_t(qp);
  const int f0 = clip2048(qf0 * scaler);
  self->dc = int16_t(f0);
  c[0] = f0;
  sum += f0;
  markNonZero(out, 0);
  for (int i = 1; i < 8; ++i) {
    if (c[i]) dequant(i);
    if (c[8 * i]) dequant(8 * i);
  }
  if constexpr (Matrix) {
    if (!(sum & 1)) {
      c[63] ^= 1;
      markNonZero(out, 63);
    }
    out->count = 64;
  } else {
    out->count = acPred ? 64 : std::max(count, 1);
  }
  return 0;
}

int intraBlockShortHeader(VideoDecoderState* st, int, int, bool coded, BlockCoefs* out) {
  BitReader& br = st->vol0->br;
  int32_t* c = out->c;
  clearBlock(out);
  int dc = int(br.read(8));
  if (dc == 0 || dc == 128) return 1;
  if (dc == 255) dc = 128;
  c[0] = dc * 8;
  markNonZero(out, 0);
  int count = 1;
  if (coded) {
    count = readDequantH263<Coding::ShortHeader, true>(br, 1, st->qp, out);
    if (count < 0) return 1;
  }
  out->count = count;
  return 0;
}

}  // namespace

int readIntraDc(BitReader& br, int block, int* diff) { return readDcDiff(br, block < 4, diff); }

IntraBlockFn chooseIntraBlock(Coding k, bool matrix) {
  switch (k) {
    case Coding::ShortHeader: return intraBlockShortHeader;
    case Coding::Reversible:
      return matrix ? intraBlockMpeg4<true, Coding::Reversible>
                    : intraBlockMpeg4<false, Coding::Reversible>;
    default:
      return matrix ? intraBlockMpeg4<true, Coding::Standard>
                    : intraBlockMpeg4<false, Coding::Standard>;
  }
}

uint8_t intraBlockFlag(const int32_t* c) {
  int flag = 3;
  if (c[1]) flag = 2;
  for (int i = 2; i < 8; ++i)
    if (c[i]) flag = 6;
  if (c[8]) flag &= ~2;
  for (int r = 2; r < 8; ++r) {
    if (c[8 * r]) {
      flag = (flag & ~2) | 4;
      break;
    }
  }
  if (flag <= 3) {
    for (int r = 1; r < 8; ++r)
      for (int col = 1; col < 8; ++col)
        if (c[8 * r + col]) return 4;
  }
  return uint8_t(flag);
}

}  // namespace vdec

namespace vdec {

namespace {

template <bool Matrix, Coding K>
int interBlock(VideoDecoderState* st, int qp, BlockCoefs* out) {
  BitReader& br = st->vol0->br;
  int32_t* c = out->c;
  clearBlock(out);
  int count;
  if constexpr (Matrix) {
    const uint8_t* w = st->vol0->nonIntraMatrix;
    int sum = 0;
    count = readCoefs<K, false>(br, 0, kScanZigzag, [&](int pos, int level) {
      const int mag = (2 * std::abs(level) + 1) * w[pos] * qp / 16;
      const int v = clip2048(level < 0 ? -mag : mag);
      c[pos] = v;
      sum += v;
      markNonZero(out, pos);
    });
    if (count < 0) return 1;
    if (!(sum & 1)) {
      c[63] ^= 1;
      markNonZero(out, 63);
      count = 64;
    }
  } else {
    count = readDequantH263<K, false>(br, 0, qp, out);
    if (count < 0) return 1;
  }
  out->count = count;
  return 0;
}

}  // namespace

InterBlockFn chooseInterBlock(Coding k, bool matrix) {
  switch (k) {
    case Coding::ShortHeader: return interBlock<false, Coding::ShortHeader>;
    case Coding::Reversible:
      return matrix ? interBlock<true, Coding::Reversible> : interBlock<false, Coding::Reversible>;
    default:
      return matrix ? interBlock<true, Coding::Standard> : interBlock<false, Coding::Standard>;
  }
}

}  // namespace vdec
