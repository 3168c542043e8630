// The AudioSpecificConfig writer and the ADIF header reader of the AAC codec
// object, bit by bit, most significant bit first.
#include <cstring>

#include "audioencfilter/aac_codec.h"

namespace {

const uint32_t kSampleRates[12] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

void put_bits(uint8_t* buffer, uint32_t* position, uint32_t value, int n) {
  for (int i = n - 1; i >= 0; --i) {
    const uint32_t bit = (value >> i) & 1u;
    uint8_t& byte = buffer[*position >> 3];
    const int shift = 7 - int(*position & 7);
    byte = uint8_t((byte & ~(1u << shift)) | bit << shift);
    ++*position;
  }
}

// Reads within `bits`; past the end it answers zeros and sets `overrun`.
struct BitReader {
  const uint8_t* data;
  uint32_t bits;
  uint32_t position = 0;
  bool overrun = false;
  uint32_t get(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      uint32_t bit = 0;
      if (position < bits) {
        bit = (data[position >> 3] >> (7 - (position & 7))) & 1u;
      } else {
        overrun = true;
      }
      ++position;
      v = v << 1 | bit;
    }
    return v;
  }
};

}  // namespace

int write_ga_specific_config(const AacConfigRequest& config, uint32_t* bitPosition, uint8_t* buffer) {
  if (config.dependsOnCoreCoder != 0 || config.extensionFlag != 0) return CODEC_E_SETUP;
  // Channel configuration 0 would need a program config element.
  if (config.channelConfiguration == 0) return CODEC_E_SETUP;
  put_bits(buffer, bitPosition, config.frameLengthFlag & 1u, 1);
  put_bits(buffer, bitPosition, 0, 1);
  put_bits(buffer, bitPosition, 0, 1);
  return CODEC_OK;
}

int write_audio_specific_config(const AacConfigRequest& config, uint8_t* buffer, uint32_t* length) {
  uint32_t position = 0;
  put_bits(buffer, &position, config.objectType, 5);
  uint32_t index = 15;
  for (uint32_t i = 0; i < 12; ++i)
    if (kSampleRates[i] == config.sampleRate) index = i;
  put_bits(buffer, &position, index, 4);
  if (index == 15) {
    if (config.sampleRate > 0xFFFFFF) return CODEC_E_SETUP;
    put_bits(buffer, &position, config.sampleRate, 24);
  }
  if (config.channelConfiguration >= 3) return CODEC_E_SETUP;
  put_bits(buffer, &position, config.channelConfiguration, 4);
  if (config.objectType != 2 && config.objectType != 4) return CODEC_E_SETUP;
  const int r = write_ga_specific_config(config, &position, buffer);
  if (r != CODEC_OK) return r;
  *length = ((position + 7) / 8) & 0x1FFF;
  return CODEC_OK;
}

int adif_header_to_config(uint8_t* frame, uint32_t* frameLength, uint8_t* configBuffer, uint32_t* configLength) {
  if (!frame || !frameLength || *frameLength <= 13 || std::memcmp(frame, "ADIF", 4) != 0) return 1;
  BitReader r{frame, *frameLength * 8};
  r.get(32);
  if (r.get(1)) r.get(72);  // copyright_id
  r.get(2);                 // original_copy, home
  const uint32_t bitstreamType = r.get(1);
  r.get(23);  // bitrate
  r.get(4);   // num_program_config_elements (one is read)
  if (bitstreamType == 0) r.get(20);  // adif_buffer_fullness
  r.get(4);                           // element_instance_tag
  const uint32_t profile = r.get(2);
  if (profile != 1 && profile != 3) return 1;
  const uint32_t objectType = profile + 1;
  const uint32_t rateIndex = r.get(4);
  if (rateIndex == 15) return 1;
  const uint32_t front = r.get(4), side = r.get(4), back = r.get(4), lfe = r.get(2);
  const uint32_t assoc = r.get(3), cc = r.get(4);
  if (front == 0) return 1;
  if (r.get(1)) r.get(4);  // mono_mixdown
  if (r.get(1)) r.get(4);  // stereo_mixdown
  if (r.get(1)) r.get(3);  // matrix_mixdown
  uint32_t channels = 0;
  for (uint32_t i = 0; i < front + side + back; ++i) channels += 1 + r.get(5) / 16;  // is_cpe, tag
  if (lfe) channels += 1;
  r.get(int(4 * lfe + 4 * assoc + 5 * cc));
  r.position = (r.position + 7) & ~7u;  // byte_alignment
  const uint32_t comment = r.get(8);
  r.get(int(8 * comment));
  if (r.overrun) return 1;
  const uint32_t headerBytes = r.position / 8;
  configBuffer[0] = uint8_t(objectType << 3 | rateIndex >> 1);
  configBuffer[1] = uint8_t((rateIndex & 1) << 7 | (channels & 0x0F) << 3);
  *configLength = 2;
  std::memmove(frame, frame + headerBytes, *frameLength - headerBytes);
  *frameLength -= headerBytes;
  return CODEC_OK;
}

uint32_t CAudEncoder::BitrateFromIndex(uint32_t index) {
  static const uint32_t kBitrates[9] = {16000, 24000, 32000, 48000, 56000, 64000, 96000, 112000, 128000};
  return index < 9 ? kBitrates[index] : 16000;
}

uint32_t CAudEncoder::SampleRateFromIndex(uint32_t index, uint32_t channels) {
  static const uint32_t kMono[9] = {22050, 24000, 32000, 32000, 44100, 48000, 22050, 22050, 22050};
  static const uint32_t kStereo[9] = {8000, 16000, 22050, 32000, 32000, 44100, 44100, 44100, 48000};
  if (index >= 9) return channels == 1 ? 22050 : 8000;
  return channels == 1 ? kMono[index] : kStereo[index];
}
