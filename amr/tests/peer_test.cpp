// Independent decoding of the encoder's frames by ffmpeg's own AMR-NB decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "amrenc/amrenc.h"
#include "cod_amr.h"

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

std::vector<uint8_t> if2_to_storage(const uint8_t* if2) {
    uint8_t s[32];
    const int n = amr_if2_to_storage(if2, s);
    return std::vector<uint8_t>(s, s + n);
}

// Second-order filter with numerator b0 (1 - 2z^-1 + z^-2) and poles from a1, a2.
std::vector<double> high_pass(const std::vector<double>& x, double b0, double a1, double a2) {
    std::vector<double> y(x.size());
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (size_t i = 0; i < x.size(); i++) {
        double v = b0 * (x[i] - 2 * x1 + x2) + a1 * y1 + a2 * y2;
        x2 = x1;
        x1 = x[i];
        y2 = y1;
        y1 = v;
        y[i] = v;
    }
    return y;
}

// The coder's own input filter (80 Hz high-pass, in floating point without
// the halving): its phase shift near the pitch frequency is part of the coding.
std::vector<double> input_filter(const std::vector<double>& x) {
    return high_pass(x, 1899.0 * 2 / 4096, 7807.0 / 4096, -3733.0 / 4096);
}

// The decoder's output filter (60 Hz high-pass of the AMR decoder's
// post-processing, with the doubling undone): ffmpeg applies it too.
std::vector<double> output_filter(const std::vector<double>& x) {
    return high_pass(x, 7699.0 / 8192, 15836.0 / 8192, -7667.0 / 8192);
}

std::vector<double> to_double(const std::vector<int16_t>& x) { return std::vector<double>(x.begin(), x.end()); }

// Mean segmental SNR over 160-sample segments of active speech, clamped to
// -10..35 dB per segment; y[i + delay] matches ref[i].
double segmental_snr(const std::vector<double>& ref, const std::vector<double>& y, int delay) {
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

struct Quality {
    double raw;        // decoded against the input as given
    double in_filt;    // decoded against the input through the coder's input filter
    double both_filt;  // decoded against the input through the input and output filters
    double synth;      // the encoder's own synthesis against its (filtered) input
    double dec_synth;  // decoded against the synthesis through the output filter
    int frames;
    bool decoded;
};

Quality encode_decode(const std::vector<int16_t>& pcm, int mode, const fs::path& dir) {
    AmrEncState* st = nullptr;
    EXPECT_EQ(amr_enc_init(&st, 0, "KRAudioEncoder"), 0);
    const fs::path amr = dir / numbered("m", mode, ".amr");
    const fs::path dec = dir / numbered("m", mode, ".raw");
    std::ofstream f(amr, std::ios::binary);
    f.write("#!AMR\n", 6);
    const int frames = (int)pcm.size() / 160;
    std::vector<double> filtered, synth;
    for (int i = 0; i < frames; i++) {
        std::vector<int16_t> buf(pcm.begin() + i * 160, pcm.begin() + (i + 1) * 160);
        uint8_t out[AMR_OUT_BYTES];
        int used = -1;
        int16_t syn[160];
        amr::encode_frame(st, mode, buf.data(), out, &used, syn);
        auto s = if2_to_storage(out);
        f.write((const char*)s.data(), (std::streamsize)s.size());
        // Undo the input filter's halving.
        for (int k = 0; k < 160; k++) {
            filtered.push_back(2.0 * buf[k]);
            synth.push_back(2.0 * syn[k]);
        }
    }
    f.close();
    amr_enc_exit(&st);
    std::string cmd = "ffmpeg -v error -xerror -y -f amr -i '" + amr.string() + "' -f s16le -ar 8000 -ac 1 '" +
                      dec.string() + "' 2>'" + (dir / "err.txt").string() + "'";
    Quality q{0, 0, 0, 0, 0, frames, std::system(cmd.c_str()) == 0};
    if (!q.decoded) return q;
    std::ifstream err(dir / "err.txt");
    std::string text((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(text.empty()) << "mode " << mode << ": " << text;
    auto y16 = read_raw(dec);
    EXPECT_GE((int)y16.size(), frames * 160 - 160) << mode;
    const std::vector<double> y = to_double(y16);
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
    const std::vector<double> raw = to_double(pcm), in_filt = input_filter(raw);
    q.raw = segmental_snr(raw, y, best_d);
    q.in_filt = segmental_snr(in_filt, y, best_d);
    q.both_filt = segmental_snr(output_filter(in_filt), y, best_d);
    // The synthesis of a frame is the input 40 samples back (the look-ahead).
    q.synth = segmental_snr(filtered, synth, 40);
    q.dec_synth = segmental_snr(output_filter(synth), y, best_d - 40);
    return q;
}

// Speech of one voice made at test time, 8 kHz mono.
std::vector<int16_t> speak(const fs::path& dir, const char* voice_args) {
    const fs::path wav = dir / "s.wav", raw = dir / "s.raw";
    std::string cmd = std::string("espeak-ng -s 150 ") + voice_args + " -w '" + wav.string() +
                      "' 'The quick brown fox jumps over the lazy dog. Speech coding at eight kilohertz keeps "
                      "the voice clear and natural.' && ffmpeg -v error -y -i '" +
                      wav.string() + "' -ar 8000 -ac 1 -f s16le '" + raw.string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << voice_args;
    return read_raw(raw);
}

// A low voice (about 100 Hz) and a high one (about 280 Hz), where the fixed
// high-pass filters shift the phase of the fundamental far less.
TEST(AmrPeer, FfmpegDecodesEveryModeWithGoodQuality) {
    if (!have("ffmpeg")) GTEST_SKIP() << "ffmpeg not reachable";
    if (std::system("espeak-ng --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "espeak-ng not installed";
    fs::path dir = fs::temp_directory_path() / numbered("amr_peer_", ::getpid());
    fs::create_directories(dir);
    const char* voices[2] = {"", "-v en+f3 -p 80"};
    const double min_snr[8] = {4, 4, 4, 4, 4, 4, 4, 9};
    for (const char* voice : voices) {
        auto pcm = speak(dir, voice);
        ASSERT_GT(pcm.size(), 8000u) << voice;
        // Even a lossless coder between the two fixed filters stays this far
        // from the unfiltered input.
        const std::vector<double> raw = to_double(pcm);
        std::printf("voice '%s': filters alone against the unfiltered input %.2f dB (input filter only %.2f dB)\n",
                    voice, segmental_snr(raw, output_filter(input_filter(raw)), 0),
                    segmental_snr(raw, input_filter(raw), 0));
        for (int mode = AMR_MR475; mode <= AMR_MR122; mode++) {
            Quality q = encode_decode(pcm, mode, dir);
            ASSERT_TRUE(q.decoded) << "mode " << mode;
            std::printf(
                "  mode %d: decoded against input %.2f, input filtered %.2f, filtered twice %.2f dB; "
                "synthesis %.2f dB; decoded against filtered synthesis %.2f dB (%d frames)\n",
                mode, q.raw, q.in_filt, q.both_filt, q.synth, q.dec_synth, q.frames);
            EXPECT_GE(q.in_filt, min_snr[mode]) << "mode " << mode << " voice " << voice;
            EXPECT_GE(q.both_filt, min_snr[mode]) << "mode " << mode << " voice " << voice;
            EXPECT_GE(q.synth, min_snr[mode]) << "mode " << mode << " voice " << voice;
            // The decoder rebuilds what the encoder synthesised: only its
            // post-filter (and float arithmetic) stands between them.
            EXPECT_GE(q.dec_synth, 13.0) << "mode " << mode << " voice " << voice;
        }
    }
    if (!std::getenv("AMR_PEER_KEEP")) fs::remove_all(dir);
}

// DTX over speech with pauses, the mode moving through all eight: the
// storage file's frames, SID ones included, are the packets ffprobe finds.
TEST(AmrPeer, FfprobeReadsEveryFrameTypeOfADtxFileAtItsWrittenSize) {
    if (!have("ffprobe")) GTEST_SKIP() << "ffprobe not reachable";
    if (std::system("espeak-ng --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "espeak-ng not installed";
    fs::path dir = fs::temp_directory_path() / numbered("amr_dtx_", ::getpid());
    fs::create_directories(dir);
    const auto words = speak(dir, "");
    ASSERT_GT(words.size(), 8000u);
    // Three utterances, each followed by 1.2 s of silence.
    std::vector<int16_t> pcm;
    for (int i = 0; i < 3; i++) {
        pcm.insert(pcm.end(), words.begin(), words.end());
        pcm.insert(pcm.end(), 9600, 0);
    }
    AmrEncState* st = nullptr;
    ASSERT_EQ(amr_enc_init(&st, 1, "KRAudioEncoder"), 0);
    const fs::path file = dir / "dtx.amr";
    std::ofstream f(file, std::ios::binary);
    f.write("#!AMR\n", 6);
    std::vector<int> sizes;
    int seen[9] = {};
    for (size_t at = 0; at + 160 <= pcm.size(); at += 160) {
        std::vector<int16_t> buf(pcm.begin() + (long)at, pcm.begin() + (long)at + 160);
        const int mode = (int)(at / 160 / 25) % 8;
        uint8_t out[AMR_OUT_BYTES];
        int used = -1;
        ASSERT_EQ(amr_enc_frame(st, mode, buf.data(), out, &used), 0);
        auto s = if2_to_storage(out);
        ASSERT_EQ((int)s.size(), amr_storage_frame_bytes(used));
        f.write((const char*)s.data(), (std::streamsize)s.size());
        sizes.push_back((int)s.size());
        seen[used]++;
    }
    f.close();
    amr_enc_exit(&st);
    for (int t = 0; t <= AMR_SID; t++) EXPECT_GT(seen[t], 0) << "frame type " << t;
    const fs::path list = dir / "packets.txt";
    std::string cmd = "ffprobe -v error -select_streams a:0 -show_entries packet=size -of csv=p=0 '" +
                      file.string() + "' >'" + list.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream in(list);
    std::vector<int> probed;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) probed.push_back(std::atoi(line.c_str()));
    std::printf("DTX file: %zu frames, %d of them SID; ffprobe found %zu packets\n", sizes.size(), seen[AMR_SID],
                probed.size());
    EXPECT_EQ(probed, sizes);
    if (!std::getenv("AMR_PEER_KEEP")) fs::remove_all(dir);
}

}  // namespace
