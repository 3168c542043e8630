#include <cmath>

#include "resamplelib/pcm_frame_buffer.h"

int CRateConverter::Open(int in, int out, int ch, int bits, int frameLength, int spare, int) {
  if (in <= 0 || out <= 0 || ch < 1 || ch > 2 || bits != 16 || frameLength <= 0) return CODEC_E_REFUSED;
  inputRate = in;
  outputRate = out;
  spareRate = spare;
  channels = ch;
  bytesPerSample = bits / 8;
  const int block = frameLength * ch;
  if (resample_open(&resampler, in, out, ch, block, block, 2, 1, nullptr) != RESAMPLE_OK)
    return CODEC_E_SETUP;
  int needed, outputBlock;
  resample_flush(resampler, in, out, &needed, &outputBlock, &resamplerInput, &resamplerOutput);
  return CODEC_OK;
}

int CRateConverter::Needed(int* needed) {
  if (!resampler) return CODEC_E_SETUP;
  int outputBlock;
  return resample_flush(resampler, inputRate, outputRate, needed, &outputBlock, &resamplerInput,
                        &resamplerOutput) == RESAMPLE_OK
             ? CODEC_OK
             : CODEC_E_CODING;
}

int CRateConverter::Process(const PcmBlock* input, PcmBlock* output, uint32_t outputCapacity) {
  if (!resampler) return CODEC_E_SETUP;
  const int count = int(input->length / uint32_t(bytesPerSample));
  if (count > resampler->inputBlock || count % channels) return CODEC_E_REFUSED;
  const int16_t* in = reinterpret_cast<const int16_t*>(input->data);
  for (int i = 0; i < count; ++i) resamplerInput[i] = float(in[i]);
  int produced = 0;
  float* result = nullptr;
  if (resample_process(resampler, count, &produced, &result) == RESAMPLE_BAD_ARGUMENT) return CODEC_E_CODING;
  if (uint32_t(produced) * uint32_t(bytesPerSample) > outputCapacity) return CODEC_E_REFUSED;
  int16_t* out = reinterpret_cast<int16_t*>(output->data);
  for (int i = 0; i < produced; ++i) {
    // Toward zero, then held to the 16-bit range instead of wrapping.
    float v = std::trunc(result[i]);
    out[i] = int16_t(v >= 32767.0f ? 32767.0f : (v >= -32768.0f ? v : -32768.0f));
  }
  output->length = uint32_t(produced * bytesPerSample);
  return CODEC_OK;
}

int CRateConverter::Close() {
  resample_close(resampler);
  resampler = nullptr;
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
