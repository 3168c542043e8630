#include "speech_frames.h"

#include <cstring>

namespace {
constexpr int kFrameSamples = 160;
}

int EncodeSpeechBlock(PcmBlock* block, EncodedFrames* frames, CFormatConverter* formatConverter,
                      CPcmFrameBuffer* pcmBuffer, CRateConverter* rateConverter, double rateRatio,
                      uint32_t outputCapacity, SpeechFrameCoder& coder) {
  PcmBlock converted = {};
  if (formatConverter->Copy(block, &converted) != 0 || formatConverter->Reorder(&converted) != 0 ||
      formatConverter->Downmix(&converted) != 0)
    return CODEC_E_FORMAT;
  const int pushed = pcmBuffer->Push(&converted, rateRatio);
  if (pushed < 0) return pushed;
  return SpeechFrameLoop(frames, pcmBuffer, rateConverter, outputCapacity, coder, false);
}

int SpeechFrameLoop(EncodedFrames* frames, CPcmFrameBuffer* pcmBuffer, CRateConverter* rateConverter,
                    uint32_t outputCapacity, SpeechFrameCoder& coder, bool drain) {
  pcmBuffer->GetOutputTime(&frames->startPosition, &frames->endPosition);
  int16_t frame[kFrameSamples];
  uint32_t count = 0, offset = 0;
  int answer = CODEC_OK;
  int idle = 0;  // converter calls in a row that produced nothing from pending input
  bool draining = false;
  for (;;) {
    if (!rateConverter) {
      if (const uint8_t* p = pcmBuffer->PullFrames(1)) {
        std::memcpy(frame, p, sizeof frame);
      } else if (drain && pcmBuffer->available) {
        // End of stream: the partial last frame, completed with silence.
        uint32_t got = 0;
        const uint8_t* rest = pcmBuffer->PullSamples(int(pcmBuffer->available / 2), &got);
        if (!rest) break;
        std::memset(frame, 0, sizeof frame);
        std::memcpy(frame, rest, got < sizeof frame ? got : sizeof frame);
      } else {
        break;
      }
    } else {
      int needed = 0;
      if (!draining && rateConverter->Needed(&needed) != 0) return CODEC_E_CODING;
      uint32_t got = 0;
      const uint8_t* p = nullptr;
      if (!draining && needed > 0) p = pcmBuffer->PullSamples(needed, &got);
      PcmBlock out = {reinterpret_cast<uint8_t*>(frame), 0, 0, 0, 0};
      if (draining || (needed > 0 && !p)) {
        if (!drain) break;
        // A converter that took nothing since its last drain has no tail.
        if (!draining && rateConverter->inputFrames == 0 && pcmBuffer->available == 0) break;
        // End of stream: what the buffer still holds, then the converter's
        // tail, one frame per call.
        PcmBlock in = {nullptr, 0, 0, 0, 0};
        if (!draining && pcmBuffer->available) {
          const uint8_t* rest = pcmBuffer->PullSamples(int(pcmBuffer->available / 2), &got);
          in = {const_cast<uint8_t*>(rest), rest ? got : 0, 0, 0, 0};
        }
        draining = true;
        if (rateConverter->Drain(&in, &out, sizeof frame) != 0) return CODEC_E_CODING;
        if (out.length == 0) break;
      } else {
        if (needed == 0 && ++idle > 4) break;
        PcmBlock in = {const_cast<uint8_t*>(p), got, 0, 0, 0};
        if (rateConverter->Process(&in, &out, sizeof frame) != 0) return CODEC_E_CODING;
        if (out.length != sizeof frame) continue;
        idle = 0;
      }
    }
    const int bytes = coder.CodeFrame(frame, frames->data + offset, outputCapacity - offset);
    if (bytes < 0) {
      frames->frameCount = 0;
      return bytes;
    }
    frames->frameLengths[count++] = uint32_t(bytes);
    offset += uint32_t(bytes);
    // Stop while the area still has room for one more frame of this size.
    if (offset + uint32_t(bytes) > outputCapacity || count >= kSpeechFrameListLength) {
      answer = CODEC_OUTPUT_FULL;
      break;
    }
  }
  frames->frameCount = count;
  pcmBuffer->AdvanceOutputTime(count, &frames->endPosition);
  return answer;
}

void ClosePcmPath(CPcmFrameBuffer*& pcmBuffer, CRateConverter*& rateConverter, CFormatConverter*& formatConverter) {
  if (pcmBuffer) pcmBuffer->Close();
  delete pcmBuffer;
  pcmBuffer = nullptr;
  if (rateConverter) rateConverter->Close();
  delete rateConverter;
  rateConverter = nullptr;
  if (formatConverter) formatConverter->Close();
  delete formatConverter;
  formatConverter = nullptr;
}

void FillEncoderStatus(CPcmFrameBuffer* pcmBuffer, uint32_t frameLength, EncoderStatus* status) {
  if (!status) return;
  if (pcmBuffer) {
    pcmBuffer->GetGapInfo(status);
    pcmBuffer->GetTimeInfo(status);
  }
  status->frameLength = frameLength;
}
