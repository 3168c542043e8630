// Arbitrary text to the SDP parser and the download's clip information.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "streaming/sdp.h"

using namespace streaming;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto session = std::make_unique<SdpSessionDescription>();
  auto info = std::make_unique<DownloadClipInfo>();
  SdpParser parser;
  ParseSdpIntoClipInfo(parser, reinterpret_cast<const char*>(data), uint32_t(size), *session, *info);
  for (int32_t i = 0; i < session->mediaCount; ++i) {
    const SdpMediaDescription& m = *session->media[i];
    m.GetTextLength();
    if (m.GetConfigBytes()) (void)m.GetConfigBytes()[m.GetConfigLength() - 1];
  }
  return 0;
}
