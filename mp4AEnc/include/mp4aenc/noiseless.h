// The noiseless coder: the spectrum Huffman books 1-11 and the scalefactor
// book (generated from the standard's tables), the fast bit counters used by
// sectioning, and the writers of codewords into a bit buffer.
#pragma once

#include <cstdint>

#include "mp4aenc/bitbuf.h"

constexpr int kAacBookInfinity = 0x1fffffff;  // a book that cannot code the run
constexpr int kAacMaxQuant = 8191;

struct AacHuffBook {
  const uint32_t* code;
  const uint8_t* len;
  int dim;       // 4 or 2 values per codeword
  int lav;       // largest absolute value
  int isSigned;  // signed books carry no sign bits
};

// Books 1..11; null for any other number.
const AacHuffBook* aac_huff_book(int book);
// Scalefactor book: difference -60..60.
int aac_scf_len(int diff);
uint32_t aac_scf_code(int diff);

// Builds the packed length tables (idempotent, cheap; done on first use too).
void aac_bitcount_init(void);

// Bits of a run of signed quantised values under books 0..11 (book 0: 0
// when every value is 0, else infinity); books that cannot code the largest
// value are kAacBookInfinity. count is a multiple of 4.
void aac_count_all_books(const int* values, int count, int largest, int bits[12]);
// The cheapest book for the run and its bits (the lower book wins a tie);
// largest 0 gives book 0 and 0 bits. values signed.
void aac_best_book(const int* values, int count, int largest, int* bits, int* book);
// The same on magnitudes (sign bits are taken from the tables).
void aac_best_book_magnitudes(const int* magnitudes, int count, int largest, int* bits, int* book);
// Escape sequence length of one value (0 below 16).
int aac_escape_bits(int magnitude);

// Writes the codewords of a run under one book (1..11), with sign bits and
// escapes; answers the bits written.
long aac_write_spectrum(BitBuffer* buffer, const int* values, int count, int book);

// Rounding done explicitly: the processor's rounding mode is never touched.
// Nearest integer, halves away from zero.
double aac_nearest(double x);
// out[i] = trunc(offset + scale * in[i]), toward zero.
void aac_float_to_int(const float* in, int* out, int count, float scale, float offset);
