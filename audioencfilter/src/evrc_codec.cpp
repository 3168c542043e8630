#include "audioencfilter/evrc_codec.h"

#include "audioencfilter/qpl.h"
#include "resamplelib/pcm_frame_buffer.h"
#include "speech_frames.h"

namespace {
class EvrcFrameCoder : public SpeechFrameCoder {
 public:
  EvrcFrameCoder(IQplEVRCEncoder* coder, int frameBytes) : coder_(coder), frameBytes_(frameBytes) {}
  int CodeFrame(int16_t* samples, uint8_t* out, uint32_t room) override {
    // The coder writes its fixed frame size; never past the area.
    if (uint32_t(frameBytes_) > room) return CODEC_E_CODING;
    const int written = coder_->EncodeFrame(1, samples, out);
    if (written < 1 || written > frameBytes_) return CODEC_E_CODING;
    return frameBytes_;
  }

 private:
  IQplEVRCEncoder* coder_;
  int frameBytes_;
};
}  // namespace

CAudEncEVRC::CAudEncEVRC(const wchar_t* library)
    : libraryName_(library), library_(nullptr), coder_(nullptr), pcmBuffer_(nullptr), frameBytes_(0),
      outputCapacity_(0), maxFrames_(0), rateConverter_(nullptr), formatConverter_(nullptr), frameLength_(160),
      rateRatio_(1.0) {}

// The coder and its library go with the object (the owner calls Close first,
// which leaves them for a repeated Init).
CAudEncEVRC::~CAudEncEVRC() {
  if (coder_) coder_->Release();
  if (library_) FreeLibrary(library_);
}

int CAudEncEVRC::Init(int outputCapacity, AudioCodecConfig* config) {
  AudioCodecConfig local = {16, 8000, 8000, 1, 0, 0, 1, 0, 0, 0, 0};
  if (!config) {
    config = &local;
  } else if (config->bitsPerSample == 0 || config->timeBaseRate == 0 || config->inputSampleRate == 0 ||
             config->inputChannels == 0) {
    return CODEC_E_REFUSED;
  }
  Close();
  config->codecSampleRate = 8000;
  config->codecChannels = 1;
  config->spareRate = 8000;
  pcmBuffer_ = CreatePcmBuffer(*config, frameLength_);
  if (!pcmBuffer_) return CODEC_E_SETUP;
  if (!coder_) {
    if (!library_) library_ = LoadLibraryW(libraryName_);
    if (!library_) return CODEC_E_SETUP;
    auto create = reinterpret_cast<QplCreateInstanceFn>(
        reinterpret_cast<void*>(GetProcAddress(library_, "QPLCreateInstance")));
    void* object = nullptr;
    if (!create || create(&CLSID_QplEVRCEncoder, &IID_IQplEVRCEncoder, &object) != 0 || !object)
      return CODEC_E_SETUP;
    coder_ = static_cast<IQplEVRCEncoder*>(object);
  }
  if (coder_->Open(1) == 0) return CODEC_E_SETUP;
  uint32_t info = 0;
  coder_->GetFrameInfo(&info);
  frameBytes_ = int(info & 0xFFFF);
  if (frameBytes_ <= 0 || frameBytes_ > outputCapacity) return CODEC_E_SETUP;
  formatConverter_ = CreateFormatConverter(*config);
  if (!formatConverter_) return CODEC_E_SETUP;
  rateConverter_ = CreateRateConverter(*config, frameLength_, 1);
  if (!rateConverter_ && config->inputSampleRate != 8000) return CODEC_E_SETUP;
  outputCapacity_ = outputCapacity;
  maxFrames_ = outputCapacity / frameBytes_;
  rateRatio_ = double(config->inputSampleRate) / 8000.0;
  return CODEC_OK;
}

int CAudEncEVRC::Encode(PcmBlock* block, EncodedFrames* frames) {
  if (!block || !frames || !frames->data || !frames->frameLengths) return CODEC_E_REFUSED;
  if (!coder_ || !pcmBuffer_ || !formatConverter_) return CODEC_E_SETUP;
  EvrcFrameCoder coder(coder_, frameBytes_);
  return EncodeSpeechBlock(block, frames, formatConverter_, pcmBuffer_, rateConverter_, rateRatio_,
                           uint32_t(outputCapacity_), coder);
}

int CAudEncEVRC::Drain(EncodedFrames* frames) {
  if (!frames || !frames->data || !frames->frameLengths) return CODEC_E_REFUSED;
  if (!coder_ || !pcmBuffer_) return CODEC_E_SETUP;
  EvrcFrameCoder coder(coder_, frameBytes_);
  return SpeechFrameLoop(frames, pcmBuffer_, rateConverter_, uint32_t(outputCapacity_), coder, true);
}

int CAudEncEVRC::Close() {
  ClosePcmPath(pcmBuffer_, rateConverter_, formatConverter_);
  return CODEC_OK;
}

void CAudEncEVRC::GetFormat(EncoderStatus* status) { FillEncoderStatus(pcmBuffer_, 160, status); }
