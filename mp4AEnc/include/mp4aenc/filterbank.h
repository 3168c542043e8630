// Window shapes of the AAC filterbank and the synthesis filterbank (inverse
// MDCT, windowing and overlap-add) that the encoder's internal decoder uses.
#pragma once

#include "mp4aenc/error.h"

// Window shapes: 0 sine, 1 Kaiser-Bessel-derived, 2 zero-padded sine (long
// windows only), 3 squared sine.
enum WindowShape { kShapeSine = 0, kShapeKbd = 1, kShapeZpw = 2, kShapeSineSquared = 3 };
// Window sequences, numbered as in the bitstream.
enum WindowSequence { kOnlyLong = 0, kLongStart = 1, kEightShort = 2, kLongStop = 3 };

// Each generator writes the rising half (N/2 values) of a window of length N
// (nothing for N < 2). useTable takes the KBD values from the standard's
// tables where one exists for that length. An unknown shape writes nothing
// and answers a record; the process goes on.
ErrorRecord* CalculateWindow(float* out, int N, int shape, int useTable);       // KBD alpha 4
ErrorRecord* CalculateShortWindow(float* out, int N, int shape, int useTable);  // KBD alpha 6
// The half of a long window of length N that meets a short window of length
// N / nShort: N(b-1)/(4b) zeros, the short window's rising half, then ones.
ErrorRecord* CalculateTransitionWindow(float* out, int N, int shape, int useTable, int nShort);

// The first N/2 values of the KBD window of length N (double precision).
void kbd_window_init(double* out, double alpha, int N);
// Modified Bessel function of the first kind, order 0.
double aac_bessel_i0(double x);

// One frame of synthesis: frameLength coefficients (for sequence 2, nShort
// blocks of shortLength) in, frameLength samples out; overlap (frameLength
// floats, zero at start) carries into the next call. window has the length
// of the block: 2 * frameLength, or 2 * shortLength for sequence 2.
// frameLength is at most 2048.
void filterbank_window_frame(const float* spectrum, float* output, float* overlap,
                             unsigned windowSequence, int frameLength, int shortLength, int nShort,
                             const float* window);
// Inverse MDCT of one block: N/2 coefficients in, N samples out.
void mdct_block_fft(const float* in, float* out, int N);
// In-place DCT-IV of M floats through an M/2-point complex FFT.
void mdct_twiddle_fft(float* x, int M);
