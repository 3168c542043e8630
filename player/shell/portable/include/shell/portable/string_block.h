// Reading one string out of a string-table resource block (16 counted UTF-16
// strings), checked against the block's size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace shell {

// Copies string index (0-15) of the block into out: all of it when it is
// shorter than capacity, else capacity - 1 units; always terminated when
// capacity > 0. Returns the units copied, or -1 when the block is cut short.
int CopyStringFromBlock(const uint16_t* block, size_t blockUnits, unsigned index, char16_t* out,
                        int capacity);

}  // namespace shell
