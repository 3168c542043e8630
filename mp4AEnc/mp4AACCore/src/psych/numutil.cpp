#include "mp4aenc/numutil.h"

#include <cmath>
#include <cstring>

namespace {

constexpr int kLong = 607;   // table length, the long lag
constexpr int kShort = 273;  // the short lag

// Process-wide like the rest of the encoder's generator users expect: one
// sequence shared by every caller, not thread-safe.
struct RandomState {
  double table[kLong];
  int position;  // next entry handed out; kLong means the table is used up
  int seed1 = 1802;
  int seed2 = 9373;
  bool ready = false;
} g_random;

inline double frac_sum(double a, double b) {
  double s = a + b;
  return s >= 1.0 ? s - 1.0 : s;
}

void initialise(int s1, int s2) {
  int i = (s1 / 177) % 177 + 2;
  int j = s1 % 177 + 2;
  int k = (s2 / 169) % 178 + 1;
  int l = s2 % 169;
  for (int e = 0; e < kLong; ++e) {
    double value = 0.0, bit = 0.5;
    for (int b = 0; b < 24; ++b) {
      int m = (((i * j) % 179) * k) % 179;
      i = j;
      j = k;
      k = m;
      l = (53 * l + 1) % 169;
      if ((l * m) % 64 >= 32) value += bit;
      bit *= 0.5;
    }
    g_random.table[e] = value;
  }
  g_random.position = 0;
  g_random.ready = true;
}

// Replaces the table by the next 607 values of the sequence.
void renew() {
  double* x = g_random.table;
  for (int k = 0; k < kLong; ++k)
    x[k] = frac_sum(x[k], k < kShort ? x[k + kLong - kShort] : x[k - kShort]);
  g_random.position = 0;
}

}  // namespace

void random_seed(int seed) {
  if (seed != 0) g_random.seed1 = seed;
  initialise(g_random.seed1, g_random.seed2);
}

int random_fill(int count, double* out) {
  if (count <= 0) return 0;
  if (!g_random.ready) initialise(g_random.seed1, g_random.seed2);
  for (int n = 0; n < count;) {
    if (g_random.position == kLong) renew();
    int take = kLong - g_random.position;
    if (take > count - n) take = count - n;
    std::memcpy(out + n, g_random.table + g_random.position, size_t(take) * sizeof(double));
    g_random.position += take;
    n += take;
  }
  return count;
}

void sort_indices(const float* values, int* order, int count) {
  for (int i = 0; i < count; ++i) order[i] = i;
  for (int i = 1; i < count; ++i) {
    int idx = order[i];
    int j = i - 1;
    while (j >= 0 && values[order[j]] > values[idx]) {
      order[j + 1] = order[j];
      --j;
    }
    order[j + 1] = idx;
  }
}

int freq_to_band_nearest(float freq, float sampleRate, int bandCount, const int* offsets) {
  int line = int(std::lround(double(freq) / sampleRate * 2.0 * offsets[bandCount]));
  if (line >= offsets[bandCount]) return bandCount;
  int i = 0;
  while (i < bandCount - 1 && offsets[i + 1] <= line) ++i;
  return offsets[i + 1] - line < line - offsets[i] ? i + 1 : i;
}

int line_to_freq(int band, float sampleRate, int lineCount, const int* offsets) {
  return int(std::lround(double(offsets[band] - 1) / lineCount * sampleRate / 2.0));
}

int freq_to_band(float freq, float sampleRate, int bandCount, const int* offsets, int* line) {
  int l = int(std::lround(2.0 * offsets[bandCount] * double(freq) / sampleRate));
  if (line) *line = l;
  int band = 0;
  while (band < bandCount && offsets[band + 1] <= l) ++band;
  return band;
}
