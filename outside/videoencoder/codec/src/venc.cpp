// Interface: creation, configuration headers, pictures, rate control.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "venc_internal.h"

using venc::BitWriter;

namespace {

void fail(VideoEncoder* enc, VencError e) { enc->error = e; }

// Input at display size into the coded-size frame, the last column and row
// repeated into the padding so that the edge blocks code cheaply.
void loadPicture(VideoEncoderState* st, const VencPicture* in) {
  const int w = st->s.width, h = st->s.height;
  auto copy = [](const venc::Plane& dst, const uint8_t* src, int stride, int w, int h) {
    for (int r = 0; r < dst.h; ++r) {
      const uint8_t* s = src + size_t(std::min(r, h - 1)) * stride;
      uint8_t* d = dst.p + size_t(r) * dst.stride;
      std::memcpy(d, s, size_t(w));
      std::memset(d + w, s[w - 1], size_t(dst.w - w));
    }
  };
  copy(st->cur.y, in->y, in->strideY, w, h);
  copy(st->cur.u, in->u, in->strideC, w / 2, h / 2);
  copy(st->cur.v, in->v, in->strideC, w / 2, h / 2);
}

// A picture's quantiser from the last one's bits against the plan: the bits
// a picture takes go roughly inversely with the quantiser; the virtual
// buffer (half a second unless set) drains its surplus over its length.
void updateRate(VideoEncoderState* st, int bits, bool intra) {
  if (st->s.bitRate <= 0) return;
  const double perFrame = st->s.bitRate / double(std::max(st->s.frameRate, 1.0f));
  st->fullness += bits - perFrame;
  const double seconds = st->s.bufferMs / 1000.0;
  const double bufferSize = st->s.bitRate * seconds;
  st->fullness = std::clamp(st->fullness, -bufferSize, 4 * bufferSize);
  if (intra) return;  // an intra picture's size says little about the next ones
  const double drainFrames = std::max(double(st->s.frameRate) * seconds, 1.0);
  const double target = std::max(perFrame - st->fullness / drainFrames, perFrame / 4);
  double q = st->qp * std::sqrt(bits / target);
  int next = int(std::lround(q));
  next = std::clamp(next, st->qp - 2, st->qp + 2);
  st->qp = std::clamp(next, 2, 31);
}

}  // namespace

int venc_create(VideoEncoder* enc, const VencSettings* settings) {
  if (!enc) return 0;
  enc->state = nullptr;
  enc->error = VENC_OK;
  if (!settings || settings->width < VENC_MIN_SIZE || settings->height < VENC_MIN_SIZE ||
      settings->width > VENC_MAX_SIZE || settings->height > VENC_MAX_SIZE ||
      (settings->width & 1) || (settings->height & 1) || settings->bitRate < 0) {
    fail(enc, VENC_ERROR_ARGUMENT);
    return 0;
  }
  auto* st = new (std::nothrow) VideoEncoderState;
  if (!st) {
    fail(enc, VENC_ERROR_NO_MEMORY);
    return 0;
  }
  st->s = *settings;
  st->s.quantiser = std::clamp(st->s.quantiser ? st->s.quantiser : 8, 1, 31);
  st->s.searchRange = std::clamp(st->s.searchRange ? st->s.searchRange : 15, 1, 31);
  if (!(st->s.frameRate > 0 && st->s.frameRate < 1000)) st->s.frameRate = 15;
  st->s.bufferMs = std::clamp(st->s.bufferMs ? st->s.bufferMs : 500, 100, 10000);
  st->qp = st->s.quantiser;
  st->fcode = st->s.searchRange > 15 ? 2 : 1;
  st->codedW = (settings->width + 15) & ~15;
  st->codedH = (settings->height + 15) & ~15;
  st->mbCols = st->codedW / 16;
  st->mbRows = st->codedH / 16;
  st->mbCount = st->mbCols * st->mbRows;
  // Worst case per macroblock: headers and vector, six blocks of 64
  // fixed-length escapes (30 bits) and their DC.
  st->maxFrameBytes = st->mbCount * 1500 + 64;

  const size_t lumaSize = size_t(st->codedW) * st->codedH;
  const size_t frameSize = lumaSize * 3 / 2;
  st->frameMemory = new (std::nothrow) uint8_t[3 * frameSize];
  st->work = new (std::nothrow) uint8_t[size_t(st->maxFrameBytes)];
  st->mvx = new (std::nothrow) int16_t[size_t(st->mbCount)];
  st->mvy = new (std::nothrow) int16_t[size_t(st->mbCount)];
  st->intra = new (std::nothrow) uint8_t[size_t(st->mbCount)];
  st->dcLuma = new (std::nothrow) int16_t[size_t(st->mbCount) * 6];
  if (!st->frameMemory || !st->work || !st->mvx || !st->mvy || !st->intra || !st->dcLuma) {
    enc->state = st;
    venc_destroy(enc);
    fail(enc, VENC_ERROR_NO_MEMORY);
    return 0;
  }
  std::memset(st->frameMemory, 0, 3 * frameSize);
  st->dcCb = st->dcLuma + size_t(st->mbCount) * 4;
  st->dcCr = st->dcCb + st->mbCount;
  venc::Frame* frames[3] = {&st->cur, &st->recon, &st->ref};
  for (int i = 0; i < 3; ++i) {
    uint8_t* base = st->frameMemory + i * frameSize;
    frames[i]->y = {base, st->codedW, st->codedW, st->codedH};
    frames[i]->u = {base + lumaSize, st->codedW / 2, st->codedW / 2, st->codedH / 2};
    frames[i]->v = {base + lumaSize * 5 / 4, st->codedW / 2, st->codedW / 2, st->codedH / 2};
  }
  enc->state = st;
  return 1;
}

void venc_destroy(VideoEncoder* enc) {
  if (!enc || !enc->state) return;
  VideoEncoderState* st = enc->state;
  delete[] st->frameMemory;
  delete[] st->work;
  delete[] st->mvx;
  delete[] st->mvy;
  delete[] st->intra;
  delete[] st->dcLuma;
  delete st;
  enc->state = nullptr;
}

int venc_config(const VideoEncoder* enc, uint8_t* out, int32_t cap) {
  if (!enc || !enc->state || !out) return 0;
  const VideoEncoderState* st = enc->state;
  uint8_t buf[64];
  BitWriter bw;
  bw.reset(buf, sizeof buf);
  // Simple profile: level 1 carries up to 99 macroblocks, level 3 up to 396.
  bw.put(0x000001B0, 32);
  bw.put(st->mbCount <= 99 ? 0x01 : 0x03, 8);
  bw.put(0x000001B5, 32);
  bw.put(0, 1);  // is_visual_object_identifier
  bw.put(1, 4);  // video object
  bw.put(0, 1);  // video_signal_type
  bw.stuff();
  bw.put(0x00000100, 32);  // video object 0
  bw.put(0x00000120, 32);  // its layer 0
  bw.put(0, 1);            // random_accessible_vol
  bw.put(1, 8);            // simple object
  bw.put(0, 1);            // is_object_layer_identifier
  bw.put(1, 4);            // square pixels
  bw.put(1, 1);            // vol_control_parameters
  bw.put(1, 2);            // chroma 4:2:0
  bw.put(1, 1);            // low_delay: no B pictures
  bw.put(0, 1);            // vbv_parameters
  bw.put(0, 2);            // rectangular
  bw.put(1, 1);
  bw.put(1000, 16);  // vop_time_increment_resolution: milliseconds
  bw.put(1, 1);
  bw.put(0, 1);  // fixed_vop_rate
  bw.put(1, 1);
  bw.put(uint32_t(st->s.width), 13);
  bw.put(1, 1);
  bw.put(uint32_t(st->s.height), 13);
  bw.put(1, 1);
  bw.put(0, 1);  // interlaced
  bw.put(1, 1);  // obmc_disable
  bw.put(0, 1);  // sprite_enable
  bw.put(0, 1);  // not_8_bit
  bw.put(0, 1);  // quant_type: H.263
  bw.put(1, 1);  // complexity_estimation_disable
  bw.put(1, 1);  // resync_marker_disable
  bw.put(0, 1);  // data_partitioned
  bw.put(0, 1);  // scalability
  bw.stuff();
  const int n = int(bw.pos);
  static_assert(VENC_MAX_CONFIG <= 64);
  if (n > cap || n > VENC_MAX_CONFIG) return 0;
  std::memcpy(out, buf, size_t(n));
  return n;
}

int32_t venc_max_frame_bytes(const VideoEncoder* enc) {
  return enc && enc->state ? enc->state->maxFrameBytes : 0;
}

int venc_encode(VideoEncoder* enc, const VencPicture* picture, uint32_t timeMs, int forceIntra,
                uint8_t* out, int32_t cap, VencFrameInfo* info) {
  if (!enc || !enc->state) return 0;
  VideoEncoderState* st = enc->state;
  if (!picture || !picture->y || !picture->u || !picture->v || !out ||
      picture->strideY < st->s.width || picture->strideC < st->s.width / 2) {
    fail(enc, VENC_ERROR_ARGUMENT);
    return 0;
  }
  if (cap < st->maxFrameBytes) {
    fail(enc, VENC_ERROR_BUFFER);
    return 0;
  }
  // Times count from the first picture; one that goes back is held.
  if (!st->haveTime) {
    st->haveTime = true;
    st->originMs = timeMs;
    st->lastTime = 0;
  }
  uint32_t t = timeMs - st->originMs;
  if (int32_t(t - st->lastTime) < 0) t = st->lastTime;
  st->lastTime = t;

  const int interval = st->s.intraInterval;
  const bool intra = st->frames == 0 || forceIntra || (interval > 0 && st->sinceIntra >= interval);
  loadPicture(st, picture);
  BitWriter bw;
  bw.reset(st->work, size_t(st->maxFrameBytes));
  VencFrameInfo local{};
  VencFrameInfo* fi = info ? info : &local;
  venc::encodePicture(st, bw, intra, t, fi);
  std::swap(st->recon, st->ref);
  const int bytes = int(bw.pos);
  std::memcpy(out, st->work, size_t(bytes));
  fi->bytes = bytes;
  fi->timeMs = t;
  ++st->frames;
  st->sinceIntra = intra ? 1 : st->sinceIntra + 1;
  updateRate(st, bytes * 8, intra);
  return bytes;
}

const uint8_t* venc_reconstruction(const VideoEncoder* enc, int* codedWidth, int* codedHeight) {
  if (!enc || !enc->state) return nullptr;
  if (codedWidth) *codedWidth = enc->state->codedW;
  if (codedHeight) *codedHeight = enc->state->codedH;
  return enc->state->ref.y.p;  // the last picture became the reference
}

int venc_set_bit_rate(VideoEncoder* enc, int32_t bitRate, float frameRate) {
  if (!enc || !enc->state || bitRate < 0) return 0;
  enc->state->s.bitRate = bitRate;
  if (frameRate > 0 && frameRate < 1000) enc->state->s.frameRate = frameRate;
  enc->state->fullness = 0;
  return 1;
}

int venc_set_intra_interval(VideoEncoder* enc, int32_t interval) {
  if (!enc || !enc->state) return 0;
  enc->state->s.intraInterval = interval;
  return 1;
}
