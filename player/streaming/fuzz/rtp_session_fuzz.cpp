// Datagrams cut from the input go to ReceiveRtp on a video and an audio
// track; frames are read out between them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "streaming/rtp_session.h"

using namespace streaming;

namespace {
uint32_t g_now = 0;
uint32_t fakeClock() { return g_now; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SocketLayer sockets;
  sockets.AddEntry(1);
  RtpSession rtp(&sockets);
  rtp.SetClock(fakeClock);
  rtp.AddRecord(1, 64 * 1024, 1000, 5000);
  rtp.SetTrackKind(1, 0, kPayloadMpeg4, 96, 2000);
  rtp.SetClockRate(1, 0, 90000);
  rtp.SetSlots(1, 0, 64, 0, false);
  rtp.SetSlotArray(1, 0);
  rtp.SetTrackKind(1, 1, size % 2 ? kPayloadAmr : kPayloadH263, size % 2 ? 97 : 96, 2000);
  rtp.SetClockRate(1, 1, 8000);
  rtp.SetSlots(1, 1, 16, 0, false);
  rtp.SetSlotArray(1, 1);
  rtp.SetPlaying(1, 0, 5000, true);
  std::vector<uint8_t> frame(1500);
  size_t pos = 0;
  while (pos + 3 <= size) {
    const uint8_t control = data[pos];
    const size_t n = std::min<size_t>(size_t(data[pos + 1]) << 4 | data[pos + 2] >> 4, size - pos - 3);
    g_now += control & 0x3F;
    rtp.ReceiveRtp(1, control >> 7, data + pos + 3, uint32_t(n));
    pos += 3 + n;
    if (control & 0x40) {
      for (uint32_t t = 0; t < 2; ++t) {
        uint32_t len = uint32_t(frame.size()), time, word;
        rtp.PeekFrame(1, t, time, word);
        rtp.GetBufferedDuration(1, t);
        rtp.GetLossPercent(1, t);
        rtp.GetFrame(1, t, frame.data(), len, time);
      }
    }
  }
  return 0;
}
