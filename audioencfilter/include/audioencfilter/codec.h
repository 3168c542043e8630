// The codec object interface between the filter and each encoder: one
// abstract class and four plain records. Codec objects answer small integers
// (CodecResult) and never throw.
#pragma once

#include <cstdint>

enum CodecResult : int {
  CODEC_OK = 0,
  CODEC_OUTPUT_FULL = 3,       // not a failure: the rest stays buffered
  CODEC_E_SETUP = -2,          // coder, converter, buffer or decoder configuration
  CODEC_E_CODING = -3,         // rate conversion or coding
  CODEC_E_STALE_BLOCK = -5,    // block entirely older than the buffered audio
  CODEC_E_AMR_MODE = -6,
  CODEC_E_BUFFER_FULL = -7,    // no room in the PCM buffer
  CODEC_E_NO_DECODER_CONFIG = -8,
  CODEC_E_REFUSED = -9,        // configuration or argument refused, empty block
  CODEC_E_FORMAT = -10,        // format conversion refused
};

// The configuration handed to Init and partly rewritten by it.
struct AudioCodecConfig {
  uint32_t bitsPerSample;     // 16 from the filter
  uint32_t inputSampleRate;   // Hz at which PCM reaches the codec object; AAC: 0 = codec rate
  uint32_t timeBaseRate;      // Hz, unit of the PcmBlock time stamps
  uint32_t inputChannels;     // 1 or 2
  uint32_t planar;            // 0: interleaved (always from the filter)
  uint32_t modeOrBitrateIndex;  // AMR mode 0..8, AAC bitrate index 0..8, EVRC 0
  uint32_t amrFrameLayout;    // 0: storage layout; else the coder's IF2 bytes
  uint32_t aacObjectType;     // 2 for the AAC stream
  uint32_t codecSampleRate;   // written by Init
  uint32_t codecChannels;     // written by Init
  uint32_t spareRate;         // written by Init with the codec rate
};
static_assert(sizeof(AudioCodecConfig) == 11 * 4, "shared with the filter's stream slot");

// One block of 16-bit PCM.
struct PcmBlock {
  uint8_t* data;
  uint32_t length;              // bytes
  uint32_t modeOrBitrateIndex;  // passed along unchanged
  uint32_t startTime;           // time-base units
  uint32_t endTime;             // passed along unchanged
};

// The frames one Encode call produced, back to back in `data`.
struct EncodedFrames {
  uint8_t* data;            // set by the filter to its work buffer
  uint32_t frameCount;      // written by Encode
  uint32_t* frameLengths;   // one length in bytes per frame; owned by the filter's slot
  uint32_t startPosition;   // samples at the codec rate
  uint32_t endPosition;
};

struct EncoderStatus {
  uint32_t gapTime;           // gap inserted by the last pushed block, in time units
  uint32_t reserved;          // 0
  uint32_t gapSamples;
  uint32_t valuesInLastBlock; // 16-bit values, all channels counted
  uint32_t bufferedStart;
  uint32_t bufferedEnd;
  uint32_t leftoverTime;
  uint32_t frameLength;       // 160 speech, 1024 AAC
  uint32_t framesBuffered;
  uint32_t leftoverSamples;
};
static_assert(sizeof(EncoderStatus) == 10 * 4, "ten 32-bit words");

class CAudEncoder {
 public:
  virtual ~CAudEncoder() = default;
  // outputCapacity: bytes of the area Encode writes into.
  virtual int Init(int outputCapacity, AudioCodecConfig* config) = 0;
  virtual int Encode(PcmBlock* block, EncodedFrames* frames) = 0;
  // The owner calls Close before deleting; destructors release nothing.
  virtual int Close() = 0;
  virtual void GetFormat(EncoderStatus* status) = 0;
  // End of stream: the frames still buffered (the last one completed with
  // silence), with the same answers as Encode. Nothing by default.
  virtual int Drain(EncodedFrames* frames) {
    frames->frameCount = 0;
    return CODEC_OK;
  }

  // The AAC bitrate index: bit/s (16000 for an unknown index) and the codec
  // sample rate it implies for a channel count (the mono column for exactly 1).
  static uint32_t BitrateFromIndex(uint32_t index);
  static uint32_t SampleRateFromIndex(uint32_t index, uint32_t channels);
};

// Lengths of the filter's frame-length lists: a codec object never gives more
// frames than these from one Encode call.
constexpr uint32_t kSpeechFrameListLength = 100;
constexpr uint32_t kAacFrameListLength = 50;
