// The frame loop the two speech codec objects share: pull 160-sample frames
// at 8 kHz from the PCM buffer (through the rate converter when the input
// rate differs), hand each to the coder, and stop when the area or the
// frame-length list is full.
#pragma once

#include <cstdint>

#include "audioencfilter/codec.h"
#include "resamplelib/pcm_frame_buffer.h"

// Codes one 8 kHz mono frame into `out` (room for `room` bytes); answers the
// bytes written, or a negative codec result.
class SpeechFrameCoder {
 public:
  virtual int CodeFrame(int16_t* samples, uint8_t* out, uint32_t room) = 0;

 protected:
  ~SpeechFrameCoder() = default;
};

// Copy, reorder, down-mix and push the block; then the frame loop.
// Answers 0, 3 (area or list full), or a negative codec result.
int EncodeSpeechBlock(PcmBlock* block, EncodedFrames* frames, CFormatConverter* formatConverter,
                      CPcmFrameBuffer* pcmBuffer, CRateConverter* rateConverter, double rateRatio,
                      uint32_t outputCapacity, SpeechFrameCoder& coder);
// The frame loop alone. With `drain` (end of stream) it also takes the
// partial last frame (completed with silence) and the rate converter's tail.
int SpeechFrameLoop(EncodedFrames* frames, CPcmFrameBuffer* pcmBuffer, CRateConverter* rateConverter,
                    uint32_t outputCapacity, SpeechFrameCoder& coder, bool drain);

// Closes and deletes a codec object's PCM path, clearing each pointer.
void ClosePcmPath(CPcmFrameBuffer*& pcmBuffer, CRateConverter*& rateConverter, CFormatConverter*& formatConverter);
// GetFormat of every codec object: the PCM buffer's gap and time figures and
// the codec's frame length.
void FillEncoderStatus(CPcmFrameBuffer* pcmBuffer, uint32_t frameLength, EncoderStatus* status);
