// Standard tables of the decoder, generated at build time from the codec
// table data files (tables/gen_tables.py).
#pragma once

#include <cstdint>

#include "bitreader.h"

namespace vdec {

// One lookup entry: a leaf (sub 0) holds the symbol and its code length (0 =
// no such code); a root entry with sub > 0 points at a subtable of 2^sub
// entries at index value, indexed by the bits after the root bits.
struct VlcEntry {
  int16_t value;
  uint8_t len;
  uint8_t sub;
};

// A code as listed in its data file, kept for the table test.
struct VlcCode {
  const char* bits;
  int16_t values[3];
};

// One look of kCoefFastBits bits into a coefficient table: the event of a
// code that fits together with its sign bit; lenLast 0 where none does (long
// codes, escape), else the bits used | last << 7.
constexpr int kCoefFastBits = 10;
struct CoefEntry {
  int16_t level;  // signed
  uint8_t run;
  uint8_t lenLast;
};

struct VlcTable {
  const VlcEntry* lut;
  int rootBits;
  const VlcCode* codes;
  int codeCount;
  int valueCount;
  const char* source;  // data file, relative to the tables folder
  const CoefEntry* fast;  // coefficient tables only, 2^kCoefFastBits entries
};

// Symbols: coefficient tables pack (last << 12) | (run << 6) | level; MCBPC
// packs (mb_type << 2) | cbpc; CBPY gives the intra pattern; MVD the motion
// code; DC size the size. Escape and stuffing codes give -1.
extern const VlcTable kTcoefIntra, kTcoefInter, kRvlcIntra, kRvlcInter;
extern const VlcTable kDcSizeLum, kDcSizeChrom, kMcbpcIntra, kMcbpcInter, kCbpy, kMvd;

extern const uint8_t kScanZigzag[64];
extern const uint8_t kScanAltHorizontal[64];
extern const uint8_t kScanAltVertical[64];
extern const uint8_t kDefaultIntraMatrix[64];  // raster order
extern const uint8_t kDefaultNonIntraMatrix[64];
extern const uint8_t kDcScalerLum[32];  // by QP
extern const uint8_t kDcScalerChrom[32];
extern const int8_t kLmaxIntra[2][64];  // [last][run], -1 = none
extern const int8_t kLmaxInter[2][64];
extern const int8_t kRmaxIntra[2][64];  // [last][level], -1 = none
extern const int8_t kRmaxInter[2][64];
extern const uint8_t kIntraDcSwitchQp[8];  // by intra_dc_vlc_thr
extern const int8_t kDquant[4];
extern const uint8_t kChromaRound4mv[16];

struct SourceFormat {
  int width, height, gobs, rowsPerGob;
};
extern const SourceFormat kSourceFormats[6];  // by source_format, 1 to 5

constexpr int kVlcInvalid = -32768;

// Decodes one code; kVlcInvalid when the bits form no code of the table.
inline int vlcRead(BitReader& br, const VlcTable& t) {
  const uint32_t bits = br.peek32();
  VlcEntry e = t.lut[bits >> (32 - t.rootBits)];
  if (e.sub) {
    const uint32_t rest = bits << t.rootBits;
    e = t.lut[e.value + (rest >> (32 - e.sub))];
    if (!e.len) return kVlcInvalid;
    br.skip(uint32_t(t.rootBits + e.len));
    return e.value;
  }
  if (!e.len) return kVlcInvalid;
  br.skip(e.len);
  return e.value;
}

// Decodes one coefficient code and, for a code that is no escape, the sign
// bit after it, from a single look at the bits.
inline int vlcReadSigned(BitReader& br, const VlcTable& t, bool* negative) {
  const uint32_t bits = br.peek32();
  VlcEntry e = t.lut[bits >> (32 - t.rootBits)];
  int len;
  if (e.sub) {
    e = t.lut[e.value + ((bits << t.rootBits) >> (32 - e.sub))];
    len = t.rootBits + e.len;
  } else {
    len = e.len;
  }
  if (!e.len) return kVlcInvalid;
  if (e.value >= 0) {
    *negative = ((bits << len) >> 31) != 0;
    ++len;
  }
  br.skip(uint32_t(len));
  return e.value;
}

}  // namespace vdec
