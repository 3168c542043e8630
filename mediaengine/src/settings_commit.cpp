// Committing the settings records to the filters.
#include "streamer/streamer.h"  // first: it wants winsock2 before windows.h

#include <oleauto.h>

#include "audioencfilter/iaudenc.h"
#include <cstring>
#include <vector>

#include "mediaengine/commit.h"
#include "mediaengine/errors.h"
#include "mediaengine/imgfile.h"
#include "mediaengine/media.h"
#include "release.h"
#include "videoencoder/interfaces.h"

namespace mediaengine {

void COKRMedia::SetAudioEncoder(IBaseFilter* encoder) {
  if (encoder) encoder->AddRef();
  if (audioEncoder_) audioEncoder_->Release();
  audioEncoder_ = encoder;
}

IKRMediaConfig* COKRMedia::MediaConfig() {
  IKRMediaConfig* config = nullptr;
  if (!config_ || FAILED(config_->QueryInterface(IID_IKRMediaConfig, reinterpret_cast<void**>(&config))))
    return nullptr;
  return config;
}

HRESULT COKRMedia::CommitAudioEncoderSettings() {
  IKRMediaConfig* config = MediaConfig();
  if (!config) {
    TraceError("CommitAudioEncoderSettings", KRM_E_INTERFACE_NOT_FOUND);
    return KRM_E_INTERFACE_NOT_FOUND;
  }
  KRAudioEncoderConfig audio;
  config->GetConfigAudioEncoder(&audio);
  if (!audioEncoder_) {
    config->Release();
    TraceText("CommitAudioEncoderSettings", "Cannot create audio encoder");
    return KRM_E_CREATE_AUDIO_ENCODER;
  }
  IAudEncCfg* encoder = nullptr;
  HRESULT hr = audioEncoder_->QueryInterface(IID_IAudEncCfg, reinterpret_cast<void**>(&encoder));
  if (FAILED(hr)) {
    config->Release();
    TraceError("CommitAudioEncoderSettings", hr);
    return hr;
  }
  encoder->Reset();
  hr = S_OK;
  for (const AudioStreamCommit& commit : AudioCommitOrder(audio)) {
    KRAudioStreamEntry& entry = audio.stream[commit.entry];
    const short id = short(commit.streamId);
    if (commit.codec == 0) {
      hr = encoder->SetAMR(0, entry.enabled, id, entry.samplingRate, entry.bitRate);
    } else if (commit.codec == 1) {
      hr = encoder->SetEVRC(0, entry.enabled, id, entry.samplingRate, entry.bitRate);
    } else if (commit.codec == 2) {
      int rate = entry.samplingRate, bitRate = entry.bitRate;
      short channels = short(entry.channels);
      hr = encoder->SetAAC(0, entry.enabled, id, &rate, &bitRate, &channels);
      if (SUCCEEDED(hr)) {
        // The filter's own rate, bit rate and channels go back to the record.
        entry.samplingRate = rate;
        entry.bitRate = bitRate;
        entry.channels = uint16_t(channels);
        config->ConfigAudioEncoder(&audio);
      }
    } else {
      continue;
    }
    if (FAILED(hr)) {
      if (hr == AUDENC_E_AAC_BUSY)
        TraceText("CommitAudioEncoderSettings", "Only one instance of the AAC encoder allowed");
      else
        TraceError("CommitAudioEncoderSettings", hr);
      break;
    }
  }
  encoder->Release();
  config->Release();
  return hr;
}

HRESULT COKRMedia::CommitOutputSettings() {
  IKRMediaConfig* config = MediaConfig();
  if (!config) return KRM_E_INTERFACE_NOT_FOUND;
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

HRESULT COKRMedia::CommitVideoEncoderSettings() {
  IKRMediaConfig* config = MediaConfig();
  if (!config) return E_FAIL;
  KRVideoEncoderConfig video;
  KROutputConfig output;
  config->GetConfigVideoEncoder(&video);
  config->GetConfigOutput(&output);
  long width = video.width, height = video.height;
  IVidEncCfg* encoder = nullptr;
  HRESULT hr = videoEncoder_ ? videoEncoder_->QueryInterface(IID_IVidEncCfg, reinterpret_cast<void**>(&encoder))
                             : KRM_E_CREATE_VIDEO_ENCODER;
  if (FAILED(hr)) {
    TraceError("CommitVideoEncoderSettings", hr);
    config->Release();
    return hr;
  }
  encoder->SetFrameSize(&width, &height);
  encoder->GetFrameSize(&width, &height);
  if (previewType_ == 2) {
    KRDestinationWindow destination = {};
    if (SUCCEEDED(config->GetDestinationWindow(&destination))) {
      RECT rect = {0, 0, LONG(width), LONG(height)};
      config->SetDestinationWindow(destination.window, &rect, destination.a, destination.b);
    }
  }
  if (output.downloadOnly) {
    encoder->SetRateMode(3);
    encoder->SetPacketMode(2);
  }
  long layers = video.layers;
  encoder->SetLayerCount(&layers);
  if (width != video.width || height != video.height) {
    // Only the size changes: the user's flags and I-frame interval stay.
    video.width = int32_t(width);
    video.height = int32_t(height);
    config->ConfigVideoEncoder(&video);
    config->GetConfigVideoEncoder(&video);
  }
  config->Release();
  encoder->SetFrameSize(&width, &height);
  float sourceRate = video.sourceFrameRate;
  encoder->SetSourceFrameRate(&sourceRate);
  const long inUse = layers >= 2 ? 2 : 1;
  for (long layer = 0; layer < inUse; ++layer) {
    float rate = video.frameRate[layer];
    encoder->SetLayerFrameRate(layer, &rate);
  }
  for (long layer = 0; layer < inUse; ++layer) {
    long bitRate = video.bitRate[layer];
    encoder->SetLayerBitRate(layer, &bitRate);
  }
  long interval = video.fixedIFrameInterval ? video.iFrameInterval : -1;
  hr = encoder->SetIFrameInterval(&interval);
  encoder->SetFullSearch(long(int16_t(video.fullSearch)));
  encoder->Release();
  // The file source's stream time divides by the rate the encoder kept.
  sourceFrameRate_ = sourceRate;
  return hr;
}

HRESULT COKRMedia::LeaveOutAudioStreams() {
  if (!streamer_) return KRM_E_CREATE_STREAMER;
  IKRStreamerControl* streamer = nullptr;
  HRESULT hr = streamer_->QueryInterface(IID_IKRStreamerControl, reinterpret_cast<void**>(&streamer));
  if (FAILED(hr)) return hr;
  // The video entries lead the table.
  LONG video = 0;
  while (video < streamTableHeader_.count) {
    uint32_t kind;
    std::memcpy(&kind, streamTable_ + video * kStreamEntryBytes, sizeof kind);
    if (kind != 1 && kind != 2) break;
    ++video;
  }
  streamTableHeader_.count = video;
  streamer->SetParam(23, 2, 0);
  streamer->SetParam(48, reinterpret_cast<LONG_PTR>(&streamTableHeader_), sizeof streamTableHeader_);
  streamer->Release();
  return S_OK;
}

HRESULT COKRMedia::CommitEncodingParamToOutput() {
  IKRMediaConfig* config = MediaConfig();
  if (!config) return E_FAIL;
  KRVideoEncoderConfig video;
  KROutputConfig output;
  config->GetConfigVideoEncoder(&video);
  config->GetConfigOutput(&output);
  config->Release();

  const bool withVideo = output.streamType == 2 || output.streamType == 3;
  KRDecoderConfigRecord record = {};
  std::vector<BYTE> buffers[2];
  long bufferSize = 0;
  if (withVideo) {
    IVidEncCfg* encoder = nullptr;
    HRESULT hr = videoEncoder_ ? videoEncoder_->QueryInterface(IID_IVidEncCfg, reinterpret_cast<void**>(&encoder))
                               : KRM_E_CREATE_VIDEO_ENCODER;
    if (FAILED(hr)) {
      TraceError("CommitEncodingParamToOutput", hr);
      return hr;
    }
    record.layerCount = ULONG(video.layers >= 2 ? 2 : 1);
    for (ULONG layer = 0; layer < record.layerCount; ++layer) {
      buffers[layer].assign(50, 0);
      long size = 50;
      hr = encoder->GetDecoderConfig(long(layer), buffers[layer].data(), &size);
      if (FAILED(hr)) {
        TraceError("CommitEncodingParamToOutput", hr);
        encoder->Release();
        return hr;
      }
      // Never more than the buffer holds, whatever the encoder says.
      record.size[layer] = ULONG(size < 0 ? 0 : size > 50 ? 50 : size);
      record.data[layer] = buffers[layer].data();
      encoder->GetDecodeBufferSize(&bufferSize);
    }
    encoder->Release();
  }
  if (!streamer_) {
    TraceText("CommitEncodingParamToOutput", "KRStreamer filter not instantiated");
    return KRM_E_CREATE_STREAMER;
  }
  IKRStreamerControl* streamer = nullptr;
  HRESULT hr = streamer_->QueryInterface(IID_IKRStreamerControl, reinterpret_cast<void**>(&streamer));
  if (FAILED(hr)) {
    TraceError("CommitEncodingParamToOutput", hr);
    return hr;
  }
  if (withVideo) {
    streamer->SetParam(40, reinterpret_cast<LONG_PTR>(&record), 0);
    if (bufferSize > 0) streamer->SetParam(41, bufferSize, 0);
  }
  // Also closes the batch the output commit opened.
  streamer->ApplyBatch();
  streamer->Release();
  return S_OK;
}

void COKRMedia::KeepStillPicture(const BYTE* yuv, int width, int height) {
  const size_t row = RowSize24(width);
  std::vector<BYTE> rows(size_t(width) * 3 * size_t(height));
  const size_t ySize = size_t(width) * size_t(height);
  Yuv420ToRgb24(yuv, yuv + ySize, yuv + ySize + ySize / 4, rows.data(), width, height);
  // A DIB: padded rows, bottom-up.
  stillPixels_.assign(row * size_t(height), 0);
  for (int y = 0; y < height; ++y)
    std::memcpy(stillPixels_.data() + row * size_t(height - 1 - y), rows.data() + size_t(y) * width * 3,
                size_t(width) * 3);
  stillHeader_ = {};
  stillHeader_.biSize = sizeof stillHeader_;
  stillHeader_.biWidth = width;
  stillHeader_.biHeight = height;
  stillHeader_.biPlanes = 1;
  stillHeader_.biBitCount = 24;
  stillHeader_.biCompression = BI_RGB;
  stillHeader_.biSizeImage = DWORD(stillPixels_.size());
}

HRESULT COKRMedia::ConfigStillImage() {
  KROutputConfig output;
  KRVideoEncoderConfig video;
  IKRMediaConfig* config = MediaConfig();
  if (!config) {
    TraceError("ConfigStillImage", KRM_E_INTERFACE_NOT_FOUND);
    return KRM_E_INTERFACE_NOT_FOUND;
  }
  config->GetConfigOutput(&output);
  config->GetConfigVideoEncoder(&video);
  config->Release();

  CImgFile image;
  BITMAPINFOHEADER header;
  const BYTE* pixels = nullptr;
  const int length = BoundedTextLength(output.stillImageFileName);
  std::wstring name(reinterpret_cast<const wchar_t*>(output.stillImageFileName),
                    size_t(length > kRecordTextMax ? 0 : length));
  HRESULT hr = image.Load(name.c_str(), &header, &pixels);
  if (FAILED(hr)) {
    TraceError("ConfigStillImage", hr);
    return hr;
  }
  if (!videoEncoder_) {
    TraceText("ConfigStillImage", "Video encoder filter not instantiated");
    return KRM_E_FUNCTION_FAILED;
  }
  IVidEncCfg* encoder = nullptr;
  hr = videoEncoder_->QueryInterface(IID_IVidEncCfg, reinterpret_cast<void**>(&encoder));
  if (FAILED(hr)) {
    TraceText("ConfigStillImage", "Interface IID_IVidEncCfg not found in Encoder filter V3!");
    return hr;
  }
  long major = 0, minor = 0;
  encoder->ResetEncoder(&major, &minor);
  long layers = 1;
  encoder->SetLayerCount(&layers);
  long width = header.biWidth, height = header.biHeight;
  encoder->SetFrameSize(&width, &height);
  float one = 1.0f;
  encoder->SetSourceFrameRate(&one);
  one = 1.0f;
  encoder->SetLayerFrameRate(0, &one);
  long bitRate = video.bitRate[0];
  encoder->SetLayerBitRate(0, &bitRate);
  long interval = 1;
  encoder->SetIFrameInterval(&interval);
  encoder->Release();

  // The working picture at the size the encoder codes (it may round the
  // image's): cut or filled with black, never read past the image.
  const int w = int(width), h = int(height);
  const int imageHeight = int(header.biHeight);
  const size_t imageRow = RowSize24(int(header.biWidth));
  std::vector<BYTE> working(size_t(w) * 3 * size_t(h), 0);
  for (int y = 0; y < h && y < imageHeight; ++y)
    std::memcpy(working.data() + size_t(y) * w * 3, pixels + imageRow * size_t(y),
                size_t(w < header.biWidth ? w : header.biWidth) * 3);
  image.Free();

  IVidEncTool* tool = nullptr;
  hr = videoEncoder_->QueryInterface(IID_IVidEncTool, reinterpret_cast<void**>(&tool));
  if (FAILED(hr)) {
    TraceText("ConfigStillImage", "Interface IID_IVidEncTool not found in Encoder filter V3!");
    return hr;
  }
  BYTE* frame = nullptr;
  BYTE* recon = nullptr;
  long frameLength = 0;
  BYTE decoderConfig[50] = {};
  long configSize = sizeof decoderConfig;
  hr = tool->EncodeStill(VIDENC_STILL_BGR24, working.data(), &frame, &frameLength, &recon, decoderConfig,
                         &configSize);
  // The encoder's copies live until its next call: take them now.
  std::vector<BYTE> coded;
  if (SUCCEEDED(hr) && frame && frameLength > 0) coded.assign(frame, frame + frameLength);
  if (SUCCEEDED(hr) && recon) KeepStillPicture(recon, w, h);
  tool->Release();
  if (configSize < 0 || configSize > long(sizeof decoderConfig)) configSize = 0;

  HRESULT result = S_OK;
  if (!streamer_) {
    TraceText("ConfigStillImage", "KRStreamer filter not instantiated");
  } else if (coded.empty()) {
    TraceText("ConfigStillImage", "No I-Frame generated");
    result = KRM_E_FUNCTION_FAILED;
  } else {
    IKRStreamerControl* streamer = nullptr;
    if (FAILED(streamer_->QueryInterface(IID_IKRStreamerControl, reinterpret_cast<void**>(&streamer)))) {
      TraceText("ConfigStillImage", "IID_IKRStreamerControl interface not found in KRStreamer filter");
      result = KRM_E_INTERFACE_NOT_FOUND;
    } else {
      streamer->SetParam(34, reinterpret_cast<LONG_PTR>(coded.data()), ULONG(coded.size()));
      streamer->SetParam(35, reinterpret_cast<LONG_PTR>(decoderConfig), ULONG(configSize));
      streamer->ApplyBatch();
      streamer->Release();
    }
  }
  RemoveVideoEncoder();
  return result;
}

}  // namespace mediaengine
