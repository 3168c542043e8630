// CAudEncAMR: the codec object over the GSM-AMR frame encoder. Frames leave
// in the storage layout (byte 0 the frame type, then the speech bits most
// significant first, zero-padded) or, with the layout flag set, as the
// coder's IF2 bytes. Portable.
#pragma once

#include <cstdint>

#include "audioencfilter/codec.h"

struct AmrEncState;
class CPcmFrameBuffer;
class CRateConverter;
class CFormatConverter;

// Frame sizes by frame type 0..15 (8 = SID).
extern const uint8_t kAmrStorageFrameBytes[16];
extern const uint8_t kAmrIf2FrameBytes[9];

// IF2 -> storage layout, in place. Both write one byte past the storage size
// of the frame type, so `frame` must hold that size + 1.
void amr_put_frame_type(uint8_t* frame);
void amr_pack_octets(int mode, uint8_t* frame);

class CAudEncAMR : public CAudEncoder {
 public:
  CAudEncAMR();
  int Init(int outputCapacity, AudioCodecConfig* config) override;
  int Encode(PcmBlock* block, EncodedFrames* frames) override;
  int Close() override;
  void GetFormat(EncoderStatus* status) override;
  int Drain(EncodedFrames* frames) override;

 private:
  AmrEncState* state_;
  int mode_;
  int frameLength_;
  CPcmFrameBuffer* pcmBuffer_;
  int frameBytes_;
  int outputCapacity_;
  int layout_;  // 0 storage layout, else IF2
  CRateConverter* rateConverter_;
  CFormatConverter* formatConverter_;
  double rateRatio_;
};
