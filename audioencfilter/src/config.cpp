// IAudEncCfg and IAudEncStats: stream selection while stopped, and the
// counters of the encoding loop at any time.
#include <cstring>

#include "audioencfilter/aac_codec.h"
#include "audioencfilter/filter.h"

namespace {

bool ValidStreamId(short id) { return id >= 0 && id <= 255; }

void SpeechSlotDefaults(AudioStreamSlot& slot, BOOL enable, short streamId) {
  slot.streamId = streamId;
  slot.enabled = enable ? 1 : 0;
  slot.config.bitsPerSample = 16;
  slot.config.inputSampleRate = slot.config.timeBaseRate = 8000;
  slot.config.codecSampleRate = slot.config.spareRate = 8000;
  slot.config.inputChannels = 2;
  slot.config.codecChannels = 1;
}

}  // namespace

STDMETHODIMP CKRAudEncFlt::Reset() {
  for (AudioStreamSlot& slot : m_slots) slot.enabled = 0;
  m_groupAmr = m_groupEvrc = m_groupAac = 0;
  return S_OK;
}

STDMETHODIMP CKRAudEncFlt::SetAMR(short index, BOOL enable, short streamId, int, int bitrate) {
  if (!IsStopped()) return E_UNEXPECTED;
  if (!ValidStreamId(streamId)) return AUDENC_E_INVALID_STREAM_ID;
  if (index < 0 || index > 1) return KRM_E_INVALID_INSTANCE;
  uint32_t mode;
  if (bitrate == 4750) {
    mode = 0;
  } else if (bitrate == 12200) {
    mode = 7;
  } else {
    return KRM_E_INVALID_AUDIO_BITRATE;
  }
  AudioStreamSlot& slot = m_slots[SLOT_AMR0 + index];
  slot.config.modeOrBitrateIndex = mode;
  const uint32_t need = m_amrFrameBudget[mode] * 100;
  if (need > m_workBufferSize) m_workBufferSize = need;
  SpeechSlotDefaults(slot, enable, streamId);
  // The group follows the latest call, whichever slot it named.
  m_groupAmr = enable ? 1 : 0;
  m_inputSampleRate = m_highestCodecRate > 8000 ? m_highestCodecRate : 8000;
  return S_OK;
}

STDMETHODIMP CKRAudEncFlt::GetAMR(short index, BOOL* enable, short* streamId, int* sampleRate, int* bitrate) {
  if (index < 0 || index > 1) return KRM_E_INVALID_INSTANCE;
  if (!enable || !streamId || !sampleRate || !bitrate) return E_INVALIDARG;
  const AudioStreamSlot& slot = m_slots[SLOT_AMR0 + index];
  *sampleRate = int(slot.config.codecSampleRate);
  *bitrate = slot.config.modeOrBitrateIndex ? 12200 : 4750;
  *enable = BOOL(slot.enabled);
  *streamId = slot.streamId;
  return S_OK;
}

STDMETHODIMP CKRAudEncFlt::SetEVRC(short index, BOOL enable, short streamId, int, int bitrate) {
  if (!IsStopped()) return E_UNEXPECTED;
  if (index != 0) return KRM_E_INVALID_INSTANCE;
  if (!ValidStreamId(streamId)) return AUDENC_E_INVALID_STREAM_ID;
  if (bitrate != 9200) return KRM_E_INVALID_AUDIO_BITRATE;
  AudioStreamSlot& slot = m_slots[SLOT_EVRC];
  slot.config.modeOrBitrateIndex = 0;
  if (m_evrcFrameBudget * 100 > m_workBufferSize) m_workBufferSize = m_evrcFrameBudget * 100;
  SpeechSlotDefaults(slot, enable, streamId);
  m_groupEvrc = enable ? 1 : 0;
  m_inputSampleRate = m_highestCodecRate > 8000 ? m_highestCodecRate : 8000;
  return S_OK;
}

STDMETHODIMP CKRAudEncFlt::GetEVRC(short index, BOOL* enable, short* streamId, int* sampleRate, int* bitrate) {
  if (index != 0) return KRM_E_INVALID_INSTANCE;
  if (!enable || !streamId || !sampleRate || !bitrate) return E_INVALIDARG;
  const AudioStreamSlot& slot = m_slots[SLOT_EVRC];
  *sampleRate = int(slot.config.codecSampleRate);
  *bitrate = 9200;
  *enable = BOOL(slot.enabled);
  *streamId = slot.streamId;
  return S_OK;
}

STDMETHODIMP CKRAudEncFlt::SetAAC(short index, BOOL enable, short streamId, int* sampleRate, int* bitrate,
                                  short* channels) {
  if (!sampleRate || !bitrate || !channels) return E_INVALIDARG;
  if (!IsStopped()) return E_UNEXPECTED;
  if (index != 0) return KRM_E_INVALID_INSTANCE;
  if (!ValidStreamId(streamId)) return AUDENC_E_INVALID_STREAM_ID;
  if (m_groupAac) return AUDENC_E_AAC_BUSY;
  static const int kBitrates[9] = {16000, 24000, 32000, 48000, 56000, 64000, 96000, 112000, 128000};
  uint32_t bitrateIndex = 9;
  for (uint32_t i = 0; i < 9; ++i)
    if (kBitrates[i] == *bitrate) bitrateIndex = i;
  if (bitrateIndex == 9) return KRM_E_INVALID_AUDIO_BITRATE;
  const uint32_t requestedChannels = bitrateIndex <= 1 ? 1u : uint32_t(*channels);

  AudioStreamSlot& slot = m_slots[SLOT_AAC];
  slot.config.modeOrBitrateIndex = bitrateIndex;
  if (m_aacFrameBudget[bitrateIndex] * 50 > m_workBufferSize) m_workBufferSize = m_aacFrameBudget[bitrateIndex] * 50;
  slot.config.inputSampleRate = slot.config.timeBaseRate = 0;
  slot.config.bitsPerSample = 16;
  slot.config.inputChannels = 2;
  slot.config.codecChannels = requestedChannels;
  m_inputChannels = 2;
  slot.enabled = enable ? 1 : 0;
  if (!enable) {
    m_groupAac = 0;
    m_highestCodecRate = m_inputSampleRate = 8000;
    *sampleRate = 0;
    *channels = 0;
    return S_OK;
  }
  m_groupAac = 1;
  const HRESULT hr = CreateEncoders(2);
  if (FAILED(hr)) return hr;
  slot.streamId = streamId;
  const uint32_t rate = slot.config.codecSampleRate;
  slot.config.inputSampleRate = slot.config.timeBaseRate = slot.config.spareRate = rate;
  *sampleRate = int(rate);
  *channels = short(slot.config.codecChannels);
  m_inputChannels = slot.config.inputChannels;
  if (rate >= m_highestCodecRate) m_highestCodecRate = m_inputSampleRate = rate;
  return S_OK;
}

STDMETHODIMP CKRAudEncFlt::Unused() { return E_NOTIMPL; }

STDMETHODIMP CKRAudEncFlt::Reserved(int, void* pointer) { return pointer ? S_OK : E_INVALIDARG; }

STDMETHODIMP CKRAudEncFlt::GetAACConfig(short index, BYTE* buffer, int* length) {
  if (!buffer || !length) return E_INVALIDARG;
  if (index != 0) return KRM_E_INVALID_INSTANCE;
  const AudioStreamSlot& slot = m_slots[SLOT_AAC];
  const uint32_t n = slot.decoderConfigLength <= 64 ? slot.decoderConfigLength : 64;
  *length = int(n);
  std::memcpy(buffer, slot.decoderConfig, n);
  return S_OK;
}

int16_t CKRAudEncFlt::FindEnabledStream(int group) const {
  switch (group) {
    case AUDIO_CODEC_AMR:
      for (int i = SLOT_AMR0; i <= SLOT_AMR1; ++i)
        if (m_slots[i].enabled == 1) return int16_t(i - SLOT_AMR0);
      return -1;
    case AUDIO_CODEC_EVRC:
      return m_slots[SLOT_EVRC].enabled == 1 ? 0 : -1;
    case AUDIO_CODEC_AAC:
      return m_slots[SLOT_AAC].enabled == 1 ? 0 : -1;
    default:
      return -1;
  }
}

STDMETHODIMP CKRAudEncFlt::GetActiveStream(short* index, short* codecType) {
  if (!index || !codecType) return E_INVALIDARG;
  *index = -2;
  if (*codecType >= 0 && *codecType <= 2) {
    const int16_t found = FindEnabledStream(*codecType);
    if (found >= 0) {
      *index = found;
      return S_OK;
    }
  }
  for (short type : {short(AUDIO_CODEC_EVRC), short(AUDIO_CODEC_AMR), short(AUDIO_CODEC_AAC)}) {
    const int16_t found = FindEnabledStream(type);
    if (found >= 0) {
      *index = found;
      *codecType = type;
      return S_OK;
    }
  }
  return E_FAIL;
}

namespace {
// The slot of (codec type, index), or -1 for an index out of the group's range.
int SlotOf(short codecType, short index) {
  if (codecType == AUDIO_CODEC_AMR) return index >= 0 && index <= 1 ? SLOT_AMR0 + index : -1;
  if (codecType == AUDIO_CODEC_EVRC) return index == 0 ? SLOT_EVRC : -1;
  return index == 0 ? SLOT_AAC : -1;
}
}  // namespace

#define KR_BYTES_GETTER(Name, Type)                                \
  STDMETHODIMP CKRAudEncFlt::Name(short index, int* kbytes, int* bytes) { \
    if (!kbytes || !bytes) return E_INVALIDARG;                    \
    *kbytes = *bytes = 0;                                          \
    const int slot = SlotOf(Type, index);                          \
    if (slot < 0) return E_INVALIDARG;                             \
    *kbytes = int(m_slots[slot].kBytes);                           \
    *bytes = int(m_slots[slot].bytes);                             \
    return S_OK;                                                   \
  }
KR_BYTES_GETTER(GetAMRBytes, AUDIO_CODEC_AMR)
KR_BYTES_GETTER(GetEVRCBytes, AUDIO_CODEC_EVRC)
KR_BYTES_GETTER(GetAACBytes, AUDIO_CODEC_AAC)
#undef KR_BYTES_GETTER

#define KR_SAMPLES_GETTER(Name, Type)                        \
  STDMETHODIMP CKRAudEncFlt::Name(short index, int* count) { \
    if (!count) return E_INVALIDARG;                         \
    *count = 0;                                              \
    const int slot = SlotOf(Type, index);                    \
    if (slot < 0) return E_INVALIDARG;                       \
    *count = int(m_slots[slot].frameCount);                  \
    return S_OK;                                             \
  }
KR_SAMPLES_GETTER(GetAMRSamples, AUDIO_CODEC_AMR)
KR_SAMPLES_GETTER(GetEVRCSamples, AUDIO_CODEC_EVRC)
KR_SAMPLES_GETTER(GetAACSamples, AUDIO_CODEC_AAC)
#undef KR_SAMPLES_GETTER

STDMETHODIMP CKRAudEncFlt::GetSkipped(short codecType, short index, int* count) {
  if (!count) return E_INVALIDARG;
  *count = 0;
  if (codecType < AUDIO_CODEC_AMR || codecType > AUDIO_CODEC_AAC) return KRM_E_INVALID_CODEC_ID;
  const int slot = SlotOf(codecType, index);
  if (slot < 0) return KRM_E_INVALID_INSTANCE;
  *count = int(m_slots[slot].skipped);
  return S_OK;
}

STDMETHODIMP CKRAudEncFlt::GetStreamTime(short codecType, short index, int* milliseconds) {
  if (!milliseconds) return E_INVALIDARG;
  *milliseconds = 0;
  if (codecType < AUDIO_CODEC_AMR || codecType > AUDIO_CODEC_AAC) return KRM_E_INVALID_CODEC_ID;
  const int slot = SlotOf(codecType, index);
  if (slot < 0) return KRM_E_INVALID_INSTANCE;
  *milliseconds = int(m_slots[slot].timeMs);
  return S_OK;
}

STDMETHODIMP CKRAudEncFlt::GetEmptyInputs(int* count) {
  if (!count) return E_INVALIDARG;
  *count = int(m_inDropped);
  return S_OK;
}

STDMETHODIMP CKRAudEncFlt::GetInputBytes(int* kbytes, int* bytes) {
  if (!kbytes || !bytes) return E_INVALIDARG;
  *kbytes = int(m_inKBytes);
  *bytes = int(m_inBytes);
  return S_OK;
}

STDMETHODIMP CKRAudEncFlt::GetInputSamples(int* count) {
  if (!count) return E_INVALIDARG;
  *count = int(m_inSamples);
  return S_OK;
}

STDMETHODIMP CKRAudEncFlt::GetInputTime(int* milliseconds) {
  if (!milliseconds) return E_INVALIDARG;
  *milliseconds = int(m_inLastTimeMs);
  return S_OK;
}
