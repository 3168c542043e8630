#include "audioencfilter/aac_codec.h"

#include <cstdlib>
#include <cstring>

#include "resamplelib/pcm_frame_buffer.h"
#include "speech_frames.h"

namespace {
constexpr int kMaxChannels = 9;
constexpr int kKeyLtp = 0x100003, kKeyIntensity = 0x100005, kKeyPns = 0x100001;
}  // namespace

CAudEncAAC::CAudEncAAC(const AacLibrary* library)
    : lib_(library), pcmBuffer_(nullptr), frameLength_(1024), frameSamples_(0), outputCapacity_(0),
      floatFrame_(nullptr), encoder_(nullptr), layerCount_(1), channelMap_(nullptr), bitstream_(nullptr),
      layerBitrates_(nullptr), layerChannels_(nullptr), layerInfo_(nullptr), bitstreamFormat_(0),
      decoderConfig_(nullptr), decoderConfigLength_(0), firstFrame_(1), rateConverter_(nullptr),
      formatConverter_(nullptr), rateRatio_(1.0), converted_(nullptr) {}

int CAudEncAAC::Init(int outputCapacity, AudioCodecConfig* config) {
  if (!config || config->modeOrBitrateIndex >= 9 || config->inputChannels == 0 || config->inputChannels > 2 ||
      config->planar >= 2)
    return CODEC_E_REFUSED;
  const uint32_t index = config->modeOrBitrateIndex;
  // 16 and 24 kbit/s are always mono.
  config->codecChannels = index <= 1 ? 1 : config->inputChannels;
  config->codecSampleRate = SampleRateFromIndex(index, config->codecChannels);
  config->spareRate = config->codecSampleRate;
  if (config->inputSampleRate == 0) {
    config->inputSampleRate = config->codecSampleRate;
    config->timeBaseRate = config->codecSampleRate;
  }
  if (outputCapacity <= 0) return CODEC_E_REFUSED;
  outputCapacity_ = uint32_t(outputCapacity);
  frameLength_ = 1024;
  layerCount_ = 1;
  const int channels = int(config->codecChannels);
  frameSamples_ = channels * frameLength_;
  if (config->aacObjectType > 4) return CODEC_E_REFUSED;
  if (!lib_) return CODEC_E_SETUP;

  Close();
  bitstreamFormat_ = 0;
  layerInfo_ = static_cast<AacLayerInfo*>(std::calloc(9, sizeof(AacLayerInfo)));
  layerBitrates_ = static_cast<int*>(std::calloc(size_t(layerCount_), sizeof(int)));
  layerChannels_ = static_cast<int*>(std::calloc(size_t(layerCount_), sizeof(int)));
  if (!layerInfo_ || !layerBitrates_ || !layerChannels_) return CODEC_E_SETUP;
  for (int l = 0; l < layerCount_; ++l) {
    layerBitrates_[l] = int(BitrateFromIndex(index));
    layerChannels_[l] = channels;
  }
  int offsets[kMaxChannels] = {}, strides[kMaxChannels] = {};
  for (int c = 0; c < kMaxChannels; ++c) {
    if (config->planar == 0 || channels == 1) {
      offsets[c] = c;
      strides[c] = channels;
    } else {
      offsets[c] = c * frameLength_;
      strides[c] = 1;
    }
  }
  char coreName[128] = "NO_CORE_CODEC";
  if (lib_->open(&encoder_, int(config->aacObjectType), int(config->codecSampleRate), layerBitrates_, &frameLength_,
                 &channelMap_, layerChannels_, coreName, offsets, strides, layerInfo_) != 0 ||
      !encoder_)
    return CODEC_E_SETUP;
  frameSamples_ = channels * frameLength_;
  // Tool switches: long-term prediction (type 4 only), intensity stereo,
  // noise substitution; the library's answers are not checked.
  int on = 1;
  int* const values[2] = {&on, &on};
  if (config->aacObjectType == 4) {
    const int keys[2] = {kKeyLtp, kKeyLtp};
    lib_->paramCtl(encoder_, 2, keys, values);
  }
  {
    const int keys[1] = {kKeyIntensity};
    lib_->paramCtl(encoder_, 1, keys, values);
  }
  {
    const int keys[2] = {kKeyPns, kKeyPns};
    lib_->paramCtl(encoder_, 2, keys, values);
  }
  if (lib_->bitstreamOpen(&bitstream_, bitstreamFormat_, layerInfo_, channelMap_) != 0) return CODEC_E_SETUP;
  lib_->setOption(encoder_, bitstream_);
  lib_->printUsed();

  pcmBuffer_ = CreatePcmBuffer(*config, frameLength_);
  formatConverter_ = CreateFormatConverter(*config);
  if (!pcmBuffer_ || !formatConverter_) return CODEC_E_SETUP;
  rateConverter_ = CreateRateConverter(*config, frameLength_, layerCount_);
  if (!rateConverter_ && config->inputSampleRate != config->codecSampleRate) return CODEC_E_SETUP;
  firstFrame_ = 1;
  rateRatio_ = double(config->inputSampleRate) / double(config->codecSampleRate);

  floatFrame_ = static_cast<float*>(std::calloc(size_t(frameSamples_), sizeof(float)));
  converted_ = static_cast<int16_t*>(std::calloc(size_t(frameSamples_), sizeof(int16_t)));
  decoderConfig_ = static_cast<uint8_t*>(std::calloc(64, 1));
  if (!floatFrame_ || !converted_ || !decoderConfig_) return CODEC_E_SETUP;
  decoderConfigLength_ = 64;
  const AacConfigRequest asc = {config->aacObjectType, config->codecSampleRate, config->codecChannels,
                                frameLength_ != 1024 ? 1u : 0u, 0, 0};
  if (write_audio_specific_config(asc, decoderConfig_, &decoderConfigLength_) != CODEC_OK) return CODEC_E_SETUP;
  return CODEC_OK;
}

int CAudEncAAC::EncodeOneFrame(const int16_t* samples, uint32_t count, EncodedFrames* frames, uint32_t* written,
                               uint32_t* listed, bool* full) {
  for (uint32_t i = 0; i < count; ++i) floatFrame_[i] = float(samples[i]);
  void* layers[9] = {};
  if (lib_->encodeFrame(encoder_, floatFrame_, layers) != 0) return CODEC_E_CODING;
  for (int l = 0; l < layerCount_ && !*full; ++l) {
    for (;;) {
      uint32_t bytes = 0;
      if (bitstreamFormat_ == 0) {
        if (!layers[l] || lib_->drainFrame(layers[l], frames->data + *written, &bytes) != 0 || bytes == 0) break;
      } else {
        if (lib_->bitstreamWrite(bitstream_, layers, frames->data + *written, &bytes) != 0) return CODEC_E_CODING;
        if (firstFrame_ && bitstreamFormat_ == 1) {
          if (adif_header_to_config(frames->data + *written, &bytes, decoderConfig_, &decoderConfigLength_) != 0)
            return CODEC_E_CODING;
          firstFrame_ = 0;
        }
      }
      if (bytes > kAacMaxFrameBytes) return CODEC_E_CODING;
      frames->frameLengths[(*listed)++] = bytes;
      *written += bytes;
      // The area holds one frame beyond the capacity: the frame that crossed
      // it stays and is counted.
      if (*written > outputCapacity_ || *listed >= kAacFrameListLength) {
        *full = true;
        break;
      }
      if (bitstreamFormat_ != 0) break;
    }
  }
  return CODEC_OK;
}

int CAudEncAAC::Encode(PcmBlock* block, EncodedFrames* frames) {
  if (!block || !frames || !frames->data || !frames->frameLengths) return CODEC_E_REFUSED;
  if (!encoder_ || !pcmBuffer_ || !formatConverter_) return CODEC_E_SETUP;
  PcmBlock converted = {};
  if (formatConverter_->Copy(block, &converted) != 0 || formatConverter_->Reorder(&converted) != 0 ||
      formatConverter_->Downmix(&converted) != 0)
    return CODEC_E_FORMAT;
  // A refused, late or overflowing block simply adds nothing.
  pcmBuffer_->Push(&converted, rateRatio_);
  return FrameLoop(frames, false);
}

int CAudEncAAC::Drain(EncodedFrames* frames) {
  if (!frames || !frames->data || !frames->frameLengths) return CODEC_E_REFUSED;
  if (!encoder_ || !pcmBuffer_) return CODEC_E_SETUP;
  return FrameLoop(frames, true);
}

int CAudEncAAC::FrameLoop(EncodedFrames* frames, bool drain) {
  pcmBuffer_->GetOutputTime(&frames->startPosition, &frames->endPosition);
  const uint32_t frameBytes = uint32_t(frameSamples_) * 2;
  uint32_t written = 0, listed = 0, count = 0;
  bool full = false, draining = false;
  int idle = 0;
  while (!full) {
    const int16_t* samples = nullptr;
    uint32_t n = 0;
    if (!rateConverter_) {
      samples = reinterpret_cast<const int16_t*>(pcmBuffer_->PullFrames(1));
      n = uint32_t(frameSamples_);
      if (!samples) {
        if (!drain || !pcmBuffer_->available) break;
        // End of stream: the partial last frame, completed with silence.
        uint32_t got = 0;
        const uint8_t* rest = pcmBuffer_->PullSamples(int(pcmBuffer_->available / 2), &got);
        if (!rest) break;
        std::memset(converted_, 0, frameBytes);
        std::memcpy(converted_, rest, got < frameBytes ? got : frameBytes);
        samples = converted_;
      }
    } else {
      int needed = 0;
      if (!draining && rateConverter_->Needed(&needed) != 0) return CODEC_E_CODING;
      uint32_t got = 0;
      const uint8_t* p = nullptr;
      if (!draining && needed > 0) p = pcmBuffer_->PullSamples(needed, &got);
      PcmBlock out = {reinterpret_cast<uint8_t*>(converted_), 0, 0, 0, 0};
      if (draining || (needed > 0 && !p)) {
        if (!drain) break;
        // A converter that took nothing since its last drain has no tail.
        if (!draining && rateConverter_->inputFrames == 0 && pcmBuffer_->available == 0) break;
        // End of stream: the buffer's rest, then the converter's tail.
        PcmBlock in = {nullptr, 0, 0, 0, 0};
        if (!draining && pcmBuffer_->available) {
          const uint8_t* rest = pcmBuffer_->PullSamples(int(pcmBuffer_->available / 2), &got);
          in = {const_cast<uint8_t*>(rest), rest ? got : 0, 0, 0, 0};
        }
        draining = true;
        if (rateConverter_->Drain(&in, &out, frameBytes) != 0) return CODEC_E_CODING;
        if (out.length == 0) break;
      } else {
        if (needed == 0 && ++idle > 4) break;
        PcmBlock in = {const_cast<uint8_t*>(p), got, 0, 0, 0};
        if (rateConverter_->Process(&in, &out, frameBytes) != 0) return CODEC_E_CODING;
        if (out.length == 0) continue;
        idle = 0;
      }
      samples = converted_;
      n = out.length / 2;
    }
    const uint32_t before = listed;
    const int r = EncodeOneFrame(samples, n, frames, &written, &listed, &full);
    if (r != CODEC_OK) return r;
    count += listed - before;
  }
  frames->frameCount = count;
  pcmBuffer_->AdvanceOutputTime(count, &frames->endPosition);
  return full ? CODEC_OUTPUT_FULL : CODEC_OK;
}

int CAudEncAAC::Close() {
  if (encoder_ && lib_) {
    if (lib_->close(encoder_, channelMap_) != 0) return CODEC_E_CODING;
  }
  encoder_ = nullptr;
  channelMap_ = nullptr;
  if (bitstream_ && lib_) lib_->bitstreamClose(bitstream_);
  bitstream_ = nullptr;
  std::free(decoderConfig_);
  decoderConfig_ = nullptr;
  decoderConfigLength_ = 0;
  std::free(layerInfo_);
  layerInfo_ = nullptr;
  std::free(layerBitrates_);
  layerBitrates_ = nullptr;
  std::free(layerChannels_);
  layerChannels_ = nullptr;
  std::free(floatFrame_);
  floatFrame_ = nullptr;
  std::free(converted_);
  converted_ = nullptr;
  ClosePcmPath(pcmBuffer_, rateConverter_, formatConverter_);
  return CODEC_OK;
}

void CAudEncAAC::GetFormat(EncoderStatus* status) { FillEncoderStatus(pcmBuffer_, uint32_t(frameLength_), status); }

int CAudEncAAC::GetDecoderConfig(uint8_t* buffer, uint32_t* length) const {
  if (!length) return CODEC_E_REFUSED;
  if (!decoderConfig_) {
    *length = 0;
    return CODEC_E_NO_DECODER_CONFIG;
  }
  if (buffer) std::memcpy(buffer, decoderConfig_, decoderConfigLength_);
  *length = decoderConfigLength_;
  return CODEC_OK;
}
