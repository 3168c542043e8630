// FloatModuloBuffer: a ring of float samples with a fixed look-back. Writes
// append at writePos; LookBack reads back from writePos without consuming;
// Read consumes from readPos. Callers never pass n or distance above size.
#pragma once

struct FloatModuloBuffer {
  unsigned int size;
  unsigned int writePos;
  unsigned int readPos;
  float* data;
};

// Null when size is 0 or memory runs out.
FloatModuloBuffer* CreateFloatModuloBuffer(unsigned int size);
void FreeFloatModuloBuffer(FloatModuloBuffer* buf);
int FloatModuloBufferWrite(FloatModuloBuffer* buf, const float* src, unsigned int n);
int FloatModuloBufferWriteZeros(FloatModuloBuffer* buf, unsigned int n);
int FloatModuloBufferLookBack(const FloatModuloBuffer* buf, float* dst, unsigned int n,
                              unsigned int distance);
// readPos may end equal to size; the next read then continues from the start.
int FloatModuloBufferRead(FloatModuloBuffer* buf, float* dst, unsigned int n);
