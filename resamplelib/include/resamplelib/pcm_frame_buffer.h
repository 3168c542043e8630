// The PCM path of every codec object: CFormatConverter copies each input
// block and mixes stereo down to mono where the codec is mono,
// CRateConverter converts the sample rate, and CPcmFrameBuffer keeps the
// blocks in time-stamp order and hands out whole frames with their output
// clock. All answer the codec objects' small integers (CodecResult); none
// locks, allocates per block or ends the process.
#pragma once

#include <cstdint>

#include "audioencfilter/codec.h"
#include "resamplelib/decimator.h"
#include "resamplelib/resample.h"

class CFormatConverter {
 public:
  virtual ~CFormatConverter() = default;
  // 0, -1 when the buffer cannot be allocated, -9 for arguments it refuses.
  virtual int Open(int channels, int codecChannels, int notPlanar, int bitsPerSample, int rate);
  // Mixes the block's stereo frames down to mono in place; 0 when off.
  virtual int Downmix(PcmBlock* block);
  // Interleaves the two channel halves of a planar block; 0 when off.
  virtual int Reorder(PcmBlock* block);
  // Copies the source block into the converter's buffer and makes target
  // describe it; -7 when it is longer than the buffer (two seconds).
  virtual int Copy(const PcmBlock* source, PcmBlock* target);
  virtual int Close();

  int downmix = 0;
  int reorder = 0;
  int bitsPerSample = 16;
  int interleaved = 1;
  int bytesPerSample = 2;
  uint8_t channels = 0;
  uint8_t* buffer = nullptr;
  uint32_t capacity = 0;  // bytes
};

// (left + right) >> 1 per frame, written from the start of the buffer; -3
// unless the samples are 16 bits. Right channel: the neighbour when
// interleaved, else the second half of the block.
int downmix_stereo16(int16_t* samples, int count, int bitsPerSample, int interleaved);
// First-half sample 0, second-half sample 0, first-half sample 1, ...;
// -1 when the temporary buffer cannot be allocated.
int reorder_channels(int16_t* samples, int count, int bitsPerSample);

class CRateConverter {
 public:
  virtual ~CRateConverter() = default;
  // Opens the windowed-sinc engine (Design) with input and output blocks of
  // frameLength * channels samples, behind halving stages at ratios of 4 or
  // more (then Needed() asks for that many times the engine's block). 0, -2
  // when the engine cannot be built, -9 for arguments it refuses.
  virtual int Open(int inputRate, int outputRate, int channels, int bitsPerSample, int frameLength,
                   int spareRate, int layerCount);
  // Input samples the next Process needs (0: pending input is continued).
  virtual int Needed(int* needed);
  // Converts the input's 16-bit samples; output->data must hold
  // outputCapacity bytes, at least one codec frame (else refused before
  // anything is converted). Writes one codec frame or nothing (length 0).
  // Values are truncated toward zero and saturated to 16 bits. An empty
  // input continues pending input and never ends the stream (Drain does).
  virtual int Process(const PcmBlock* input, PcmBlock* output, uint32_t outputCapacity);
  virtual int Close();
  // End of stream: the tail still inside the filter, one whole codec frame
  // per call (the last one completed with silence); output length 0 when
  // all is out, and the converter then starts afresh for the next stream.
  // The first call takes the input Needed() asked for and did not get (fewer
  // samples, possibly none); later calls take no input. In all the output
  // then spans the input plus Delay(), so 2 s in give 2 s out plus the delay,
  // rounded up to a frame; the filter's tail, not silence, fills that frame.
  virtual int Drain(const PcmBlock* input, PcmBlock* output, uint32_t outputCapacity);
  // Group delay of the conversion in output sample frames: output frame k
  // shows the input at k - Delay() (5.7 ms at 44.1 kHz to 8 kHz). Callers
  // subtract it from their time stamps to keep audio aligned with video.
  virtual double Delay() const;
  // The converter's design: that of the rates (pass band to 0.9 of the lower
  // Nyquist frequency) with a 100 dB stop band instead of 90, so that
  // whatever folds back into the band lies at least 100 dB down.
  static void Design(KaiserDesign* design, int inputRate, int outputRate);
  static constexpr float kStopBandDb = 100.0f;

  ResamplerState* resampler = nullptr;
  int inputRate = 0;
  int outputRate = 0;
  int spareRate = 0;
  int channels = 0;
  int bytesPerSample = 2;
  float* resamplerInput = nullptr;
  float* resamplerOutput = nullptr;
  // Input and output sample frames since the stream started; the drain
  // stops when the output covers the input plus the delay.
  uint64_t inputFrames = 0;
  uint64_t outputFrames = 0;
  uint64_t drainTarget = 0;
  int draining = 0;
  // Halving stages ahead of the engine at large down-sampling ratios (none
  // otherwise); the engine then runs at chain.OutputRate().
  DecimatorChain chain;
  // Zero input frames the drain still owes the halving stages.
  int64_t chainTail = 0;

  // Process on float samples (the same path without the 16-bit steps):
  // `result` receives the engine's output block and `produced` its samples.
  int ProcessFloat(const float* input, int count, float** result, int* produced);

 private:
  bool FrameFits(uint32_t outputCapacity) const;
  // The caller's block: the engine's times the chain's factor.
  int CallerBlock() const;
  // Moves count input samples (null: silence) through the chain into the
  // engine's input, completed with silence up to `frames` engine frames.
  template <typename T>
  int Feed(const T* input, int count, int frames);
  int Convert(int engineCount, int* produced, float** result);
  int Deliver(const float* result, int produced, int frame, PcmBlock* output);
};

class CPcmFrameBuffer {
 public:
  virtual ~CPcmFrameBuffer() = default;
  // 0, -1 when the buffer cannot be allocated, -9 for arguments it refuses.
  // A timeBase of 0 means the sample rate.
  virtual int Open(int bitsPerSample, int rate, int frameLength, int timeBase, int channels);
  virtual int Close();
  // 0 accepted, 2 accepted after a resynchronisation, -7 no room, -5 stale.
  virtual int Push(const PcmBlock* block, double rateRatio);
  // Whole frames (the pointer stays valid until the next Push), or null.
  virtual const uint8_t* PullFrames(int count);
  virtual const uint8_t* PullSamples(int count, uint32_t* gotBytes);
  virtual void GetOutputTime(uint32_t* start, uint32_t* end);
  virtual uint32_t AdvanceOutputTime(uint32_t frames, uint32_t* end);
  virtual int GetBufferedFrames();
  virtual void GetGapInfo(EncoderStatus* status);
  virtual void GetTimeInfo(EncoderStatus* status);

  uint32_t frameBytes = 0;
  uint8_t* data = nullptr;
  uint32_t capacity = 0;
  uint32_t readPos = 0;
  uint32_t writePos = 0;
  uint32_t available = 0;  // always writePos - readPos
  float bufferedFrames = 0;
  int resync = 1;
  uint32_t expectedTime = 0;
  uint32_t leftoverTime = 0;
  uint32_t startTime = 0;
  uint32_t endTime = 0;
  uint32_t outputTime = 0;
  uint32_t frameDuration = 0;
  uint32_t timeBase = 0;
  uint32_t rate = 0;
  uint32_t samplesPerUnit = 0;
  float unitsPerSample = 0;
  int bitsPerSample = 16;
  int bytesPerSample = 2;
  uint8_t channels = 0;
  uint32_t gapUnits = 0;
  uint32_t gapSamples = 0;
  uint32_t lastBlockBytes = 0;

 private:
  void Compact();
  const uint8_t* Pull(uint32_t bytes, bool anyRemainder);
};

// The factories of the codec objects; null when the object cannot be opened
// (and, for the rate converter, when the input rate equals the codec rate).
CPcmFrameBuffer* CreatePcmBuffer(const AudioCodecConfig& config, int frameLength);
CFormatConverter* CreateFormatConverter(const AudioCodecConfig& config);
CRateConverter* CreateRateConverter(const AudioCodecConfig& config, int frameLength, int layerCount);
