// Encoder state shared by the encoder's sources (not part of the interface).
#pragma once

#include <cstddef>
#include <cstdint>

#include "videoenc/venc.h"

namespace venc {

// MSB-first bit writer over a buffer the caller sized for the worst case.
struct BitWriter {
  uint8_t* buf = nullptr;
  size_t cap = 0;
  size_t pos = 0;  // bytes flushed
  uint64_t acc = 0;
  int n = 0;  // bits held in acc (< 32 between calls)
  bool overflow = false;

  void reset(uint8_t* b, size_t c) {
    buf = b;
    cap = c;
    pos = 0;
    acc = 0;
    n = 0;
    overflow = false;
  }
  void put(uint32_t v, int len) {  // len 0..32
    if (!len) return;
    acc = (acc << len) | (uint64_t(v) & ((uint64_t(1) << len) - 1));
    n += len;
    while (n >= 8) {
      n -= 8;
      if (pos < cap) buf[pos++] = uint8_t(acc >> n);
      else overflow = true;
    }
  }
  // next_start_code(): a zero bit, then ones up to the byte boundary.
  void stuff() {
    put(0, 1);
    if (n) put((1u << (8 - n)) - 1, 8 - n);
  }
  size_t bits() const { return pos * 8 + size_t(n); }
};

struct Code {
  uint32_t bits;
  uint8_t len;  // 0: no such code
};

// Encoding tables made from the decoder's generated code lists.
struct CodeTables {
  Code tcoef[2][2][64][32];  // [inter][last][run][level]
  Code escape[2];            // [inter]
  Code mcbpcIntra[8];        // [(mb_type - 3) * 4 + cbpc]
  Code mcbpcInter[20];       // [mb_type * 4 + cbpc]
  Code cbpy[16];             // by the intra pattern
  Code dcSize[2][13];        // [chroma][size]
  Code mvd[65];              // [motion code + 32]
};
const CodeTables& codeTables();

// One coefficient event per code; levels signed.
void putCoefficients(BitWriter& bw, const int16_t* levels, int start, bool inter);
void putDcDiff(BitWriter& bw, int diff, bool chroma);
void putMotionCode(BitWriter& bw, int d, int fcode);

// Forward transform of an 8 x 8 block of differences or pixels (the scale
// the decoder's inverse expects: DC = 8 x mean).
void forwardDct(const int16_t* in, int32_t* out);

struct Plane {
  uint8_t* p = nullptr;
  int stride = 0, w = 0, h = 0;
};
struct Frame {
  Plane y, u, v;
};

// Prediction of a size x size block at half-pel position (x2, y2), the
// picture edge repeated beyond it, as the decoder predicts.
void predictBlock(uint8_t* dst, int dstStride, const Plane& ref, int x2, int y2, int size);

}  // namespace venc

struct VideoEncoderState {
  VencSettings s{};
  int codedW = 0, codedH = 0;
  int mbCols = 0, mbRows = 0, mbCount = 0;
  int fcode = 1;
  int32_t maxFrameBytes = 0;

  venc::Frame cur, recon, ref;  // coded size; the input edge-extended into cur
  uint8_t* frameMemory = nullptr;
  uint8_t* work = nullptr;  // one picture's bits before they go to the caller

  // Per macroblock of the picture being coded.
  int16_t* mvx = nullptr;  // half-pel
  int16_t* mvy = nullptr;
  uint8_t* intra = nullptr;
  // Dequantised intra DC per block for the neighbours' prediction: luma on a
  // 2 x 2 grid per macroblock, then Cb and Cr one per macroblock.
  int16_t* dcLuma = nullptr;
  int16_t* dcCb = nullptr;
  int16_t* dcCr = nullptr;

  int64_t frames = 0;
  int64_t sinceIntra = 0;
  bool haveTime = false;
  uint32_t lastTime = 0;
  uint32_t baseSecond = 0;  // the second the last picture's time base stands at
  uint32_t originMs = 0;    // time of the first picture; the stream's time 0

  // Rate control: quantiser now, and the virtual buffer's fill in bits
  // against the plan (positive: over budget).
  int qp = 8;
  double fullness = 0;
};

namespace venc {
// Codes the picture in st->cur into bw; fills info's counters.
void encodePicture(VideoEncoderState* st, BitWriter& bw, bool intraPicture, uint32_t timeMs,
                   VencFrameInfo* info);
// Best vector (half-pel) for macroblock mb against st->ref and its SAD.
void searchMotion(const VideoEncoderState* st, int mbx, int mby, int predX, int predY, int* vx,
                  int* vy, int* sad);
}  // namespace venc
