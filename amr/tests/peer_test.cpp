// Independent decoding of the encoder's frames by ffmpeg's own AMR-NB decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "amrenc/amrenc.h"

namespace fs = std::filesystem;

namespace {

// prefix + n + suffix; built by appending, since "literal" + std::string
// trips a false -Wrestrict in g++ 12 at -O3.
std::string numbered(const char* prefix, long n, const char* suffix = "") {
    std::string s = prefix;
    s += std::to_string(n);
    s += suffix;
    return s;
}

bool have(const char* tool) {
    std::string cmd = std::string(tool) + " -version >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

std::vector<int16_t> read_raw(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> s(b.size() / 2);
    for (size_t i = 0; i < s.size(); i++) s[i] = (int16_t)((uint8_t)b[2 * i] | ((uint8_t)b[2 * i + 1] << 8));
    return s;
}

// IF2 frame -> RFC 4867 storage frame: header (FT << 3) | 4, then the same
// speech bits d(0).. packed from the most significant bit.
std::vector<uint8_t> if2_to_storage(const uint8_t* if2) {
    int ft = if2[0] & 0x0f;
    int nbits = amr_if2_frame_bytes(ft) * 8 - 4;
    static const int exact[9] = {95, 103, 118, 134, 148, 159, 204, 244, 35};
    nbits = exact[ft];
    std::vector<uint8_t> out(1 + (nbits + 7) / 8, 0);
    out[0] = (uint8_t)((ft << 3) | 4);
    for (int k = 0; k < nbits; k++) {
        int pos = k + 4;
        int bit = (if2[pos >> 3] >> (pos & 7)) & 1;
        out[1 + k / 8] |= (uint8_t)(bit << (7 - k % 8));
    }
    return out;
}

struct Quality {
    double snr_seg;      // against the high-passed input
    double snr_seg_raw;  // against the input as given
    int frames;
    bool decoded;
};

// The coder's own input filter (80 Hz high-pass), in floating point: the
// reference the decoded speech is compared with, since the high-pass is part of
// the coding and its phase shift near the pitch frequency is not an error.
std::vector<double> high_pass(const std::vector<int16_t>& x) {
    const double b0 = 1899.0 * 2 / 4096, b1 = -3798.0 * 2 / 4096, b2 = b0;
    const double a1 = 7807.0 / 4096, a2 = -3733.0 / 4096;
    std::vector<double> y(x.size());
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (size_t i = 0; i < x.size(); i++) {
        double v = b0 * x[i] + b1 * x1 + b2 * x2 + a1 * y1 + a2 * y2;
        x2 = x1;
        x1 = x[i];
        y2 = y1;
        y1 = v;
        y[i] = v;
    }
    return y;
}

// Mean segmental SNR over 160-sample segments of active speech, clamped to
// -10..35 dB per segment; decoded sample i + delay matches reference sample i.
double segmental_snr(const std::vector<double>& ref, const std::vector<int16_t>& y, int delay) {
    double sum = 0;
    int count = 0;
    for (size_t s = 0; (s + 1) * 160 + delay <= y.size() && (s + 1) * 160 <= ref.size(); s++) {
        double e = 0, n = 0;
        for (size_t i = s * 160; i < (s + 1) * 160; i++) {
            double d = ref[i] - y[i + delay];
            e += ref[i] * ref[i];
            n += d * d;
        }
        if (e / 160 < 200.0 * 200.0) continue;  // only active speech segments
        sum += std::clamp(10 * std::log10(e / (n + 1.0)), -10.0, 35.0);
        count++;
    }
    return count ? sum / count : -100;
}

Quality encode_decode(const std::vector<int16_t>& pcm, int mode, const fs::path& dir) {
    AmrEncState* st = nullptr;
    EXPECT_EQ(amr_enc_init(&st, 0, "KRAudioEncoder"), 0);
    const fs::path amr = dir / numbered("m", mode, ".amr");
    const fs::path dec = dir / numbered("m", mode, ".raw");
    std::ofstream f(amr, std::ios::binary);
    f.write("#!AMR\n", 6);
    const int frames = (int)pcm.size() / 160;
    for (int i = 0; i < frames; i++) {
        std::vector<int16_t> buf(pcm.begin() + i * 160, pcm.begin() + (i + 1) * 160);
        uint8_t out[AMR_OUT_BYTES];
        int used = -1;
        amr_enc_frame(st, mode, buf.data(), out, &used);
        auto s = if2_to_storage(out);
        f.write((const char*)s.data(), (std::streamsize)s.size());
    }
    f.close();
    amr_enc_exit(&st);
    std::string cmd = "ffmpeg -v error -xerror -y -f amr -i '" + amr.string() + "' -f s16le -ar 8000 -ac 1 '" +
                      dec.string() + "' 2>'" + (dir / "err.txt").string() + "'";
    Quality q{0, 0, frames, std::system(cmd.c_str()) == 0};
    if (!q.decoded) return q;
    std::ifstream err(dir / "err.txt");
    std::string text((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(text.empty()) << "mode " << mode << ": " << text;
    auto y = read_raw(dec);
    EXPECT_GE((int)y.size(), frames * 160 - 160) << mode;
    // Align: the coder looks 40 samples ahead; search around that.
    int best_d = 0;
    double best = -1e300;
    for (int d = 0; d <= 120; d++) {
        double c = 0;
        for (size_t i = 0; i + d < y.size() && i < pcm.size(); i++) c += (double)pcm[i] * y[i + d];
        if (c > best) {
            best = c;
            best_d = d;
        }
    }
    q.snr_seg = segmental_snr(high_pass(pcm), y, best_d);
    q.snr_seg_raw = segmental_snr(std::vector<double>(pcm.begin(), pcm.end()), y, best_d);
    return q;
}

TEST(AmrPeer, FfmpegDecodesEveryModeWithGoodQuality) {
    if (!have("ffmpeg")) GTEST_SKIP() << "ffmpeg not reachable";
    if (std::system("espeak-ng --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "espeak-ng not installed";
    fs::path dir = fs::temp_directory_path() / numbered("amr_peer_", ::getpid());
    fs::create_directories(dir);
    std::string cmd = "espeak-ng -s 150 -w '" + (dir / "s.wav").string() +
                      "' 'The quick brown fox jumps over the lazy dog. Speech coding at eight kilohertz keeps "
                      "the voice clear and natural.' && ffmpeg -v error -y -i '" +
                      (dir / "s.wav").string() + "' -ar 8000 -ac 1 -f s16le '" + (dir / "s.raw").string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    auto pcm = read_raw(dir / "s.raw");
    ASSERT_GT(pcm.size(), 8000u);
    const double min_snr[8] = {4, 4, 4, 4, 4, 4, 4, 9};
    for (int mode = AMR_MR475; mode <= AMR_MR122; mode++) {
        Quality q = encode_decode(pcm, mode, dir);
        ASSERT_TRUE(q.decoded) << "mode " << mode;
        std::printf("mode %d: segmental SNR %.2f dB (against the unfiltered input %.2f dB) over %d frames\n", mode,
                    q.snr_seg, q.snr_seg_raw, q.frames);
        EXPECT_GE(q.snr_seg, min_snr[mode]) << "mode " << mode;
    }
    if (!std::getenv("AMR_PEER_KEEP")) fs::remove_all(dir);
}

}  // namespace
