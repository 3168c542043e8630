// CAudEncAAC: the codec object over the AAC encoder library. It feeds
// 1024-sample frames (per channel) and copies out raw AAC frames; it also
// writes the stream's MPEG-4 AudioSpecificConfig. Portable.
#pragma once

#include <cstdint>

#include "audioencfilter/aac_library.h"
#include "audioencfilter/codec.h"

class CPcmFrameBuffer;

// An AAC frame holds at most 6144 bits per channel. The area given to Encode
// must hold its capacity plus this much: the frame that crosses the capacity
// is kept.
constexpr uint32_t kAacMaxFrameBytes = 6144 / 8 * 2;
class CRateConverter;
class CFormatConverter;

// AudioSpecificConfig of an AAC stream without a core coder: 0, or -2 for
// what the writer cannot express. *length: the bytes written.
struct AacConfigRequest {
  uint32_t objectType;
  uint32_t sampleRate;
  uint32_t channelConfiguration;
  uint32_t frameLengthFlag;
  uint32_t dependsOnCoreCoder;
  uint32_t extensionFlag;
};
int write_audio_specific_config(const AacConfigRequest& config, uint8_t* buffer, uint32_t* length);
int write_ga_specific_config(const AacConfigRequest& config, uint32_t* bitPosition, uint8_t* buffer);
// Takes an ADIF header off the front of the first frame and turns it into a
// 2-byte configuration: 0, or 1 (no change) when there is no usable header.
int adif_header_to_config(uint8_t* frame, uint32_t* frameLength, uint8_t* configBuffer, uint32_t* configLength);

class CAudEncAAC : public CAudEncoder {
 public:
  // library: null refuses every Init with -2.
  explicit CAudEncAAC(const AacLibrary* library = AacLibraryInProduct());
  int Init(int outputCapacity, AudioCodecConfig* config) override;
  int Encode(PcmBlock* block, EncodedFrames* frames) override;
  int Close() override;
  void GetFormat(EncoderStatus* status) override;
  int Drain(EncodedFrames* frames) override;
  // 0, or -8 (length 0) when no configuration is stored.
  int GetDecoderConfig(uint8_t* buffer, uint32_t* length) const;

 private:
  int FrameLoop(EncodedFrames* frames, bool drain);
  int EncodeOneFrame(const int16_t* samples, uint32_t count, EncodedFrames* frames, uint32_t* written,
                     uint32_t* listed, bool* full);

  const AacLibrary* lib_;
  CPcmFrameBuffer* pcmBuffer_;
  int frameLength_;
  int frameSamples_;
  uint32_t outputCapacity_;
  float* floatFrame_;
  void* encoder_;
  int layerCount_;
  void* channelMap_;
  void* bitstream_;
  int* layerBitrates_;
  int* layerChannels_;
  AacLayerInfo* layerInfo_;
  int bitstreamFormat_;
  uint8_t* decoderConfig_;
  uint32_t decoderConfigLength_;
  int firstFrame_;
  CRateConverter* rateConverter_;
  CFormatConverter* formatConverter_;
  double rateRatio_;
  int16_t* converted_;  // one frame out of the rate converter
};
