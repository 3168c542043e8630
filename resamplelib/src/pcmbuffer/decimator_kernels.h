// The halving stages' inner loop: y[j] = sum of evenTaps[i] * even[j + evenAt[i]]
// plus the same over the odd row, for j < count. The plain loop is the
// reference; the SSE2 and AVX2 ones broadcast each tap over many outputs.
#pragma once

struct DecimatorBranches {
  const float* even;
  const float* odd;
  const int* evenAt;
  const float* evenTaps;
  int evenCount;
  const int* oddAt;
  const float* oddTaps;
  int oddCount;
};

void decimate_plain(const DecimatorBranches& b, int from, int count, float* y);
void decimate_sse2(const DecimatorBranches& b, int count, float* y);
void decimate_avx2(const DecimatorBranches& b, int count, float* y);
