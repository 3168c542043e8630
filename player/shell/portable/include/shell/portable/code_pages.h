// Counting which code page dominates a text, and the font sizes of the
// player's default dialog font; the Windows side feeds them from MLang and
// the display.
#pragma once

#include <cstdint>

namespace shell {

// Adds up, per bit of a 32-bit code-page set, how many characters were
// reported with that bit; the winner is the bit with the highest count, the
// lowest bit on a tie (so plain ASCII text gives bit 0).
class CodePageCounter {
 public:
  void Add(uint32_t runLength, uint32_t codePageSet);
  // The winning bit as a set of one bit (1 when nothing was counted).
  uint32_t WinnerSet() const;
  uint64_t Count(unsigned bit) const { return counts_[bit & 31]; }

 private:
  uint64_t counts_[32] = {};
};

// Character set of a single code-page bit as the Windows 9x coverage test
// compares it with the DC's text metrics; 1 (default) for other values.
uint32_t CharsetOfCodePageBit(uint32_t set);

// Height of a LOGFONT for a point size: 8 points is always -11; with a
// resolution, -(pixelsPerInch x points / 72) truncated; 0 without one.
int32_t DefaultLogFontHeight(int32_t pixelsPerInch, int32_t points, bool haveDc);

}  // namespace shell
