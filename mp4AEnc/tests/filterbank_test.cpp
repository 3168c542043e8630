#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "mp4aenc/common.h"
#include "mp4aenc/filterbank.h"
#include "mp4aenc/window.h"

namespace {

constexpr int L = 1024, S = 128, P = (L - S) / 2;

TEST(Filterbank, TwiddleFftIsTheDctFour) {
  for (int M : {16, 256, 1024}) {
    std::mt19937 rng(M);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> x(static_cast<size_t>(M)), y;
    for (float& v : x) v = u(rng);
    y = x;
    mdct_twiddle_fft(y.data(), M);
    for (int k = 0; k < M; k += 7) {
      double want = 0.0;
      for (int n = 0; n < M; ++n) want += x[size_t(n)] * std::cos(3.14159265358979323846 / M * (n + 0.5) * (k + 0.5));
      EXPECT_NEAR(y[size_t(k)], want, 1e-3 * std::sqrt(double(M))) << "M " << M << " k " << k;
    }
  }
}

// The analysis side as the driver builds it: the windowed block through the
// odd-time odd-frequency DFT, real part times 2.
void forward(const float* block, const float* window, int n, float* spectrum) {
  std::vector<float> b(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) b[size_t(i)] = block[i] * window[i];
  dft_mdct_phase(b.data(), n);
  for (int k = 0; k < n / 2; ++k) spectrum[k] = 2.0f * b[size_t(2 * k)];
}

struct Windows {
  WindowObject* w[4] = {};
  explicit Windows(int shortShape, int longShape) {
    const int right[4] = {longShape, shortShape, shortShape, longShape};
    const int left[4] = {longShape, longShape, shortShape, shortShape};
    for (int seq = 0; seq < 4; ++seq)
      EXPECT_EQ(window_create(&w[seq], seq == 2 ? 2 * S : 2 * L, seq, left[seq], right[seq], 1, 8),
                nullptr);
  }
  ~Windows() {
    for (WindowObject* x : w) object_free(x);
  }
};

void encode_frame(const float* block, int seq, const Windows& win, float* spectrum) {
  if (seq != 2) {
    forward(block, win.w[seq]->coefficients, 2 * L, spectrum);
    return;
  }
  for (int k = 0; k < 8; ++k) forward(block + P + k * S, win.w[2]->coefficients, 2 * S, spectrum + k * S);
}

TEST(Filterbank, RebuildsTheInputOverEveryTransitionInBothShapes) {
  for (int shape : {0, 1}) {
    Windows win(shape, shape);
    const int seqs[] = {0, 1, 2, 3, 0, 0};
    const int frames = int(sizeof seqs / sizeof seqs[0]);
    std::vector<float> input(size_t(L) * (frames + 1));
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-20000.0f, 20000.0f);
    for (size_t i = L; i < input.size(); ++i) input[i] = u(rng);  // frame 0 of input is silence
    std::vector<float> overlap(L), out(L), spectrum(L);
    double worst = 0.0;
    for (int f = 0; f < frames; ++f) {
      encode_frame(input.data() + size_t(f) * L, seqs[f], win, spectrum.data());
      filterbank_window_frame(spectrum.data(), out.data(), overlap.data(), unsigned(seqs[f]), L, S,
                              8, win.w[seqs[f]]->coefficients);
      // Output f rebuilds the first half of block f: input samples f*L ..
      for (int i = 0; i < L; ++i)
        worst = std::max(worst, std::fabs(double(out[size_t(i)]) - input[size_t(f) * L + size_t(i)]));
    }
    EXPECT_LT(worst, 0.05) << "shape " << shape;  // against samples up to 20000
  }
}

TEST(Filterbank, ZeroSpectrumGivesZeroForEverySequence) {
  Windows win(1, 1);
  for (int seq = 0; seq < 4; ++seq) {
    std::vector<float> spectrum(L, 0.0f), out(L, 1.0f), overlap(L, 0.0f);
    filterbank_window_frame(spectrum.data(), out.data(), overlap.data(), unsigned(seq), L, S, 8,
                            win.w[seq]->coefficients);
    for (int i = 0; i < L; ++i) {
      ASSERT_EQ(out[size_t(i)], 0.0f) << seq;
      ASSERT_EQ(overlap[size_t(i)], 0.0f) << seq;
    }
  }
}

TEST(Filterbank, EightShortLeavesTheLast448OverlapValuesZero) {
  Windows win(0, 0);
  std::vector<float> spectrum(L), out(L), overlap(L, 3.0f);
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-1000.0f, 1000.0f);
  for (float& v : spectrum) v = u(rng);
  filterbank_window_frame(spectrum.data(), out.data(), overlap.data(), 2, L, S, 8,
                          win.w[2]->coefficients);
  for (int i = L - P; i < L; ++i) ASSERT_EQ(overlap[size_t(i)], 0.0f) << i;
  bool any = false;
  for (int i = 0; i < L - P; ++i) any = any || overlap[size_t(i)] != 0.0f;
  EXPECT_TRUE(any);
}

}  // namespace
