#include "audioencfilter/amr_codec.h"

#include <cstring>

#include "amrenc/amrenc.h"
#include "resamplelib/pcm_frame_buffer.h"
#include "speech_frames.h"

const uint8_t kAmrStorageFrameBytes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 8, 8, 8, 8, 0, 0, 0, 4};
const uint8_t kAmrIf2FrameBytes[9] = {13, 14, 16, 18, 19, 21, 26, 31, 6};

namespace {
// Padding bits of the last storage byte, by mode.
const uint8_t kPaddingBits[9] = {1, 1, 2, 2, 4, 1, 4, 4, 0};

uint8_t reverse_bits(uint8_t b) {
  b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

class AmrFrameCoder : public SpeechFrameCoder {
 public:
  AmrFrameCoder(AmrEncState* state, int mode, int layout) : state_(state), mode_(mode), layout_(layout) {}
  int CodeFrame(int16_t* samples, uint8_t* out, uint32_t room) override {
    // The coder clears AMR_OUT_BYTES of its output: never the caller's area.
    uint8_t scratch[AMR_OUT_BYTES + 1];
    int type = 0;
    if (amr_enc_frame(state_, mode_, samples, scratch, &type) != 0 || type < 0 || type > 8)
      return CODEC_E_CODING;
    int bytes;
    if (layout_ == 0) {
      amr_put_frame_type(scratch);
      amr_pack_octets(type, scratch);
      bytes = kAmrStorageFrameBytes[type];
    } else {
      bytes = kAmrIf2FrameBytes[type];
    }
    if (uint32_t(bytes) > room) return CODEC_E_CODING;
    std::memcpy(out, scratch, size_t(bytes));
    return bytes;
  }

 private:
  AmrEncState* state_;
  int mode_;
  int layout_;
};
}  // namespace

void amr_put_frame_type(uint8_t* frame) {
  const int ft = frame[0] & 0x0F;
  for (int i = kAmrStorageFrameBytes[ft]; i >= 1; --i) frame[i] = uint8_t(frame[i - 1] >> 4 | frame[i] << 4);
  frame[0] = uint8_t(ft);
}

void amr_pack_octets(int mode, uint8_t* frame) {
  const int n = kAmrStorageFrameBytes[mode & 0x0F];
  if (n == 0) return;
  for (int i = 1; i < n; ++i) frame[i] = reverse_bits(frame[i]);
  frame[n] = 0;
  const int p = mode >= 0 && mode <= 8 ? kPaddingBits[mode] : 0;
  frame[n - 1] = uint8_t((frame[n - 1] >> p) << p);
}

CAudEncAMR::CAudEncAMR()
    : state_(nullptr), mode_(0), frameLength_(160), pcmBuffer_(nullptr), frameBytes_(13), outputCapacity_(0),
      layout_(1), rateConverter_(nullptr), formatConverter_(nullptr), rateRatio_(1.0) {}

int CAudEncAMR::Init(int outputCapacity, AudioCodecConfig* config) {
  AudioCodecConfig local = {16, 8000, 8000, 1, 0, 0, 1, 0, 0, 0, 0};
  if (!config) {
    config = &local;
  } else if (config->modeOrBitrateIndex > 8 || config->bitsPerSample == 0 || config->timeBaseRate == 0 ||
             config->inputSampleRate == 0 || config->inputChannels == 0) {
    return CODEC_E_REFUSED;
  }
  // The largest frame must fit the area, or the frame loop could not start.
  if (outputCapacity < 32) return CODEC_E_REFUSED;
  Close();
  mode_ = int(config->modeOrBitrateIndex);
  layout_ = int(config->amrFrameLayout);
  frameBytes_ = layout_ ? kAmrIf2FrameBytes[mode_] : kAmrStorageFrameBytes[mode_];
  outputCapacity_ = outputCapacity;
  config->codecSampleRate = 8000;
  config->codecChannels = 1;
  config->spareRate = 8000;
  if (amr_enc_init(&state_, 0, "KRAudioEncoder") != 0) return CODEC_E_SETUP;
  formatConverter_ = CreateFormatConverter(*config);
  if (!formatConverter_) return CODEC_E_SETUP;
  pcmBuffer_ = CreatePcmBuffer(*config, frameLength_);
  if (!pcmBuffer_) return CODEC_E_SETUP;
  rateConverter_ = CreateRateConverter(*config, frameLength_, 1);
  if (!rateConverter_ && config->inputSampleRate != 8000) return CODEC_E_SETUP;
  rateRatio_ = double(config->inputSampleRate) / 8000.0;
  return CODEC_OK;
}

int CAudEncAMR::Encode(PcmBlock* block, EncodedFrames* frames) {
  if (!block || !frames || !frames->data || !frames->frameLengths) return CODEC_E_REFUSED;
  if (!state_ || !pcmBuffer_ || !formatConverter_) return CODEC_E_SETUP;
  if (block->modeOrBitrateIndex > 8) return CODEC_E_AMR_MODE;
  mode_ = int(block->modeOrBitrateIndex);
  AmrFrameCoder coder(state_, mode_, layout_);
  const int r = EncodeSpeechBlock(block, frames, formatConverter_, pcmBuffer_, rateConverter_, rateRatio_,
                                  uint32_t(outputCapacity_), coder);
  if (frames->frameCount) frameBytes_ = int(frames->frameLengths[frames->frameCount - 1]);
  return r;
}

int CAudEncAMR::Drain(EncodedFrames* frames) {
  if (!frames || !frames->data || !frames->frameLengths) return CODEC_E_REFUSED;
  if (!state_ || !pcmBuffer_) return CODEC_E_SETUP;
  AmrFrameCoder coder(state_, mode_, layout_);
  return SpeechFrameLoop(frames, pcmBuffer_, rateConverter_, uint32_t(outputCapacity_), coder, true);
}

int CAudEncAMR::Close() {
  amr_enc_exit(&state_);
  ClosePcmPath(pcmBuffer_, rateConverter_, formatConverter_);
  return CODEC_OK;
}

void CAudEncAMR::GetFormat(EncoderStatus* status) { FillEncoderStatus(pcmBuffer_, 160, status); }
