// Picture data: the macroblock loop in combined mode, macroblock headers,
// video packets and group-of-blocks headers, and concealment.
#include <algorithm>
#include <cstring>

#include "blocks.h"
#include "picture.h"

namespace vdec {

namespace {

constexpr uint32_t kVopStart = 0x1B6;
constexpr uint32_t kGovStart = 0x1B3;
constexpr uint32_t kSequenceEnd = 0x1B1;
constexpr uint32_t kShortHeaderEnd = 0x3F;

int readMacroblockHeader(VideoDecoderState* st, MacroblockHeader* h);

}  // namespace

void concealMacroblocks(VideoDecoderState* st, int from, int to, int packet) {
  const VolInfo* vol = st->vol0;
  DecodedFrame* cur = st->cur;
  const DecodedFrame* src = st->predFrom;
  const int cols = vol->mbCols;
  const int w = cur->width;
  to = std::min(to, vol->mbCount);
  for (int mb = from; mb < to; ++mb) {
    const int mbx = mb % cols, mby = mb / cols;
    for (int r = 0; r < 16; ++r) {
      const size_t off = size_t(16 * mby + r) * w + 16 * mbx;
      std::memcpy(cur->y + off, src->y + off, 16);
    }
    for (int r = 0; r < 8; ++r) {
      const size_t off = size_t(8 * mby + r) * (w / 2) + 8 * mbx;
      std::memcpy(cur->u + off, src->u + off, 8);
      std::memcpy(cur->v + off, src->v + off, 8);
    }
    if (st->postFilter) {  // the copied blocks keep their texture
      for (int b = 0; b < 6; ++b) {
        const size_t i = blockFlagIndex(st, mb, b);
        st->blockFlags[0][i] = st->blockFlags[1][i] & 4;
      }
    }
    st->mbKind[mb] = MB_NOT_CODED;
    st->mbPacket[mb] = uint16_t(packet);
    st->mbCbp[mb] = 0;
    setMacroblockVectors(st, mb, 0, 0);
  }
}

void setMacroblockVectors(VideoDecoderState* st, int mb, int x, int y) {
  const int cols = st->vol0->mbCols;
  const int stride = 2 * cols;
  const int i = (mb / cols) * 2 * stride + (mb % cols) * 2;
  st->mvx[i] = st->mvx[i + 1] = st->mvx[i + stride] = st->mvx[i + stride + 1] = int16_t(x);
  st->mvy[i] = st->mvy[i + 1] = st->mvy[i + stride] = st->mvy[i + stride + 1] = int16_t(y);
}

uint8_t* blockPixels(DecodedFrame* f, int mbx, int mby, int b, int* stride) {
  if (b < 4) {
    *stride = f->width;
    return f->y + size_t(16 * mby + 8 * (b >> 1)) * f->width + 16 * mbx + 8 * (b & 1);
  }
  *stride = f->width / 2;
  uint8_t* plane = b == 4 ? f->u : f->v;
  return plane + size_t(8 * mby) * (f->width / 2) + 8 * mbx;
}

size_t blockFlagIndex(const VideoDecoderState* st, int mb, int b) {
  const int cols = st->vol0->mbCols;
  if (b < 4) {
    const int bx = 2 * (mb % cols) + (b & 1), by = 2 * (mb / cols) + (b >> 1);
    return size_t(by) * 2 * cols + bx;
  }
  return size_t(st->vol0->mbCount) * (b == 4 ? 4 : 5) + mb;
}

int decodeIntraMacroblock(VideoDecoderState* st, int mb, int cbp) {
  const int cols = st->vol0->mbCols;
  const int mbx = mb % cols, mby = mb / cols;
  for (int b = 0; b < 6; ++b) {
    BlockCoefs* blk = &st->blocks[b];
    if (st->intraBlock(st, mb, b, (cbp & (32 >> b)) != 0, blk)) return 1;
    if (st->postFilter) st->blockFlags[0][blockFlagIndex(st, mb, b)] = intraBlockFlag(blk->c);
    int stride;
    uint8_t* dst = blockPixels(st->cur, mbx, mby, b, &stride);
    idctPut(blk, dst, stride);
  }
  return 0;
}

// Stuffing to the next byte boundary followed by a resync marker of len bits.
bool resyncMarkerFollows(const BitReader& br, int len) {
  return br.validStuffing() && br.peekAligned(len) == 1;
}

namespace {

// Searches for the next resync marker from the next byte boundary: 0 found
// (the reader on it), 3 a VOP or GOV start code or the end of the data.
int findResyncMarker(BitReader& br, int len) {
  br.byteAlign();
  while (!br.atEnd()) {
    const uint32_t v = br.peek32();
    if ((v >> 8) == 1) {
      if (v == kVopStart || v == kGovStart || v == kSequenceEnd) return 3;
      br.skip(32);
      continue;
    }
    if ((v >> (32 - len)) == 1) return 0;
    br.skip(8);
  }
  return 3;
}

}  // namespace

// Video packet header with the reader on its resync marker. 0 read, with *mb
// the packet's first macroblock.
int readPacketHeader(VideoDecoderState* st, int len, int* mb) {
  VolInfo* vol = st->vol0;
  BitReader& br = vol->br;
  if (br.read(len) != 1) return 1;
  *mb = int(br.read(vol->mbNumberBits));
  const int qp = int(br.read(vol->quantPrecision));
  if (qp == 0) return 1;
  st->qp = qp;
  if (br.read1()) {  // header_extension_code: the repeated time and coding fields
    while (br.read1())
      if (br.overrun()) return 1;
    br.skip(1);
    br.skip(uint32_t(vol->timeIncrementBits));
    br.skip(1);
    const int type = int(br.read(2));
    br.skip(3);  // intra_dc_vlc_thr
    if (type != 0) br.skip(3);
    if (type == 2) br.skip(3);
  }
  return br.overrun() ? 1 : 0;
}

namespace {

// Group-of-blocks header at a row start. 0 read (*row the group's first
// macroblock row), 1 none here, 3 end of picture.
int readGobHeader(VideoDecoderState* st, int* row) {
  VolInfo* vol = st->vol0;
  BitReader& br = vol->br;
  if (br.peek(17) != 1) {
    // GSTUF: zero bits up to the byte boundary before the start code.
    const int n = int((8 - (br.position() & 7)) & 7);
    if (n == 0 || br.peek(n) != 0 || br.peekAligned(17) != 1) return 1;
    br.byteAlign();
  }
  const uint32_t start = br.position();
  br.skip(17);
  const int gn = int(br.read(5));
  if (gn == 0) {  // a picture start code follows
    br.setPosition(start);
    return 3;
  }
  if (gn == 31) {  // end of sequence
    br.byteAlign();
    return 3;
  }
  br.skip(2);  // GFID
  const int q = int(br.read(5));
  if (q == 0 || br.overrun()) return 1;
  st->qp = q;
  *row = gn;
  return 0;
}

// Searches for the next group header with a valid group number: 0 found
// (reader on it), 3 end.
int findGobHeader(VideoDecoderState* st) {
  BitReader& br = st->vol0->br;
  br.byteAlign();
  while (!br.atEnd()) {
    if (br.peek(17) == 1) {
      const int gn = int((br.peek32() >> 10) & 31);
      if (gn == 0 || gn == 31) return 3;
      if (gn < st->vol0->gobRows) return 0;
    }
    br.skip(8);
  }
  return 3;
}

}  // namespace

// After damage at macroblock failed (searching from bit position from): finds
// the next video packet or group of blocks and conceals up to it. Returns the
// macroblock to go on with, or -1 when the picture ends (the rest concealed).
int recover(VideoDecoderState* st, int failed, uint32_t from, int resyncLen, int rowsPerGob) {
  VolInfo* vol = st->vol0;
  BitReader& br = vol->br;
  const int n = vol->mbCount;
  br.setPosition(from);
  if (vol->shortHeader) {
    for (;;) {
      if (findGobHeader(st) != 0) break;
      const uint32_t at = br.position();
      int gob = 0;
      const int first = int((br.peek32() >> 10) & 31) * rowsPerGob * vol->mbCols;
      if (first >= failed && first < n && readGobHeader(st, &gob) == 0) {
        ++st->packet;
        concealMacroblocks(st, failed, first, st->packet);
        return first;
      }
      br.setPosition(at + 8);
    }
  } else if (!vol->resyncMarkerDisable) {
    for (;;) {
      if (findResyncMarker(br, resyncLen) != 0) break;
      const uint32_t at = br.position();
      int next = 0;
      if (readPacketHeader(st, resyncLen, &next) == 0 && next >= failed && next < n) {
        ++st->packet;
        concealMacroblocks(st, failed, next, st->packet);
        return next;
      }
      br.setPosition(at + 8);
    }
  } else {
    // Without markers the next synchronisation point is the next picture.
    findNextVopOrGov(br);
  }
  concealMacroblocks(st, failed, n, st->packet);
  return -1;
}

int nextPacket(VideoDecoderState* st, int mb, int resyncLen) {
  BitReader& br = st->vol0->br;
  const uint32_t at = br.position();
  br.nextStartCode();  // the stuffing before the marker
  int next = 0;
  if (readPacketHeader(st, resyncLen, &next) != 0) return recover(st, mb, at + 1, resyncLen, 1);
  // A number past the last macroblock (or behind) goes on in sequence.
  if (next >= st->vol0->mbCount || next < mb) next = mb;
  ++st->packet;
  concealMacroblocks(st, mb, next, st->packet);
  return next;
}

int startPicture(VideoDecoderState* st) {
  const int n = st->vol0->mbCount;
  const bool intraPicture = st->cur->vop_coding_type == 0;
  std::memset(st->mbKind, intraPicture ? MB_INTRA : MB_INTER, size_t(n));
  std::memset(st->mbPacket, 0, sizeof(uint16_t) * size_t(n));
  std::memset(st->mbAcPred, 0, size_t(n));
  std::memset(st->mbCbp, 0, size_t(n));
  std::memset(st->mvx, 0, sizeof(int16_t) * 4 * size_t(n));
  std::memset(st->mvy, 0, sizeof(int16_t) * 4 * size_t(n));
  st->qp = st->cur->quantiser;
  st->packet = 0;
  st->dcPreRead = false;
  st->nbMb = -1;
  return intraPicture ? 17 : 16 + st->cur->fcodeForward;
}

int decodeCombined(VideoDecoderState* st) {
  VolInfo* vol = st->vol0;
  BitReader& br = vol->br;
  DecodedFrame* cur = st->cur;
  const int n = vol->mbCount;
  if (cur->vop_coding_type > 1) return 1;

  const int resyncLen = startPicture(st);
  const int thr = kIntraDcSwitchQp[cur->intra_dc_vlc_thr & 7];
  const bool shortHeader = vol->shortHeader;
  const bool markers = !shortHeader && !vol->resyncMarkerDisable;
  const int cols = vol->mbCols;
  const int rowsPerGob = std::max(1, vol->mbRows / std::max(1, vol->gobRows));

  int mb = 0;
  while (mb < n) {
    // A group-of-blocks header may begin each group but the first.
    if (shortHeader && mb > 0 && mb % (cols * rowsPerGob) == 0) {
      const uint32_t at = br.position();
      int gob = 0;
      const int g = readGobHeader(st, &gob);
      if (g == 3) {
        concealMacroblocks(st, mb, n, st->packet);
        return 0;
      }
      if (g == 0) {
        const int first = gob * rowsPerGob * cols;
        if (first >= n || first < mb) {
          mb = recover(st, mb, at + 1, resyncLen, rowsPerGob);
          if (mb < 0) return 0;
          continue;
        }
        ++st->packet;
        concealMacroblocks(st, mb, first, st->packet);
        mb = first;
      }
    }
    const uint32_t mbStart = br.position();
    MacroblockHeader h;
    int r;
    do {
      r = readMacroblockHeader(st, &h);
    } while (r == 2 && !br.overrun());
    if (r == 0 && !br.overrun()) {
      st->mbPacket[mb] = uint16_t(st->packet);
      st->mbQuant[mb] = st->qp;
      // intra_dc_vlc_thr compares the running quantiser before this
      // macroblock's change.
      st->useDcVlc = h.prevQp < thr;
      st->mbKind[mb] = h.kind;
      st->mbCbp[mb] = uint8_t(h.cbp);
      if (h.kind == MB_NOT_CODED) {
        r = reconstructNotCoded(st, mb);
      } else if (mbIsIntra(h.kind)) {
        st->mbAcPred[mb] = h.acPred ? MB_AC_PRED : 0;
        setMacroblockVectors(st, mb, 0, 0);
        r = decodeIntraMacroblock(st, mb, h.cbp);
      } else {
        r = decodeInterMacroblock(st, mb, h);
      }
    }
    if (r != 0 || br.overrun()) {
      mb = recover(st, mb, mbStart + 1, resyncLen, rowsPerGob);
      if (mb < 0) return 0;
      continue;
    }
    ++mb;
    if (mb < n && markers && resyncMarkerFollows(br, resyncLen)) {
      mb = nextPacket(st, mb, resyncLen);
      if (mb < 0) return 0;
    }
  }
  return 0;
}

namespace {

int readMacroblockHeader(VideoDecoderState* st, MacroblockHeader* h) {
  VolInfo* vol = st->vol0;
  BitReader& br = vol->br;
  const bool intraPicture = st->cur->vop_coding_type == 0;
  h->prevQp = st->qp;
  h->acPred = false;
  h->cbp = 0;
  if (!intraPicture && br.read1()) {  // not_coded
    h->kind = MB_NOT_CODED;
    return 0;
  }
  int mcbpc;
  do {
    mcbpc = vlcRead(br, intraPicture ? kMcbpcIntra : kMcbpcInter);
    if (mcbpc == -1 && !intraPicture) return 2;  // stuffing: the macroblock starts again
  } while (mcbpc == -1 && !br.overrun());
  if (mcbpc < 0) return 1;
  const int type = mcbpc >> 2;
  static const uint8_t kKinds[5] = {MB_INTER, MB_INTER_Q, MB_INTER4V, MB_INTRA, MB_INTRA_Q};
  h->kind = kKinds[type];
  if (vol->shortHeader && h->kind == MB_INTER4V) return 1;
  const bool intra = mbIsIntra(h->kind);
  if (intra && !vol->shortHeader) h->acPred = br.read1();
  int cbpy = vlcRead(br, kCbpy);
  if (cbpy < 0) return 1;
  if (!intra) cbpy = 15 - cbpy;
  if (h->kind == MB_INTRA_Q || h->kind == MB_INTER_Q)
    st->qp = std::clamp(st->qp + kDquant[br.read(2)], 1, 31);
  h->cbp = (cbpy << 2) | (mcbpc & 3);
  return 0;
}

}  // namespace

int decodeVopData(VideoDecoderState* st, VolInfo* vol) {
  st->vol0 = vol;
  const bool matrix = vol->quantType == 1;
  const Coding k = vol->shortHeader   ? Coding::ShortHeader
                   : vol->reversibleVlc ? Coding::Reversible
                                        : Coding::Standard;
  st->intraBlock = chooseIntraBlock(k, matrix);
  st->interBlock = chooseInterBlock(k, matrix);
  const int r = vol->dataPartitioned && !vol->scalability && !vol->shortHeader
                    ? decodePartitioned(st)
                    : decodeCombined(st);

  BitReader& br = vol->br;
  if (vol->shortHeader) {
    if (br.peek(22) == kShortHeaderEnd) {
      br.skip(22);
    } else if (br.peekAligned(22) == kShortHeaderEnd && br.peek(8 - (br.position() & 7)) == 0) {
      br.nextStartCode();
      br.skip(22);
    }
  } else if (r != 1) {
    if (!(br.aligned() && br.peek(24) == 1)) br.nextStartCode();
    if (br.peek32() == kSequenceEnd) br.skip(32);
  }
  return r;
}

}  // namespace vdec
