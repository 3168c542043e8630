#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "amr_tables.h"
#include "lpc.h"

using namespace amr;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<Word16> tone(double hz, double amp, int n, double phase = 0.0) {
    std::vector<Word16> x(n);
    for (int i = 0; i < n; i++) x[i] = (Word16)std::lround(amp * std::sin(2 * kPi * hz * i / 8000.0 + phase));
    return x;
}

double lsp_to_hz(Word16 lsp) { return std::acos(lsp / 32768.0) * 4000.0 / kPi; }

bool ordered_and_in_range(const Word16* lsp) {
    for (int i = 0; i < M; i++) {
        if (lsp[i] <= -32768 || lsp[i] >= 32767) return false;
        if (i > 0 && lsp[i] >= lsp[i - 1]) return false;  // cosine domain: decreasing
    }
    return true;
}

struct Lpc {
    LpcState* st = nullptr;
    Lpc() { EXPECT_EQ(lpc_init(&st), 0); }
    ~Lpc() { lpc_exit(&st); }
};

TEST(AmrLpc, PureToneGivesAClosePairAtItsFrequency) {
    for (double hz : {500.0, 1000.0, 2200.0}) {
        Lpc l;
        auto x = tone(hz, 8000, L_WINDOW);
        Word16 A[4 * MP1] = {};
        lpc(l.st, MR795, x.data(), x.data(), A);
        Word16 lsp[M];
        Az_lsp(&A[3 * MP1], lsp, lsp_init_data);
        ASSERT_TRUE(ordered_and_in_range(lsp)) << hz;
        double best = 1e9;
        for (int i = 0; i + 1 < M; i++) {
            double lo = lsp_to_hz(lsp[i]), hi = lsp_to_hz(lsp[i + 1]);
            if (lo <= hz + 40 && hi >= hz - 40) best = std::min(best, hi - lo);
        }
        EXPECT_LT(best, 120.0) << "no narrow LSP pair around " << hz << " Hz";
    }
}

TEST(AmrLpc, SilentFrameGivesAStableFilterAndValidLsps) {
    Lpc l;
    std::vector<Word16> x(L_WINDOW, 0);
    Word16 rh[MP1], rl[MP1];
    Autocorr(x.data(), M, rh, rl, window_200_40);
    EXPECT_GT(rh[0], 0);  // energy 1 after the +1, normalised
    Word16 A[4 * MP1] = {};
    lpc(l.st, MR475, x.data(), x.data(), A);
    EXPECT_EQ(A[3 * MP1], 4096);
    Word16 lsp[M];
    Az_lsp(&A[3 * MP1], lsp, lsp_init_data);
    EXPECT_TRUE(ordered_and_in_range(lsp));
}

TEST(AmrLpc, UnstableRecursionReusesThePreviousFilter) {
    LevinsonState* st = nullptr;
    ASSERT_EQ(Levinson_init(&st), 0);
    // r(1) = r(0) makes the first reflection coefficient -1; later lags force |k| > 1.
    Word16 rh[MP1], rl[MP1];
    for (int i = 0; i < MP1; i++) {
        rh[i] = (i % 2) ? -16384 : 16384;
        rl[i] = 0;
    }
    rh[2] = -16000;
    Word16 A[MP1], rc[4];
    Levinson(st, rh, rl, A, rc);
    EXPECT_EQ(A[0], 4096);
    for (int i = 1; i < MP1; i++) EXPECT_EQ(A[i], 0) << i;
    Levinson_exit(&st);
    EXPECT_EQ(st, nullptr);
}

TEST(AmrLpc, LspFilterRoundTrip) {
    // Filter -> LSP -> filter reproduces the coefficients closely.
    Lpc l;
    std::mt19937 rng(3);
    std::normal_distribution<double> n(0, 1);
    std::vector<Word16> x(L_WINDOW);
    double y1 = 0, y2 = 0;
    for (auto& v : x) {
        double y = n(rng) * 1500 + 1.2 * y1 - 0.7 * y2;
        y2 = y1;
        y1 = y;
        v = (Word16)std::lround(std::clamp(y, -32000.0, 32000.0));
    }
    Word16 A[4 * MP1] = {};
    lpc(l.st, MR102, x.data(), x.data(), A);
    Word16 lsp[M], A2[MP1];
    Az_lsp(&A[3 * MP1], lsp, lsp_init_data);
    ASSERT_TRUE(ordered_and_in_range(lsp));
    Lsp_Az(lsp, A2);
    for (int i = 0; i < MP1; i++) EXPECT_NEAR(A2[i], A[3 * MP1 + i], 24) << i;
    // LSF conversions invert each other.
    Word16 lsf[M], lsp2[M];
    Lsp_lsf(lsp, lsf, M);
    Lsf_lsp(lsf, lsp2, M);
    for (int i = 0; i < M; i++) EXPECT_NEAR(lsp2[i], lsp[i], 40) << i;
}

TEST(AmrLpc, QuantisedLspsAreOrderedForEveryMode) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> amp(-12000, 12000);
    for (int mode = MR475; mode <= MR122; mode++) {
        LspState* st = nullptr;
        ASSERT_EQ(lsp_init(&st), 0);
        Lpc l;
        for (int frame = 0; frame < 20; frame++) {
            std::vector<Word16> x(L_WINDOW + 40);
            double f = 300 + 150 * frame;
            for (int i = 0; i < (int)x.size(); i++)
                x[i] = (Word16)std::clamp(std::lround(9000 * std::sin(2 * kPi * f * i / 8000.0)) + amp(rng) / 8,
                                          -32768L, 32767L);
            Word16 A[4 * MP1], Aq[4 * MP1], lsp_new[M], prm[8] = {};
            lpc(l.st, (Mode)mode, x.data(), x.data(), A);
            Word16* anap = prm;
            lsp(st, (Mode)mode, (Mode)mode, A, Aq, lsp_new, &anap);
            EXPECT_EQ(anap - prm, mode == MR122 ? 5 : 3);
            EXPECT_TRUE(ordered_and_in_range(st->lsp_old_q)) << "mode " << mode << " frame " << frame;
            // Minimum gap of the quantised LSFs.
            Word16 lsf[M];
            Lsp_lsf(st->lsp_old_q, lsf, M);
            for (int i = 1; i < M; i++) EXPECT_GE(lsf[i] - lsf[i - 1], LSF_GAP - 40) << mode;
            for (int k = 0; k < 4; k++) EXPECT_EQ(Aq[k * MP1], 4096);
            // Indices within their field widths.
            const int16_t* bits = mode == MR122 ? bits_MR122 : mode == MR795 ? bits_MR795
                                : mode == MR475 ? bits_MR475 : mode == MR515 ? bits_MR515
                                : mode == MR59 ? bits_MR59 : mode == MR67 ? bits_MR67
                                : mode == MR74 ? bits_MR74 : bits_MR102;
            for (int i = 0; i < (mode == MR122 ? 5 : 3); i++) {
                EXPECT_GE(prm[i], 0);
                EXPECT_LT(prm[i], 1 << bits[i]) << "mode " << mode << " index " << i;
            }
            // The quantised vector stays near the unquantised one.
            double err = 0;
            for (int i = 0; i < M; i++) err += std::abs(lsp_to_hz(st->lsp_old_q[i]) - lsp_to_hz(lsp_new[i]));
            EXPECT_LT(err / M, 150.0) << "mode " << mode;
        }
        lsp_exit(&st);
    }
}

TEST(AmrLpc, FiltersSaturateInsteadOfWrapping) {
    // Large gains on full-scale input: plain 32-bit sums would wrap to the
    // wrong sign, the saturating forms stay at full scale.
    Word16 a[MP1] = {4096, -8000, 4000, 0, 0, 0, 0, 0, 0, 0, 0};
    Word16 x[L_SUBFR + M], y[L_SUBFR], mem[M] = {};
    for (auto& v : x) v = 32767;
    Syn_filt(a, x, y, L_SUBFR, mem, 1);
    for (int i = 0; i < L_SUBFR; i++) EXPECT_GT(y[i], 0) << i;
    EXPECT_EQ(y[L_SUBFR - 1], 32767);
    EXPECT_EQ(mem[M - 1], 32767);

    Word16 b[MP1];
    for (auto& v : b) v = 4096;
    Residu(b, x + M, y, L_SUBFR);
    for (int i = 0; i < L_SUBFR; i++) EXPECT_EQ(y[i], 32767) << i;

    Word16 h[L_SUBFR];
    for (auto& v : h) v = 32767;
    Convolve(x, h, y, L_SUBFR);
    for (int i = 0; i < L_SUBFR; i++) EXPECT_EQ(y[i], 32767) << i;
    for (auto& v : h) v = -32768;
    Convolve(x, h, y, L_SUBFR);
    EXPECT_EQ(y[L_SUBFR - 1], -32768);
}

TEST(AmrLpc, LongRandomRunStaysDefined) {
    // Sanitizers watch this run; the check is that every result stays in range.
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> d(-32768, 32767);
    Lpc l;
    LspState* st = nullptr;
    ASSERT_EQ(lsp_init(&st), 0);
    for (int frame = 0; frame < 300; frame++) {
        std::vector<Word16> x(L_WINDOW);
        int scale = frame % 3 == 0 ? 0 : frame % 3 == 1 ? 4 : 15;
        for (auto& v : x) v = (Word16)(d(rng) >> scale);
        Word16 A[4 * MP1], Aq[4 * MP1], lsp_new[M], prm[8];
        Word16* anap = prm;
        Mode mode = (Mode)(frame % 8);
        lpc(l.st, mode, x.data(), x.data(), A);
        lsp(st, mode, mode, A, Aq, lsp_new, &anap);
        ASSERT_TRUE(ordered_and_in_range(st->lsp_old_q)) << frame;
        Word16 y[L_SUBFR], mem[M] = {};
        Syn_filt(&Aq[0], x.data(), y, L_SUBFR, mem, 1);
        Residu(&A[MP1], x.data() + M, y, L_SUBFR);
    }
    lsp_exit(&st);
}

}  // namespace
