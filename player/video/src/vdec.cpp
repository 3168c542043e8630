// The decoder's interface: creation, per-picture driving, queries.
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "vdec_internal.h"
#include "video/postfilter.h"

using namespace vdec;

namespace {

template <typename T>
T* allocate(VideoDecoderState* st, size_t count, bool& ok) {
  if (!ok) return nullptr;
  T* p = static_cast<T*>(std::calloc(count, sizeof(T)));
  if (!p) {
    ok = false;
    return nullptr;
  }
  st->memoryUsed += count * sizeof(T);
  return p;
}

DecodedFrame* newFrame(VideoDecoderState* st, bool& ok) {
  DecodedFrame* f = allocate<DecodedFrame>(st, 1, ok);
  if (f) f->timestamp = -1;
  return f;
}

void setPlanes(DecodedFrame* f, uint8_t* y, int width, int height) {
  f->y = y;
  f->u = y ? y + width * height : nullptr;
  f->v = y ? f->u + width * height / 4 : nullptr;
  f->width = width;
  f->height = height;
}

bool allocPicture(VideoDecoderState* st, DecodedFrame* f, bool& ok) {
  const size_t bytes = size_t(st->allocWidth) * st->allocHeight * 3 / 2;
  uint8_t* y = allocate<uint8_t>(st, bytes, ok);
  if (!y) return false;
  setPlanes(f, y, st->allocWidth, st->allocHeight);
  return true;
}

// Black: luma 16, chroma 128.
void fillBlack(DecodedFrame* f) {
  const size_t luma = size_t(f->width) * f->height;
  std::memset(f->y, 16, luma);
  std::memset(f->u, 128, luma / 2);
}

void freeState(VideoDecoderState* st) {
  if (!st) return;
  for (int i = 0; i < VDEC_MAX_LAYERS; ++i) {
    delete st->vol[i];
    std::free(st->input[i]);
  }
  for (DecodedFrame* f : {st->cur, st->ref, st->enh}) {
    if (f) std::free(f->y);
    std::free(f);
  }
  std::free(st->mbKind);
  std::free(st->mbCbp);
  std::free(st->mbAcPred);
  std::free(st->mbPacket);
  std::free(st->mbDc);
  std::free(st->mbQuant);
  std::free(st->mvx);
  std::free(st->mvy);
  for (int i = 0; i < 2; ++i) {
    std::free(st->blockFlags[i]);
    std::free(st->deringBuf[i]);
  }
  std::free(st->pred);
  std::free(st->blocks);
  delete st;
}

// A caller-given timestamp re-anchors the layer's stream time.
void anchorTime(VolInfo* vol, const DecodedFrame* f, int32_t t) {
  if (vol->shortHeader) {
    const int64_t r = int64_t(t) + 17;
    vol->tickCount = (r / 1001) * 30 + (r % 1001) * 30 / 1001;
  } else {
    vol->baseIncrement = f->vop_time_increment;
    vol->baseMs = t;
  }
}

// Parses the picture header at the front of a layer's input, searching on
// to the next picture start when it fails. 0 parsed, 3 end of data.
int parsePictureHeader(VideoDecoderState* st, int layer) {
  VolInfo* vol = st->vol[layer];
  DecodedFrame* f = st->input[layer];
  BitReader& br = vol->br;
  for (;;) {
    const uint32_t start = br.position();
    const int r = vol->shortHeader ? decodeShortHeader(st, vol, f)
                                   : decodeVopHeader(st, vol, f, false);
    if (r == 0 && !br.overrun()) {
      st->inputParsed[layer] = true;
      st->parsedBuf[layer] = br.buf;
      st->parsedSize[layer] = int32_t(br.size);
      return 0;
    }
    // The searches step back 8 bits first; this keeps them past the start
    // code that failed.
    br.setPosition(start + 16);
    const int s = vol->shortHeader ? findNextPictureStart(br) : findNextVopOrGov(br);
    if (s != 0) return 3;
  }
}

void consumeInput(VolInfo* vol, uint8_t* input, int32_t* size) {
  // Whole bytes read; a picture that ends on a byte boundary leaves the next
  // start code untouched.
  const uint32_t used = (vol->br.position() + 7) / 8;
  if (used < uint32_t(*size)) {
    std::memmove(input, input + used, size_t(*size) - used);
    *size -= int32_t(used);
  } else {
    *size = 0;
  }
}

// Copies a picture of the coded size into a caller's buffer at display size.
void cropInto(const DecodedFrame* f, int dw, int dh, uint8_t* out) {
  const int w = f->width;
  for (int y = 0; y < dh; ++y) std::memcpy(out + size_t(y) * dw, f->y + size_t(y) * w, dw);
  uint8_t* ou = out + size_t(dw) * dh;
  uint8_t* ov = ou + size_t(dw / 2) * (dh / 2);
  for (int y = 0; y < dh / 2; ++y) {
    std::memcpy(ou + size_t(y) * (dw / 2), f->u + size_t(y) * (w / 2), dw / 2);
    std::memcpy(ov + size_t(y) * (dw / 2), f->v + size_t(y) * (w / 2), dw / 2);
  }
}

// The post-filter works on a copy so that the reference stays unfiltered.
void filterPicture(VideoDecoderState* st, const DecodedFrame* src, uint8_t* dst) {
  PostFilterInput in{{src->y, src->u, src->v}, src->width, src->height, st->mbQuant,
                     st->blockFlags};
  vdec_postfilter(in, dst, st->postFilter);
}

int failCreate(VideoDecoder* dec, VideoDecoderState* st, int32_t error) {
  freeState(st);
  dec->state = nullptr;
  dec->error = error;
  return 0;
}

}  // namespace

int vdec_create(VideoDecoder* dec, const uint8_t* const* config, const int32_t* sizes,
                int layerCount) {
  if (!dec) return 0;
  std::memset(dec, 0, sizeof *dec);
  if (layerCount < 1 || layerCount > VDEC_MAX_LAYERS || !sizes) {
    dec->error = VDEC_ERROR_ARGUMENT;
    return 0;
  }
  const bool shortHeader = !config || !config[0];
  dec->layerCount = layerCount;
  for (int i = 0; i < layerCount; ++i) {
    dec->config[i] = shortHeader ? nullptr : config[i];
    dec->configSize[i] = shortHeader ? 0 : sizes[i];
  }

  VideoDecoderState* st = new (std::nothrow) VideoDecoderState;
  if (!st) return failCreate(dec, nullptr, VDEC_ERROR_NO_MEMORY);
  st->memoryUsed = sizeof *st;
  st->layerCount = layerCount;
  bool ok = true;
  st->cur = newFrame(st, ok);
  st->ref = newFrame(st, ok);
  if (!ok) return failCreate(dec, st, VDEC_ERROR_NO_MEMORY);

  for (int i = 0; i < layerCount; ++i) {
    st->input[i] = newFrame(st, ok);
    st->vol[i] = new (std::nothrow) VolInfo;
    if (!ok || !st->vol[i]) return failCreate(dec, st, VDEC_ERROR_NO_MEMORY);
    st->memoryUsed += sizeof(VolInfo);
    VolInfo* vol = st->vol[i];
    vol->br.init(i);
    if (!shortHeader) {
      if (!config[i] || sizes[i] < 1) return failCreate(dec, st, VDEC_ERROR_ARGUMENT);
      vol->br.bind(config[i], uint32_t(sizes[i]));
      if (decodeVolHeader(vol) != 0 || vol->br.overrun())
        return failCreate(dec, st, VDEC_ERROR_HEADER);
      if (vol->shortHeader) return failCreate(dec, st, VDEC_ERROR_HEADER);
    } else {
      const int w = sizes[0], h = sizes[1];
      if (w < 16 || h < 16 || w % 16 || h % 16) return failCreate(dec, st, VDEC_ERROR_ARGUMENT);
      if (w > VDEC_MAX_WIDTH || h > VDEC_MAX_HEIGHT)
        return failCreate(dec, st, VDEC_ERROR_TOO_LARGE);
      vol->shortHeader = true;
      vol->codedWidth = vol->displayWidth = w;
      vol->codedHeight = vol->displayHeight = h;
      vol->quantType = 0;
      vol->quantPrecision = 5;
      vol->resyncMarkerDisable = false;
      vol->scalability = false;
      setMacroblockGrid(vol);
    }
    if (vol->displayWidth > VDEC_MAX_WIDTH || vol->displayHeight > VDEC_MAX_HEIGHT)
      return failCreate(dec, st, VDEC_ERROR_TOO_LARGE);
    // Every frame buffer is made for the first layer; a layer of another
    // coded size would not fit them.
    if (i > 0 && (vol->codedWidth != st->vol[0]->codedWidth ||
                  vol->codedHeight != st->vol[0]->codedHeight))
      return failCreate(dec, st, VDEC_ERROR_LAYER_SIZE);
  }

  const VolInfo* first = st->vol[0];
  st->allocWidth = first->codedWidth;
  st->allocHeight = first->codedHeight;
  st->mbCols = first->mbCols;
  st->mbRows = first->mbRows;
  st->mbCount = first->mbCount;
  const size_t n = size_t(st->mbCount);
  allocPicture(st, st->cur, ok);
  allocPicture(st, st->ref, ok);
  if (layerCount > 1) {
    st->enh = newFrame(st, ok);
    if (st->enh) allocPicture(st, st->enh, ok);
  }
  st->mbKind = allocate<uint8_t>(st, n, ok);
  st->mbCbp = allocate<uint8_t>(st, n, ok);
  st->mbAcPred = allocate<uint8_t>(st, n, ok);
  st->mbPacket = allocate<uint16_t>(st, n, ok);
  st->mbDc = allocate<int16_t>(st, 6 * n, ok);
  st->mbQuant = allocate<int32_t>(st, n, ok);
  st->mvx = allocate<int16_t>(st, 4 * n, ok);
  st->mvy = allocate<int16_t>(st, 4 * n, ok);
  st->blockFlags[0] = allocate<uint8_t>(st, 6 * n, ok);
  st->blockFlags[1] = allocate<uint8_t>(st, 6 * n, ok);
  st->pred = allocate<PredStore>(st, 6 * n, ok);
  st->blocks = allocate<BlockCoefs>(st, 6, ok);
  if (!ok) return failCreate(dec, st, VDEC_ERROR_NO_MEMORY);

  // Every frame starts black, so that predicted pictures before the first
  // intra picture (and enhancement pictures before the first of their layer)
  // show black rather than a green picture of zeros.
  fillBlack(st->cur);
  fillBlack(st->ref);
  if (st->enh) fillBlack(st->enh);
  st->ref->timestamp = -1;
  if (st->enh) st->enh->timestamp = -1;
  st->lastIntra = 0;
  st->lastLayer = 0;
  st->decodeCounter = -1;
  dec->state = st;
  dec->error = VDEC_OK;
  return 1;
}

int vdec_create_single(VideoDecoder* dec, int width, int height) {
  const int32_t sizes[2] = {width, height};
  return vdec_create(dec, nullptr, sizes, 1);
}

int vdec_create_get_size(VideoDecoder* dec, const uint8_t* config, int32_t size, int* width,
                         int* height) {
  const uint8_t* configs[1] = {config};
  const int32_t sizes[1] = {size};
  if (!config || !vdec_create(dec, configs, sizes, 1)) return 0;
  if (width) *width = vdec_get_width(dec);
  if (height) *height = vdec_get_height(dec);
  return 1;
}

int vdec_destroy(VideoDecoder* dec) {
  if (!dec) return 1;
  freeState(dec->state);
  dec->state = nullptr;
  return 1;
}

int vdec_reset(VideoDecoder* dec) {
  if (!dec || !dec->state) return 0;
  VideoDecoderState* st = dec->state;
  for (int i = 0; i < st->layerCount; ++i) {
    st->input[i]->timestamp = -1;
    st->inputParsed[i] = false;
  }
  st->ref->timestamp = -1;
  if (st->enh) st->enh->timestamp = -1;
  return 1;
}

int vdec_decode_frame(VideoDecoder* dec, uint8_t* const* input, int32_t* timestamps,
                      int32_t* sizes, uint8_t* output) {
  if (!dec || !dec->state || !input || !timestamps || !sizes) return 0;
  VideoDecoderState* st = dec->state;
  int layer = 0;
  bool headerFromCaller = false;  // header still to parse, anchored to the caller's time

  if (st->layerCount == 1) {
    if (sizes[0] < 1 || !input[0]) return 0;
    st->vol[0]->br.bind(input[0], uint32_t(sizes[0]));
    st->inputParsed[0] = false;
    if (parsePictureHeader(st, 0) != 0) {
      sizes[0] = 0;
      return 0;
    }
    DecodedFrame* f = st->input[0];
    if (timestamps[0] < 0) {
      f->timestamp = streamTimestamp(st->vol[0], f);
    } else {
      f->timestamp = timestamps[0];
      anchorTime(st->vol[0], f, timestamps[0]);
    }
  } else {
    int best = -1;
    for (int i = 0; i < st->layerCount; ++i) {
      if (sizes[i] < 1 || !input[i]) {
        timestamps[i] = -1;
        st->inputParsed[i] = false;
        continue;
      }
      if (st->parsedBuf[i] != input[i] || st->parsedSize[i] != sizes[i]) st->inputParsed[i] = false;
      if (timestamps[i] < 0) {
        if (!st->inputParsed[i]) {
          st->vol[i]->br.bind(input[i], uint32_t(sizes[i]));
          if (parsePictureHeader(st, i) != 0) {
            sizes[i] = 0;
            timestamps[i] = -1;
            continue;
          }
          st->input[i]->timestamp = streamTimestamp(st->vol[i], st->input[i]);
        }
        timestamps[i] = st->input[i]->timestamp;
      }
      if (timestamps[i] >= 0 && (best < 0 || timestamps[i] < timestamps[best])) best = i;
    }
    if (best < 0) return 0;
    layer = best;
    if (!st->inputParsed[layer]) {
      headerFromCaller = true;
      st->vol[layer]->br.bind(input[layer], uint32_t(sizes[layer]));
      if (parsePictureHeader(st, layer) != 0) {
        sizes[layer] = 0;
        return 0;
      }
    }
    DecodedFrame* f = st->input[layer];
    if (headerFromCaller) {
      f->timestamp = timestamps[layer];
      anchorTime(st->vol[layer], f, timestamps[layer]);
    }
  }

  VolInfo* vol = st->vol[layer];
  DecodedFrame* in = st->input[layer];
  st->inputParsed[layer] = false;

  // The header fields move into the current frame; the planes stay.
  DecodedFrame* cur = st->cur;
  uint8_t* y = cur->y;
  *cur = *in;
  setPlanes(cur, y, vol->codedWidth, vol->codedHeight);
  cur->layerId = layer;
  in->timestamp = -1;
  st->lastTimestamp = cur->timestamp;
  st->lastLayer = layer;

  if (!cur->vop_coded) {
    consumeInput(vol, input[layer], &sizes[layer]);
    return 1;
  }
  // Bidirectional pictures are not part of simple profile: they are consumed
  // without output and never become a reference.
  if (cur->vop_coding_type > 1) {
    findNextVopOrGov(vol->br);
    consumeInput(vol, input[layer], &sizes[layer]);
    return 0;
  }

  cur->decodeNumber = ++st->decodeCounter;
  st->predFrom = st->ref;
  if (st->layerCount > 1 && cur->vop_coding_type == 1 && st->enh) {
    if (cur->ref_select_code == 0 && st->enh->timestamp >= st->ref->timestamp)
      st->predFrom = st->enh;
    else if (cur->ref_select_code == 1 && layer > 0 && st->enh->timestamp > st->ref->timestamp)
      st->predFrom = st->enh;
  }
  // A short-header picture may have shrunk the coded size; the reference
  // planes follow it.
  if (st->predFrom->width != vol->codedWidth || st->predFrom->height != vol->codedHeight) {
    DecodedFrame* p = const_cast<DecodedFrame*>(st->predFrom);
    setPlanes(p, p->y, vol->codedWidth, vol->codedHeight);
  }

  decodeVopData(st, vol);

  // Rate counters over the last three pictures.
  const int slot = cur->decodeNumber % 3;
  st->rateBits[slot] = vol->br.position();
  st->rateTime[slot] = cur->timestamp;
  const int32_t span = cur->timestamp - st->rateTime[(cur->decodeNumber + 1) % 3];
  if (span > 0) st->frameRate = 20000 / span;
  st->bitRate = int((int64_t(st->rateBits[0]) + st->rateBits[1] + st->rateBits[2]) *
                    st->frameRate / 30);

  consumeInput(vol, input[layer], &sizes[layer]);

  // Output.
  const int dw = vol->displayWidth, dh = vol->displayHeight;
  const int cw = vol->codedWidth, ch = vol->codedHeight;
  DecodedFrame* outFrame = cur;
  if (st->postFilter) {
    DecodedFrame* copy = layer == 0 ? st->ref : st->enh;
    if (output && dw == cw && dh == ch) {
      filterPicture(st, cur, output);
      dec->outputPicture = output;
      outFrame = nullptr;
    } else {
      setPlanes(copy, copy->y, cw, ch);
      filterPicture(st, cur, copy->y);
      outFrame = copy;
      dec->outputPicture = copy->y;
    }
  } else {
    dec->outputPicture = cur->y;
  }
  if (output && outFrame) {
    if (dw != cw || dh != ch) {
      cropInto(outFrame, dw, dh, output);
      dec->outputPicture = output;
    } else {
      std::memcpy(output, outFrame->y, size_t(cw) * ch * 3 / 2);
    }
  }

  st->lastIntra = cur->vop_coding_type == 0;
  if (layer == 0) {
    st->cur = st->ref;
    st->ref = cur;
  } else {
    st->cur = st->enh;
    st->enh = cur;
  }
  return 1;
}

int vdec_decode(VideoDecoder* dec, ...) {
  va_list ap;
  va_start(ap, dec);
  uint8_t* const* input = va_arg(ap, uint8_t* const*);
  int32_t* timestamps = va_arg(ap, int32_t*);
  int32_t* sizes = va_arg(ap, int32_t*);
  uint8_t* output = va_arg(ap, uint8_t*);
  va_end(ap);
  return vdec_decode_frame(dec, input, timestamps, sizes, output);
}

int vdec_decode_once(VideoDecoder* dec, uint8_t* const* input, int32_t* sizes, uint8_t* output) {
  if (!dec || !dec->state) return 0;
  int32_t times[VDEC_MAX_LAYERS] = {-1, -1, -1, -1};
  const int r = vdec_decode_frame(dec, input, times, sizes, output);
  vdec_destroy(dec);
  return r;
}

int vdec_get_width(const VideoDecoder* dec) {
  if (!dec || !dec->state) return 0;
  return dec->state->vol[dec->state->lastLayer]->displayWidth;
}

int vdec_get_height(const VideoDecoder* dec) {
  if (!dec || !dec->state) return 0;
  return dec->state->vol[dec->state->lastLayer]->displayHeight;
}

int vdec_get_timestamp(const VideoDecoder* dec) {
  return dec && dec->state ? dec->state->lastTimestamp : -1;
}

int vdec_get_current_layer(const VideoDecoder* dec) {
  return dec && dec->state ? dec->state->lastLayer : 0;
}

uint8_t* vdec_get_output_frame(const VideoDecoder* dec) { return dec ? dec->outputPicture : nullptr; }

int vdec_is_intra(const VideoDecoder* dec) {
  return dec && dec->state ? dec->state->lastIntra : 0;
}

int vdec_set_postfilter(VideoDecoder* dec, int flags) {
  if (!dec || !dec->state) return 0;
  VideoDecoderState* st = dec->state;
  st->postFilter = flags & 3;
  if (flags & VDEC_POSTFILTER_DERING) {
    const size_t n = size_t(st->mbCount) * 6;
    for (int i = 0; i < 2; ++i) {
      if (st->deringBuf[i]) continue;
      st->deringBuf[i] = static_cast<uint8_t*>(std::calloc(n, 1));
      if (!st->deringBuf[i]) return 0;
      st->memoryUsed += n;
    }
  }
  return 1;
}

int vdec_set_postfilter_mode(VideoDecoder* dec, int flags) {
  if (!dec || !dec->state) return 0;
  dec->state->postFilter = flags & 3;
  return 1;
}

int vdec_get_frame_rate(const VideoDecoder* dec) {
  return dec && dec->state ? dec->state->frameRate : 0;
}

int vdec_get_bitrate(const VideoDecoder* dec) { return dec && dec->state ? dec->state->bitRate : 0; }

int vdec_get_memory_used(const VideoDecoder* dec) {
  return dec && dec->state ? int(dec->state->memoryUsed) : 0;
}

int vdec_get_mode(const VideoDecoder* dec) {
  if (!dec || !dec->state) return 0;
  const VolInfo* vol = dec->state->vol[0];
  if (vol->shortHeader) return VDEC_MODE_SHORT_HEADER;
  if (vol->dataPartitioned) return VDEC_MODE_DATA_PARTITIONED;
  return vol->resyncMarkerDisable ? VDEC_MODE_NO_RESYNC : VDEC_MODE_RESYNC;
}

int vdec_probe_size(const uint8_t* data, int32_t size, int* width, int* height) {
  if (!data || size < 1) return 0;
  VolInfo vol;
  vol.br.bind(data, uint32_t(size));
  if (decodeVolHeader(&vol) != 0 || vol.br.overrun()) return 0;
  if (!vol.shortHeader) {
    if (width) *width = vol.codedWidth;
    if (height) *height = vol.codedHeight;
    return 2;
  }
  // Short header: the first picture header tells the source format.
  VideoDecoderState st;
  vol.codedWidth = 1408;
  vol.codedHeight = 1152;
  vol.br.bind(data, uint32_t(size));
  DecodedFrame f = {};
  if (decodeShortHeader(&st, &vol, &f) != 0) return 0;
  if (width) *width = vol.displayWidth;
  if (height) *height = vol.displayHeight;
  return 1;
}

int vdec_frame_type(const uint8_t* data, int32_t length) {
  if (!data || length < 4 || data[0] || data[1] || data[2] != 1) return 3;
  if (data[3] == 0xB3) return 0;
  if (data[3] == 0xB6 && length >= 5) return data[4] >> 6;
  return 3;
}

int vdec_find_vop_start(const uint8_t* data, int32_t length) {
  if (!data) return -1;
  for (int32_t i = 0; i < length - 4; ++i)
    if (!data[i] && !data[i + 1] && data[i + 2] == 1 && (data[i + 3] == 0xB6 || data[i + 3] == 0xB3))
      return i;
  return -1;
}

int vdec_find_picture_start(const uint8_t* data, int32_t length) {
  if (!data) return -1;
  for (int32_t i = 0; i < length - 4; ++i)
    if (!data[i] && !data[i + 1] && (data[i + 2] & 0xFC) == 0x80) return i;
  return -1;
}

int vdec_parse_config(const uint8_t* data, uint8_t* out, int32_t* size) {
  if (!data || !out || !size || *size < 4) return 0;
  const int32_t n = *size;
  if (!data[0] && !data[1] && (data[2] & 0xFC) == 0x80) {
    const int32_t len = n < 32 ? n : 32;
    std::memcpy(out, data, size_t(len));
    *size = len;
    return 1;
  }
  if (data[0] || data[1] || data[2] != 1 || !(data[3] == 0xB0 || data[3] <= 0x1F)) return 0;
  const int off = vdec_find_vop_start(data, n);
  if (off < 0) {
    std::memcpy(out, data, size_t(n));
    return 0;
  }
  std::memcpy(out, data, size_t(off));
  *size = off;
  return 1;
}
