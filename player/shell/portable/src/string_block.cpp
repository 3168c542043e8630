#include "shell/portable/string_block.h"

namespace shell {

int CopyStringFromBlock(const uint16_t* block, size_t blockUnits, unsigned index, char16_t* out,
                        int capacity) {
  size_t at = 0;
  for (unsigned i = 0; i < (index & 15); ++i) {
    if (at >= blockUnits) return -1;
    at += 1 + size_t{block[at]};
  }
  if (at >= blockUnits) return -1;
  const size_t length = block[at++];
  if (at + length > blockUnits) return -1;
  if (capacity <= 0 || !out) return 0;
  const size_t copy = length < static_cast<size_t>(capacity) ? length : static_cast<size_t>(capacity) - 1;
  for (size_t i = 0; i < copy; ++i) out[i] = static_cast<char16_t>(block[at + i]);
  out[copy] = 0;
  return static_cast<int>(copy);
}

}  // namespace shell
