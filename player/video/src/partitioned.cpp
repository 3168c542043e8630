// Data-partitioned pictures: per video packet the macroblock headers and
// motion (or DC) partition, the second header partition, then the texture.
// A damaged texture keeps what the first partitions told.
#include <algorithm>

#include "blocks.h"
#include "motion.h"

namespace vdec {

namespace {

constexpr uint32_t kDcMarker = 0x6B001;      // 19 bits
constexpr uint32_t kMotionMarker = 0x1F001;  // 17 bits

// The header partitions of the packet starting at macroblock first; *end is
// one past its last macroblock. 0 read, 1 damaged.
int readHeaderPartitions(VideoDecoderState* st, int first, int* end) {
  VolInfo* vol = st->vol0;
  BitReader& br = vol->br;
  const int n = vol->mbCount;
  const bool intraPicture = st->cur->vop_coding_type == 0;
  const int thr = kIntraDcSwitchQp[st->cur->intra_dc_vlc_thr & 7];
  static const uint8_t kKinds[5] = {MB_INTER, MB_INTER_Q, MB_INTER4V, MB_INTRA, MB_INTRA_Q};

  // First partition: up to the DC marker (intra) or motion marker.
  int m = first;
  for (;;) {
    if (intraPicture ? br.peek(19) == kDcMarker : br.peek(17) == kMotionMarker) break;
    if (m >= n || br.overrun()) return 1;  // the marker never came
    st->mbPacket[m] = uint16_t(st->packet);
    st->mbAcPred[m] = 0;
    if (!intraPicture && br.read1()) {  // not coded
      st->mbKind[m] = MB_NOT_CODED;
      st->mbCbp[m] = 0;
      setMacroblockVectors(st, m, 0, 0);
      ++m;
      continue;
    }
    const int mcbpc = vlcRead(br, intraPicture ? kMcbpcIntra : kMcbpcInter);
    if (mcbpc == -1) continue;  // stuffing
    if (mcbpc < 0) return 1;
    const uint8_t kind = kKinds[mcbpc >> 2];
    st->mbKind[m] = kind;
    st->mbCbp[m] = uint8_t(mcbpc & 3);
    if (intraPicture) {
      const int prevQp = st->qp;
      if (kind == MB_INTRA_Q) st->qp = std::clamp(st->qp + kDquant[br.read(2)], 1, 31);
      st->mbQuant[m] = st->qp;
      if (prevQp < thr) {
        st->mbAcPred[m] = MB_DC_VLC;
        for (int b = 0; b < 6; ++b) {
          int diff;
          if (readIntraDc(br, b, &diff)) return 1;
          st->mbDc[6 * m + b] = int16_t(diff);
        }
      }
    } else if (mbIsIntra(kind)) {
      setMacroblockVectors(st, m, 0, 0);
    } else if (decodeMacroblockVectors(st, m, kind == MB_INTER4V)) {
      return 1;
    }
    ++m;
  }
  br.skip(intraPicture ? 19 : 17);
  *end = m;

  // Second partition.
  for (m = first; m < *end; ++m) {
    const uint8_t kind = st->mbKind[m];
    if (kind == MB_NOT_CODED) {
      st->mbQuant[m] = st->qp;
      continue;
    }
    const bool intra = mbIsIntra(kind);
    if (intra && br.read1()) st->mbAcPred[m] |= MB_AC_PRED;
    int cbpy = vlcRead(br, kCbpy);
    if (cbpy < 0) return 1;
    if (!intra) cbpy = 15 - cbpy;
    st->mbCbp[m] = uint8_t((cbpy << 2) | (st->mbCbp[m] & 3));
    if (intraPicture) continue;
    const int prevQp = st->qp;
    if (kind == MB_INTER_Q || kind == MB_INTRA_Q)
      st->qp = std::clamp(st->qp + kDquant[br.read(2)], 1, 31);
    st->mbQuant[m] = st->qp;
    if (intra && prevQp < thr) {
      st->mbAcPred[m] |= MB_DC_VLC;
      for (int b = 0; b < 6; ++b) {
        int diff;
        if (readIntraDc(br, b, &diff)) return 1;
        st->mbDc[6 * m + b] = int16_t(diff);
      }
    }
  }
  return br.overrun() ? 1 : 0;
}

int decodeTexture(VideoDecoderState* st, int m) {
  const uint8_t kind = st->mbKind[m];
  const int cbp = st->mbCbp[m];
  st->qp = st->mbQuant[m];
  if (kind == MB_NOT_CODED) return reconstructNotCoded(st, m);
  if (mbIsIntra(kind)) {
    st->useDcVlc = (st->mbAcPred[m] & MB_DC_VLC) != 0;
    return decodeIntraMacroblock(st, m, cbp);
  }
  for (int b = 0; b < 6; ++b) {
    if (!(cbp & (32 >> b))) continue;
    if (st->interBlock(st, st->qp, &st->blocks[b])) return 1;
    idctInPlace(&st->blocks[b]);
  }
  motionCompensate(st, m, cbp, kind == MB_INTER4V);
  return 0;
}

// What a damaged texture leaves: predicted macroblocks keep their vectors
// without residual; intra macroblocks of an intra picture show their DC where
// it was read ahead, the rest is concealed.
void reconstructWithoutTexture(VideoDecoderState* st, int from, int to) {
  const bool intraPicture = st->cur->vop_coding_type == 0;
  for (int m = from; m < to; ++m) {
    const uint8_t kind = st->mbKind[m];
    st->qp = st->mbQuant[m];
    if (kind == MB_NOT_CODED) {
      reconstructNotCoded(st, m);
    } else if (!mbIsIntra(kind)) {
      st->mbCbp[m] = 0;
      motionCompensate(st, m, 0, kind == MB_INTER4V);
    } else if (intraPicture && (st->mbAcPred[m] & MB_DC_VLC)) {
      st->mbAcPred[m] = MB_DC_VLC;
      st->mbCbp[m] = 0;
      st->useDcVlc = true;
      if (decodeIntraMacroblock(st, m, 0)) concealMacroblocks(st, m, m + 1, st->packet);
    } else {
      concealMacroblocks(st, m, m + 1, st->packet);
    }
  }
}

}  // namespace

int decodePartitioned(VideoDecoderState* st) {
  VolInfo* vol = st->vol0;
  BitReader& br = vol->br;
  const int n = vol->mbCount;
  if (st->cur->vop_coding_type > 1) return 1;
  const int resyncLen = startPicture(st);
  st->dcPreRead = true;

  int mb = 0;
  while (mb < n) {
    const uint32_t packetStart = br.position();
    int end = mb;
    if (readHeaderPartitions(st, mb, &end) != 0) {
      mb = recover(st, mb, packetStart + 1, resyncLen, 1);
      if (mb < 0) return 0;
      continue;
    }
    bool damaged = false;
    for (int m = mb; m < end && !damaged; ++m) {
      if (decodeTexture(st, m) != 0 || br.overrun()) {
        reconstructWithoutTexture(st, m, end);
        damaged = true;
      }
    }
    if (damaged) {
      mb = recover(st, end, br.position() + 1, resyncLen, 1);
      if (mb < 0) return 0;
      continue;
    }
    mb = end;
    if (mb >= n) break;
    // The next packet follows, or the picture ends.
    if (!resyncMarkerFollows(br, resyncLen)) {
      mb = recover(st, mb, br.position(), resyncLen, 1);
      if (mb < 0) return 0;
      continue;
    }
    mb = nextPacket(st, mb, resyncLen);
    if (mb < 0) return 0;
  }
  return 0;
}

}  // namespace vdec
