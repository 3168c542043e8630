// Saturating 16/32-bit fixed-point operators of the speech coder, with the
// double-precision helpers and the Log2/Pow2/Inv_sqrt/sqrt_l_exp functions.
#pragma once
#include <cstdint>

namespace amr {

typedef int16_t Word16;
typedef int32_t Word32;
typedef int Flag;

constexpr Word16 MAX_16 = 0x7fff;
constexpr Word16 MIN_16 = -0x8000;
constexpr Word32 MAX_32 = 0x7fffffff;
constexpr Word32 MIN_32 = (Word32)0x80000000;

// Set by every operator that saturates. Thread-local so that encoder instances
// on different threads cannot disturb each other's pitch-gain overflow test.
extern thread_local Flag Overflow;

inline Word16 saturate(Word32 v) {
    if (v > MAX_16) { Overflow = 1; return MAX_16; }
    if (v < MIN_16) { Overflow = 1; return MIN_16; }
    return (Word16)v;
}
inline Word16 add(Word16 a, Word16 b) { return saturate((Word32)a + b); }
inline Word16 sub(Word16 a, Word16 b) { return saturate((Word32)a - b); }
inline Word16 abs_s(Word16 a) { return a == MIN_16 ? MAX_16 : (Word16)(a < 0 ? -a : a); }
inline Word16 negate(Word16 a) { return a == MIN_16 ? MAX_16 : (Word16)-a; }
inline Word16 extract_h(Word32 L) { return (Word16)(L >> 16); }
inline Word16 extract_l(Word32 L) { return (Word16)L; }
inline Word32 L_deposit_h(Word16 a) { return (Word32)((uint32_t)(int32_t)a << 16); }
inline Word32 L_deposit_l(Word16 a) { return a; }

Word16 shl(Word16 a, Word16 n);
Word16 shr(Word16 a, Word16 n);

inline Word16 shr(Word16 a, Word16 n) {
    if (n < 0) return shl(a, (Word16)(n < -16 ? 16 : -n));
    if (n >= 15) return a < 0 ? -1 : 0;
    return (Word16)(a >> n);
}
inline Word16 shl(Word16 a, Word16 n) {
    if (n < 0) return shr(a, (Word16)(n < -16 ? 16 : -n));
    Word32 r = (Word32)a * ((Word32)1 << (n > 16 ? 16 : n));
    if ((n > 15 && a != 0) || r != (Word16)r) { Overflow = 1; return a > 0 ? MAX_16 : MIN_16; }
    return (Word16)r;
}
inline Word16 mult(Word16 a, Word16 b) {
    Word32 p = ((Word32)a * b) >> 15;
    return saturate(p);
}
inline Word16 mult_r(Word16 a, Word16 b) {
    Word32 p = ((Word32)a * b + 0x4000) >> 15;
    return saturate(p);
}
inline Word32 L_add(Word32 a, Word32 b) {
    int64_t s = (int64_t)a + b;
    if (s > MAX_32) { Overflow = 1; return MAX_32; }
    if (s < MIN_32) { Overflow = 1; return MIN_32; }
    return (Word32)s;
}
inline Word32 L_sub(Word32 a, Word32 b) {
    int64_t s = (int64_t)a - b;
    if (s > MAX_32) { Overflow = 1; return MAX_32; }
    if (s < MIN_32) { Overflow = 1; return MIN_32; }
    return (Word32)s;
}
inline Word32 L_negate(Word32 a) { return a == MIN_32 ? MAX_32 : -a; }
inline Word32 L_abs(Word32 a) { return a == MIN_32 ? MAX_32 : (a < 0 ? -a : a); }
inline Word32 L_mult(Word16 a, Word16 b) {
    Word32 p = (Word32)a * b;
    if (p == 0x40000000) { Overflow = 1; return MAX_32; }
    return p * 2;
}
inline Word32 L_mac(Word32 acc, Word16 a, Word16 b) { return L_add(acc, L_mult(a, b)); }
inline Word32 L_msu(Word32 acc, Word16 a, Word16 b) { return L_sub(acc, L_mult(a, b)); }

Word32 L_shl(Word32 x, Word16 n);
Word32 L_shr(Word32 x, Word16 n);

inline Word32 L_shr(Word32 x, Word16 n) {
    if (n < 0) return L_shl(x, (Word16)(n < -32 ? 32 : -n));
    if (n >= 31) return x < 0 ? -1 : 0;
    return x >> n;
}
inline Word32 L_shl(Word32 x, Word16 n) {
    if (n <= 0) return L_shr(x, (Word16)(n < -32 ? 32 : -n));
    if (n > 31) n = 31;
    const Word32 limit = MAX_32 >> n;
    if (x > limit) { Overflow = 1; return MAX_32; }
    if (x < ~limit) { Overflow = 1; return MIN_32; }
    return (Word32)((uint32_t)x << n);
}
inline Word16 shr_r(Word16 a, Word16 n) {
    if (n > 15) return 0;
    Word16 r = shr(a, n);
    if (n > 0 && (a & (1 << (n - 1)))) r++;
    return r;
}
inline Word32 L_shr_r(Word32 x, Word16 n) {
    if (n > 31) return 0;
    Word32 r = L_shr(x, n);
    if (n > 0 && (x & ((Word32)1 << (n - 1)))) r++;
    return r;
}
inline Word16 round16(Word32 x) { return extract_h(L_add(x, 0x8000)); }

inline Word16 norm_s(Word16 a) {
    if (a == 0) return 0;
    if (a == -1) return 15;
    if (a < 0) a = (Word16)~a;
    Word16 n = 0;
    while (a < 0x4000) { a = (Word16)(a << 1); n++; }
    return n;
}
inline Word16 norm_l(Word32 x) {
    if (x == 0) return 0;
    if (x == -1) return 31;
    if (x < 0) x = ~x;
    return (Word16)(__builtin_clz((uint32_t)x) - 1);
}

// Restoring division, 0 <= num <= den. Bad arguments give the saturated
// quotient (and a message in debug builds) instead of ending the process.
Word16 div_s(Word16 num, Word16 den);

// Double-precision format: hi = x >> 16, lo = (x >> 1) - hi * 32768.
void L_Extract(Word32 L, Word16* hi, Word16* lo);
inline Word32 L_Comp(Word16 hi, Word16 lo) { return L_mac(L_deposit_h(hi), lo, 1); }
inline Word32 Mpy_32(Word16 hi1, Word16 lo1, Word16 hi2, Word16 lo2) {
    Word32 L = L_mult(hi1, hi2);
    L = L_mac(L, mult(hi1, lo2), 1);
    return L_mac(L, mult(lo1, hi2), 1);
}
inline Word32 Mpy_32_16(Word16 hi, Word16 lo, Word16 n) {
    return L_mac(L_mult(hi, n), mult(lo, n), 1);
}
inline Word32 Mac_32(Word32 acc, Word16 hi1, Word16 lo1, Word16 hi2, Word16 lo2) {
    return L_add(acc, Mpy_32(hi1, lo1, hi2, lo2));
}
inline Word32 Mac_32_16(Word32 acc, Word16 hi, Word16 lo, Word16 n) {
    return L_add(acc, Mpy_32_16(hi, lo, n));
}
Word32 Div_32(Word32 num, Word16 den_hi, Word16 den_lo);

void Log2_norm(Word32 x, Word16 exp, Word16* exponent, Word16* fraction);
void Log2(Word32 x, Word16* exponent, Word16* fraction);
Word32 Pow2(Word16 exponent, Word16 fraction);
Word32 Inv_sqrt(Word32 x);
Word32 sqrt_l_exp(Word32 x, Word16* exp);

inline void Copy(const Word16* x, Word16* y, int n) {
    for (int i = 0; i < n; i++) y[i] = x[i];
}

}  // namespace amr
