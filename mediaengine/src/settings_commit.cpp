// Committing the settings records to the filters.
#include "streamer/streamer.h"  // first: it wants winsock2 before windows.h

#include <oleauto.h>

#include "audioencfilter/iaudenc.h"
#include "mediaengine/commit.h"
#include "mediaengine/errors.h"
#include "mediaengine/media.h"

namespace mediaengine {

void COKRMedia::SetAudioEncoder(IBaseFilter* encoder) {
  if (encoder) encoder->AddRef();
  if (audioEncoder_) audioEncoder_->Release();
  audioEncoder_ = encoder;
}

HRESULT COKRMedia::CommitOutputSettings() {
  IKRMediaConfig* config = nullptr;
  if (!config_ || FAILED(config_->QueryInterface(IID_IKRMediaConfig, reinterpret_cast<void**>(&config))))
    return KRM_E_INTERFACE_NOT_FOUND;
  KROutputConfig output;
  KRVideoEncoderConfig video;
  KRAudioEncoderConfig audio;
  config->GetConfigOutput(&output);
  config->GetConfigVideoEncoder(&video);
  config->GetConfigAudioEncoder(&audio);
  config->Release();

  // An unknown content version fails before the streamer is touched.
  std::u16string versionText;
  if (!ContentVersionText(output.contentVersion, version_[2], &versionText)) {
    TraceError("CommitOutputSettings", KRM_E_CONTENT_VERSION);
    return KRM_E_CONTENT_VERSION;
  }
  if (!streamer_) {
    TraceText("CommitOutputSettings", "KRStreamer filter not instantiated");
    return KRM_E_CREATE_STREAMER;
  }
  IKRStreamerControl* streamer = nullptr;
  HRESULT hr = streamer_->QueryInterface(IID_IKRStreamerControl, reinterpret_cast<void**>(&streamer));
  if (FAILED(hr)) {
    TraceError("CommitOutputSettings", hr);
    return hr;
  }

  auto number = [&](ULONG id, LONG_PTR value) { streamer->SetParam(id, value, 0); };
  auto text = [&](ULONG id, const char16_t* chars) {
    streamer->SetParam(id, reinterpret_cast<LONG_PTR>(chars), ULONG(BoundedTextLength(chars) * 2));
  };
  streamer->OpenBatch();
  number(5, LONG_PTR(output.furtherValue1));
  number(6, LONG_PTR(output.furtherValue1));
  number(37, LONG_PTR(output.clientIdleTime) * 1000);
  number(38, output.clientInterval);
  number(39, output.clientReportCount);
  number(49, 1);
  number(7, output.rtspPort);
  number(8, LONG_PTR(output.rtpPort));
  number(9, LONG_PTR(output.rtcpPort));
  text(10, output.outputFileName);
  text(36, output.outputText);
  BSTR version = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(versionText.c_str()), UINT(versionText.size()));
  streamer->SetParam(12, reinterpret_cast<LONG_PTR>(version), ULONG(versionText.size() * 2));
  SysFreeString(version);
  text(13, output.title);
  text(14, output.description);
  text(15, output.author);
  text(16, output.copyright);
  text(17, output.rating);
  number(18, output.width);
  number(19, output.height);
  number(31, StreamerOutputType(output.mediaOutputType, output.fileOutput));
  number(23, output.streamType);
  number(24, LONG_PTR(output.enhancementLayers));
  float rates[2] = {output.layerFrameRate[0], output.layerFrameRate[1]};
  streamer->SetParam(27, reinterpret_cast<LONG_PTR>(&rates[0]), sizeof(float));
  streamer->SetParam(28, reinterpret_cast<LONG_PTR>(&rates[1]), sizeof(float));
  number(42, static_cast<int16_t>(output.downloadOnly));
  number(43, output.randomPositioning == 0 ? 1 : 0);
  number(44, VersionWord(version_[0], version_[1]));
  number(45, output.streamType == 2 || output.clientNoAudio ? 1 : 0);
  number(46, 0);
  number(47, video.fixedIFrameInterval ? video.iFrameInterval : -1);

  IAudEncCfg* encoder = nullptr;
  if (audioEncoder_ && FAILED(audioEncoder_->QueryInterface(IID_IAudEncCfg, reinterpret_cast<void**>(&encoder))))
    encoder = nullptr;
  AacConfigSource aac = [encoder](uint8_t* configBytes, uint32_t* length) {
    int n = 64;
    if (!encoder || FAILED(encoder->GetAACConfig(0, configBytes, &n)) || n < 0) return false;
    *length = uint32_t(n);
    return true;
  };
  streamTableHeader_.first = streamTable_;
  streamTableHeader_.count =
      BuildStreamTable(output, audio, VersionWord(version_[0], version_[1]), aac, streamTable_);
  if (encoder) encoder->Release();
  streamer->SetParam(48, reinterpret_cast<LONG_PTR>(&streamTableHeader_), sizeof streamTableHeader_);
  number(49, 2);
  // For the other stream types a later commit adds to the batch and applies it.
  if (output.streamType == 1) streamer->ApplyBatch();
  streamer->Release();
  return S_OK;
}

}  // namespace mediaengine
