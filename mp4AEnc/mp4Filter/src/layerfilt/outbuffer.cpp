#include <cstdlib>
#include <cstring>

#include "mp4aenc/layerfilt.h"

namespace {
const char kModule[] = "mp4AEnc/mp4Filter/src/layerfilt/outbuffer";
}

ErrorRecord* out_buffer_create(OutBuffer** out, int capacity) {
  *out = nullptr;
  auto* b = static_cast<OutBuffer*>(std::calloc(1, sizeof(OutBuffer)));
  if (!b) return error_create(kModule, __LINE__, nullptr, "out of memory");
  b->values = static_cast<float*>(std::calloc(size_t(capacity > 0 ? capacity : 1), sizeof(float)));
  if (!b->values) {
    std::free(b);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  b->capacity = capacity;
  *out = b;
  return nullptr;
}

void out_buffer_free(OutBuffer* b) {
  if (!b) return;
  std::free(b->values);
  std::free(b);
}

int out_buffer_put(OutBuffer* b, const float* in, int n, float* dest, int L, int stride) {
  if (n < 0 || L < 1) return -1;
  if (b->held + n < L) {
    if (b->held + n > b->capacity) return -1;
    std::memcpy(b->values + b->held, in, sizeof(float) * size_t(n));
    b->held += n;
    return 0;
  }
  const int fromNew = L - b->held;
  const int left = n - fromNew;
  if (left > b->capacity) return -1;
  for (int i = 0; i < b->held; ++i) dest[size_t(i) * size_t(stride)] = b->values[i];
  for (int i = 0; i < fromNew; ++i) dest[size_t(b->held + i) * size_t(stride)] = in[i];
  std::memmove(b->values, in + fromNew, sizeof(float) * size_t(left));
  b->held = left;
  return L;
}
