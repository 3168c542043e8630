#include "basicop.h"

#include <cstdio>

#include "amr_tables.h"

namespace amr {

thread_local Flag Overflow = 0;

namespace {

// Linear interpolation between entries i and i + 1 at fraction a (Q15), Q31.
Word32 table_interp(const Word16* tab, Word16 i, Word16 a) {
    return L_msu(L_deposit_h(tab[i]), sub(tab[i], tab[i + 1]), a);
}

}  // namespace

Word16 div_s(Word16 num, Word16 den) {
    if (num < 0 || den < 0 || num > den) {
#ifndef NDEBUG
        std::fprintf(stderr, "Division Error var1=%d  var2=%d\n", num, den);
#endif
        Overflow = 1;
        if (num <= 0 || den <= 0) return num > 0 && den <= 0 ? MAX_16 : 0;
        return MAX_16;
    }
    if (num == 0) return 0;
    if (num == den) return MAX_16;
    Word32 n = num, d = den;
    Word16 out = 0;
    for (int i = 0; i < 15; i++) {
        out = (Word16)(out << 1);
        n <<= 1;
        if (n >= d) {
            n -= d;
            out++;
        }
    }
    return out;
}

void L_Extract(Word32 L, Word16* hi, Word16* lo) {
    *hi = extract_h(L);
    *lo = extract_l(L_msu(L_shr(L, 1), *hi, 16384));
}

Word32 Div_32(Word32 num, Word16 den_hi, Word16 den_lo) {
    Word16 approx = div_s(0x3fff, den_hi);  // 1/den in Q29
    Word32 L = L_sub(MAX_32, Mpy_32_16(den_hi, den_lo, approx));
    Word16 hi, lo, n_hi, n_lo;
    L_Extract(L, &hi, &lo);
    L = Mpy_32_16(hi, lo, approx);
    L_Extract(L, &hi, &lo);
    L_Extract(num, &n_hi, &n_lo);
    L = Mpy_32(n_hi, n_lo, hi, lo);
    return L_shl(L, 2);
}

void Log2_norm(Word32 x, Word16 exp, Word16* exponent, Word16* fraction) {
    if (x <= 0) {
        *exponent = 0;
        *fraction = 0;
        return;
    }
    *exponent = sub(30, exp);
    x = L_shr(x, 9);
    Word16 i = sub(extract_h(x), 32);
    x = L_shr(x, 1);
    Word16 a = (Word16)(extract_l(x) & 0x7fff);
    *fraction = extract_h(table_interp(log2_tab, i, a));
}

void Log2(Word32 x, Word16* exponent, Word16* fraction) {
    Word16 exp = norm_l(x);
    Log2_norm(L_shl(x, exp), exp, exponent, fraction);
}

Word32 Pow2(Word16 exponent, Word16 fraction) {
    Word32 x = L_mult(fraction, 32);
    Word16 i = extract_h(x);
    x = L_shr(x, 1);
    Word16 a = (Word16)(extract_l(x) & 0x7fff);
    return L_shr_r(table_interp(pow2_tab, i, a), sub(30, exponent));
}

Word32 Inv_sqrt(Word32 x) {
    if (x <= 0) return 0x3fffffff;
    Word16 exp = norm_l(x);
    x = L_shl(x, exp);
    exp = sub(30, exp);
    if ((exp & 1) == 0) x = L_shr(x, 1);
    exp = add(shr(exp, 1), 1);
    x = L_shr(x, 9);
    Word16 i = extract_h(x);
    x = L_shr(x, 1);
    Word16 a = (Word16)(extract_l(x) & 0x7fff);
    i = sub(i, 16);
    return L_shr(table_interp(inv_sqrt_tab, i, a), exp);
}

Word32 sqrt_l_exp(Word32 x, Word16* exp) {
    if (x <= 0) {
        *exp = 0;
        return 0;
    }
    Word16 e = (Word16)(norm_l(x) & 0xfffe);
    x = L_shl(x, e);
    *exp = e;
    x = L_shr(x, 9);
    Word16 i = extract_h(x);
    x = L_shr(x, 1);
    Word16 a = (Word16)(extract_l(x) & 0x7fff);
    i = sub(i, 16);
    return table_interp(sqrt_l_tab, i, a);
}

}  // namespace amr
