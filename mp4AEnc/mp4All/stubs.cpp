#include <cstdlib>
#include <cstring>

#include "mp4aenc/common.h"

void* return_null_stub(void) { return nullptr; }

ErrorRecord* clear_out_stub(int* out, void*) {
  if (out) *out = 0;
  return nullptr;
}

void object_free(void* object) {
  if (!object) return;
  void* first;
  std::memcpy(&first, object, sizeof first);
  std::free(first);
  std::free(object);
}

void op_counter_stub(void) {}
