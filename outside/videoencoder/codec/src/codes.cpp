// Variable-length codes: encoding tables built from the decoder's generated
// code lists (the same data files), and the writers of coefficient events,
// intra DC differences and motion codes.
#include <cstdlib>
#include <mutex>

#include "tables.h"
#include "venc_internal.h"

namespace venc {

namespace {

Code fromBits(const char* bits) {
  Code c{0, 0};
  for (const char* p = bits; *p; ++p) {
    c.bits = (c.bits << 1) | uint32_t(*p == '1');
    ++c.len;
  }
  return c;
}

void buildTcoef(CodeTables& t, const vdec::VlcTable& src, int inter) {
  for (int i = 0; i < src.codeCount; ++i) {
    const vdec::VlcCode& k = src.codes[i];
    if (k.values[0] < 0) {
      t.escape[inter] = fromBits(k.bits);
      continue;
    }
    if (k.values[1] < 64 && k.values[2] < 32) t.tcoef[inter][k.values[0]][k.values[1]][k.values[2]] = fromBits(k.bits);
  }
}

CodeTables* build() {
  auto* t = new CodeTables{};
  buildTcoef(*t, vdec::kTcoefIntra, 0);
  buildTcoef(*t, vdec::kTcoefInter, 1);
  for (int i = 0; i < vdec::kMcbpcIntra.codeCount; ++i) {
    const vdec::VlcCode& k = vdec::kMcbpcIntra.codes[i];
    if (k.values[0] >= 3) t->mcbpcIntra[(k.values[0] - 3) * 4 + k.values[1]] = fromBits(k.bits);
  }
  for (int i = 0; i < vdec::kMcbpcInter.codeCount; ++i) {
    const vdec::VlcCode& k = vdec::kMcbpcInter.codes[i];
    if (k.values[0] >= 0 && k.values[0] < 5) t->mcbpcInter[k.values[0] * 4 + k.values[1]] = fromBits(k.bits);
  }
  for (int i = 0; i < vdec::kCbpy.codeCount; ++i) t->cbpy[vdec::kCbpy.codes[i].values[0]] = fromBits(vdec::kCbpy.codes[i].bits);
  for (int i = 0; i < vdec::kDcSizeLum.codeCount; ++i) t->dcSize[0][vdec::kDcSizeLum.codes[i].values[0]] = fromBits(vdec::kDcSizeLum.codes[i].bits);
  for (int i = 0; i < vdec::kDcSizeChrom.codeCount; ++i) t->dcSize[1][vdec::kDcSizeChrom.codes[i].values[0]] = fromBits(vdec::kDcSizeChrom.codes[i].bits);
  for (int i = 0; i < vdec::kMvd.codeCount; ++i) t->mvd[vdec::kMvd.codes[i].values[0] + 32] = fromBits(vdec::kMvd.codes[i].bits);
  return t;
}

inline void put(BitWriter& bw, Code c) { bw.put(c.bits, c.len); }

// One event in the shortest form: its own code, or the escape with the level
// offset, with the run offset, or in fixed length.
void putEvent(BitWriter& bw, const CodeTables& t, int inter, int last, int run, int level) {
  const int mag = std::abs(level);
  const uint32_t sign = level < 0 ? 1 : 0;
  if (mag < 32) {
    const Code c = t.tcoef[inter][last][run][mag];
    if (c.len) {
      put(bw, c);
      bw.put(sign, 1);
      return;
    }
  }
  const int lmax = (inter ? vdec::kLmaxInter : vdec::kLmaxIntra)[last][run];
  if (lmax > 0 && mag > lmax && mag - lmax < 32) {
    const Code c = t.tcoef[inter][last][run][mag - lmax];
    if (c.len) {
      put(bw, t.escape[inter]);
      bw.put(0, 1);
      put(bw, c);
      bw.put(sign, 1);
      return;
    }
  }
  if (mag < 64) {
    const int rmax = (inter ? vdec::kRmaxInter : vdec::kRmaxIntra)[last][mag];
    const int r = run - (rmax + 1);
    if (rmax >= 0 && r >= 0 && mag < 32) {
      const Code c = t.tcoef[inter][last][r][mag];
      if (c.len) {
        put(bw, t.escape[inter]);
        bw.put(2, 2);
        put(bw, c);
        bw.put(sign, 1);
        return;
      }
    }
  }
  put(bw, t.escape[inter]);
  bw.put(3, 2);
  bw.put(uint32_t(last), 1);
  bw.put(uint32_t(run), 6);
  bw.put(1, 1);
  bw.put(uint32_t(level) & 0xFFF, 12);
  bw.put(1, 1);
}

}  // namespace

const CodeTables& codeTables() {
  static const CodeTables* tables = build();  // made once; never written after
  return *tables;
}

void putCoefficients(BitWriter& bw, const int16_t* levels, int start, bool inter) {
  const CodeTables& t = codeTables();
  int lastPos = -1;
  for (int i = 63; i >= start; --i) {
    if (levels[vdec::kScanZigzag[i]]) {
      lastPos = i;
      break;
    }
  }
  int run = 0;
  for (int i = start; i <= lastPos; ++i) {
    const int l = levels[vdec::kScanZigzag[i]];
    if (!l) {
      ++run;
      continue;
    }
    putEvent(bw, t, inter ? 1 : 0, i == lastPos ? 1 : 0, run, l);
    run = 0;
  }
}

void putDcDiff(BitWriter& bw, int diff, bool chroma) {
  const int mag = std::abs(diff);
  int size = 0;
  while ((1 << size) <= mag) ++size;
  put(bw, codeTables().dcSize[chroma ? 1 : 0][size]);
  if (!size) return;
  // Negative values are sent as their one's complement in size bits.
  bw.put(uint32_t(diff > 0 ? diff : diff + (1 << size) - 1), size);
  if (size > 8) bw.put(1, 1);
}

void putMotionCode(BitWriter& bw, int d, int fcode) {
  const CodeTables& t = codeTables();
  if (!d) {
    put(bw, t.mvd[32]);
    return;
  }
  const int r = fcode - 1;
  const int mag = std::abs(d) - 1;
  const int code = (mag >> r) + 1;
  put(bw, t.mvd[32 + (d < 0 ? -code : code)]);
  if (r) bw.put(uint32_t(mag & ((1 << r) - 1)), r);
}

}  // namespace venc
