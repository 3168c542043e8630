// CAudEncEVRC: the codec object over the outside EVRC coder of Qpl.dll,
// which it loads at Init (a missing library fails only this object) and
// releases with itself.
#pragma once

#include <windows.h>

#include "audioencfilter/codec.h"

struct IQplEVRCEncoder;
class CPcmFrameBuffer;
class CRateConverter;
class CFormatConverter;

class CAudEncEVRC : public CAudEncoder {
 public:
  // library: the file name LoadLibrary is given.
  explicit CAudEncEVRC(const wchar_t* library = L"Qpl.dll");
  ~CAudEncEVRC() override;
  int Init(int outputCapacity, AudioCodecConfig* config) override;
  int Encode(PcmBlock* block, EncodedFrames* frames) override;
  int Close() override;
  void GetFormat(EncoderStatus* status) override;
  int Drain(EncodedFrames* frames) override;

 private:
  const wchar_t* libraryName_;
  HMODULE library_;
  IQplEVRCEncoder* coder_;
  CPcmFrameBuffer* pcmBuffer_;
  int frameBytes_;
  int outputCapacity_;
  int maxFrames_;
  CRateConverter* rateConverter_;
  CFormatConverter* formatConverter_;
  int frameLength_;
  double rateRatio_;
};
