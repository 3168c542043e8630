// Hand-built bitstreams for cases ffmpeg does not write: configuration and
// picture headers with chosen fields, and flat intra pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vdectest {

class BitWriter {
 public:
  void put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) putBit((value >> i) & 1);
  }
  void putBit(uint32_t b) {
    if (bit_ == 0) bytes_.push_back(0);
    if (b) bytes_.back() |= uint8_t(0x80 >> bit_);
    bit_ = (bit_ + 1) & 7;
  }
  // A code written as 0/1 text.
  void code(const std::string& bits) {
    for (char c : bits) putBit(c == '1');
  }
  // MPEG-4 stuffing: a 0 then ones up to the byte boundary (1 to 8 bits).
  void stuffing() {
    putBit(0);
    while (bit_) putBit(1);
  }
  void zeroAlign() {
    while (bit_) putBit(0);
  }
  size_t bitCount() const { return bytes_.size() * 8 - (bit_ ? 8 - bit_ : 0); }
  std::vector<uint8_t> bytes() const { return bytes_; }
  void append(const std::vector<uint8_t>& b) {
    zeroAlign();
    bytes_.insert(bytes_.end(), b.begin(), b.end());
  }

 private:
  std::vector<uint8_t> bytes_;
  int bit_ = 0;
};

struct VolParams {
  int width = 176, height = 144;
  int resolution = 25;
  bool withVos = true;
  int layerId = 0;
  bool quantType = false;
  std::vector<int> intraMatrix;  // loaded list in zigzag order, ending 0 when short
  bool resyncMarkerDisable = true;
  bool dataPartitioned = false;
  bool reversibleVlc = false;
  bool scalability = false;
  bool interlaced = false;
};
std::vector<uint8_t> makeVol(const VolParams& p);

struct VopParams {
  int type = 0;  // 0 I, 1 P, 2 B
  int timeIncrement = 0;
  int timeIncrementBits = 5;
  int moduloTimeBase = 0;
  bool coded = true;
  int quant = 4;
  int fcode = 1;
  int intraDcVlcThr = 0;
  bool refSelect = false;  // the VOL has scalability: write ref_select_code
  int refSelectCode = 0;
};
// The VOP header; the macroblock data follows in the same writer.
void writeVopHeader(BitWriter& w, const VopParams& p);
// Intra macroblocks with only DC differences of 0 (flat grey pictures).
void writeFlatIntraMacroblocks(BitWriter& w, int count);
// A whole intra VOP of flat grey (pixel 128) ending with stuffing.
std::vector<uint8_t> makeFlatIntraVop(int mbCount, const VopParams& p);

// An H.263 picture of the given source format with every macroblock intra and
// DC only: luma value lumaDc and chroma chromaDc (8-bit INTRADC codes).
std::vector<uint8_t> makeShortHeaderIntra(int format, int tr, int quant, int lumaDc,
                                          int chromaDc);

// A video packet header: stuffing, resync marker (17 bits for intra
// pictures), macroblock_number, quant_scale, no header extension.
void writePacketHeader(BitWriter& w, int mbNumber, int mbNumberBits, int quant);

// Short-header intra picture whose group-of-blocks rows listed in gobHeaders
// start with a group header (GQUANT = quant); DC values as above.
std::vector<uint8_t> makeShortHeaderIntraWithGobs(int format, int quant, int lumaDc, int chromaDc,
                                                  const std::vector<int>& gobHeaders);

}  // namespace vdectest
