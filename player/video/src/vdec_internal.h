// Decoder state shared by the decoder's sources (not part of the interface).
#pragma once

#include <cstddef>
#include <cstdint>

#include "bitreader.h"
#include "tables.h"
#include "video/vdec.h"

// The parsed video object layer of one layer.
struct VolInfo {
  int layerId = 0;  // video_object_layer_id
  bool shortHeader = false;
  int verid = 1;
  int timeIncrementResolution = 0;  // vop_time_increment_resolution
  int timeIncrementBits = 1;        // bit length of vop_time_increment
  // Time base: the vop_time_increment last given a timestamp and the ms it
  // stands for; short header: the running tick count (1001/30000 s).
  int32_t baseIncrement = 0;
  int64_t baseMs = 0;
  int64_t tickCount = 0;
  bool fixedVopRate = false;
  int codedWidth = 0, codedHeight = 0;  // multiples of 16
  int displayWidth = 0, displayHeight = 0;
  bool complexityEstimationDisable = true;
  int estimationMethod = 0;
  // Bits of the VOP complexity estimate fields: per I-VOP and extra per P-VOP.
  int estimateBitsI = 0, estimateBitsP = 0;
  bool resyncMarkerDisable = false;
  bool dataPartitioned = false;
  bool reversibleVlc = false;
  bool reducedResolutionEnable = false;
  int bitsPerPixel = 8;
  int dcDefault = 1024;  // 1 << (bitsPerPixel + 2)
  int quantPrecision = 5;
  int quantType = 0;  // 0 H.263 method, 1 matrices
  bool loadIntraMatrix = false, loadNonIntraMatrix = false;
  uint8_t intraMatrix[64] = {};  // raster order
  uint8_t nonIntraMatrix[64] = {};
  bool scalability = false;
  int hierarchyType = 0, refLayerId = 0, refLayerSamplingDirec = 0;
  int horSamplingFactorN = 0, horSamplingFactorM = 0;
  int vertSamplingFactorN = 0, vertSamplingFactorM = 0;
  int enhancementType = 0;
  int mbCols = 0, mbRows = 0, mbCount = 0, mbNumberBits = 1;
  int gobCols = 0, gobRows = 0;  // group-of-blocks grid (short header)
  uint32_t headerBits = 0;       // bits of the configuration headers
  BitReader br;
};

// Coefficients of one 8x8 block with what the inverse transform needs to
// choose its variant.
struct BlockCoefs {
  int32_t c[64];    // raster order
  int count;        // scan positions used (last + 1; 64 with mismatch control or AC prediction)
  uint8_t map[8];   // per column, bit 7 = row 0
  uint8_t summary;  // bits 6, 5, 4: columns 1, 2, 3 non-zero (count >= 11)
};

struct VideoDecoderState;
namespace vdec {
// Block decoders chosen per picture (slot functions); 0 ok, non-zero error.
using IntraBlockFn = int (*)(VideoDecoderState* st, int mb, int block, bool coded,
                             BlockCoefs* out);
using InterBlockFn = int (*)(VideoDecoderState* st, int qp, BlockCoefs* out);
}  // namespace vdec

// Per-macroblock kinds.
enum MbKind : uint8_t {
  MB_INTRA = 0,
  MB_INTER = 1,
  MB_INTRA_Q = 2,
  MB_INTER_Q = 3,
  MB_INTER4V = 4,
  MB_NOT_CODED = 6,
};
inline bool mbIsIntra(uint8_t kind) { return kind == MB_INTRA || kind == MB_INTRA_Q; }

// Stored per intra block for DC and AC prediction of its neighbours.
struct PredStore {
  int16_t dc;      // dequantised DC
  int16_t row[7];  // first row levels 1..7 (quantised)
  int16_t col[7];  // first column levels 1..7
  int16_t qp;
};

struct VideoDecoderState {
  int layerCount = 0;
  VolInfo* vol[VDEC_MAX_LAYERS] = {};
  DecodedFrame* cur = nullptr;  // picture being decoded
  DecodedFrame* ref = nullptr;  // last decoded base-layer picture
  DecodedFrame* enh = nullptr;  // last decoded enhancement-layer picture
  DecodedFrame* input[VDEC_MAX_LAYERS] = {};
  bool inputParsed[VDEC_MAX_LAYERS] = {};
  // The input a parsed header was read from; another buffer or size in a later
  // call means other data, and the header is read again.
  const uint8_t* parsedBuf[VDEC_MAX_LAYERS] = {};
  int32_t parsedSize[VDEC_MAX_LAYERS] = {};
  int decodeCounter = -1;
  int lastLayer = 0;
  int32_t lastTimestamp = -1;
  uint32_t rateBits[3] = {};
  int32_t rateTime[3] = {};
  int frameRate = 0;
  int bitRate = 0;
  int lastIntra = 0;
  int postFilter = 0;

  // Geometry the buffers were made for (the first layer).
  int allocWidth = 0, allocHeight = 0;
  int mbCols = 0, mbRows = 0, mbCount = 0;

  // Per-macroblock work arrays (raster order of the allocation grid).
  uint8_t* mbKind = nullptr;
  uint8_t* mbCbp = nullptr;
  uint8_t* mbAcPred = nullptr;
  uint16_t* mbPacket = nullptr;
  int16_t* mbDc = nullptr;  // 6 per macroblock: DC levels read ahead of the texture
  int32_t* mbQuant = nullptr;
  int16_t* mvx = nullptr;  // 2 x 2 per macroblock, stride 2 * mbCols
  int16_t* mvy = nullptr;
  uint8_t* blockFlags[2] = {};  // post-filter flags, 6 per macroblock
  uint8_t* deringBuf[2] = {};
  PredStore* pred = nullptr;  // 6 per macroblock
  BlockCoefs* blocks = nullptr;  // 6 (one macroblock)

  // Per picture.
  VolInfo* vol0 = nullptr;          // layer being decoded
  const DecodedFrame* predFrom = nullptr;  // reference of a predicted picture
  int qp = 1;                        // running quantiser
  int packet = 0;                    // video packet number
  vdec::IntraBlockFn intraBlock = nullptr;
  vdec::InterBlockFn interBlock = nullptr;
  bool useDcVlc = true;   // intra DC through dct_dc_size (else with the AC codes)
  bool dcPreRead = false;  // intra DC levels already in mbDc (partitioned mode)
  int nbMb = -1, nbX = 0, nbY = 0;  // macroblock whose position the intra blocks last worked out

  size_t memoryUsed = 0;
};

namespace vdec {

// Header parsers (0 accepted, non-zero refused).
int decodeVolHeader(VolInfo* vol);
int decodeGovHeader(VolInfo* vol);
int decodeVopHeader(VideoDecoderState* st, VolInfo* vol, DecodedFrame* f, bool keepTimeBase);
int decodeShortHeader(VideoDecoderState* st, VolInfo* vol, DecodedFrame* f);
// Picture data of the current frame; 0 done, 3 end of data, 1 unsupported.
int decodeVopData(VideoDecoderState* st, VolInfo* vol);
// Searches; 0 found (reader on it), 3 end.
int findNextPictureStart(BitReader& br);
int findNextVopOrGov(BitReader& br);
void setMacroblockGrid(VolInfo* vol);
int32_t streamTimestamp(const VolInfo* vol, const DecodedFrame* f);

// Inverse transform of one block: into 8 bits with saturation, or in place.
// A DC-only block is filled with its one value; others go through a vector
// transform where the processor has one. The plain variants are the
// reference for both.
void idctPut(BlockCoefs* b, uint8_t* dst, int stride);
void idctInPlace(BlockCoefs* b);
void idctPutPlain(BlockCoefs* b, uint8_t* dst, int stride);
void idctInPlacePlain(BlockCoefs* b);
// Every pass in full, without the choice of variants (for tests).
void idctFull(int32_t blk[64]);

}  // namespace vdec
