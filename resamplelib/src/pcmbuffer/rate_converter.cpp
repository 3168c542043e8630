#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "resamplelib/pcm_frame_buffer.h"

int CRateConverter::Open(int in, int out, int ch, int bits, int frameLength, int spare, int) {
  if (in <= 0 || out <= 0 || ch < 1 || ch > 2 || bits != 16 || frameLength <= 0) return CODEC_E_REFUSED;
  inputRate = in;
  outputRate = out;
  spareRate = spare;
  channels = ch;
  bytesPerSample = bits / 8;
  const int block = frameLength * ch;
  // The edges of the final design, which the halving stages keep too.
  const double lowerNyquist = (in < out ? in : out) / 2.0;
  const double passEdge = 0.9 * lowerNyquist;
  if (!chain.Open(in, out, ch, passEdge, 2.0 * lowerNyquist - passEdge, kStopBandDb, frameLength))
    return CODEC_E_SETUP;
  const int engineRate = chain.OutputRate();
  KaiserDesign design{};
  Design(&design, engineRate, out);
  // After halving stages the engine's side lobes sit closer to the limit
  // (measured 100.4 dB near 4.5 kHz at 44.1 to 8 kHz); 4 dB more costs one
  // zero crossing.
  if (chain.Factor() > 1) design.attenuation += 4.0f;
  if (resample_open(&resampler, engineRate, out, ch, block, block, 2, 2, &design) != RESAMPLE_OK)
    return CODEC_E_SETUP;
  int needed, outputBlock;
  resample_flush(resampler, engineRate, out, &needed, &outputBlock, &resamplerInput, &resamplerOutput);
  return CODEC_OK;
}

void CRateConverter::Design(KaiserDesign* design, int inputRate, int outputRate) {
  // At 90 dB the first side lobes let 97 dB through at 4.6 kHz (44.1 to
  // 8 kHz); 100 dB costs a tenth more taps and keeps 104 dB.
  resample_kaiser(design, inputRate, outputRate);
  design->attenuation = kStopBandDb;
}

int CRateConverter::Needed(int* needed) {
  if (!resampler) return CODEC_E_SETUP;
  int outputBlock;
  if (resample_flush(resampler, 0, 0, needed, &outputBlock, &resamplerInput, &resamplerOutput) != RESAMPLE_OK)
    return CODEC_E_CODING;
  *needed *= chain.Factor();
  return CODEC_OK;
}

int CRateConverter::CallerBlock() const { return resampler->inputBlock * chain.Factor(); }

template <typename T>
int CRateConverter::Feed(const T* input, int count, int frames) {
  const int factor = chain.Factor();
  const int inFrames = count / channels;
  const int whole = inFrames / factor * factor;
  chain.Process(input, whole, resamplerInput);
  int done = whole / factor;
  if (whole < inFrames) {
    // The last partial step, completed with silence.
    float step[(1 << DecimatorChain::kMaxStages) * 2] = {};
    for (int i = 0; i < (inFrames - whole) * channels; ++i) step[i] = float(input[whole * channels + i]);
    chain.Process(step, factor, resamplerInput + done * channels);
    ++done;
  }
  if (done < frames) {
    // Silence through the stages, so that their tail comes out in time.
    chain.Process(static_cast<const int16_t*>(nullptr), (frames - done) * factor, resamplerInput + done * channels);
    done = frames;
  }
  chainTail -= int64_t(done) * factor - inFrames;
  return done * channels;
}

int CRateConverter::Convert(int engineCount, int* produced, float** result) {
  *produced = 0;
  return resample_process(resampler, engineCount, produced, result) == RESAMPLE_BAD_ARGUMENT ? CODEC_E_CODING
                                                                                            : CODEC_OK;
}

int CRateConverter::Process(const PcmBlock* input, PcmBlock* output, uint32_t outputCapacity) {
  if (!resampler) return CODEC_E_SETUP;
  if (draining) return CODEC_E_REFUSED;
  const int count = int(input->length / uint32_t(bytesPerSample));
  if (count > CallerBlock() || count % channels || !FrameFits(outputCapacity)) return CODEC_E_REFUSED;
  output->length = 0;
  // Count 0 with nothing pending would end the engine's input: only Drain
  // may do that.
  if (count == 0 && resampler->pendingInput == 0) return CODEC_OK;
  const int16_t* in = reinterpret_cast<const int16_t*>(input->data);
  const int factor = chain.Factor();
  const int engineCount = count ? Feed(in, count, (count / channels + factor - 1) / factor) : 0;
  int produced = 0;
  float* result = nullptr;
  if (Convert(engineCount, &produced, &result) != CODEC_OK) return CODEC_E_CODING;
  inputFrames += uint64_t(count / channels);
  return Deliver(result, produced, produced, output);
}

int CRateConverter::ProcessFloat(const float* input, int count, float** result, int* produced) {
  *produced = 0;
  if (!resampler) return CODEC_E_SETUP;
  if (draining || count > CallerBlock() || count % channels) return CODEC_E_REFUSED;
  if (count == 0 && resampler->pendingInput == 0) return CODEC_OK;
  const int factor = chain.Factor();
  const int engineCount = count ? Feed(input, count, (count / channels + factor - 1) / factor) : 0;
  inputFrames += uint64_t(count / channels);
  const int r = Convert(engineCount, produced, result);
  outputFrames += uint64_t(*produced / channels);
  return r;
}

bool CRateConverter::FrameFits(uint32_t outputCapacity) const {
  return uint64_t(resampler->outputBlock) * uint64_t(bytesPerSample) <= outputCapacity;
}

// Writes `produced` converted samples and silence up to `frame` samples.
// The caller checked the room before the engine ran, so no output is lost.
int CRateConverter::Deliver(const float* result, int produced, int frame, PcmBlock* output) {
  int16_t* out = reinterpret_cast<int16_t*>(output->data);
  int i = 0;
#if defined(__SSE2__)
  // The same rule eight at a time: held to the range (NaN gives -32768, as
  // below), then truncated; the pack cannot saturate any more.
  const __m128 low = _mm_set1_ps(-32768.0f), high = _mm_set1_ps(32767.0f);
  for (; i + 8 <= produced; i += 8) {
    const __m128i a = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_loadu_ps(result + i), low), high));
    const __m128i b = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_loadu_ps(result + i + 4), low), high));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(a, b));
  }
#endif
  for (; i < produced; ++i) {
    // Toward zero, then held to the 16-bit range instead of wrapping.
    float v = std::trunc(result[i]);
    out[i] = int16_t(v >= 32767.0f ? 32767.0f : (v >= -32768.0f ? v : -32768.0f));
  }
  for (int i = produced; i < frame; ++i) out[i] = 0;
  outputFrames += uint64_t(produced / channels);
  output->length = uint32_t(frame * bytesPerSample);
  return CODEC_OK;
}

int CRateConverter::Drain(const PcmBlock* input, PcmBlock* output, uint32_t outputCapacity) {
  if (!resampler) return CODEC_E_SETUP;
  output->length = 0;
  if (!FrameFits(outputCapacity)) return CODEC_E_REFUSED;
  const int block = resampler->inputBlock;
  const int count = input ? int(input->length / uint32_t(bytesPerSample)) : 0;
  int first = 0;
  if (!draining) {
    // The rest is smaller than a block; pending input (Needed() said 0) has
    // to be converted before new samples can go in.
    if (count >= CallerBlock() || count % channels || (count > 0 && resampler->pendingInput > 0))
      return CODEC_E_REFUSED;
    chainTail = chain.TailFrames();
    if (count > 0) {
      // Silence completes the block: the engine's drain pads with silence too.
      first = Feed(reinterpret_cast<const int16_t*>(input->data), count, block / channels);
      inputFrames += uint64_t(count / channels);
    }
    draining = 1;
    // The input plus the delay, rounded up to a whole frame; the filter's
    // tail fills that last frame rather than silence, so a sound on the
    // last input samples keeps its whole response.
    const uint64_t frame = uint64_t(resampler->outputBlock / channels);
    drainTarget = uint64_t(std::ceil(double(inputFrames) * outputRate / inputRate + Delay() - 1e-9));
    drainTarget = (drainTarget + frame - 1) / frame * frame;
  } else if (count > 0) {
    return CODEC_E_REFUSED;
  }
  int produced = 0;
  float* result = nullptr;
  // Each call moves the engine on (pending input, the halving stages' tail,
  // then the engine's own silent tail), so it ends with a block or finished.
  do {
    if (first == 0 && chainTail > 0 && resampler->pendingInput == 0)
      first = Feed(static_cast<const int16_t*>(nullptr), 0, block / channels);
    if (Convert(first, &produced, &result) != CODEC_OK) return CODEC_E_CODING;
    first = 0;
  } while (produced == 0 && resampler->endState != 2);
  const uint64_t left = drainTarget > outputFrames ? drainTarget - outputFrames : 0;
  if (uint64_t(produced / channels) > left) produced = int(left) * channels;
  if (produced == 0) {
    // All is out: ready for the next stream.
    resample_reset(resampler);
    chain.Reset();
    inputFrames = outputFrames = drainTarget = 0;
    chainTail = 0;
    draining = 0;
    return CODEC_OK;
  }
  return Deliver(result, produced, resampler->outputBlock, output);
}

double CRateConverter::Delay() const {
  return resampler ? resample_delay(resampler) + chain.DelaySeconds() * outputRate : 0.0;
}

int CRateConverter::Close() {
  resample_close(resampler);
  resampler = nullptr;
  inputFrames = outputFrames = drainTarget = 0;
  chainTail = 0;
  draining = 0;
  resamplerInput = resamplerOutput = nullptr;
  return CODEC_OK;
}

CRateConverter* CreateRateConverter(const AudioCodecConfig& config, int frameLength, int layerCount) {
  if (config.inputSampleRate == config.codecSampleRate) return nullptr;
  auto* converter = new CRateConverter;
  if (converter->Open(int(config.inputSampleRate), int(config.codecSampleRate), int(config.codecChannels),
                      int(config.bitsPerSample), frameLength, int(config.spareRate), layerCount) != 0) {
    converter->Close();
    delete converter;
    return nullptr;
  }
  return converter;
}
