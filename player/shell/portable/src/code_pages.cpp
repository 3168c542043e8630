#include "shell/portable/code_pages.h"

namespace shell {

void CodePageCounter::Add(uint32_t runLength, uint32_t codePageSet) {
  for (unsigned bit = 0; bit < 32; ++bit)
    if (codePageSet & (1u << bit)) counts_[bit] += runLength;
}

uint32_t CodePageCounter::WinnerSet() const {
  unsigned best = 0;
  for (unsigned bit = 1; bit < 32; ++bit)
    if (counts_[bit] > counts_[best]) best = bit;
  return 1u << best;
}

uint32_t CharsetOfCodePageBit(uint32_t set) {
  switch (set) {
    case 1: return 0;
    case 2: return 238;
    case 4: return 204;
    case 8: return 162;
    case 16: return 177;
    case 32: return 178;
    case 64: return 186;
    case 256: return 222;
    case 512: return 128;
    case 1024: return 134;
    case 2048: return 129;
    case 4096: return 136;
    case 8192: return 130;
    default: return 1;
  }
}

int32_t DefaultLogFontHeight(int32_t pixelsPerInch, int32_t points, bool haveDc) {
  if (points == 8) return -11;
  if (!haveDc || points == 0) return 0;
  return -(pixelsPerInch * points / 72);
}

}  // namespace shell
