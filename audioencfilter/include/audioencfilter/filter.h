// CKRAudEncFlt: the audio encoder filter. One PCM input pin, one output pin
// of encoded-audio packets; up to four streams (AMR 0, AMR 1, EVRC, AAC).
#pragma once

#include "audioencfilter/codec.h"
#include "audioencfilter/iaudenc.h"
#include "dshow/base.h"

// The filter's per-stream record.
struct AudioStreamSlot {
  uint32_t enabled;
  AudioCodecConfig config;
  CAudEncoder* codec;          // owned, or null
  EncodedFrames frames;        // frameLengths owned by the slot
  uint32_t kBytes, bytes;      // bytes = remainder below a kilobyte
  uint32_t frameCount, skipped, timeMs, smallestPacket, largestPacket;
  int16_t streamId;
  uint8_t decoderConfig[64];
  uint32_t decoderConfigLength;
};
// It holds a pointer: 43 32-bit words in the 32-bit build only.
static_assert(sizeof(void*) != 4 || sizeof(AudioStreamSlot) == 43 * 4, "43 32-bit words");

enum StreamSlotIndex { SLOT_AMR0 = 0, SLOT_AMR1 = 1, SLOT_EVRC = 2, SLOT_AAC = 3, SLOT_COUNT = 4 };

class CKRAudEncFlt : public CTransformFilter {
 public:
  static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* hr);
  ~CKRAudEncFlt() override;

  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override;
  HRESULT CheckInputType(const CMediaType* in) override;
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;

  // Closes and deletes every codec object; answers how many it released.
  int ReleaseEncoders();
  static LONG InstanceCount();

 private:
  explicit CKRAudEncFlt(LPUNKNOWN outer);
  void SetDefaults();

  uint32_t m_instance;
  CCritSec m_csConfig;
  CCritSec m_csReceiveEncode;
  double m_byteClockMs;
  int64_t m_byteClockWholeMs;
  uint64_t m_inputPosition;
  uint32_t m_driftCheckCount;
  uint32_t m_inputSampleRate;
  uint32_t m_inputChannels;
  uint32_t m_highestCodecRate;
  uint32_t m_outputSampleSize;
  uint32_t m_amrFrameBudget[8];
  uint32_t m_evrcFrameBudget;
  uint32_t m_aacFrameBudget[9];
  int16_t m_groupAmr, m_groupEvrc, m_groupAac;
  AudioStreamSlot m_slots[SLOT_COUNT];
  uint8_t* m_workBuffer;
  uint32_t m_workBufferSize;
  // Input statistics.
  uint32_t m_inKBytes, m_inBytes, m_inSamples, m_inDropped, m_inLastTimeMs, m_inSmallest, m_inLargest, m_inSkipped;
};
