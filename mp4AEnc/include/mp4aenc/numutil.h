// Small numeric services of the encoder: the process-wide uniform random
// generator, an index sort and the conversions between frequencies, spectral
// lines and scale-factor bands.
#pragma once

// (Re)initialises the generator's 607-value table from the seed (Marsaglia-
// Zaman initialisation, 24 random bits per value, second seed 9373). A seed
// of 0 keeps the previous first seed (1802 until one is given).
void random_seed(int seed);

// Writes count uniform doubles in [0, 1) from the additive lagged-Fibonacci
// generator x(n) = frac(x(n-607) + x(n-273)); answers count (0 for count <= 0).
int random_fill(int count, double* out);

// Stable insertion sort of the indices 0..count-1 by ascending value.
void sort_indices(const float* values, int* order, int count);

// Band whose lower boundary is nearest to freq (ties stay on the lower band);
// bandCount for a frequency at or above the last boundary.
int freq_to_band_nearest(float freq, float sampleRate, int bandCount, const int* offsets);
// Frequency of the last line below band `band`, rounded to an integer.
int line_to_freq(int band, float sampleRate, int lineCount, const int* offsets);
// Band that contains freq (the number of band ends at or below its line);
// the line is stored when `line` is not null.
int freq_to_band(float freq, float sampleRate, int bandCount, const int* offsets, int* line);
