// Feeds arbitrary bytes to the RTSP reader in chunks chosen by the input,
// and to the Range and Transport value parsers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "streaming/rtsp_message.h"

using namespace streaming;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint32_t chunk = 1 + data[0] % 64;
  ++data;
  --size;

  {
    std::vector<char> copy(data, data + size);
    copy.push_back(0);
    RangeValue r;
    ParseRange(copy.data(), uint32_t(size), r);
    char out[64];
    uint32_t n;
    ComposeRange(out, sizeof out, r, n);
    TransportSpec transports[kMaxTransports];
    uint32_t count = 0;
    ParseTransport(copy.data(), uint32_t(size), transports, count);
    RtpInfoEntry entries[kMaxRtpInfoEntries];
    count = 0;
    ParseRtpInfo(copy.data(), uint32_t(size), entries, count);
  }

  RtspReader reader;
  auto msg = std::make_unique<RtspMessage>();
  std::vector<uint8_t> body;
  BodyFragment frag[2];
  size_t pos = 0;
  for (int guard = 0; guard < 100000; ++guard) {
    switch (reader.Step()) {
      case kEventIdle:
        msg->Reset();
        reader.Begin(*msg);
        break;
      case kEventNeedBytes: {
        uint8_t* win;
        uint32_t len;
        if (pos >= size || !reader.GetReceiveWindow(win, len)) return 0;
        uint32_t n = uint32_t(std::min<size_t>({len, chunk, size - pos}));
        std::memcpy(win, data + pos, n);
        pos += n;
        reader.Commit(n);
        break;
      }
      case kEventHeader:
      case kEventHeaderTooLong:
        msg->FindHeader(vocab::kCSeq);
        body.assign(reader.bodyLength(), 0);
        break;
      case kEventBodyPending:
        if (body.size() % 2) {
          reader.SetBodyTarget(nullptr, 0);
        } else {
          frag[0] = {uint32_t(body.size() / 3), body.data()};
          frag[1] = {uint32_t(body.size() - body.size() / 3), body.data() + body.size() / 3};
          reader.SetBodyTarget(frag, 2);
        }
        break;
      case kEventBodyComplete:
        break;
      default:
        return 0;
    }
  }
  return 0;
}
