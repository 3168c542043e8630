#include "mp4aenc/noiseless.h"

#include <cmath>
#include <cstdlib>

// Generated from the standard's tables (gen_huff_tables.py).
#define BOOK(n) extern const uint32_t kAacHuffBook##n##Code[]; extern const uint8_t kAacHuffBook##n##Len[];
BOOK(1) BOOK(2) BOOK(3) BOOK(4) BOOK(5) BOOK(6) BOOK(7) BOOK(8) BOOK(9) BOOK(10) BOOK(11)
#undef BOOK
extern const uint32_t kAacHuffScfCode[];
extern const uint8_t kAacHuffScfLen[];

namespace {

#define DESC(n, dim, lav, s) {kAacHuffBook##n##Code, kAacHuffBook##n##Len, dim, lav, s}
const AacHuffBook kBooks[12] = {{nullptr, nullptr, 0, 0, 0}, DESC(1, 4, 1, 1), DESC(2, 4, 1, 1), DESC(3, 4, 2, 0),
                                DESC(4, 4, 2, 0),          DESC(5, 2, 4, 1), DESC(6, 2, 4, 1), DESC(7, 2, 7, 0),
                                DESC(8, 2, 7, 0),          DESC(9, 2, 12, 0), DESC(10, 2, 12, 0), DESC(11, 2, 16, 0)};
#undef DESC

// Table index of a tuple in a book (values already limited to the book).
inline int book_index(const AacHuffBook& b, const int* v) {
  const int mod = b.isSigned ? 2 * b.lav + 1 : b.lav + 1, off = b.isSigned ? b.lav : 0;
  int idx = 0;
  for (int i = 0; i < b.dim; ++i) idx = idx * mod + (b.isSigned ? v[i] + off : std::abs(v[i]));
  return idx;
}

// Packed lengths: the odd book of a pair in the upper 16 bits, the even one
// in the lower, sign bits added for unsigned books. Signed tuples, indexed
// by value + range in base 2 * range + 1.
uint32_t g_p12[81], g_p34[625], g_p56[81], g_p78[225], g_p910[625], g_p11[1089];
// Magnitude tuples in base range + 1.
uint32_t g_p34m[81], g_p78m[64], g_p910m[169], g_p11m[289];
uint8_t g_escape[512];
bool g_ready = false;

int tuple_len(int book, const int* v) {
  const AacHuffBook& b = kBooks[book];
  int signBits = 0;
  int lim[4];
  for (int i = 0; i < b.dim; ++i) {
    lim[i] = v[i];
    if (book == 11 && std::abs(v[i]) > 16) lim[i] = v[i] < 0 ? -16 : 16;
    if (!b.isSigned && v[i] != 0) ++signBits;
  }
  return b.len[book_index(b, lim)] + signBits;
}

void fill(uint32_t* table, int dim, int range, bool magnitudes, int oddBook, int evenBook) {
  const int base = magnitudes ? range + 1 : 2 * range + 1, off = magnitudes ? 0 : range;
  int total = 1;
  for (int i = 0; i < dim; ++i) total *= base;
  for (int idx = 0; idx < total; ++idx) {
    int v[4], r = idx;
    for (int i = dim - 1; i >= 0; --i) v[i] = r % base - off, r /= base;
    const uint32_t hi = oddBook ? uint32_t(tuple_len(oddBook, v)) : 0u;
    const uint32_t lo = evenBook ? uint32_t(tuple_len(evenBook, v)) : 0u;
    table[idx] = (hi << 16) | lo;
  }
}

inline int quad(const int* v, int range) {
  const int b = 2 * range + 1;
  return ((v[0] + range) * b + v[1] + range) * b * b + (v[2] + range) * b + v[3] + range;
}
inline int pair(const int* v, int range) { return (v[0] + range) * (2 * range + 1) + v[1] + range; }
inline int quad_m(const int* v, int range) {
  const int b = range + 1;
  return ((v[0] * b + v[1]) * b + v[2]) * b + v[3];
}
inline int pair_m(const int* v, int range) { return v[0] * (range + 1) + v[1]; }

// Sums of the packed tables for the rows of the all-books counter.
void sum_quads(const int* v, int n, const uint32_t* t, int range, int* hi, int* lo) {
  uint32_t s = 0;
  for (int i = 0; i < n; i += 4) s += t[quad(v + i, range)];
  *hi = int(s >> 16), *lo = int(s & 0xffff);
}
void sum_pairs(const int* v, int n, const uint32_t* t, int range, int* hi, int* lo) {
  uint32_t s = 0;
  for (int i = 0; i < n; i += 2) s += t[pair(v + i, range)];
  *hi = int(s >> 16), *lo = int(s & 0xffff);
}
// Book 11 with values limited to 16 and the escapes added.
int count11(const int* v, int n) {
  int bits = 0;
  for (int i = 0; i < n; i += 2) {
    int a = v[i], b = v[i + 1];
    bits += aac_escape_bits(std::abs(a)) + aac_escape_bits(std::abs(b));
    a = a > 16 ? 16 : a < -16 ? -16 : a;
    b = b > 16 ? 16 : b < -16 ? -16 : b;
    bits += int(g_p11[(a + 16) * 33 + b + 16] & 0xffff);
  }
  return bits;
}

}  // namespace

const AacHuffBook* aac_huff_book(int book) { return book >= 1 && book <= 11 ? &kBooks[book] : nullptr; }
int aac_scf_len(int diff) { return diff >= -60 && diff <= 60 ? kAacHuffScfLen[diff + 60] : kAacBookInfinity; }
uint32_t aac_scf_code(int diff) { return diff >= -60 && diff <= 60 ? kAacHuffScfCode[diff + 60] : 0u; }

void aac_bitcount_init(void) {
  if (g_ready) return;
  fill(g_p12, 4, 1, false, 1, 2);
  fill(g_p34, 4, 2, false, 3, 4);
  fill(g_p34m, 4, 2, true, 3, 4);
  fill(g_p56, 2, 4, false, 5, 6);
  fill(g_p78, 2, 7, false, 7, 8);
  fill(g_p78m, 2, 7, true, 7, 8);
  fill(g_p910, 2, 12, false, 9, 10);
  fill(g_p910m, 2, 12, true, 9, 10);
  fill(g_p11, 2, 16, false, 0, 11);
  fill(g_p11m, 2, 16, true, 0, 11);
  for (int i = 0; i < 512; ++i) {
    const int v = i * 16;
    int n = 0;
    while ((2 << n) <= v) ++n;
    g_escape[i] = uint8_t(v < 16 ? 0 : 2 * n - 3);
  }
  g_ready = true;
}

int aac_escape_bits(int m) {
  if (m < 16) return 0;
  if (m > kAacMaxQuant) m = kAacMaxQuant;
  return g_ready ? g_escape[m >> 4] : [&] {
    int n = 0;
    while ((2 << n) <= m) ++n;
    return 2 * n - 3;
  }();
}

void aac_count_all_books(const int* v, int n, int largest, int bits[12]) {
  aac_bitcount_init();
  for (int b = 0; b < 12; ++b) bits[b] = kAacBookInfinity;
  // Zeros cost nothing in book 0 and their codewords in every other book.
  if (largest == 0) bits[0] = 0;
  int hi, lo;
  if (largest <= 1) {
    sum_quads(v, n, g_p12, 1, &hi, &lo);
    bits[1] = hi, bits[2] = lo;
  }
  if (largest <= 2) {
    sum_quads(v, n, g_p34, 2, &hi, &lo);
    bits[3] = hi, bits[4] = lo;
  }
  if (largest <= 4) {
    sum_pairs(v, n, g_p56, 4, &hi, &lo);
    bits[5] = hi, bits[6] = lo;
  }
  if (largest <= 7) {
    sum_pairs(v, n, g_p78, 7, &hi, &lo);
    bits[7] = hi, bits[8] = lo;
  }
  if (largest <= 12) {
    sum_pairs(v, n, g_p910, 12, &hi, &lo);
    bits[9] = hi, bits[10] = lo;
  }
  bits[11] = count11(v, n);
}

void aac_best_book(const int* v, int n, int largest, int* bits, int* book) {
  aac_bitcount_init();
  int hi = 0, lo = 0, odd = 0;
  if (largest == 0) {
    *bits = 0, *book = 0;
    return;
  }
  if (largest <= 1) sum_quads(v, n, g_p12, 1, &hi, &lo), odd = 1;
  else if (largest <= 2) sum_quads(v, n, g_p34, 2, &hi, &lo), odd = 3;
  else if (largest <= 4) sum_pairs(v, n, g_p56, 4, &hi, &lo), odd = 5;
  else if (largest <= 7) sum_pairs(v, n, g_p78, 7, &hi, &lo), odd = 7;
  else if (largest <= 12) sum_pairs(v, n, g_p910, 12, &hi, &lo), odd = 9;
  else {
    *bits = count11(v, n), *book = 11;
    return;
  }
  if (lo < hi) *bits = lo, *book = odd + 1;
  else *bits = hi, *book = odd;
}

void aac_best_book_magnitudes(const int* m, int n, int largest, int* bits, int* book) {
  aac_bitcount_init();
  if (largest == 0) {
    *bits = 0, *book = 0;
    return;
  }
  // Books 1 and 2 are signed: magnitudes are counted as positive values
  // there, an estimate (the signs change the codewords, not the choice much).
  if (largest <= 1) {
    aac_best_book(m, n, largest, bits, book);
    return;
  }
  uint32_t s = 0;
  int odd = 0;
  if (largest <= 2) {
    for (int i = 0; i < n; i += 4) s += g_p34m[quad_m(m + i, 2)];
    odd = 3;
  } else if (largest <= 4) {
    for (int i = 0; i < n; i += 2) s += g_p56[pair(m + i, 4)];
    odd = 5;
  } else if (largest <= 7) {
    for (int i = 0; i < n; i += 2) s += g_p78m[pair_m(m + i, 7)];
    odd = 7;
  } else if (largest <= 12) {
    for (int i = 0; i < n; i += 2) s += g_p910m[pair_m(m + i, 12)];
    odd = 9;
  } else {
    int total = 0;
    for (int i = 0; i < n; i += 2) {
      const int a = m[i] > 16 ? 16 : m[i], b = m[i + 1] > 16 ? 16 : m[i + 1];
      total += int(g_p11m[a * 17 + b] & 0xffff) + aac_escape_bits(m[i]) +
               aac_escape_bits(m[i + 1]);
    }
    *bits = total, *book = 11;
    return;
  }
  const int hi = int(s >> 16), lo = int(s & 0xffff);
  if (lo < hi) *bits = lo, *book = odd + 1;
  else *bits = hi, *book = odd;
}

long aac_write_spectrum(BitBuffer* buf, const int* v, int n, int book) {
  const AacHuffBook* b = aac_huff_book(book);
  if (!b) return 0;
  long written = 0;
  for (int i = 0; i < n; i += b->dim) {
    int lim[4];
    for (int k = 0; k < b->dim; ++k) {
      lim[k] = v[i + k];
      if (book == 11 && std::abs(lim[k]) > 16) lim[k] = lim[k] < 0 ? -16 : 16;
    }
    const int idx = book_index(*b, lim);
    bitbuf_write_bits(buf, b->code[idx], b->len[idx]);
    written += b->len[idx];
    if (b->isSigned) continue;
    for (int k = 0; k < b->dim; ++k)
      if (v[i + k] != 0) bitbuf_write_bits(buf, v[i + k] < 0 ? 1u : 0u, 1), ++written;
    if (book != 11) continue;
    for (int k = 0; k < b->dim; ++k) {
      const int m = std::abs(v[i + k]);
      if (m < 16) continue;
      int nb = 0;
      while ((2 << nb) <= m) ++nb;
      // nb - 4 ones, a zero, then the nb low bits.
      bitbuf_write_bits(buf, ((1u << (nb - 4)) - 1u) << 1, nb - 3);
      bitbuf_write_bits(buf, uint32_t(m) & ((1u << nb) - 1u), nb);
      written += 2 * nb - 3;
    }
  }
  return written;
}

double aac_nearest(double x) { return x >= 0.0 ? std::floor(x + 0.5) : std::ceil(x - 0.5); }

void aac_float_to_int(const float* in, int* out, int n, float scale, float offset) {
  for (int i = 0; i < n; ++i) out[i] = int(offset + scale * in[i]);  // a cast truncates toward zero
}
