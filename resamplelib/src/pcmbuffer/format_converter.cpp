#include <cstdlib>
#include <cstring>

#include "resamplelib/pcm_frame_buffer.h"

int downmix_stereo16(int16_t* samples, int count, int bitsPerSample, int interleaved) {
  if (bitsPerSample != 16) return -3;
  for (int i = 0; i < count; ++i) {
    int32_t left = interleaved ? samples[2 * i] : samples[i];
    int32_t right = interleaved ? samples[2 * i + 1] : samples[count + i];
    samples[i] = int16_t((left + right) >> 1);  // rounds toward minus infinity
  }
  return 0;
}

int reorder_channels(int16_t* samples, int count, int bitsPerSample) {
  if (bitsPerSample != 16) return -3;
  if (count <= 1) return 0;
  auto* temp = static_cast<int16_t*>(std::malloc(sizeof(int16_t) * size_t(count)));
  if (!temp) return -1;
  const int half = count / 2;
  for (int i = 0; i < half; ++i) {
    temp[2 * i] = samples[i];
    temp[2 * i + 1] = samples[half + i];
  }
  std::memcpy(samples, temp, sizeof(int16_t) * size_t(2 * half));
  std::free(temp);
  return 0;
}

int CFormatConverter::Open(int inChannels, int codecChannels, int notPlanar, int bits, int rate) {
  if (inChannels < 1 || inChannels > 2 || codecChannels < 1 || codecChannels > 2 || bits <= 0 ||
      bits % 8 || rate <= 0)
    return CODEC_E_REFUSED;
  downmix = inChannels == 2 && codecChannels == 1;
  reorder = inChannels == 2 && notPlanar == 0;
  bitsPerSample = bits;
  interleaved = 1;
  bytesPerSample = bits / 8;
  channels = uint8_t(inChannels);
  if (!buffer) {
    uint64_t bytes = uint64_t(inChannels) * uint64_t(bytesPerSample) * uint64_t(rate) * 2;
    if (bytes > 0x7fffffff) return CODEC_E_REFUSED;
    buffer = static_cast<uint8_t*>(std::malloc(size_t(bytes)));
    if (!buffer) return -1;
    capacity = uint32_t(bytes);
  }
  return CODEC_OK;
}

int CFormatConverter::Copy(const PcmBlock* source, PcmBlock* target) {
  if (source->length > capacity) return CODEC_E_BUFFER_FULL;
  if (source->length) std::memcpy(buffer, source->data, source->length);
  *target = *source;
  target->data = buffer;
  return CODEC_OK;
}

int CFormatConverter::Reorder(PcmBlock* block) {
  if (!reorder) return CODEC_OK;
  if (!block->data || block->length == 0) return CODEC_E_REFUSED;
  return reorder_channels(reinterpret_cast<int16_t*>(block->data), int(block->length / bytesPerSample),
                          bitsPerSample);
}

int CFormatConverter::Downmix(PcmBlock* block) {
  if (!downmix) return CODEC_OK;
  if (!block->data || block->length == 0) return CODEC_E_REFUSED;
  int frames = int(block->length / uint32_t(bytesPerSample) / channels);
  int result = downmix_stereo16(reinterpret_cast<int16_t*>(block->data), frames, bitsPerSample, interleaved);
  if (result == 0) block->length = uint32_t(frames * bytesPerSample);
  return result;
}

int CFormatConverter::Close() {
  std::free(buffer);
  buffer = nullptr;
  capacity = 0;
  return CODEC_OK;
}

CFormatConverter* CreateFormatConverter(const AudioCodecConfig& config) {
  auto* converter = new CFormatConverter;
  if (converter->Open(int(config.inputChannels), int(config.codecChannels), config.planar == 0,
                      int(config.bitsPerSample), int(config.inputSampleRate)) != 0) {
    converter->Close();
    delete converter;
    return nullptr;
  }
  return converter;
}
