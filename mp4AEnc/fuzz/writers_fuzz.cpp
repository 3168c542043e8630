// Random frames through the bit buffer and the ADIF, ADTS and LATM writers
// with random options and output room. Every byte that comes out must frame
// the frames that went in (ADTS and LOAS are parsed back), a refused write
// must leave its frame pending, and nothing may end the process.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "mp4aenc/mp4aenc.h"

namespace {

struct Input {
  const uint8_t* p;
  size_t n;
  uint8_t Byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
};

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  const uint8_t mode = in.Byte();
  static const int kFormats[] = {1, 2, 4, 0};
  const int format = kFormats[mode & 3];
  const int channels = 1 + (mode >> 2) % 8;
  const long rates[] = {8000, 22050, 44100, 48000, 7350};
  const long rate = rates[(mode >> 5) % 5];

  Mp4AudioHeader header;
  AacChannelMap map;
  if (ErrorRecord* e = mp4_audio_header_fill(&header, 2, rate, channels, 1024)) {  // 7 channels
    error_free(e);
    return 0;
  }
  if (ErrorRecord* e = aac_channel_map_build(&map, channels, 0)) {
    error_free(e);
    return 0;
  }
  LayerInfo info[kMp4Layers] = {};
  info[0] = {int32_t(rate), 64000, 1024, int32_t(64000 * 1024 / rate), 0, 2, &header};
  const uint8_t options = in.Byte();
  Mp4BitstreamSetup setup = {};
  setup.layers = info;
  setup.map = &map;
  setup.crc = options & 1;
  setup.blocksPerFrame = 1 + ((options >> 1) & 3);
  setup.variableRate = (options >> 3) & 1;
  Mp4BitstreamWriter* w = nullptr;
  ErrorRecord* err = mp4aenc_bitstream_open(&w, &setup, format);
  if (err) {
    error_free(err);
    mp4aenc_bitstream_close(w);
    return 0;
  }
  BitBuffer* buffer = bitbuf_create(8 * 3000 * 4);
  std::vector<uint8_t> out(20000);
  while (in.n > 2) {
    // A frame of 0-2047 bytes, sometimes a bit short of whole bytes.
    const size_t length = ((size_t(in.Byte()) << 8) | in.Byte()) % 2048;
    const int cut = in.Byte() % 16 == 0 ? 3 : 0;
    for (size_t i = 0; i < length; ++i) bitbuf_write_bits(buffer, in.Byte(), 8);
    if (bitbuf_bit_count(buffer) < long(length * 8)) break;
    if (cut && length) bitbuf_advance_write(buffer, -cut);
    err = bitbuf_push_count(buffer, long(length * 8) - (length ? cut : 0));
    if (err) {
      error_free(err);
      break;
    }
    BitBuffer* layers[kMp4Layers] = {buffer};
    uint32_t room = uint32_t(in.Byte()) * 64 + 16, bytes = 0;
    if (room > out.size()) room = uint32_t(out.size());
    err = mp4aenc_bitstream_write(w, layers, nullptr, out.data(), room, &bytes);
    Check(bytes <= room);
    if (err) {
      error_free(err);
      // Whatever was refused is drained here so that the queue moves on.
      while (bitbuf_pending_frames(buffer)) {
        uint8_t frame[4096];
        uint32_t n = 0;
        err = bitbuf_copy_bytes(buffer, &n, frame);
        if (err) {
          error_free(err);
          bitbuf_reset(buffer);
        }
      }
      continue;
    }
    if (format == 0) {
      Check(bytes == 0);
      uint8_t frame[4096];
      uint32_t n = 0;
      Check(bitbuf_copy_bytes(buffer, &n, frame) == nullptr);
      continue;
    }
    // Parse back what came out.
    size_t at = 0;
    while (format == 2 && at < bytes) {
      Check(at + 7 <= bytes && out[at] == 0xFF && (out[at + 1] & 0xF6) == 0xF0);
      const size_t n = size_t(((out[at + 3] & 3) << 11) | (out[at + 4] << 3) | (out[at + 5] >> 5));
      Check(n >= 7 && at + n <= bytes);
      at += n;
    }
    while (format == 4 && at < bytes) {
      Check(at + 3 <= bytes && ((out[at] << 3) | (out[at + 1] >> 5)) == 0x2B7);
      at += 3 + size_t(((out[at + 1] & 0x1F) << 8) | out[at + 2]);
      Check(at <= bytes);
    }
    Check(bitbuf_pending_frames(buffer) == 0);
  }
  error_free(mp4aenc_bitstream_close(w));
  bitbuf_free(buffer);
  return 0;
}
