// The encoder's complex FFT and the real-input transforms built on it. All
// work in place on float arrays, allocate nothing, keep no state and apply no
// normalisation (a forward and an inverse transform multiply by n).
#pragma once

// Mixed-radix FFT of n interleaved complex values; X(k) = sum_j x(j) *
// exp(sign * 2*pi*i*j*k / n). Answers 1, or 0 without touching the data for
// n < 2, more than 11 factors, a prime factor above 23 or a square-free part
// above 210.
int fft_complex(float* data, int n, int sign);

// The engine: re and im point at the first real and imaginary value, |stride|
// is the distance in floats between consecutive values and its sign the
// exponent sign. For multi-dimensional data, transforms the dimension of
// length n whose values are nSpan / n values apart, in every block of nSpan of
// the nTotal values.
int fft_mixed_radix(float* re, float* im, int nTotal, int n, int nSpan, int signAndStride);
int fft_complex_split(float* re, float* im, int n, int signAndStride);
int fft_complex_split_copy(const float* reIn, const float* imIn, float* reOut, float* imOut,
                           int n, int signAndStride);

// The real-input transforms take n real samples, n even and at least 4, with
// n / 2 a length fft_complex takes (58, 62 and 572 are not). Other lengths
// and a null block answer 0 and leave the block untouched; 1 otherwise.

// Real FFT: slot 0 holds X(0) with a zero imaginary part (X(n/2) is not
// kept), slot k (1 <= k < n/2) holds X(k), exponent sign -1.
int fft_real(float* block, int n);
// Odd-frequency DFT: slot k (0 <= k < n/2) holds
// sum_j x(j) * exp(-2*pi*i*j*(k + 1/2) / n).
int dft_odd_frequency(float* block, int n);
// Odd-time odd-frequency DFT with time offset n/4 + 1/2: the real part of
// slot k is MDCT coefficient k of the (already windowed) block.
int dft_mdct_phase(float* block, int n);
