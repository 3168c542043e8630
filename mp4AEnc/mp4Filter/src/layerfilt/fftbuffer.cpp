#include <cstdlib>
#include <cstring>

#include "mp4aenc/fft_radix4.h"
#include "mp4aenc/layerfilt.h"

namespace {
const char kModule[] = "mp4AEnc/mp4Filter/src/layerfilt/fftbuffer";
}

ErrorRecord* fft_buffer_create(FftBuffer** out, int blockSize, int channels) {
  *out = nullptr;
  if (channels > kFftBufferMaxChannels) return error_create(kModule, __LINE__, nullptr, "number of channels too large");
  if (channels < 1 || blockSize < 1 || blockSize > kRadix4Length)
    return error_create(kModule, __LINE__, nullptr, "invalid block size or channel count");
  auto* b = static_cast<FftBuffer*>(std::calloc(1, sizeof(FftBuffer)));
  if (!b) return error_create(kModule, __LINE__, nullptr, "out of memory");
  b->blockSize = blockSize;
  b->channels = channels;
  for (int c = 0; c < channels; ++c) {
    b->data[c] = static_cast<float*>(std::calloc(kRadix4Length, sizeof(float)));
    if (!b->data[c]) {
      fft_buffer_free(b);
      return error_create(kModule, __LINE__, nullptr, "out of memory");
    }
  }
  *out = b;
  return nullptr;
}

void fft_buffer_free(FftBuffer* b) {
  if (!b) return;
  for (float* d : b->data) std::free(d);
  std::free(b);
}

bool fft_buffer_feed(FftBuffer* b, const float* in, int* count) {
  const int want = *count < b->blockSize ? *count : b->blockSize;
  const int fill0 = b->fill[0];
  bool transformed = false;
  for (int c = 0; c < b->channels; ++c) {
    for (int i = 0; b->fill[c] < want; ++i) b->data[c][b->fill[c]++] = in[size_t(i) * size_t(b->channels) + size_t(c)];
    if (b->fill[c] == b->blockSize) {
      std::memset(b->data[c] + b->blockSize, 0, sizeof(float) * size_t(kRadix4Length - b->blockSize));
      fft_radix4_dif(b->data[c]);
      b->fill[c] = 0;
      transformed = true;
    }
  }
  *count = want - fill0;
  return transformed;
}

const float* fft_buffer_spectrum(const FftBuffer* b, int channel) {
  return channel >= 0 && channel < b->channels ? b->data[channel] : nullptr;
}
