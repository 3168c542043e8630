// Algebraic (fixed) codebook searches of the eight modes.
#pragma once
#include "defs.h"

namespace amr {

// Finds the code vector for target xn (after the pitch contribution) and
// impulse response h; writes code (Q13, Q12 at 12.2 kbit/s, pitch-sharpened),
// its filtered version y and the codebook parameters to *anap.
void cbsearch(const Word16* xn, const Word16* h, Word16 T0, Word16 pitch_sharp, Word16 gain_pit,
              const Word16* res2, Word16* code, Word16* y, Word16** anap, Mode mode, Word16 subframe);

}  // namespace amr
