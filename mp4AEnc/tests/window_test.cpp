#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "aac_psy_tables.h"
#include "mp4aenc/common.h"
#include "mp4aenc/filterbank.h"
#include "mp4aenc/psy_conf.h"
#include "mp4aenc/window.h"
#include "param_front_end.h"
#include "table_file.h"

namespace {

std::vector<float> half(int N, int shape, bool isShort, int useTable) {
  std::vector<float> h(static_cast<size_t>(N / 2));
  ErrorRecord* err = isShort ? CalculateShortWindow(h.data(), N, shape, useTable)
                             : CalculateWindow(h.data(), N, shape, useTable);
  EXPECT_EQ(err, nullptr);
  return h;
}

struct FileCase {
  const char* file;
  int N;
  int shape;
  bool isShort;
};

TEST(Windows, ComputedAndTabledHalvesEqualTheSharedFiles) {
  const FileCase cases[] = {{"window_kbd_long", 2048, 1, false},
                            {"window_kbd_short", 256, 1, true},
                            {"window_sine_long", 2048, 0, false},
                            {"window_sine_short", 256, 0, true}};
  for (const FileCase& c : cases) {
    const std::vector<double> want = table_column(c.file, 1);
    ASSERT_EQ(want.size(), size_t(c.N / 2)) << c.file;
    for (int useTable : {0, 1}) {
      const std::vector<float> h = half(c.N, c.shape, c.isShort, useTable);
      for (size_t i = 0; i < want.size(); ++i)
        ASSERT_NEAR(h[i], want[i], 2e-7) << c.file << " table " << useTable << " at " << i;
    }
  }
  // The generated tables hold the files' values exactly (as doubles).
  const std::vector<double> kbd = table_column("window_kbd_long", 1);
  for (size_t i = 0; i < kbd.size(); ++i) ASSERT_EQ(kKbdLongTable[i], kbd[i]);
}

TEST(Windows, KbdAndSineArePowerComplementaryAndKbdRises) {
  for (auto [N, shape, isShort] : {std::tuple{2048, 1, false}, std::tuple{256, 1, true},
                                   std::tuple{2048, 0, false}, std::tuple{256, 0, true}}) {
    const std::vector<float> h = half(N, shape, isShort, 0);
    const size_t H = h.size();
    for (size_t i = 0; i < H; ++i) {
      ASSERT_NEAR(h[i] * h[i] + h[H - 1 - i] * h[H - 1 - i], 1.0, 1e-6) << N << " " << i;
      if (i && i < H / 2) {
        ASSERT_GT(h[i], h[i - 1]);
      }
      if (i) {
        ASSERT_GE(h[i], h[i - 1]);
      }
    }
  }
  std::vector<double> w(1024);
  kbd_window_init(w.data(), 4.0, 2048);
  EXPECT_NEAR(w[1023], 1.0, 1e-6);
  EXPECT_DOUBLE_EQ(aac_bessel_i0(0.0), 1.0);
  EXPECT_NEAR(aac_bessel_i0(1.0), 1.2660658777520082, 1e-15);
}

TEST(Windows, TransitionHalfIs448Zeros128RisingValues448Ones) {
  for (int shape : {0, 1}) {
    std::vector<float> t(1024, -1.0f);
    ASSERT_EQ(CalculateTransitionWindow(t.data(), 2048, shape, 1, 8), nullptr);
    const std::vector<float> s = half(256, shape, true, 1);
    for (int i = 0; i < 448; ++i) ASSERT_EQ(t[size_t(i)], 0.0f);
    for (int i = 0; i < 128; ++i) ASSERT_EQ(t[size_t(448 + i)], s[size_t(i)]);
    for (int i = 576; i < 1024; ++i) ASSERT_EQ(t[size_t(i)], 1.0f);
  }
  // Zero-padded sine: 3N/16 zeros, N/8 rising values, ones.
  std::vector<float> z(1024);
  ASSERT_EQ(CalculateWindow(z.data(), 2048, 2, 0), nullptr);
  EXPECT_EQ(z[383], 0.0f);
  EXPECT_GT(z[384], 0.0f);
  EXPECT_LT(z[639], 1.0f);
  EXPECT_EQ(z[640], 1.0f);
  // N < 2 writes nothing.
  float guard = 5.0f;
  EXPECT_EQ(CalculateWindow(&guard, 1, 0, 0), nullptr);
  EXPECT_EQ(guard, 5.0f);
}

TEST(Windows, InvalidShapesAnswerARecordInsteadOfEndingTheProcess) {
  std::vector<float> out(1024, 7.0f);
  struct Case {
    ErrorRecord* err;
  } cases[] = {{CalculateWindow(out.data(), 2048, 4, 0)},
               {CalculateWindow(out.data(), 2048, -1, 0)},
               {CalculateShortWindow(out.data(), 256, 2, 0)},
               {CalculateTransitionWindow(out.data(), 2048, 2, 0, 8)}};
  for (const Case& c : cases) {
    ASSERT_NE(c.err, nullptr);
    EXPECT_STREQ(c.err->message, "CalculateWindow() called with invalid window shape");
    EXPECT_STREQ(c.err->file, "calcwindow");
    error_free(c.err);
  }
  EXPECT_EQ(out[0], 7.0f);
  WindowObject* w = reinterpret_cast<WindowObject*>(&out);  // must be cleared
  ErrorRecord* err = window_create(&w, 2048, 0, 5, 0, 0, 8);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(w, nullptr);
  EXPECT_EQ(error_trace_count(err), 1);
  error_free(err);
}

TEST(Windows, LongWindowWithSineLeftAndZeroPaddedRight) {
  WindowObject* w = nullptr;
  ASSERT_EQ(window_create(&w, 2048, 0, 0, 2, 0, 8), nullptr);
  const std::vector<float> sine = half(2048, 0, false, 0);
  const std::vector<float> zpw = half(2048, 2, false, 0);
  for (int i = 0; i < 1024; ++i) {
    ASSERT_EQ(w->coefficients[i], sine[size_t(i)]);
    ASSERT_EQ(w->coefficients[2047 - i], zpw[size_t(i)]);
  }
  std::vector<float> block(2048, 2.0f);
  window_apply(w, block.data());
  EXPECT_EQ(block[1000], 2.0f * sine[1000]);
  object_free(w);
}

TEST(Windows, StartAndStopWindowsMeetTheShortWindow) {
  WindowObject *start = nullptr, *stop = nullptr;
  ASSERT_EQ(window_create(&start, 2048, 1, 1, 1, 1, 8), nullptr);
  ASSERT_EQ(window_create(&stop, 2048, 3, 1, 1, 1, 8), nullptr);
  // start's falling half and stop's rising half are mirror images.
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(start->coefficients[i], stop->coefficients[2047 - i]);
  EXPECT_EQ(start->coefficients[1024 + 447], 1.0f);
  EXPECT_EQ(start->coefficients[2048 - 448], 0.0f);
  object_free(start);
  object_free(stop);
}

struct WsCase {
  std::vector<std::string> params;
  int useSine;
  const char* error;  // or null
  WindowShapes want;
};

TEST(Windows, WsSettingCases) {
  const int defaults[2] = {1, 0};
  const WsCase cases[] = {
      {{}, 0, nullptr, {1, 1, 1, 0, 0, 0, 0, 1}},
      {{"-ws 1 1"}, 0, nullptr, {1, 1, 1, 1, 1, 1, 1, 1}},
      {{"-ws 0 2"}, 0, nullptr, {0, 0, 0, 0, 2, 2, 0, 0}},
      {{"-ws 2 0"}, 1, nullptr, {0, 0, 0, 0, 0, 0, 0, 0}},
      {{"-ws 3 0"}, 0, "Invalid long window shape", {}},
      {{"-ws 1 3"}, 0, "Invalid short window shape", {}},
  };
  for (const WsCase& c : cases) {
    param_free_all();
    if (!c.params.empty()) configure_params({c.params[0]});
    WindowShapes shapes{};
    ErrorRecord* err = window_shapes_read(&shapes, c.useSine, defaults);
    if (c.error) {
      ASSERT_NE(err, nullptr);
      EXPECT_STREQ(err->message, c.error);
      error_free(err);
      continue;
    }
    ASSERT_EQ(err, nullptr);
    EXPECT_EQ(std::memcmp(&shapes, &c.want, sizeof shapes), 0)
        << (c.params.empty() ? "defaults" : c.params[0]) << ": " << shapes.longLeft
        << shapes.longRight << shapes.startLeft << shapes.startRight << shapes.shortLeft
        << shapes.shortRight << shapes.stopLeft << shapes.stopRight;
  }
  param_free_all();
}

}  // namespace
