#include "mp4aenc/modulo_buffer.h"

#include <cstdlib>
#include <cstring>

FloatModuloBuffer* CreateFloatModuloBuffer(unsigned int size) {
  if (size == 0) return nullptr;
  auto* buf = static_cast<FloatModuloBuffer*>(std::calloc(1, sizeof(FloatModuloBuffer)));
  if (!buf) return nullptr;
  buf->data = static_cast<float*>(std::calloc(size, sizeof(float)));
  if (!buf->data) {
    std::free(buf);
    return nullptr;
  }
  buf->size = size;
  return buf;
}

void FreeFloatModuloBuffer(FloatModuloBuffer* buf) {
  if (!buf) return;
  std::free(buf->data);
  std::free(buf);
}

// Copies n floats out of the ring from `from`, wrapping at the end.
static void ring_read(const FloatModuloBuffer* buf, unsigned int from, float* dst, unsigned int n) {
  unsigned int first = buf->size - from < n ? buf->size - from : n;
  std::memcpy(dst, buf->data + from, first * sizeof(float));
  std::memcpy(dst + first, buf->data, (n - first) * sizeof(float));
}

// Lengths above the size would run past the ring; they are refused (0).
int FloatModuloBufferWrite(FloatModuloBuffer* buf, const float* src, unsigned int n) {
  if (n > buf->size) return 0;
  unsigned int first = buf->size - buf->writePos < n ? buf->size - buf->writePos : n;
  std::memcpy(buf->data + buf->writePos, src, first * sizeof(float));
  std::memcpy(buf->data, src + first, (n - first) * sizeof(float));
  buf->writePos = (buf->writePos + n) % buf->size;
  return 1;
}

int FloatModuloBufferWriteZeros(FloatModuloBuffer* buf, unsigned int n) {
  if (n > buf->size) return 0;
  unsigned int first = buf->size - buf->writePos < n ? buf->size - buf->writePos : n;
  std::memset(buf->data + buf->writePos, 0, first * sizeof(float));
  std::memset(buf->data, 0, (n - first) * sizeof(float));
  buf->writePos = (buf->writePos + n) % buf->size;
  return 1;
}

int FloatModuloBufferLookBack(const FloatModuloBuffer* buf, float* dst, unsigned int n,
                              unsigned int distance) {
  if (n > buf->size || distance > buf->size) return 0;
  ring_read(buf, (buf->writePos + buf->size - distance) % buf->size, dst, n);
  return 1;
}

int FloatModuloBufferRead(FloatModuloBuffer* buf, float* dst, unsigned int n) {
  if (n > buf->size) return 0;
  unsigned int from = buf->readPos % buf->size;  // readPos may equal size
  ring_read(buf, from, dst, n);
  buf->readPos = from + n <= buf->size ? from + n : from + n - buf->size;
  return 1;
}
