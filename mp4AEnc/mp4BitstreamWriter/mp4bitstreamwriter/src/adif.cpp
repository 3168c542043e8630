#include "writer.h"

namespace {

const char kModule[] = "mp4AEnc/mp4BitstreamWriter/mp4bitstreamwriter/src/adif";

}  // namespace

ErrorRecord* adif_open(Mp4BitstreamWriter* w, const Mp4BitstreamSetup* s) {
  if (!w->hasMap) return error_create(kModule, __LINE__, nullptr, "null pointer");
  w->variableRate = s->variableRate != 0;
  w->copyright = s->copyrightId != nullptr;
  if (w->copyright)
    for (int i = 0; i < 9; ++i) w->copyrightId[i] = s->copyrightId[i];
  // Each layer's program configuration must be buildable now, not at the
  // first frame.
  for (int l = 0; l < w->layerCount; ++l) {
    if (!w->hasHeader[l]) continue;
    ProgramConfig pce = {};
    ErrorRecord* err = pce_by_configuration(&pce, &w->map, w->map.header.configuration);
    if (err) return error_add_trace(kModule, __LINE__, "adif_open", err);
  }
  return nullptr;
}

// The header before the first frame, then the frames as they are.
ErrorRecord* adif_write(Mp4BitstreamWriter* w, BitBuffer* layers[kMp4Layers], uint8_t* out, uint32_t capacity,
                        uint32_t* bytes) {
  BitBuffer* in = layers[0];
  if (!in) return nullptr;
  BitBuffer* o = w->out;
  bitbuf_reset(o);
  if (!w->adifHeaderDone) {
    bitbuf_write_bits(o, 0x41444946, 32);  // "ADIF"
    bitbuf_write_bits(o, w->copyright ? 1 : 0, 1);
    if (w->copyright)
      for (int i = 0; i < 9; ++i) bitbuf_write_bits(o, w->copyrightId[i], 8);
    bitbuf_write_bits(o, 0, 1);  // original_copy
    bitbuf_write_bits(o, 0, 1);  // home
    bitbuf_write_bits(o, uint32_t(w->variableRate), 1);
    bitbuf_write_bits(o, uint32_t(w->layers[0].bitrate), 23);
    bitbuf_write_bits(o, uint32_t(w->layerCount - 1), 4);
    for (int l = 0; l < w->layerCount; ++l) {
      if (!w->variableRate) bitbuf_write_bits(o, 0, 20);  // adif_buffer_fullness
      ProgramConfig pce = {};
      pce_by_configuration(&pce, &w->map, w->map.header.configuration);
      pce.tag = l;
      pce.objectType = w->headers[l].objectType - 1;
      pce.samplingIndex = aac_sampling_index(w->headers[l].sampleRate);
      pce_write(o, &pce, 0);
    }
    if (bitbuf_bit_count(o) % 8) {
      bitbuf_reset(o);
      return error_create(kModule, __LINE__, nullptr, "ADIF stream not byte alligned");
    }
  }
  // Everything pending must fit, or nothing is taken.
  long total = bitbuf_bit_count(o);
  for (int f = 0; f < in->frameCount; ++f) total += in->frameLengths[(in->frameHead + f) % kBitBufferFrameQueue];
  if (!out || (total + 7) / 8 > long(capacity)) {
    bitbuf_reset(o);
    return error_create(kModule, __LINE__, nullptr, "output of %ld bytes does not fit in %u", (total + 7) / 8,
                        capacity);
  }
  while (bitbuf_pending_frames(in) > 0) {
    long taken = 0;
    ErrorRecord* err = writer_take_frame(w, in, kModule, __LINE__, "ADIF stream not byte alligned", &taken);
    if (err) {
      bitbuf_reset(o);
      return err;
    }
  }
  ErrorRecord* err = writer_flush(w, out, capacity, bytes, kModule, __LINE__);
  if (err) return err;
  w->adifHeaderDone = true;
  return nullptr;
}
