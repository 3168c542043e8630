#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "amrenc/amrenc.h"

namespace {

struct Encoder {
    AmrEncState* st = nullptr;
    explicit Encoder(int dtx = 0) { EXPECT_EQ(amr_enc_init(&st, dtx, "KRAudioEncoder"), 0); }
    ~Encoder() { amr_enc_exit(&st); }
    std::vector<uint8_t> frame(int mode, std::vector<int16_t> pcm, int* used = nullptr) {
        uint8_t out[AMR_OUT_BYTES];
        int u = -2;
        EXPECT_EQ(amr_enc_frame(st, mode, pcm.data(), out, &u), 0);
        if (used) *used = u;
        return std::vector<uint8_t>(out, out + AMR_OUT_BYTES);
    }
};

std::vector<int16_t> speech_like(int frames, unsigned seed) {
    // Voiced bursts: a pulse train through two resonances, with pauses.
    std::mt19937 rng(seed);
    std::normal_distribution<double> n(0, 1);
    std::vector<int16_t> x(frames * AMR_FRAME_SAMPLES);
    double y1 = 0, y2 = 0, z1 = 0, z2 = 0, phase = 0;
    for (size_t i = 0; i < x.size(); i++) {
        double t = i / 8000.0;
        double f0 = 110 + 30 * std::sin(2 * 3.14159 * 0.7 * t);
        phase += f0 / 8000.0;
        double src = 0;
        if (phase >= 1) {
            phase -= 1;
            src = 1;
        }
        bool voiced = std::fmod(t, 0.9) < 0.6;
        double e = voiced ? src * 6000 : n(rng) * 300;
        double y = e + 1.6 * y1 - 0.9 * y2;  // resonance near 500 Hz
        y2 = y1;
        y1 = y;
        double z = y + 0.6 * z1 - 0.5 * z2;
        z2 = z1;
        z1 = z;
        x[i] = (int16_t)std::lround(std::clamp(z * 0.5, -30000.0, 30000.0));
    }
    return x;
}

TEST(AmrEncoder, FrameSizesAndPadding) {
    const int want[9] = {13, 14, 16, 18, 19, 21, 26, 31, 6};
    for (int t = 0; t <= AMR_SID; t++) EXPECT_EQ(amr_if2_frame_bytes(t), want[t]) << t;
    auto x = speech_like(12, 1);
    for (int mode = AMR_MR475; mode <= AMR_MR122; mode++) {
        Encoder e;
        for (int f = 0; f < 12; f++) {
            int used = -1;
            std::vector<int16_t> pcm(x.begin() + f * 160, x.begin() + (f + 1) * 160);
            auto out = e.frame(mode, pcm, &used);
            ASSERT_EQ(used, mode);
            EXPECT_EQ(out[0] & 0x0f, mode);
            const int n = want[mode];
            for (int i = n; i < AMR_OUT_BYTES; i++) ASSERT_EQ(out[i], 0) << "mode " << mode << " byte " << i;
            // Bits above the last data bit of the last octet are zero.
            static const int data_bits[8] = {95, 103, 118, 134, 148, 159, 204, 244};
            const int bits = 4 + data_bits[mode];
            if (bits % 8) {
                EXPECT_EQ(out[n - 1] >> (bits % 8), 0) << mode;
            }
        }
    }
}

TEST(AmrEncoder, InputHandling) {
    auto x = speech_like(6, 2);
    Encoder a, b;
    for (int f = 0; f < 6; f++) {
        std::vector<int16_t> p(x.begin() + f * 160, x.begin() + (f + 1) * 160), q = p;
        for (auto& v : q) v = (int16_t)((v & ~7) | (f & 7));  // differ only in the 3 low bits
        std::vector<int16_t> before = p;
        uint8_t o1[AMR_OUT_BYTES], o2[AMR_OUT_BYTES];
        int u1, u2;
        amr_enc_frame(a.st, AMR_MR122, p.data(), o1, &u1);
        amr_enc_frame(b.st, AMR_MR122, q.data(), o2, &u2);
        EXPECT_EQ(std::vector<uint8_t>(o1, o1 + 31), std::vector<uint8_t>(o2, o2 + 31));
        if (f > 0) {
            EXPECT_NE(p, before);  // the buffer holds the filtered signal
        }
    }
    uint8_t out[AMR_OUT_BYTES];
    int used = 0;
    std::vector<int16_t> pcm(160, 0);
    EXPECT_EQ(amr_enc_frame(a.st, 9, pcm.data(), out, &used), -1);
    EXPECT_EQ(used, -1);
    EXPECT_EQ(amr_enc_frame(a.st, -1, pcm.data(), out, &used), -1);
    EXPECT_EQ(amr_enc_frame(nullptr, 0, pcm.data(), out, &used), -1);
    EXPECT_EQ(amr_enc_frame(a.st, 0, nullptr, out, &used), -1);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(amr_enc_frame(a.st, 0, pcm.data(), nullptr, &used), -1);
    EXPECT_EQ(amr_enc_frame(a.st, 0, pcm.data(), out, nullptr), -1);
}

TEST(AmrEncoder, LifecycleAndResetReproducibility) {
    EXPECT_EQ(amr_enc_init(nullptr, 0, "x"), -1);
    EXPECT_EQ(amr_enc_reset(nullptr), -1);
    amr_enc_exit(nullptr);
    AmrEncState* none = nullptr;
    amr_enc_exit(&none);
    EXPECT_EQ(none, nullptr);

    auto x = speech_like(10, 3);
    for (int mode : {AMR_MR475, AMR_MR795, AMR_MR122}) {
        Encoder e;
        auto run = [&] {
            std::vector<uint8_t> all;
            for (int f = 0; f < 10; f++) {
                auto o = e.frame(mode, std::vector<int16_t>(x.begin() + f * 160, x.begin() + (f + 1) * 160));
                all.insert(all.end(), o.begin(), o.end());
            }
            return all;
        };
        auto first = run();
        auto second = run();  // carries state: differs
        EXPECT_NE(first, second) << mode;
        ASSERT_EQ(amr_enc_reset(e.st), 0);
        auto third = run();
        EXPECT_EQ(first, third) << mode;
    }
}

TEST(AmrEncoder, DtxOffNeverChangesTheMode) {
    Encoder e(0);
    std::vector<int16_t> silence(160, 0);
    for (int f = 0; f < 40; f++) {
        int used = -1;
        e.frame(AMR_MR475, silence, &used);
        ASSERT_EQ(used, AMR_MR475);
    }
}

TEST(AmrEncoder, DtxOnCodesSilenceAsSid) {
    Encoder e(1);
    auto x = speech_like(20, 4);
    int used = -1;
    for (int f = 0; f < 20; f++) e.frame(AMR_MR122, std::vector<int16_t>(x.begin() + f * 160, x.begin() + (f + 1) * 160), &used);
    std::vector<int16_t> silence(160, 0);
    int first_sid = -1;
    for (int f = 0; f < 40; f++) {
        auto out = e.frame(AMR_MR122, silence, &used);
        if (used == AMR_SID) {
            if (first_sid < 0) first_sid = f;
            EXPECT_EQ(out[0] & 0x0f, AMR_SID);
            for (int i = 6; i < AMR_OUT_BYTES; i++) ASSERT_EQ(out[i], 0);
        } else {
            ASSERT_EQ(used, AMR_MR122);
        }
    }
    // VAD hangover then the DTX hangover of 7 frames come before the first SID.
    EXPECT_GE(first_sid, 7);
    EXPECT_LT(first_sid, 30);
}

}  // namespace

namespace {

// Sanitizers watch this run: random and extreme input in every mode, with and
// without DTX; every frame must come out well formed.
TEST(AmrEncoder, LongRandomRunStaysDefined) {
    std::mt19937 rng(77);
    std::uniform_int_distribution<int> d(-32768, 32767);
    for (int dtx = 0; dtx <= 1; dtx++) {
        Encoder e(dtx);
        for (int f = 0; f < 400; f++) {
            std::vector<int16_t> pcm(160);
            const int kind = (f / 10) % 5;
            for (int i = 0; i < 160; i++) {
                switch (kind) {
                case 0: pcm[i] = (int16_t)d(rng); break;                        // full-scale noise
                case 1: pcm[i] = (int16_t)((i / 3) % 2 ? 32767 : -32768); break;  // square wave
                case 2: pcm[i] = 0; break;
                case 3: pcm[i] = (int16_t)(d(rng) >> 10); break;                // faint noise
                default: pcm[i] = (int16_t)(i % 40 == 0 ? 32767 : 0); break;    // pulse train
                }
            }
            const int mode = (f * 7 + dtx) % 8;
            int used = -1;
            auto out = e.frame(mode, pcm, &used);
            ASSERT_TRUE(used == mode || (dtx && used == AMR_SID)) << f;
            ASSERT_EQ(out[0] & 0x0f, used);
            for (int i = amr_if2_frame_bytes(used); i < AMR_OUT_BYTES; i++) ASSERT_EQ(out[i], 0);
        }
    }
}

}  // namespace

namespace {

// IF2 bit d(k) of a frame (after the 4-bit frame type).
int if2_bit(const std::vector<uint8_t>& f, int k) { return (f[(k + 4) >> 3] >> ((k + 4) & 7)) & 1; }

// Speech with pauses in every mode, the mode also changed during a pause:
// each SID frame is 6 octets with STI 1 and the mode in use as its mode
// indication (d(36) the least significant bit), and zeros behind its 43 bits.
TEST(AmrEncoder, SidFramesCarryTheirTypeAndTheModeInUse) {
    const auto speech = speech_like(20, 9);
    const std::vector<int16_t> silence(160, 0);
    for (int mode = AMR_MR475; mode <= AMR_MR122; mode++) {
        Encoder e(1);
        int sids = 0;
        for (int round = 0; round < 2; round++) {
            // The second pause switches to another mode halfway through.
            for (int f = 0; f < 20; f++)
                e.frame(mode, std::vector<int16_t>(speech.begin() + f * 160, speech.begin() + (f + 1) * 160));
            for (int f = 0; f < 40; f++) {
                const int inUse = round == 1 && f >= 20 ? (mode + 3) % 8 : mode;
                int used = -1;
                auto out = e.frame(inUse, silence, &used);
                if (used != AMR_SID) continue;
                ++sids;
                ASSERT_EQ(amr_if2_frame_bytes(used), 6);
                EXPECT_EQ(if2_bit(out, 35), 1) << "STI";
                EXPECT_EQ(if2_bit(out, 36) | if2_bit(out, 37) << 1 | if2_bit(out, 38) << 2, inUse) << f;
                EXPECT_EQ(out[5] >> 3, 0);
                for (int i = 6; i < AMR_OUT_BYTES; i++) ASSERT_EQ(out[i], 0);
                // The storage form carries the same 39 bits in 6 octets.
                uint8_t stored[32];
                ASSERT_EQ(amr_if2_to_storage(out.data(), stored), 6);
                EXPECT_EQ(stored[0], 0x44);
                EXPECT_EQ(stored[5] & 0x1f, (1 << 4) | (inUse & 1) << 3 | (inUse & 2) << 1 | (inUse & 4) >> 1);
            }
        }
        EXPECT_GE(sids, 20) << "mode " << mode;
    }
}

TEST(AmrEncoder, StorageFramesOfEveryType) {
    const int want[9] = {13, 14, 16, 18, 20, 21, 27, 32, 6};
    for (int t = 0; t <= AMR_SID; t++) EXPECT_EQ(amr_storage_frame_bytes(t), want[t]) << t;
    EXPECT_EQ(amr_storage_frame_bytes(9), 0);
    EXPECT_EQ(amr_storage_frame_bytes(-1), 0);
    // Bits keep their order: d(k) of IF2 is bit 7 - k % 8 of octet 1 + k / 8.
    auto x = speech_like(3, 2);
    Encoder e;
    auto f = e.frame(AMR_MR122, std::vector<int16_t>(x.begin() + 320, x.begin() + 480));
    uint8_t stored[32];
    ASSERT_EQ(amr_if2_to_storage(f.data(), stored), 32);
    EXPECT_EQ(stored[0], 0x3c);
    for (int k = 0; k < 244; k++) ASSERT_EQ((stored[1 + k / 8] >> (7 - k % 8)) & 1, if2_bit(f, k)) << k;
    EXPECT_EQ(stored[31] & 0x0f, 0);  // 244 bits: four padding bits
    uint8_t unknown[AMR_OUT_BYTES] = {0x0c};
    EXPECT_EQ(amr_if2_to_storage(unknown, stored), 0);
}

}  // namespace
