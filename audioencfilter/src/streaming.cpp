// The filter's streaming path: codec objects made at the start, every input
// sample encoded by each enabled stream and packed into the speech and AAC
// output samples, the drift check, the events and the end-of-stream report.
#include <evcode.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "audioencfilter/aac_codec.h"
#include "audioencfilter/amr_codec.h"
#include "audioencfilter/evrc_codec.h"
#include "audioencfilter/filter.h"

namespace {

void ResetSlotStatistics(AudioStreamSlot& slot, uint32_t listLength) {
  slot.kBytes = slot.bytes = slot.frameCount = slot.skipped = slot.timeMs = 0;
  slot.smallestPacket = 5120;
  slot.largestPacket = 0;
  delete[] slot.frames.frameLengths;
  slot.frames = EncodedFrames{};
  slot.frames.frameLengths = new (std::nothrow) uint32_t[listLength]();
}

void DeleteCodec(AudioStreamSlot& slot) {
  if (!slot.codec) return;
  slot.codec->Close();
  delete slot.codec;
  slot.codec = nullptr;
}

void AddBytes(uint32_t& kBytes, uint32_t& bytes, uint32_t more) {
  bytes += more;
  kBytes += bytes / 1024;
  bytes %= 1024;
}

// Little-endian 16-bit length, then the frame.
BYTE* PutFrame(BYTE* p, const uint8_t* frame, uint32_t length) {
  *p++ = BYTE(length & 0xFF);
  *p++ = BYTE(length >> 8);
  std::memcpy(p, frame, length);
  return p + length;
}

}  // namespace

HRESULT CKRAudEncFlt::CreateEncoders(int group) {
  if ((group == 0 || group == 3) && m_groupAmr) {
    for (int i = SLOT_AMR0; i <= SLOT_AMR1; ++i) {
      AudioStreamSlot& slot = m_slots[i];
      if (!slot.enabled) continue;
      DeleteCodec(slot);
      slot.config.inputSampleRate = m_inputSampleRate;
      slot.config.timeBaseRate = m_inputSampleRate;
      slot.config.inputChannels = m_inputChannels;
      auto* codec = new (std::nothrow) CAudEncAMR;
      if (!codec || codec->Init(int(m_workBufferSize), &slot.config) < 0) {
        if (codec) codec->Close();
        delete codec;
        Notify(AUDENC_E_AMR_INIT);
        return E_FAIL;
      }
      slot.codec = codec;
      ResetSlotStatistics(slot, kSpeechFrameListLength);
    }
  }
  if ((group == 1 || group == 3) && m_groupEvrc && m_slots[SLOT_EVRC].enabled) {
    AudioStreamSlot& slot = m_slots[SLOT_EVRC];
    DeleteCodec(slot);
    slot.config.inputSampleRate = m_inputSampleRate;
    slot.config.timeBaseRate = m_inputSampleRate;
    slot.config.inputChannels = m_inputChannels;
    auto* codec = new (std::nothrow) CAudEncEVRC;
    if (!codec || codec->Init(int(m_workBufferSize), &slot.config) < 0) {
      if (codec) codec->Close();
      delete codec;
      Notify(AUDENC_E_EVRC_INIT);
      return E_FAIL;
    }
    slot.codec = codec;
    ResetSlotStatistics(slot, kSpeechFrameListLength);
  }
  if ((group == 2 || group == 3) && m_groupAac && m_slots[SLOT_AAC].enabled) {
    AudioStreamSlot& slot = m_slots[SLOT_AAC];
    DeleteCodec(slot);
    auto* codec = new (std::nothrow) CAudEncAAC;
    if (!codec || codec->Init(int(m_workBufferSize), &slot.config) < 0) {
      // The half-built object goes: no slot keeps a codec it cannot use.
      if (codec) codec->Close();
      delete codec;
      slot.decoderConfigLength = 0;
      Notify(AUDENC_E_AAC_INIT);
      return AUDENC_E_AAC_INIT;
    }
    slot.codec = codec;
    uint32_t length = 0;
    if (codec->GetDecoderConfig(slot.decoderConfig, &length) == CODEC_OK) slot.decoderConfigLength = length;
    slot.config.inputSampleRate = slot.config.codecSampleRate;
    slot.config.timeBaseRate = slot.config.codecSampleRate;
    m_inputSampleRate = slot.config.codecSampleRate;
    ResetSlotStatistics(slot, kAacFrameListLength);
  }
  return S_OK;
}

HRESULT CKRAudEncFlt::StartStreaming() {
  if (m_State != State_Stopped) return E_UNEXPECTED;
  if (!m_groupAmr && !m_groupEvrc && !m_groupAac) {
    Notify(KRM_E_USE_DEFAULT_CODEC);
    m_slots[SLOT_AMR0].enabled = 1;
    m_groupAmr = 1;
  }
  HRESULT hr = CreateEncoders(0);
  if (FAILED(hr)) return hr;
  hr = CreateEncoders(1);
  // Without the outside EVRC coder the other streams still run; the EVRC
  // slot then counts every sample as skipped.
  if (FAILED(hr) && !m_groupAmr && !m_groupAac) return hr;
  delete[] m_workBuffer;
  // Room for the AAC frame that crosses the work buffer size.
  m_workBuffer = new (std::nothrow) uint8_t[m_workBufferSize + kAacMaxFrameBytes];
  if (!m_workBuffer) return E_OUTOFMEMORY;
  m_inKBytes = m_inBytes = m_inSamples = m_inDropped = m_inSkipped = m_inLastTimeMs = 0;
  m_inSmallest = 96000;
  m_inLargest = 0;
  m_byteClockMs = 0;
  m_byteClockWholeMs = 0;
  m_inputPosition = 0;
  m_driftCheckCount = 0;
  m_firstInput = true;
  return S_OK;
}

HRESULT CKRAudEncFlt::StopStreaming() {
  delete[] m_workBuffer;
  m_workBuffer = nullptr;
  const AudioStreamSlot& a = m_slots[SLOT_AMR0];
  const AudioStreamSlot& e = m_slots[SLOT_EVRC];
  const AudioStreamSlot& c = m_slots[SLOT_AAC];
  const int id = int(m_instance);
  std::snprintf(m_report, sizeof m_report,
                "(%d) CKRAudEncFlt::StopStreaming(),GSM-AMR %lu samples,KBytes=%lu,Bytes=%lu,Skipped=%lu,min=%d,max=%d,"
                "time=%lu\n"
                "(%d) CKRAudEncFlt::StopStreaming(),EVRC %lu samples,KBytes=%lu,Bytes=%lu,Skipped=%lu,min=%d,max=%d,"
                "time=%lu\n"
                "(%d) CKRAudEncFlt::StopStreaming(),AAC %lu samples,KBytes=%lu,Bytes=%lu,Skipped=%lu,min=%d,max=%d,"
                "time=%lu\n"
                "(%d) CKRAudEncFlt::StopStreaming(),Input samples=%lu,skipped=%lu,%lu KB %lu B,min=%d,max=%d,time=%lu\n",
                id, (unsigned long)a.frameCount, (unsigned long)a.kBytes, (unsigned long)a.bytes,
                (unsigned long)a.skipped, int(a.smallestPacket), int(a.largestPacket), (unsigned long)a.timeMs, id,
                (unsigned long)e.frameCount, (unsigned long)e.kBytes, (unsigned long)e.bytes, (unsigned long)e.skipped,
                int(e.smallestPacket), int(e.largestPacket), (unsigned long)e.timeMs, id, (unsigned long)c.frameCount,
                (unsigned long)c.kBytes, (unsigned long)c.bytes, (unsigned long)c.skipped, int(c.smallestPacket),
                int(c.largestPacket), (unsigned long)c.timeMs, id, (unsigned long)m_inSamples,
                (unsigned long)m_inSkipped, (unsigned long)m_inKBytes, (unsigned long)m_inBytes, int(m_inSmallest),
                int(m_inLargest), (unsigned long)m_inLastTimeMs);
  return S_OK;
}

HRESULT CKRAudEncFlt::InitializeOutputSample(IMediaSample* input, IMediaSample** output) {
  REFERENCE_TIME start = 0, stop = 0;
  const bool timed = input->GetTime(&start, &stop) == S_OK;
  DWORD flags = 0;
  if (m_bSampleSkipped) flags |= AM_GBF_PREVFRAMESKIPPED;
  if (input->IsSyncPoint() != S_OK) flags |= AM_GBF_NOTASYNCPOINT;
  IMediaSample* sample = nullptr;
  HRESULT hr = m_pOutput->GetDeliveryBuffer(&sample, timed ? &start : nullptr, timed ? &stop : nullptr, flags);
  if (FAILED(hr)) return hr;
  if (timed) sample->SetTime(&start, &stop);
  sample->SetSyncPoint(input->IsSyncPoint() == S_OK);
  sample->SetPreroll(input->IsPreroll() == S_OK);
  sample->SetDiscontinuity(input->IsDiscontinuity() == S_OK || m_bSampleSkipped);
  *output = sample;
  return S_OK;
}

HRESULT CKRAudEncFlt::Receive(IMediaSample* input) {
  CAutoLock lock(&m_csReceiveEncode);
  IMediaSample* speech = nullptr;
  IMediaSample* aac = nullptr;
  HRESULT hr;
  if (m_groupAmr || m_groupEvrc) {
    hr = InitializeOutputSample(input, &speech);
    if (FAILED(hr)) return hr;
  }
  if (m_groupAac) {
    hr = InitializeOutputSample(input, &aac);
    if (FAILED(hr)) {
      if (speech) speech->Release();
      return hr;
    }
  }
  const HRESULT r = EncodeSample(input, speech, aac);
  hr = S_OK;
  if (r == 0) {
    // Both samples go on; the answer is the first that was refused.
    for (IMediaSample* s : {speech, aac}) {
      if (!s || s->GetActualDataLength() <= 0) continue;
      const HRESULT d = m_pOutput->Deliver(s);
      if (hr == S_OK) hr = d;
    }
    m_bSampleSkipped = FALSE;
  } else if (r == 1) {
    m_bSampleSkipped = TRUE;
    if (!m_bQualityChanged) {
      NotifyEvent(EC_QUALITY_CHANGE, 0, 0);
      m_bQualityChanged = TRUE;
    }
  } else {
    hr = r;
  }
  if (speech) speech->Release();
  if (aac) aac->Release();
  return hr;
}

// End of stream: what the codec objects still hold (the partial last frame,
// the rate converter's tail) leaves in one last speech and AAC sample before
// the end-of-stream notice.
HRESULT CKRAudEncFlt::EndOfStream() {
  {
    CAutoLock lock(&m_csReceiveEncode);
    if (m_workBuffer) DrainStreams();
  }
  return CTransformFilter::EndOfStream();
}

void CKRAudEncFlt::DrainStreams() {
  struct Output {
    bool active;
    int first, last;
  };
  const Output outputs[2] = {{m_groupAmr || m_groupEvrc, SLOT_AMR0, SLOT_EVRC}, {m_groupAac != 0, SLOT_AAC, SLOT_AAC}};
  for (const Output& o : outputs) {
    if (!o.active) continue;
    IMediaSample* sample = nullptr;
    if (FAILED(m_pOutput->GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) continue;
    BYTE* data = nullptr;
    uint32_t written = 0;
    REFERENCE_TIME start = 0, stop = 0;
    LONGLONG mediaStart = 0, mediaStop = 0;
    bool timed = false;
    if (SUCCEEDED(sample->GetPointer(&data)) && data) {
      for (int i = o.first; i <= o.last; ++i) {
        if (!m_slots[i].enabled || !m_slots[i].codec) continue;
        if (i <= SLOT_AMR1 ? !m_groupAmr : (i == SLOT_EVRC ? !m_groupEvrc : false)) continue;
        const int type = i <= SLOT_AMR1 ? AUDIO_CODEC_AMR : (i == SLOT_EVRC ? AUDIO_CODEC_EVRC : AUDIO_CODEC_AAC);
        PcmBlock none = {};
        uint32_t bytes = 0;
        REFERENCE_TIME s0, s1;
        LONGLONG m0, m1;
        if (EncodeSlot(i, type, none, data + written, uint32_t(sample->GetSize()) - written, &bytes, &s0, &s1, &m0,
                       &m1, true) == 0) {
          if (!timed) start = s0, mediaStart = m0;
          stop = s1, mediaStop = m1;
          timed = true;
          written += bytes;
        }
      }
    }
    if (written) {
      sample->SetTime(&start, &stop);
      sample->SetMediaTime(&mediaStart, &mediaStop);
      sample->SetActualDataLength(long(written));
      m_pOutput->Deliver(sample);
    }
    sample->Release();
  }
}

void CKRAudEncFlt::DropInput(bool countDropped) {
  ++m_inSkipped;
  if (countDropped) ++m_inDropped;
}

HRESULT CKRAudEncFlt::EncodeSample(IMediaSample* input, IMediaSample* speech, IMediaSample* aac) {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
  ++m_inSamples;
  BYTE* data = nullptr;
  if (FAILED(input->GetPointer(&data)) || !data) {
    Notify(AUDENC_E_INPUT_SAMPLE);
    DropInput(true);
    return 1;
  }
  const long actual = input->GetActualDataLength();
  const uint32_t length = actual > 0 ? uint32_t(actual) : 0;
  AddBytes(m_inKBytes, m_inBytes, length);
  if (length < m_inSmallest) m_inSmallest = length;
  if (length >= m_inLargest) m_inLargest = length;
  REFERENCE_TIME start = 0, stop = 0;
  if (FAILED(input->GetTime(&start, &stop))) {
    Notify(AUDENC_E_INPUT_SAMPLE);
    DropInput(true);
    return 1;
  }
  bool bad = stop < 0;
  if (start < 0) {
    if (m_firstInput) {
      start = 0;
    } else {
      bad = true;
    }
  }
  m_firstInput = false;
  if (bad && length == 0) {
    Notify(AUDENC_E_EMPTY_INPUT);
    DropInput(true);
    m_bQualityChanged = FALSE;
    return 1;
  }

  // Byte clock from the 64-bit position, so that fractions of a millisecond
  // do not add up to a false drift.
  const uint32_t frames = length / 2 / m_inputChannels;
  const uint64_t positionBefore = m_inputPosition;
  m_inputPosition += frames;
  m_byteClockMs = double(m_inputPosition) * 1000.0 / double(m_inputSampleRate);
  m_byteClockWholeMs = int64_t(m_byteClockMs);
  const int64_t stopMs = int64_t(double(stop) * 0.0001);
  m_inLastTimeMs = uint32_t(stopMs);
  const int32_t drift = int32_t(m_byteClockWholeMs - stopMs);
  if (m_driftCheckCount < (m_inputSampleRate / m_inputChannels) * 120 && std::abs(drift) < 500) {
    m_driftCheckCount += frames;
  } else {
    if (std::abs(drift) >= 2) NotifyEvent(EC_KR_AUDIO_DRIFT, KR_EVENT_SOURCE_AUDIO_ENCODER, drift);
    m_driftCheckCount = 0;
  }

  BYTE* speechData = nullptr;
  uint32_t speechRoom = 0, speechBytes = 0;
  if (speech) {
    if (FAILED(speech->GetPointer(&speechData)) || !speechData) {
      Notify(AUDENC_E_OUTPUT_SAMPLE);
      DropInput(true);
      return 1;
    }
    // The buffer's own size: the output sample size is 0 when no stream was
    // configured at connection time and the default codec runs.
    speechRoom = uint32_t(speech->GetSize());
  }
  REFERENCE_TIME speechStart = 0, speechStop = 0;
  LONGLONG speechMediaStart = 0, speechMediaStop = 0;
  int packets = 0;
  PcmBlock block = {data, length, 0, uint32_t(positionBefore), uint32_t(m_inputPosition)};

  struct Group {
    bool active;
    int first, last, type;
  };
  const Group speechGroups[2] = {{m_groupAmr != 0, SLOT_AMR0, SLOT_AMR1, AUDIO_CODEC_AMR},
                                 {m_groupEvrc != 0, SLOT_EVRC, SLOT_EVRC, AUDIO_CODEC_EVRC}};
  for (const Group& g : speechGroups) {
    if (!g.active || !speech) continue;
    for (int i = g.first; i <= g.last; ++i) {
      if (!m_slots[i].enabled) continue;
      uint32_t bytes = 0;
      const HRESULT r = EncodeSlot(i, g.type, block, speechData + speechBytes, speechRoom - speechBytes, &bytes,
                                   &speechStart, &speechStop, &speechMediaStart, &speechMediaStop);
      if (r < 0) return r;
      if (r == 1) return 1;
      if (r == 3) break;  // a failed stream: the rest of its group waits for the next sample
      if (r == 0) {
        speechBytes += bytes;
        ++packets;
      }
    }
  }

  if (m_groupAac && aac) {
    BYTE* aacData = nullptr;
    if (FAILED(aac->GetPointer(&aacData)) || !aacData) {
      Notify(AUDENC_E_OUTPUT_SAMPLE);
      DropInput(true);
      return 1;
    }
    if (m_slots[SLOT_AAC].enabled) {
      const uint32_t room = uint32_t(aac->GetSize());
      uint32_t bytes = 0;
      REFERENCE_TIME aacStart = 0, aacStop = 0;
      LONGLONG mediaStart = 0, mediaStop = 0;
      const HRESULT r =
          EncodeSlot(SLOT_AAC, AUDIO_CODEC_AAC, block, aacData, room, &bytes, &aacStart, &aacStop, &mediaStart, &mediaStop);
      if (r < 0) return r;
      if (r == 1) return 1;
      if (r == 0) {
        aac->SetMediaTime(&mediaStart, &mediaStop);
        if (FAILED(aac->SetTime(&aacStart, &aacStop)) || FAILED(aac->SetActualDataLength(long(bytes)))) {
          DropInput(true);
          return 1;
        }
        ++packets;
      } else {
        aac->SetActualDataLength(0);
      }
    } else {
      aac->SetActualDataLength(0);
    }
  }

  if (packets == 0) {
    if (speech) speech->SetActualDataLength(0);
    if (aac) aac->SetActualDataLength(0);
    DropInput(true);
    return 1;
  }
  if (!speech) return 0;
  // Only the AAC stream produced a packet: the empty speech sample is not delivered.
  speech->SetMediaTime(&speechMediaStart, &speechMediaStop);
  if ((speechBytes && FAILED(speech->SetTime(&speechStart, &speechStop))) ||
      FAILED(speech->SetActualDataLength(long(speechBytes)))) {
    DropInput(true);
    return 1;
  }
  return 0;
}

HRESULT CKRAudEncFlt::EncodeSlot(int slotIndex, int type, PcmBlock& block, BYTE* destination, uint32_t room,
                                 uint32_t* bytes, REFERENCE_TIME* start, REFERENCE_TIME* stop, LONGLONG* mediaStart,
                                 LONGLONG* mediaStop, bool drain) {
  AudioStreamSlot& slot = m_slots[slotIndex];
  *bytes = 0;
  block.modeOrBitrateIndex = slot.config.modeOrBitrateIndex;
  slot.frames.data = m_workBuffer;
  slot.frames.frameCount = 0;
  // An enabled stream without a codec object (it could not be made) fails
  // like one whose encoding failed.
  int r = CODEC_E_SETUP;
  if (slot.codec && slot.frames.frameLengths && m_workBuffer)
    r = drain ? slot.codec->Drain(&slot.frames) : slot.codec->Encode(&block, &slot.frames);
  if (r < 0) {
    if (type == AUDIO_CODEC_AMR) Notify(AUDENC_E_ENCODE);
    ++m_inSkipped;
    ++slot.skipped;
    if (type == AUDIO_CODEC_EVRC && slot.frames.frameLengths) slot.frames.frameLengths[0] = 0;
    return 3;
  }
  if (type == AUDIO_CODEC_AAC && slot.frameCount == 0) {
    uint32_t length = 0;
    if (static_cast<CAudEncAAC*>(slot.codec)->GetDecoderConfig(slot.decoderConfig, &length) == CODEC_OK)
      slot.decoderConfigLength = length;
  }
  if (slot.streamId < 0) {
    Notify(AUDENC_E_INVALID_STREAM_ID);
    return AUDENC_E_INVALID_STREAM_ID;
  }
  if (slot.frames.frameCount == 0) return 2;
  const HRESULT packed = PackFrames(type, slotIndex, slot.streamId, slot, destination, room, bytes);
  if (packed < 0) return packed;
  if (packed == 1) {
    ++slot.skipped;
    ++m_inSkipped;
    return 1;
  }
  if (*bytes < slot.smallestPacket) slot.smallestPacket = *bytes;
  if (*bytes >= slot.largestPacket) slot.largestPacket = *bytes;
  const uint64_t rate = slot.config.spareRate ? slot.config.spareRate : 8000;
  *start = REFERENCE_TIME(uint64_t(slot.frames.startPosition) * 10000000ull / rate);
  *stop = REFERENCE_TIME(uint64_t(slot.frames.endPosition) * 10000000ull / rate);
  *mediaStart = slot.frames.startPosition;
  *mediaStop = slot.frames.endPosition;
  slot.timeMs = uint32_t(*stop / 10000);
  return 0;
}

HRESULT CKRAudEncFlt::PackFrames(int type, int, int16_t streamId, AudioStreamSlot& slot, BYTE* destination,
                                 uint32_t room, uint32_t* bytes) {
  if (!destination || !bytes) return E_INVALIDARG;
  *bytes = 0;
  if (type < AUDIO_CODEC_AMR || type > AUDIO_CODEC_AAC) return KRM_E_INVALID_CODEC_ID;
  const EncodedFrames& f = slot.frames;
  const uint32_t n = f.frameCount;
  uint32_t total = 0;
  for (uint32_t k = 0; k < n; ++k) total += f.frameLengths[k];
  // Header, a 16-bit length per frame, the frames.
  if (3 + 2 * n + total > room) {
    Notify(AUDENC_E_OUTPUT_FULL);
    return 1;
  }
  BYTE* p = destination;
  *p++ = BYTE(type);
  *p++ = BYTE(streamId);
  *p++ = BYTE(n & 0xFF);
  const uint8_t* frame = f.data;
  for (uint32_t k = 0; k < n; ++k) {
    p = PutFrame(p, frame, f.frameLengths[k]);
    frame += f.frameLengths[k];
  }
  *bytes = uint32_t(p - destination);
  AddBytes(slot.kBytes, slot.bytes, total);
  slot.frameCount += n;
  return S_OK;
}
