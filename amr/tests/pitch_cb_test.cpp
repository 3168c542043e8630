// Pitch analysis and the algebraic codebooks, checked against the decoding
// rules a decoder applies to their parameters.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "amr_tables.h"
#include "cbsearch.h"
#include "lpc.h"
#include "pitch.h"

using namespace amr;

namespace {

// ---- lag coding -------------------------------------------------------------

struct Lag {
    int t0, frac;
};

Lag dec_lag3_abs(int index) {
    if (index < 197) {
        int t0 = (index + 2) / 3 + 19;
        return {t0, index - 3 * t0 + 58};
    }
    return {index - 112, 0};
}

Lag dec_lag6_abs(int index) {
    if (index < 463) {
        int t0 = (index + 5) / 6 + 17;
        return {t0, index - 6 * t0 + 105};
    }
    return {index - 368, 0};
}

TEST(AmrPitch, AbsoluteLagCodesRoundTrip) {
    for (int t0 = 20; t0 <= 143; t0++)
        for (int frac = -1; frac <= 1; frac++) {
            if (t0 > 85 && frac != 0) continue;
            if (t0 == 85 && frac > 0) continue;  // beyond the fractional range
            if (t0 == 20 && frac < 0) continue;
            int idx = Enc_lag3((Word16)t0, (Word16)frac, 0, 0, 0, 0, 0);
            ASSERT_GE(idx, 0);
            ASSERT_LT(idx, 256);
            Lag l = dec_lag3_abs(idx);
            EXPECT_EQ(l.t0, t0);
            EXPECT_EQ(l.frac, frac);
        }
    for (int t0 = 18; t0 <= 143; t0++)
        for (int frac = -2; frac <= 3; frac++) {
            if (t0 > 94 && frac != 0) continue;
            if (t0 == 18 && frac < 0) continue;
            int idx = Enc_lag6((Word16)t0, (Word16)frac, 0, 0);
            ASSERT_GE(idx, 0);
            ASSERT_LT(idx, 512);
            Lag l = dec_lag6_abs(idx);
            EXPECT_EQ(l.t0 * 6 + l.frac, t0 * 6 + frac) << t0 << " " << frac;
        }
}

// The 4-bit relative code: integer lags far from the centre, thirds near it.
TEST(AmrPitch, FourBitRelativeLagCodes) {
    const int T0_prev = 60, T0_min = 55, T0_max = 64;  // range of 9 around the previous lag
    int tmp_lag = T0_prev;
    if (tmp_lag - T0_min > 5) tmp_lag = T0_min + 5;
    if (T0_max - tmp_lag > 4) tmp_lag = T0_max - 4;
    for (int t0 = T0_min; t0 <= T0_max; t0++)
        for (int frac = -1; frac <= 1; frac++) {
            int lag3 = 3 * t0 + frac;
            bool fractional_ok = lag3 > 3 * (tmp_lag - 2) && lag3 < 3 * (tmp_lag + 1);
            if (frac != 0 && !fractional_ok) continue;
            int idx = Enc_lag3((Word16)t0, (Word16)frac, T0_prev, T0_min, T0_max, 1, 1);
            ASSERT_GE(idx, 0);
            ASSERT_LT(idx, 16);
            // Decoding rule of the relative code.
            int dt0, dfrac;
            if (idx < 4) {
                dt0 = tmp_lag - 5 + idx;
                dfrac = 0;
            } else if (idx < 12) {
                int i = (idx - 5 + 3 * 100) / 3 - 100;  // floor division
                dt0 = i + tmp_lag;
                dfrac = idx - 9 - 3 * i;
            } else {
                dt0 = idx - 11 + tmp_lag;
                dfrac = 0;
            }
            EXPECT_EQ(3 * dt0 + dfrac, lag3) << t0 << " " << frac;
        }
}

TEST(AmrPitch, AdaptiveVectorFollowsTheLag) {
    // A past excitation of period T: the vector at lag T (integer or
    // fractional) continues it, also where it repeats its own first samples.
    for (auto [t0, frac, flag3] : {std::tuple{50, 0, 1}, {50, 1, 1}, {37, -1, 1}, {60, 2, 0}, {25, -2, 0}}) {
        std::vector<Word16> buf(200 + 40);
        const double lag = t0 + frac / (flag3 ? 3.0 : 6.0);
        auto sig = [lag](double i) { return 8000 * std::sin(2 * 3.14159265 * i / lag); };
        for (int i = 0; i < 200; i++) buf[i] = (Word16)std::lround(sig(i));
        Word16* exc = &buf[200];
        Pred_lt_3or6(exc, (Word16)t0, (Word16)frac, 40, flag3);
        for (int i = 0; i < 40; i++) EXPECT_NEAR(exc[i], sig(200 + i - lag), 250) << t0 << " " << frac << " " << i;
    }
}

TEST(AmrPitch, ResonanceFlagNeedsTwelveFrames) {
    TonStabState* st = nullptr;
    ASSERT_EQ(ton_stab_init(&st), 0);
    // Closely spaced low LSPs (a strong resonance).
    const Word16 close[M] = {30000, 29800, 29500, 21000, 20800, 8000, 0, -8000, -15000, -21000};
    for (int f = 1; f <= 11; f++) EXPECT_EQ(check_lsp(st, close), 0) << f;
    EXPECT_EQ(check_lsp(st, close), 1);
    EXPECT_EQ(check_lsp(st, close), 1);
    EXPECT_EQ(st->count, 12);
    EXPECT_EQ(check_lsp(st, lsp_init_data), 0);
    EXPECT_EQ(st->count, 0);
    // Gain clipping history: high gains accumulate to a clip decision.
    EXPECT_EQ(check_gp_clipping(st, 16000), 0);
    for (int i = 0; i < 7; i++) update_gp_clipping(st, 16000);
    EXPECT_EQ(check_gp_clipping(st, 16000), 1);
    ton_stab_exit(&st);
}

// ---- codebooks ----------------------------------------------------------------

// Rebuilds the unsharpened code vector from the parameters by the decoding
// rules; amplitudes in units of one pulse.
std::vector<int> decode_code(Mode mode, const Word16* prm, int subframe) {
    std::vector<int> c(40, 0);
    auto set = [&](int pos, bool positive) { c[pos] = positive ? 1 : -1; };
    switch (mode) {
    case MR475:
    case MR515: {
        int index = prm[0], sign = prm[1], j = ((index >> 6) & 1) * 8;
        int p0 = (index & 7) * 5 + startPos_9pf[j + 2 * subframe];
        int p1 = ((index >> 3) & 7) * 5 + startPos_9pf[j + 2 * subframe + 1];
        set(p0, sign & 1);
        set(p1, (sign >> 1) & 1);
        break;
    }
    case MR59: {
        int index = prm[0], sign = prm[1];
        int p0 = ((index >> 1) & 7) * 5 + startPos1_11pf[index & 1];
        int p1 = ((index >> 6) & 7) * 5 + startPos2_11pf[(index >> 4) & 3];
        set(p0, sign & 1);
        set(p1, (sign >> 1) & 1);
        break;
    }
    case MR67: {
        int index = prm[0], sign = prm[1];
        int p0 = (index & 7) * 5;
        int p1 = ((index >> 4) & 7) * 5 + 2 * ((index >> 3) & 1) + 1;
        int p2 = ((index >> 8) & 7) * 5 + 2 * ((index >> 7) & 1) + 2;
        set(p0, sign & 1);
        set(p1, (sign >> 1) & 1);
        set(p2, (sign >> 2) & 1);
        break;
    }
    case MR74:
    case MR795: {
        int index = prm[0], sign = prm[1];
        int p[4] = {dgray[index & 7] * 5, dgray[(index >> 3) & 7] * 5 + 1, dgray[(index >> 6) & 7] * 5 + 2,
                    dgray[(index >> 10) & 7] * 5 + 3 + ((index >> 9) & 1)};
        for (int k = 0; k < 4; k++) set(p[k], (sign >> k) & 1);
        break;
    }
    case MR102: {
        int pos[8];
        auto dec10 = [&](int w, int i1, int i2, int i3) {
            int msbs = std::min(w >> 3, 124), lsbs = w & 7;
            pos[i1] = ((msbs % 25) % 5) * 2 + (lsbs & 1);
            pos[i2] = ((msbs % 25) / 5) * 2 + ((lsbs >> 1) & 1);
            pos[i3] = (msbs / 25) * 2 + (lsbs >> 2);
        };
        dec10(prm[4], 0, 4, 1);
        dec10(prm[5], 2, 6, 5);
        int msbs = prm[6] >> 2, lsbs = prm[6] & 3, m = (msbs * 25 + 12) >> 5;
        pos[3] = (((m / 5) % 2 == 1) ? (4 - m % 5) : (m % 5)) * 2 + (lsbs & 1);
        pos[7] = (m / 5) * 2 + (lsbs >> 1);
        for (int j = 0; j < 4; j++) {
            int s = prm[j] == 0 ? 1 : -1;
            int a = pos[j] * 4 + j, b = pos[j + 4] * 4 + j;
            c[a] += s;
            c[b] += b < a ? -s : s;
        }
        break;
    }
    case MR122:
        for (int j = 0; j < 5; j++) {
            int s = (prm[j] & 8) ? -1 : 1;
            int a = dgray[prm[j] & 7] * 5 + j, b = dgray[prm[j + 5] & 7] * 5 + j;
            c[a] += s;
            c[b] += b < a ? -s : s;
        }
        break;
    default: break;
    }
    return c;
}

TEST(AmrCodebook, ParametersDecodeToTheCodeVector) {
    std::mt19937 rng(12);
    std::normal_distribution<double> n(0, 1);
    for (int mode = MR475; mode <= MR122; mode++) {
        const Mode md = (Mode)mode;
        const int nprm = md == MR122 ? 10 : md == MR102 ? 7 : 2;
        const int width[8] = {7, 7, 9, 11, 13, 13, 0, 0};
        for (int trial = 0; trial < 40; trial++) {
            Word16 xn[40], h[40], res2[40], code[40], y[40], prm[10] = {};
            for (int i = 0; i < 40; i++) {
                xn[i] = (Word16)std::lround(n(rng) * 3000);
                res2[i] = (Word16)std::lround(n(rng) * 3000);
                h[i] = (Word16)std::lround(4096 * std::pow(0.8, i) * (i % 3 == 2 ? -0.5 : 1.0));
            }
            Word16* anap = prm;
            const int subframe = trial % 4;
            // Lag above 40: no sharpening, so the code is the pulses alone.
            cbsearch(xn, h, 60, 0, 0, res2, code, y, &anap, md, (Word16)subframe);
            ASSERT_EQ(anap - prm, nprm) << mode;
            if (width[mode]) {
                EXPECT_LT(prm[0], 1 << width[mode]) << mode;
            }
            auto want = decode_code(md, prm, subframe);
            const int unit = md == MR122 ? 4096 : 8192;
            for (int i = 0; i < 40; i++) {
                EXPECT_NEAR(code[i], want[i] * unit, 2) << "mode " << mode << " position " << i;
            }
            // The code correlates positively with the target it was chosen for.
            Word16 yc[40];
            Convolve(code, h, yc, 40);
            double c = 0;
            for (int i = 0; i < 40; i++) c += (double)xn[i] * yc[i];
            EXPECT_GT(c, 0) << mode;
        }
    }
}

// A target that is one filtered pulse: the two-per-track searches start at
// the strongest position and so must place a pulse there, with its sign.
TEST(AmrCodebook, TwoPerTrackSearchesFindASinglePulse) {
    for (Mode md : {MR102, MR122}) {
        for (int pos : {0, 17, 39}) {
            for (int sgn : {1, -1}) {
                Word16 xn[40] = {}, h[40], res2[40] = {}, code[40], y[40], prm[10];
                for (int i = 0; i < 40; i++) h[i] = (Word16)std::lround(4096 * std::pow(0.7, i));
                for (int i = pos; i < 40; i++) xn[i] = (Word16)(sgn * h[i - pos] * 2);
                res2[pos] = (Word16)(sgn * 3000);
                Word16* anap = prm;
                cbsearch(xn, h, 60, 0, 0, res2, code, y, &anap, md, 0);
                EXPECT_EQ(code[pos] > 0 ? 1 : code[pos] < 0 ? -1 : 0, sgn) << "mode " << md << " position " << pos;
            }
        }
    }
}

TEST(AmrCodebook, SharpeningOnlyBelowFortyAndStartPositionsDifferPerSubframe) {
    Word16 xn[40] = {}, h[40] = {}, res2[40] = {}, code[40], y[40], prm[10];
    h[0] = 4096;
    xn[3] = 10000;
    Word16* anap = prm;
    cbsearch(xn, h, 20, 13000, 0, res2, code, y, &anap, MR74, 0);
    int nonzero = 0;
    for (int i = 0; i < 40; i++) nonzero += code[i] != 0;
    EXPECT_GT(nonzero, 4);  // pulses repeated at lag 20
    anap = prm;
    cbsearch(xn, h, 40, 13000, 0, res2, code, y, &anap, MR74, 0);
    nonzero = 0;
    for (int i = 0; i < 40; i++) nonzero += code[i] != 0;
    EXPECT_EQ(nonzero, 4);
    // 4.75 kbit/s: the tracks available to the two pulses depend on the subframe.
    EXPECT_NE(startPos_9pf[2 * 0 + 1], startPos_9pf[2 * 1 + 1]);
}

}  // namespace
