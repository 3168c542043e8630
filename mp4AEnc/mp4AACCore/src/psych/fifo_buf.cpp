#include <cstdlib>

#include "mp4aenc/fifo.h"
#include "mp4aenc/vecmath.h"

static const char kModule[] = "mp4AEnc/mp4AACCore/src/psych/fifo_buf";

ErrorRecord* fifo_create(FloatFifo** out, int slotCount, int slotLength) {
  *out = nullptr;
  if (slotCount <= 0 || slotLength <= 0)
    return error_create(kModule, __LINE__, nullptr, "invalid function parameters");
  auto* fifo = static_cast<FloatFifo*>(std::calloc(1, sizeof(FloatFifo)));
  if (!fifo) return error_create(kModule, __LINE__, nullptr, "out of memory");
  fifo->slotCount = slotCount;
  fifo->slotLength = slotLength;
  fifo->data = static_cast<float*>(std::calloc(size_t(slotCount) * size_t(slotLength), sizeof(float)));
  if (!fifo->data) {
    fifo_free(fifo);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  fifo->slots = static_cast<float**>(std::calloc(size_t(slotCount), sizeof(float*)));
  if (!fifo->slots) {
    fifo_free(fifo);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  for (int i = 0; i < slotCount; ++i) fifo->slots[i] = fifo->data + size_t(i) * size_t(slotLength);
  *out = fifo;
  return nullptr;
}

void fifo_free(FloatFifo* fifo) {
  if (!fifo) return;
  std::free(fifo->data);
  std::free(fifo->slots);
  std::free(fifo);
}

static float* rotate(FloatFifo* fifo) {
  float* oldest = fifo->slots[fifo->slotCount - 1];
  for (int i = fifo->slotCount - 1; i > 0; --i) fifo->slots[i] = fifo->slots[i - 1];
  fifo->slots[0] = oldest;
  if (fifo->filled < fifo->slotCount) ++fifo->filled;
  return oldest;
}

int fifo_push(FloatFifo* fifo, const float* values) {
  vec_copy(values, rotate(fifo), fifo->slotLength);
  return 1;
}

int fifo_push_zero(FloatFifo* fifo) {
  vec_fill(0.0f, rotate(fifo), fifo->slotLength);
  return 1;
}

float* fifo_get(const FloatFifo* fifo, int index) {
  if (index < 0 || index >= fifo->filled) return nullptr;
  return fifo->slots[index];
}
