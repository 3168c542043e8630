// In-place real FFT of exactly 1024 floats and its inverse, for fast
// convolution. The spectrum stays in a scrambled ("packed") order, so users
// multiply spectra bin by bin in that order and transform back:
//   position 0: X[0]; position 1: X[512] (both real);
//   even position j >= 2 (2^m <= j < 2^(m+1)): Re X[k] with k the 9-bit
//   reversal of j/2, and its partner 3*2^m - 1 - j holds -Im X[k].
// Neither direction scales: inverse(forward(x)) = 1024 * x.
#pragma once

constexpr int kRadix4Length = 1024;

void fft_radix4_dif(float* data);  // forward
void fft_radix4_dit(float* data);  // inverse

// Helpers for users of the packed layout.
int radix4_partner(int j);  // p(j) for an even position j >= 2
int radix4_bin(int j);      // k for an even position j >= 2
// out = a * b bin by bin in the packed layout (out may alias a or b).
void radix4_multiply(const float* a, const float* b, float* out);
