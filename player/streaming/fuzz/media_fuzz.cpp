// Arbitrary packets to the depacketisers (a run of packets cut from the
// input, time stamps and markers from its bytes) and to the RTCP parsers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "streaming/rtcp.h"
#include "streaming/rtp_payload.h"

using namespace streaming;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t count;
  int32_t kinds[31];
  RtcpPacketRef packets[31];
  if (SplitRtcpCompound(data, uint32_t(size), 31, count, kinds, packets) == kRtcpParsed) {
    for (uint32_t i = 0; i < count; ++i) {
      RtcpSenderReport sr;
      RtcpBye bye;
      ParseSenderReport(2, packets[i], sr);
      ParseBye(2, packets[i], bye);
    }
  }

  Mpeg4AssemblyState mpeg4;
  H263AssemblyState h263;
  mpeg4.capacity = h263.capacity = 300;
  std::vector<uint8_t> frame(300);
  size_t pos = 0;
  while (pos + 2 <= size) {
    const uint8_t head = data[pos];
    const size_t n = std::min<size_t>(data[pos + 1], size - pos - 2);
    std::vector<uint8_t> packet(data + pos + 2, data + pos + 2 + n);
    pos += 2 + n;
    for (int kind = 0; kind < 4; ++kind) {
      std::vector<uint8_t> copy = packet;  // the H.263 assembler rewrites its header
      for (int guard = 0; guard < 1000; ++guard) {
        FrameContext ctx;
        ctx.payload = copy.data();
        ctx.payloadLength = uint32_t(copy.size());
        ctx.marker = head & 1;
        ctx.timestamp = head >> 1;
        ctx.buffer = frame.data();
        uint8_t flags = kind == 0 ? AssembleMpeg4VideoPayload(mpeg4, ctx)
                        : kind == 1 ? ParseAmrToc(ctx)
                        : kind == 2 ? AssembleH263Payload(h263, ctx)
                                    : ParseEvrcToc(ctx);
        if (kind == 1 || kind == 3) {
          uint8_t out[300];
          if (!(flags & kPacketError)) WriteTocFrame(ctx, out, sizeof out);
        } else if (flags & kFrameDone) {
          volatile uint8_t sink = 0;
          for (uint32_t i = 0; i < ctx.outputLength; ++i) sink = sink ^ ctx.output[i];
        }
        if (!(flags & kKeepPacket)) break;
      }
    }
  }
  return 0;
}
