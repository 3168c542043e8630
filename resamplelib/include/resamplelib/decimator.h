// Halving stages ahead of the windowed-sinc converter for large down-
// sampling ratios. The sinc filter's length grows with its input rate, so at
// 44.1 kHz to 8 kHz it costs about 380 products an output sample; two short
// linear-phase stages (44.1 to 22.05 to 11.025 kHz) followed by the sinc at
// 11.025 kHz cost less than half of that, with the same 100 dB rejection of
// whatever would fold back below the converter's stop-band edge.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class DecimatorChain {
 public:
  enum Kernel { kPlain = 0, kSse2 = 1, kAvx2 = 2 };

  static constexpr int kMaxStages = 5;

  // Plans halving stages from inputRate toward outputRate when the ratio
  // is 4 or more: each halves an even rate while half of it stays at or
  // above 1.25 x outputRate (at most kMaxStages). Every stage keeps [0, passEdge] and rejects by stopBandDb
  // what would fold into [0, stopEdge] (the edges are those of the final
  // converter). Up to outputFrames frames come out of a call. False when
  // the memory cannot be had; Factor() 1 means no stage (the chain copies).
  bool Open(int inputRate, int outputRate, int channels, double passEdge, double stopEdge, double stopBandDb,
            int outputFrames);
  int Factor() const { return factor_; }
  int Stages() const { return int(stages_.size()); }
  int OutputRate() const { return inputRate_ / factor_; }
  // Group delay in seconds (each stage's (taps - 1) / 2 samples at its rate).
  double DelaySeconds() const;
  // Zero input frames that bring every stage's content out.
  int TailFrames() const;
  int Taps(int stage) const { return int(stages_[std::size_t(stage)].taps.size()); }

  // Interleaved input (null: silence), frames a multiple of Factor() and at
  // most Factor() x outputFrames; interleaved output of frames / Factor()
  // frames.
  void Process(const int16_t* in, int frames, float* out);
  void Process(const float* in, int frames, float* out);
  void Reset();
  // The plain loop is the reference the SIMD ones are tested against; a
  // kernel the processor lacks falls back to the next slower one. Answers
  // the kernel in use.
  Kernel SetKernel(Kernel k);

 private:
  struct Stage {
    std::vector<float> taps;  // odd length, symmetric, unity gain at 0 Hz
    // The taps that are not zero (a half-band filter has every other one
    // zero), per branch: offsets into the even and the odd row.
    std::vector<int> evenAt, oddAt;
    std::vector<float> evenTaps, oddTaps;
    // Per channel: even and odd input samples, each led by `history` older
    // ones, so output j reads even[j .. j + (taps + 1) / 2) and
    // odd[j .. j + (taps - 1) / 2).
    std::vector<std::vector<float>> even, odd;
    int history = 0;
    int rate = 0;  // input rate of the stage
  };
  template <typename T>
  void Run(const T* in, int frames, float* out);
  void Filter(Stage& s, int channel, int count, float* y) const;
  void Split(Stage& s, int channel, const float* y, int count);

  std::vector<Stage> stages_;
  std::vector<float> scratch_;
  int inputRate_ = 0, channels_ = 1, factor_ = 1;
  Kernel kernel_ = kPlain;
};
