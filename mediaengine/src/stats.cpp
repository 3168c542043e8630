// Statistics of the running graph, and the host's verdict on a client's
// admission passed on to the streamer.
#include "streamer/streamer.h"  // first: it wants winsock2 before windows.h

#include <strmif.h>
#include <uuids.h>

#include "audioencfilter/iaudenc.h"
#include "mediaengine/errors.h"
#include "mediaengine/media.h"
#include "release.h"
#include "videoencoder/interfaces.h"

namespace mediaengine {

STDMETHODIMP CImpIKRStats::GetVideoCaptureStat(void* record) {
  if (!record) return E_INVALIDARG;
  if (!engine_) return E_FAIL;
  CCustomGraph* graph = engine_->Graph();
  if (!graph || !graph->HasGraph()) {
    COKRMedia::TraceText("GetVideoCaptureStat", "No graph created !");
    return E_FAIL;
  }
  if (engine_->GraphState() != 3) {
    COKRMedia::TraceText("GetVideoCaptureStat", "The graph is stopped !");
    return E_FAIL;
  }
  if (!engine_->Live()) {
    COKRMedia::TraceText("GetVideoCaptureStat", "The graph is not live !");
    return E_FAIL;
  }
  IBaseFilter* camera = engine_->LiveSource().VideoCapture();
  if (!camera) return E_FAIL;
  IPin* pin = nullptr;
  HRESULT hr = graph->FindPinByCategory(camera, PIN_CATEGORY_CAPTURE, &pin);
  if (FAILED(hr)) return hr;
  IAMDroppedFrames* dropped = nullptr;
  hr = pin->QueryInterface(IID_IAMDroppedFrames, reinterpret_cast<void**>(&dropped));
  pin->Release();
  if (FAILED(hr)) return hr;
  auto* stat = static_cast<KRVideoCaptureStat*>(record);
  LONG lost = 0, kept = 0, average = 0;
  dropped->GetNumDropped(&lost);
  dropped->GetNumNotDropped(&kept);
  dropped->GetAverageFrameSize(&average);
  dropped->Release();
  stat->dropped = lost;
  stat->notDropped = kept;
  stat->averageFrameSize = average;
  stat->bytes = int64_t(average) * kept;
  return S_OK;
}

STDMETHODIMP CImpIKRStats::GetVideoEncoderStat(void* record) {
  if (!record) return KRM_E_BAD_PARAMETER;
  if (!engine_) return E_FAIL;
  if (engine_->GraphState() != 3) return KRM_E_MUST_BE_PLAYING;
  IBaseFilter* encoder = engine_->VideoEncoder();
  if (!encoder) return S_OK;
  IVidEncStats* stats = nullptr;
  if (FAILED(encoder->QueryInterface(IID_IVidEncStats, reinterpret_cast<void**>(&stats))))
    return KRM_E_INTERFACE_NOT_FOUND;
  auto* w = static_cast<KRVideoEncoderStat*>(record)->word;
  const uint32_t oldKilobytes = w[2], oldIntra = w[3];
  long actual = 0, target = 0, quantiser = 0;
  ULONG frames = 0, kilobytes = 0, intra = 0, dropped = 0;
  stats->GetBitRates(&actual, &target);
  stats->GetFrameCount(&frames);
  stats->GetCounters(-1, &kilobytes, &intra);
  stats->GetQuantiser(-1, &quantiser);
  stats->GetDroppedFrames(&dropped);
  stats->Release();
  w[0] = uint32_t(actual);
  w[1] = uint32_t(target);
  w[2] = kilobytes;
  w[3] = intra;
  w[4] = w[2] - oldKilobytes;
  // The intra counter runs modulo 1024.
  w[5] = oldIntra > w[3] ? w[3] + 1024 - oldIntra : w[3] - oldIntra;
  w[6] = uint32_t(quantiser);
  w[7] = frames;
  w[8] = dropped;
  return S_OK;
}

STDMETHODIMP CImpIKRStats::GetAudioCaptureStat(void* record) {
  if (!record) return KRM_E_BAD_PARAMETER;
  if (!engine_) return E_FAIL;
  if (engine_->GraphState() != 3) return KRM_E_MUST_BE_PLAYING;
  auto* stat = static_cast<KRAudioCaptureStat*>(record);
  *stat = {};
  IBaseFilter* encoder = engine_->AudioEncoder();
  if (!encoder) return S_OK;
  IAudEncStats* stats = nullptr;
  HRESULT hr = encoder->QueryInterface(IID_IAudEncStats, reinterpret_cast<void**>(&stats));
  if (FAILED(hr)) return hr;
  int empty = 0, kilobytes = 0, bytes = 0, samples = 0;
  stats->GetEmptyInputs(&empty);
  stats->GetInputBytes(&kilobytes, &bytes);
  stats->GetInputSamples(&samples);
  stats->Release();
  stat->inputBytes[0] = uint32_t(kilobytes);
  stat->inputBytes[1] = uint32_t(bytes);
  stat->inputSamples = uint32_t(samples);
  stat->emptyInputs = uint32_t(empty);
  return S_OK;
}

STDMETHODIMP CImpIKRStats::GetAudioEncoderStat(void* record) {
  if (!record) return KRM_E_BAD_PARAMETER;
  if (!engine_) return E_FAIL;
  if (engine_->GraphState() != 3) return KRM_E_MUST_BE_PLAYING;
  IBaseFilter* encoder = engine_->AudioEncoder();
  if (!encoder) return S_OK;
  IKRMediaConfig* config = engine_->MediaConfig();
  if (!config) return E_FAIL;
  KRAudioEncoderConfig audio;
  config->GetConfigAudioEncoder(&audio);
  config->Release();
  IAudEncStats* stats = nullptr;
  HRESULT hr = encoder->QueryInterface(IID_IAudEncStats, reinterpret_cast<void**>(&stats));
  if (FAILED(hr)) return hr;
  KRAudioEncoderStat out = *static_cast<KRAudioEncoderStat*>(record);
  out.enabled = 0;
  for (int i = 0; i < kAudioStreamEntries; ++i) {
    const KRAudioStreamEntry& entry = audio.stream[i];
    KRAudioEncoderStat::Entry& e = out.entry[i];
    if (entry.enabled != 1) {
      e.codec = -1;
      continue;
    }
    ++out.enabled;
    e.codec = entry.codec;
    if (entry.codec < 0 || entry.codec > 2) continue;
    int kilobytes = 0, bytes = 0, samples = 0, ms = 0;
    if (entry.codec == 0) {
      stats->GetAMRBytes(0, &kilobytes, &bytes);
      stats->GetAMRSamples(0, &samples);
    } else if (entry.codec == 1) {
      stats->GetEVRCBytes(0, &kilobytes, &bytes);
      stats->GetEVRCSamples(0, &samples);
    } else {
      stats->GetAACBytes(0, &kilobytes, &bytes);
      stats->GetAACSamples(0, &samples);
    }
    if (kilobytes || bytes) e.bytes = uint32_t(kilobytes) * 1024u + uint32_t(bytes);
    if (samples) e.samples = uint32_t(samples);
    stats->GetStreamTime(short(entry.codec), 0, &ms);
    e.streamTime = uint32_t(ms);
  }
  stats->Release();
  *static_cast<KRAudioEncoderStat*>(record) = out;
  return hr;
}

STDMETHODIMP CImpIKRStats::GetCurrentMediaTime(double* seconds) {
  return engine_ ? engine_->GetCurrentMediaTime(seconds) : E_FAIL;
}

STDMETHODIMP CImpIGrantConnection::GrantConnection(LONG clientId, LONG grant) {
  if (!engine_) return E_FAIL;
  IBaseFilter* streamer = engine_->Streamer();
  if (!streamer) {
    COKRMedia::TraceText("GrantConnection", "Interface not found");
    return KRM_E_INTERFACE_NOT_FOUND;
  }
  IKRStreamerControl* control = nullptr;
  HRESULT hr = streamer->QueryInterface(IID_IKRStreamerControl, reinterpret_cast<void**>(&control));
  if (FAILED(hr)) return hr;
  control->Grant(ULONG(clientId), grant == 1 ? 1 : 0);
  control->Release();
  return hr;
}

}  // namespace mediaengine
