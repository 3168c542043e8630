// FloatFifo: the psychoacoustic model's history of blocks and energies.
// Slot 0 is the newest block.
#pragma once

#include "mp4aenc/error.h"

struct FloatFifo {
  int slotLength;   // floats per slot
  int filled;       // 0 .. slotCount
  int slotCount;
  float* data;      // slotCount * slotLength floats
  float** slots;
};

// A zero slot count or slot length is refused.
ErrorRecord* fifo_create(FloatFifo** out, int slotCount, int slotLength);
void fifo_free(FloatFifo* fifo);
// Rotates the slots (the oldest becomes slot 0) and copies slotLength floats
// into slot 0. Answers 1.
int fifo_push(FloatFifo* fifo, const float* values);
int fifo_push_zero(FloatFifo* fifo);
// Slot `index` (0 = newest) or null when it is not filled.
float* fifo_get(const FloatFifo* fifo, int index);
