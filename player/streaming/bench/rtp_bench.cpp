// Packets filed and frames read out per second, and the memory a second of
// buffered video holds.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "streaming/rtp_session.h"

using namespace streaming;

namespace {
std::vector<uint8_t> vopPacket(uint16_t seq, uint32_t ts, uint32_t payload) {
  std::vector<uint8_t> p(12 + payload, 0x11);
  p[0] = 0x80;
  p[1] = 0x80 | 96;
  p[2] = uint8_t(seq >> 8);
  p[3] = uint8_t(seq);
  for (int i = 0; i < 4; ++i) p[4 + i] = uint8_t(ts >> (24 - 8 * i));
  const uint8_t vop[] = {0, 0, 1, 0xB6};
  std::memcpy(p.data() + 12, vop, 4);
  return p;
}

void FileAndReadOut(benchmark::State& state) {
  const uint32_t payload = uint32_t(state.range(0));
  SocketLayer sockets;
  sockets.AddEntry(1);
  RtpSession rtp(&sockets);
  rtp.AddRecord(1, 4 << 20, 1000, 5000);
  rtp.SetTrackKind(1, 0, kPayloadMpeg4, 96, 65536);
  rtp.SetClockRate(1, 0, 90000);
  rtp.SetSlotArray(1, 0);
  std::vector<uint8_t> frame(65536);
  uint16_t seq = 0;
  uint32_t ts = 0;
  for (auto _ : state) {
    for (int k = 0; k < 64; ++k) {
      auto p = vopPacket(seq++, ts += 3000, payload);
      rtp.ReceiveRtp(1, 0, p.data(), uint32_t(p.size()));
    }
    for (int k = 0; k < 64; ++k) {
      uint32_t len = uint32_t(frame.size()), time;
      rtp.GetFrame(1, 0, frame.data(), len, time);
    }
  }
  state.SetItemsProcessed(state.iterations() * 64);
  // What a second of buffered video holds at 30 packets a second: the
  // datagrams in the ring, plus the track's fixed slot table.
  state.counters["ring_bytes_per_s_at_30pps"] = 30.0 * (12 + payload);
  state.counters["slot_table_bytes"] = double(1024 * sizeof(PacketSlot));
}
BENCHMARK(FileAndReadOut)->Arg(200)->Arg(1400);
}  // namespace
