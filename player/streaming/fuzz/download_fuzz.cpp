// The download client's header and part parsing over hostile answers: the
// input is the server's byte stream (description answer, then media
// answer), delivered in receives whose sizes the first bytes choose, and
// fed to the pure checks as well.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "streaming/http_download.h"

using namespace streaming;
using Client = streaming::HttpDownload;

namespace {

class ScriptLink : public DownloadLink {
 public:
  ScriptLink(const uint8_t* d, size_t n, uint8_t step) : data(d), size(n), step(step) {}
  int32_t Connect(const char*, uint16_t) override { return 0; }
  int32_t Send(const char*, uint32_t length) override { return int32_t(length); }
  int32_t Receive(uint8_t* out, uint32_t capacity) override {
    if (at >= size) return -1;
    size_t n = 1 + (step + at) % 97;
    if (n > capacity) n = capacity;
    if (n > size - at) n = size - at;
    std::memcpy(out, data + at, n);
    at += n;
    return int32_t(n);
  }
  void Close() override {}
  void Cleanup() override {}

 private:
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t step;
};

const std::u16string& Base() {
  static const std::u16string base = [] {
    auto dir = std::filesystem::temp_directory_path() / ("download_fuzz_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return (dir / "krdl").u16string();
  }();
  return base;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const char* text = reinterpret_cast<const char*>(data + 1);
  const uint32_t length = uint32_t(size - 1);
  ClassifyHeader(text, length);
  char delimiter[80];
  if (ParseBoundary(text, length, delimiter, sizeof delimiter)) {
    PartHeader part;
    ParsePartHeader(text, length, delimiter, 1u << 20, part);
  }

  Client client(std::make_unique<ScriptLink>(data + 1, size - 1, data[0]));
  DownloadRequest request{};
  const std::u16string& base = Base();
  std::memcpy(request.basePath, base.c_str(), (base.size() + 1) * sizeof(char16_t));
  const char16_t url[] = u"http://127.0.0.1:9300/clip.mp4";
  std::memcpy(request.url, url, sizeof url);
  request.idleLimit = 1;
  request.storageSize = 1u << 20;  // bounds the data file the answer may announce
  // The description may fail; the media answer is read either way.
  client.FetchDescription(request);
  TrackRequest tracks{};
  tracks.trackCount = 1;
  tracks.trackIds[0] = 1;
  client.DownloadMedia(tracks);
  int32_t remaining = 0;
  client.GetRemainingBytes(&remaining);
  if (remaining < 0) std::abort();
  client.Shutdown();
  return 0;
}
