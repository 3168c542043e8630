#include "synth.h"

namespace vdectest {

std::vector<uint8_t> makeVol(const VolParams& p) {
  BitWriter w;
  if (p.withVos) {
    w.put(0x1B0, 32);
    w.put(1, 8);  // profile and level
    w.put(0x1B5, 32);
    w.put(0, 1);  // no visual object identifier
    w.put(1, 4);  // video
    w.put(0, 1);  // no video signal type
    w.stuffing();
  }
  w.put(0x100, 32);                // video object
  w.put(0x120 | uint32_t(p.layerId), 32);  // video object layer
  w.put(0, 1);   // random_accessible_vol
  w.put(1, 8);   // simple object
  w.put(0, 1);   // no layer identifier
  w.put(1, 4);   // square pixels
  w.put(0, 1);   // no control parameters
  w.put(0, 2);   // rectangular
  w.put(1, 1);
  w.put(uint32_t(p.resolution), 16);
  w.put(1, 1);
  w.put(0, 1);  // fixed_vop_rate
  w.put(1, 1);
  w.put(uint32_t(p.width), 13);
  w.put(1, 1);
  w.put(uint32_t(p.height), 13);
  w.put(1, 1);
  w.put(p.interlaced, 1);
  w.put(1, 1);  // obmc_disable
  w.put(0, 1);  // sprite
  w.put(0, 1);  // not_8_bit
  w.put(p.quantType, 1);
  if (p.quantType) {
    w.put(!p.intraMatrix.empty(), 1);
    for (int v : p.intraMatrix) w.put(uint32_t(v), 8);
    w.put(0, 1);  // default non-intra matrix
  }
  w.put(1, 1);  // complexity_estimation_disable
  w.put(p.resyncMarkerDisable, 1);
  w.put(p.dataPartitioned, 1);
  if (p.dataPartitioned) w.put(p.reversibleVlc, 1);
  w.put(p.scalability, 1);
  if (p.scalability) {
    w.put(0, 1);  // hierarchy_type
    w.put(0, 4);  // ref_layer_id
    w.put(0, 1);
    w.put(1, 5);
    w.put(1, 5);
    w.put(1, 5);
    w.put(1, 5);
    w.put(0, 1);  // enhancement_type
  }
  w.stuffing();
  return w.bytes();
}

void writeVopHeader(BitWriter& w, const VopParams& p) {
  w.put(0x1B6, 32);
  w.put(uint32_t(p.type), 2);
  for (int i = 0; i < p.moduloTimeBase; ++i) w.putBit(1);
  w.putBit(0);
  w.put(1, 1);
  w.put(uint32_t(p.timeIncrement), p.timeIncrementBits);
  w.put(1, 1);
  w.put(p.coded, 1);
  if (!p.coded) return;
  if (p.type == 1) w.put(0, 1);  // rounding
  w.put(uint32_t(p.intraDcVlcThr), 3);
  w.put(uint32_t(p.quant), 5);
  if (p.type != 0) w.put(uint32_t(p.fcode), 3);
  if (p.type == 2) w.put(uint32_t(p.fcode), 3);
  if (p.refSelect) w.put(uint32_t(p.refSelectCode), 2);
}

void writeFlatIntraMacroblocks(BitWriter& w, int count) {
  for (int i = 0; i < count; ++i) {
    w.code("1");     // MCBPC: intra, no chroma coded
    w.put(0, 1);     // ac_pred_flag
    w.code("0011");  // CBPY: no luma coded
    for (int b = 0; b < 4; ++b) w.code("011");  // luma dc size 0
    w.code("11");
    w.code("11");  // chroma dc size 0
  }
}

std::vector<uint8_t> makeFlatIntraVop(int mbCount, const VopParams& p) {
  BitWriter w;
  writeVopHeader(w, p);
  writeFlatIntraMacroblocks(w, mbCount);
  w.stuffing();
  return w.bytes();
}

void writePacketHeader(BitWriter& w, int mbNumber, int mbNumberBits, int quant) {
  w.stuffing();
  w.put(1, 17);
  w.put(uint32_t(mbNumber), mbNumberBits);
  w.put(uint32_t(quant), 5);
  w.put(0, 1);
}

std::vector<uint8_t> makeShortHeaderIntraWithGobs(int format, int quant, int lumaDc, int chromaDc,
                                                  const std::vector<int>& gobHeaders) {
  static const int kCols[6] = {0, 8, 11, 22, 44, 88};
  static const int kRows[6] = {0, 6, 9, 18, 36, 72};
  BitWriter w;
  w.put(0x20, 22);
  w.put(0, 8);
  w.put(1, 1);
  w.put(0, 1);
  w.put(0, 3);
  w.put(uint32_t(format), 3);
  w.put(0, 1);  // intra
  w.put(0, 4);
  w.put(uint32_t(quant), 5);
  w.put(0, 1);  // CPM
  w.put(0, 1);  // PEI
  for (int row = 0; row < kRows[format]; ++row) {
    for (int g : gobHeaders) {
      if (g != row) continue;
      w.zeroAlign();  // GSTUF
      w.put(1, 17);   // GBSC
      w.put(uint32_t(row), 5);
      w.put(0, 2);  // GFID
      w.put(uint32_t(quant), 5);
    }
    for (int i = 0; i < kCols[format]; ++i) {
      w.code("1");
      w.code("0011");
      for (int b = 0; b < 4; ++b) w.put(uint32_t(lumaDc), 8);
      w.put(uint32_t(chromaDc), 8);
      w.put(uint32_t(chromaDc), 8);
    }
  }
  w.zeroAlign();
  return w.bytes();
}

std::vector<uint8_t> makeShortHeaderIntra(int format, int tr, int quant, int lumaDc,
                                          int chromaDc) {
  std::vector<uint8_t> v = makeShortHeaderIntraWithGobs(format, quant, lumaDc, chromaDc, {});
  v[2] = uint8_t((v[2] & 0xFC) | ((tr >> 6) & 3));  // temporal reference straddles bytes 2 and 3
  v[3] = uint8_t(((tr & 0x3F) << 2) | (v[3] & 3));
  return v;
}

}  // namespace vdectest
