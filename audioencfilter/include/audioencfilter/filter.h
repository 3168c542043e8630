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

// Graph events of the filter (EC_USER based, shared with the media engine):
// param1 2 names the audio encoder filter.
constexpr long EC_KR_AUDIO_DRIFT = 32781;  // param2: drift in milliseconds
constexpr long EC_KR_ERROR = 32788;        // param2: an AudioEncoderError code
constexpr LONG_PTR KR_EVENT_SOURCE_AUDIO_ENCODER = 2;

class CKRAudEncFlt : public CTransformFilter, public IAudEncCfg, public IAudEncStats {
 public:
  static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* hr);
  ~CKRAudEncFlt() override;

  DECLARE_IUNKNOWN
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

  // Streaming (one input sample at a time, on the upstream thread).
  HRESULT StartStreaming() override;
  HRESULT StopStreaming() override;
  HRESULT Receive(IMediaSample* input) override;
  HRESULT EndOfStream() override;

  // IAudEncCfg
  STDMETHODIMP Reset() override;
  STDMETHODIMP SetAMR(short index, BOOL enable, short streamId, int notUsed, int bitrate) override;
  STDMETHODIMP GetAMR(short index, BOOL* enable, short* streamId, int* sampleRate, int* bitrate) override;
  STDMETHODIMP SetEVRC(short index, BOOL enable, short streamId, int notUsed, int bitrate) override;
  STDMETHODIMP GetEVRC(short index, BOOL* enable, short* streamId, int* sampleRate, int* bitrate) override;
  STDMETHODIMP SetAAC(short index, BOOL enable, short streamId, int* sampleRate, int* bitrate,
                      short* channels) override;
  STDMETHODIMP Unused() override;
  STDMETHODIMP Reserved(int value, void* pointer) override;
  STDMETHODIMP GetAACConfig(short index, BYTE* buffer, int* length) override;

  // IAudEncStats
  STDMETHODIMP GetActiveStream(short* index, short* codecType) override;
  STDMETHODIMP GetAMRBytes(short index, int* kbytes, int* bytes) override;
  STDMETHODIMP GetEVRCBytes(short index, int* kbytes, int* bytes) override;
  STDMETHODIMP GetAACBytes(short index, int* kbytes, int* bytes) override;
  STDMETHODIMP GetAMRSamples(short index, int* count) override;
  STDMETHODIMP GetEVRCSamples(short index, int* count) override;
  STDMETHODIMP GetAACSamples(short index, int* count) override;
  STDMETHODIMP GetSkipped(short codecType, short index, int* count) override;
  STDMETHODIMP GetEmptyInputs(int* count) override;
  STDMETHODIMP GetInputBytes(int* kbytes, int* bytes) override;
  STDMETHODIMP GetInputSamples(int* count) override;
  STDMETHODIMP GetInputTime(int* milliseconds) override;
  STDMETHODIMP GetStreamTime(short codecType, short index, int* milliseconds) override;

  // Group 0 the AMR slots, 1 EVRC, 2 AAC, 3 all.
  HRESULT CreateEncoders(int group);
  // Closes and deletes every codec object; answers how many it released.
  int ReleaseEncoders();
  static LONG InstanceCount();
  // The end-of-stream report of the last StopStreaming (four lines).
  const char* LastReport() const { return m_report; }

 private:
  explicit CKRAudEncFlt(LPUNKNOWN outer);
  void SetDefaults();
  HRESULT InitializeOutputSample(IMediaSample* input, IMediaSample** output);
  // 0 deliver, 1 drop this input sample, or a negative failure.
  HRESULT EncodeSample(IMediaSample* input, IMediaSample* speech, IMediaSample* aac);
  // 0, 1 (the packet does not fit), or a negative failure.
  HRESULT PackFrames(int type, int index, int16_t streamId, AudioStreamSlot& slot, BYTE* destination,
                     uint32_t room, uint32_t* bytes);
  // One slot's Encode and packet; 0 packed, 1 dropped, 2 nothing to pack, or a failure.
  HRESULT EncodeSlot(int slotIndex, int type, PcmBlock& block, BYTE* destination, uint32_t room,
                     uint32_t* bytes, REFERENCE_TIME* start, REFERENCE_TIME* stop, LONGLONG* mediaStart,
                     LONGLONG* mediaStop, bool drain = false);
  void DrainStreams();
  void DropInput(bool countDropped);
  void Notify(HRESULT code) { NotifyEvent(EC_KR_ERROR, KR_EVENT_SOURCE_AUDIO_ENCODER, code); }
  int16_t FindEnabledStream(int group) const;

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
  bool m_firstInput;
  char m_report[1024];
};
