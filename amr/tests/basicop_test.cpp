#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "basicop.h"

using namespace amr;

namespace {

struct Op16 {
    const char* what;
    Word16 result;
    Word16 want;
    bool overflow;
};

TEST(AmrBasicOp, SixteenBitOperators) {
    auto run = [](auto f) {
        Overflow = 0;
        Word16 r = f();
        return std::make_pair(r, Overflow != 0);
    };
    struct C {
        const char* what;
        std::pair<Word16, bool> got;
        Word16 want;
        bool overflow;
    };
    const C cases[] = {
        {"add max+1", run([] { return add(32767, 1); }), 32767, true},
        {"add min-1", run([] { return add(-32768, -1); }), -32768, true},
        {"sub min-1", run([] { return sub(-32768, 1); }), -32768, true},
        {"sub max--1", run([] { return sub(32767, -1); }), 32767, true},
        {"abs min", run([] { return abs_s(-32768); }), 32767, false},
        {"negate min", run([] { return negate(-32768); }), 32767, false},
        {"shl 1,-3", run([] { return shl(1, -3); }), 0, false},
        {"shl 0x4000,1", run([] { return shl(0x4000, 1); }), 32767, true},
        {"shl -0x4001,1", run([] { return shl(-0x4001, 1); }), -32768, true},
        {"shl -1,15", run([] { return shl(-1, 15); }), -32768, false},
        {"shl 1,20", run([] { return shl(1, 20); }), 32767, true},
        {"shl 0,20", run([] { return shl(0, 20); }), 0, false},
        {"shr -1,20", run([] { return shr(-1, 20); }), -1, false},
        {"shr 1000,-2", run([] { return shr(1000, -2); }), 4000, false},
        {"shr -5,1", run([] { return shr(-5, 1); }), -3, false},
        {"shr_r 3,1", run([] { return shr_r(3, 1); }), 2, false},
        {"shr_r -3,1", run([] { return shr_r(-3, 1); }), -1, false},
        {"shr_r 5,16", run([] { return shr_r(5, 16); }), 0, false},
        {"mult min*min", run([] { return mult(-32768, -32768); }), 32767, true},
        {"mult 16384*16384", run([] { return mult(16384, 16384); }), 8192, false},
        {"mult_r 1*16384", run([] { return mult_r(1, 16384); }), 1, false},
        {"mult_r -1*16384", run([] { return mult_r(-1, 16384); }), 0, false},
        {"norm_s 0", run([] { return norm_s(0); }), 0, false},
        {"norm_s -1", run([] { return norm_s(-1); }), 15, false},
        {"norm_s 1", run([] { return norm_s(1); }), 14, false},
        {"norm_s -32768", run([] { return norm_s(-32768); }), 0, false},
        {"norm_s 0x4000", run([] { return norm_s(0x4000); }), 0, false},
        {"div_s 0,0", run([] { return div_s(0, 0); }), 0, false},
        {"div_s 5,5", run([] { return div_s(5, 5); }), 32767, false},
        {"div_s 1,2", run([] { return div_s(1, 2); }), 16384, false},
        {"div_s 1,3", run([] { return div_s(1, 3); }), 10922, false},
        {"div_s 32766,32767", run([] { return div_s(32766, 32767); }), 32766, false},
        {"round 0x7fffffff", run([] { return round16(0x7fffffff); }), 32767, true},
        {"round 0x18000", run([] { return round16(0x18000); }), 2, false},
        {"round -0x18001", run([] { return round16(-0x18001); }), -2, false},
    };
    for (const C& c : cases) {
        EXPECT_EQ(c.got.first, c.want) << c.what;
        EXPECT_EQ(c.got.second, c.overflow) << c.what;
    }
}

TEST(AmrBasicOp, DivSBadArgumentsSaturateWithoutEnding) {
    EXPECT_EQ(div_s(7, 3), 32767);  // numerator above denominator
    EXPECT_EQ(div_s(-1, 3), 0);     // negative numerator
    EXPECT_EQ(div_s(3, 0), 32767);  // zero denominator
}

TEST(AmrBasicOp, ThirtyTwoBitOperators) {
    struct C {
        const char* what;
        Word32 got;
        Word32 want;
        bool overflow;
    };
    auto run = [](auto f) {
        Overflow = 0;
        Word32 r = f();
        return std::make_pair(r, Overflow != 0);
    };
    const std::pair<const char*, std::tuple<std::pair<Word32, bool>, Word32, bool>> cases[] = {
        {"L_mult min*min", {run([] { return L_mult(-32768, -32768); }), MAX_32, true}},
        {"L_mult 3*-4", {run([] { return L_mult(3, -4); }), -24, false}},
        {"L_mac overflow", {run([] { return L_mac(0x7ffffff0, 100, 100); }), MAX_32, true}},
        {"L_msu overflow", {run([] { return L_msu(MIN_32 + 10, 100, 100); }), MIN_32, true}},
        {"L_add max+1", {run([] { return L_add(MAX_32, 1); }), MAX_32, true}},
        {"L_sub min-1", {run([] { return L_sub(MIN_32, 1); }), MIN_32, true}},
        {"L_negate min", {run([] { return L_negate(MIN_32); }), MAX_32, false}},
        {"L_abs min", {run([] { return L_abs(MIN_32); }), MAX_32, false}},
        {"L_shl 0x40000000,1", {run([] { return L_shl(0x40000000, 1); }), MAX_32, true}},
        {"L_shl -1,31", {run([] { return L_shl(-1, 31); }), MIN_32, false}},
        {"L_shl -0x40000001,1", {run([] { return L_shl(-0x40000001, 1); }), MIN_32, true}},
        {"L_shl 1,40", {run([] { return L_shl(1, 40); }), MAX_32, true}},
        {"L_shl 0x100,-4", {run([] { return L_shl(0x100, -4); }), 0x10, false}},
        {"L_shl -1,-40", {run([] { return L_shl(-1, -40); }), -1, false}},
        {"L_shr -8,-2", {run([] { return L_shr(-8, -2); }), -32, false}},
        {"L_shr 5,31", {run([] { return L_shr(5, 31); }), 0, false}},
        {"L_shr -5,40", {run([] { return L_shr(-5, 40); }), -1, false}},
        {"L_shr_r 3,1", {run([] { return L_shr_r(3, 1); }), 2, false}},
        {"L_shr_r 7,32", {run([] { return L_shr_r(7, 32); }), 0, false}},
        {"norm_l 0", {run([] { return (Word32)norm_l(0); }), 0, false}},
        {"norm_l -1", {run([] { return (Word32)norm_l(-1); }), 31, false}},
        {"norm_l 1", {run([] { return (Word32)norm_l(1); }), 30, false}},
        {"norm_l min", {run([] { return (Word32)norm_l(MIN_32); }), 0, false}},
    };
    for (const auto& [what, t] : cases) {
        const auto& [got, want, ov] = t;
        EXPECT_EQ(got.first, want) << what;
        EXPECT_EQ(got.second, ov) << what;
    }
}

TEST(AmrBasicOp, DoublePrecisionRoundTripsAndMultiplies) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<Word32> d(MIN_32 / 2, MAX_32 / 2);
    for (int i = 0; i < 2000; i++) {
        Word32 x = d(rng) & ~1;  // the format keeps 31 bits
        Word16 hi, lo;
        L_Extract(x, &hi, &lo);
        EXPECT_EQ(L_Comp(hi, lo), x);
        Word32 y = d(rng);
        Word16 hi2, lo2;
        L_Extract(y, &hi2, &lo2);
        double want = (double)x * (double)y / 2147483648.0;
        EXPECT_NEAR((double)Mpy_32(hi, lo, hi2, lo2), want, 8.0);
        Word16 n = (Word16)(y >> 16);
        EXPECT_NEAR((double)Mpy_32_16(hi, lo, n), (double)x * n / 32768.0, 2.0);
    }
    // Div_32: 0.25 / 0.5 = 0.5 in Q31.
    Word16 h, l;
    L_Extract(0x40000000, &h, &l);
    EXPECT_NEAR((double)Div_32(0x20000000, h, l), 1073741824.0, 1 << 16);
}

TEST(AmrBasicOp, MathFunctionsFollowTheirDefinitions) {
    for (Word32 x : {1, 2, 3, 100, 1000, 12345, 65536, 1 << 20, 123456789, MAX_32}) {
        Word16 e, f;
        Log2(x, &e, &f);
        EXPECT_NEAR(e + f / 32768.0, std::log2((double)x), 2e-4) << x;
        Word32 inv = Inv_sqrt(x);  // Q30 of 1/sqrt(x)
        EXPECT_NEAR(inv / 1073741824.0, 1.0 / std::sqrt((double)x), 1e-3 / std::sqrt((double)x) + 2e-9) << x;
        Word16 se;
        Word32 s = sqrt_l_exp(x, &se);  // sqrt(x) = s * 2^(15.5 - 31 - se / 2)
        EXPECT_NEAR(s * std::pow(2.0, 15.5 - 31 - se / 2.0), std::sqrt((double)x), std::sqrt((double)x) * 2e-3)
            << x;
    }
    for (int e = 0; e <= 20; e++)
        for (Word16 f : {0, 8192, 16384, 32767}) {
            double want = std::pow(2.0, e + f / 32768.0);
            EXPECT_NEAR((double)Pow2((Word16)e, f), want, want * 1e-3 + 1.0);
        }
    Word16 e, f;
    Log2(0, &e, &f);
    EXPECT_EQ(e, 0);
    EXPECT_EQ(f, 0);
    EXPECT_EQ(Inv_sqrt(0), 0x3fffffff);
}

}  // namespace
