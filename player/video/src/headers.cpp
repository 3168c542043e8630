// Configuration, group-of-VOP, VOP and short-header picture headers, and the
// start code searches.
#include "tables.h"
#include "vdec_internal.h"

namespace vdec {

namespace {

constexpr uint32_t kVisualObjectSequenceStart = 0x1B0;
constexpr uint32_t kUserDataStart = 0x1B2;
constexpr uint32_t kGovStart = 0x1B3;
constexpr uint32_t kVisualObjectStart = 0x1B5;
constexpr uint32_t kVopStart = 0x1B6;
constexpr int kMaxVolSize = 1024;

// Marker bits are read but not enforced: encoders that get them wrong are
// common and the fields around them stay aligned either way.
void marker(BitReader& br) { br.skip(1); }

int bitLength(uint32_t v) {
  int n = 0;
  while (v) {
    ++n;
    v >>= 1;
  }
  return n;
}

void skipUserData(BitReader& br) {
  while (br.peek32() == kUserDataStart && !br.atEnd()) {
    br.skip(32);
    while (!br.atEnd() && br.peek(24) != 1) br.skip(8);
  }
}

int readMatrix(BitReader& br, uint8_t* m) {
  int last = 0;
  int i = 0;
  for (; i < 64; ++i) {
    const int v = int(br.read(8));
    if (v == 0) break;
    m[kScanZigzag[i]] = uint8_t(v);
    last = v;
  }
  if (i == 0) return 1;  // the list must hold at least one value
  for (; i < 64; ++i) m[kScanZigzag[i]] = uint8_t(last);
  return 0;
}

// The VOL's complexity estimation header: which estimate fields each VOP
// carries, so that the VOP header can skip them.
int readComplexityEstimation(BitReader& br, VolInfo* vol) {
  vol->estimationMethod = int(br.read(2));
  if (vol->estimationMethod > 1) return 1;
  if (!br.read1()) return 1;  // shape complexity estimation: shape coding is not supported
  int bitsI = 0, bitsP = 0;
  if (!br.read1()) {  // texture set 1
    bitsI += 8 * int(br.read1());  // intra blocks
    bitsP += 8 * int(br.read1());  // inter blocks
    bitsP += 8 * int(br.read1());  // inter4v blocks
    bitsI += 8 * int(br.read1());  // not coded blocks
  }
  marker(br);
  if (!br.read1()) {  // texture set 2
    bitsI += 8 * int(br.read1());  // dct coefficients
    bitsI += 8 * int(br.read1());  // dct lines
    bitsI += 8 * int(br.read1());  // vlc symbols
    bitsI += 4 * int(br.read1());  // vlc bits
  }
  if (!br.read1()) {  // motion compensation
    bitsP += 8 * int(br.read1());  // apm
    bitsP += 8 * int(br.read1());  // npm
    br.skip(1);                    // interpolate mc q (B-VOPs only)
    bitsP += 8 * int(br.read1());  // forward/backward mc q
    bitsP += 8 * int(br.read1());  // halfpel2
    bitsP += 8 * int(br.read1());  // halfpel4
  }
  marker(br);
  if (vol->estimationMethod == 1 && !br.read1()) return 1;  // version 2 estimates
  vol->estimateBitsI = bitsI;
  vol->estimateBitsP = bitsP;
  return 0;
}

}  // namespace

void setMacroblockGrid(VolInfo* vol) {
  vol->mbCols = (vol->displayWidth + 15) / 16;
  vol->mbRows = (vol->displayHeight + 15) / 16;
  vol->mbCount = vol->mbCols * vol->mbRows;
  vol->mbNumberBits = bitLength(uint32_t(vol->mbCount - 1));
  if (vol->mbNumberBits < 1) vol->mbNumberBits = 1;
  vol->gobCols = vol->mbCols;
  vol->gobRows = vol->mbRows;
  vol->codedWidth = vol->mbCols * 16;
  vol->codedHeight = vol->mbRows * 16;
}

int decodeVolHeader(VolInfo* vol) {
  BitReader& br = vol->br;
  int verid = 1;
  if (br.peek32() == kVisualObjectSequenceStart) {
    br.skip(32);
    br.skip(8);  // profile_and_level_indication
    skipUserData(br);
    if (br.peek32() != kVisualObjectStart) return 1;
    br.skip(32);
    if (br.read1()) {  // is_visual_object_identifier
      verid = int(br.read(4));
      br.skip(3);  // priority
    }
    const int type = int(br.read(4));
    if (type != 1) return 1;  // not a video object
    if (br.read1()) {         // video_signal_type
      br.skip(3 + 1);         // video_format, video_range
      if (br.read1()) br.skip(24);  // colour description
    }
    br.nextStartCode();
    skipUserData(br);
  }
  if (br.peek(27) == 8) {
    br.skip(32);  // video_object_start_code and id
  } else if (br.peek(22) == 0x20) {
    vol->shortHeader = true;
    return 0;
  } else if (br.peek(28) != 0x12) {
    return 1;
  }
  if (br.read(28) != 0x12) return 1;  // video_object_layer_start_code
  vol->layerId = int(br.read(4));
  br.skip(1);  // random_accessible_vol
  br.skip(8);  // video_object_type_indication
  if (br.read1()) {  // is_object_layer_identifier
    verid = int(br.read(4));
    br.skip(3);
  }
  vol->verid = verid;
  if (br.read(4) == 15) br.skip(16);  // aspect ratio, extended PAR
  if (br.read1()) {                   // vol_control_parameters
    br.skip(2 + 1);                   // chroma_format, low_delay
    if (br.read1()) br.skip(79);      // vbv_parameters
  }
  if (br.read(2) != 0) return 1;  // only rectangular shape is decodable
  marker(br);
  vol->timeIncrementResolution = int(br.read(16));
  marker(br);
  vol->timeIncrementBits = bitLength(uint32_t(vol->timeIncrementResolution > 0
                                                  ? vol->timeIncrementResolution - 1
                                                  : 0));
  if (vol->timeIncrementBits < 1) vol->timeIncrementBits = 1;
  vol->fixedVopRate = br.read1();
  if (vol->fixedVopRate) br.skip(uint32_t(vol->timeIncrementBits));
  marker(br);
  const int width = int(br.read(13));
  marker(br);
  const int height = int(br.read(13));
  marker(br);
  if (width < 1 || height < 1 || width > kMaxVolSize || height > kMaxVolSize) return 1;
  if (br.read1()) return 1;  // interlaced
  br.skip(1);                // obmc_disable
  if (br.read(verid == 1 ? 1 : 2) != 0) return 1;  // sprite_enable
  if (br.read1()) {                                // not_8_bit
    vol->quantPrecision = int(br.read(4));
    vol->bitsPerPixel = int(br.read(4));
    return 1;
  }
  vol->quantPrecision = 5;
  vol->bitsPerPixel = 8;
  vol->dcDefault = 1 << (vol->bitsPerPixel + 2);
  vol->quantType = int(br.read1());
  if (vol->quantType) {
    vol->loadIntraMatrix = br.read1();
    if (vol->loadIntraMatrix) {
      if (readMatrix(br, vol->intraMatrix)) return 1;
    } else {
      for (int i = 0; i < 64; ++i) vol->intraMatrix[i] = kDefaultIntraMatrix[i];
    }
    vol->loadNonIntraMatrix = br.read1();
    if (vol->loadNonIntraMatrix) {
      if (readMatrix(br, vol->nonIntraMatrix)) return 1;
    } else {
      for (int i = 0; i < 64; ++i) vol->nonIntraMatrix[i] = kDefaultNonIntraMatrix[i];
    }
    vol->intraMatrix[0] = 0;  // the intra DC goes through the DC scaler
  }
  // Quarter-sample motion is not part of the tools decoded here; taking such a
  // stream as half-sample would show garbage.
  if (verid != 1 && br.read1()) return 1;
  vol->complexityEstimationDisable = br.read1();
  if (!vol->complexityEstimationDisable && readComplexityEstimation(br, vol)) return 1;
  vol->resyncMarkerDisable = br.read1();
  vol->dataPartitioned = br.read1();
  if (vol->dataPartitioned) {
    vol->reversibleVlc = br.read1();
    vol->resyncMarkerDisable = false;
  }
  if (verid != 1) {
    if (br.read1()) return 1;  // newpred_enable
    vol->reducedResolutionEnable = br.read1();
  }
  vol->scalability = br.read1();
  if (vol->scalability) {
    vol->hierarchyType = int(br.read1());
    vol->refLayerId = int(br.read(4));
    vol->refLayerSamplingDirec = int(br.read1());
    vol->horSamplingFactorN = int(br.read(5));
    vol->horSamplingFactorM = int(br.read(5));
    vol->vertSamplingFactorN = int(br.read(5));
    vol->vertSamplingFactorM = int(br.read(5));
    vol->enhancementType = int(br.read1());
  }
  br.nextStartCode();
  skipUserData(br);
  vol->headerBits = br.position();
  vol->displayWidth = width;
  vol->displayHeight = height;
  setMacroblockGrid(vol);
  return br.overrun() ? 1 : 0;
}

int decodeGovHeader(VolInfo* vol) {
  BitReader& br = vol->br;
  if (br.read(32) != kGovStart) return 1;
  const uint32_t hours = br.read(5);
  const uint32_t minutes = br.read(6);
  marker(br);
  const uint32_t seconds = br.read(6);
  const uint32_t total = hours * 3600 + minutes * 60 + seconds;
  // A time code far from the layer's time (or before it) is taken as damage.
  if (total - uint32_t(vol->baseMs / 1000) > 60) return 1;
  vol->baseMs = int64_t(total) * 1000;
  vol->baseIncrement = 0;
  const bool closedGov = br.read1();
  const bool brokenLink = br.read1();
  if (!closedGov && brokenLink) return 0;
  br.nextStartCode();
  skipUserData(br);
  return 0;
}

int decodeVopHeader(VideoDecoderState*, VolInfo* vol, DecodedFrame* f, bool keepTimeBase) {
  BitReader& br = vol->br;
  if (br.peek32() == kGovStart) {
    if (decodeGovHeader(vol) != 0) return 1;
    keepTimeBase = true;
  }
  f->timestamp = -1;
  if (br.read(32) != kVopStart) return 1;
  f->vop_coding_type = int(br.read(2));
  int modulo = 0;
  while (br.read1()) {
    if (br.overrun()) return 1;
    ++modulo;
  }
  if (!keepTimeBase) vol->baseMs += int64_t(modulo) * 1000;
  marker(br);
  f->vop_time_increment = int(br.read(vol->timeIncrementBits));
  marker(br);
  f->vop_coded = int(br.read1());
  f->layerId = vol->layerId;
  f->ref_select_code = 1;
  f->spare0 = f->spare1 = 0;
  if (!f->vop_coded) return br.overrun() ? 1 : 0;
  f->vop_rounding_type = f->vop_coding_type == 1 ? int(br.read1()) : 0;
  if (vol->reducedResolutionEnable && f->vop_coding_type <= 1 && br.read1())
    return 1;  // reduced-resolution VOPs are not decodable here
  if (!vol->complexityEstimationDisable) {
    if (f->vop_coding_type == 0) br.skip(uint32_t(vol->estimateBitsI));
    if (f->vop_coding_type == 1) br.skip(uint32_t(vol->estimateBitsI + vol->estimateBitsP));
  }
  f->intra_dc_vlc_thr = int(br.read(3));
  f->quantiser = int(br.read(vol->quantPrecision));
  if (f->quantiser == 0) return 1;
  f->fcodeForward = 0;
  f->fcodeBackward = 0;
  if (f->vop_coding_type != 0) {
    f->fcodeForward = int(br.read(3));
    if (f->fcodeForward < 1 || f->fcodeForward > 3) {
      f->fcodeForward = 1;
      return 1;
    }
  }
  if (f->vop_coding_type == 2) {
    f->fcodeBackward = int(br.read(3));
    if (f->fcodeBackward < 1 || f->fcodeBackward > 3) {
      f->fcodeBackward = 1;
      return 1;
    }
  }
  if (vol->scalability) f->ref_select_code = int(br.read(2));
  return br.overrun() ? 1 : 0;
}

int decodeShortHeader(VideoDecoderState* st, VolInfo* vol, DecodedFrame* f) {
  BitReader& br = vol->br;
  if (br.peek(22) != 0x20) return 1;
  br.skip(22);
  f->timestamp = -1;
  f->temporalReference = int(br.read(8));
  if (br.read1() != 1) return 1;  // marker
  if (br.read1() != 0) return 1;  // distinguishes H.261
  br.skip(3);                     // split screen, document camera, freeze release
  const int format = int(br.read(3));
  if (format < 1 || format > 5) return 1;
  const SourceFormat& sf = kSourceFormats[format];
  if (sf.width > vol->codedWidth || sf.height > vol->codedHeight) return 1;
  f->vop_coding_type = int(br.read1());
  if (br.read(4) != 0) return 1;  // UMV, SAC, advanced prediction, PB-frames
  f->quantiser = int(br.read(5));
  if (f->quantiser == 0) return 1;
  if (br.read1()) return 1;  // CPM
  while (br.read1()) {       // PEI, PSPARE
    br.skip(8);
    if (br.overrun()) return 1;
  }
  if (br.overrun()) return 1;

  const int refTr = st && st->ref ? st->ref->temporalReference : 0;
  const int step = (f->temporalReference - refTr) & 255;
  f->vop_time_increment = step;
  vol->tickCount += step;
  vol->displayWidth = sf.width;
  vol->displayHeight = sf.height;
  setMacroblockGrid(vol);
  vol->gobRows = sf.gobs;
  vol->resyncMarkerDisable = false;
  f->vop_coded = 1;
  f->vop_rounding_type = 0;
  f->intra_dc_vlc_thr = 0;
  f->fcodeForward = f->vop_coding_type ? 1 : 0;
  f->fcodeBackward = 0;
  f->ref_select_code = 1;
  f->spare0 = f->spare1 = 0;
  f->layerId = 0;
  return 0;
}

int32_t streamTimestamp(const VolInfo* vol, const DecodedFrame* f) {
  if (vol->shortHeader) {
    const int64_t t = vol->tickCount;
    return int32_t(t * 33 + t * 11 / 30);
  }
  if (vol->timeIncrementResolution == 0) return 0;
  return int32_t(int64_t(f->vop_time_increment - vol->baseIncrement) * 1000 /
                     vol->timeIncrementResolution +
                 vol->baseMs);
}

int findNextPictureStart(BitReader& br) {
  if (br.rewind(8)) br.setPosition(0);
  br.nextStartCode();
  while (!br.atEnd()) {
    if (br.peek(16) == 0 && br.peek(22) == 0x20) return 0;
    br.skip(8);
  }
  return 3;
}

int findNextVopOrGov(BitReader& br) {
  if (br.rewind(8)) br.setPosition(0);
  br.byteAlign();
  while (!br.atEnd()) {
    const uint32_t v = br.peek32();
    if ((v >> 8) == 1) {
      if (v == kVopStart || v == kGovStart) return 0;
      br.skip(32);
    } else {
      br.skip(8);
    }
  }
  return 3;
}

}  // namespace vdec
