// Packets per second of the packetizers and the "$" framing.
#include <benchmark/benchmark.h>

#include <vector>

#include "flumera/connection_framing.h"
#include "flumera/rtp_packetizer.h"

using namespace flumera;

namespace {

void Drain(RtpPacketizer& p, PacketAllocator& alloc, int64_t& packets) {
  FramedPacket framed;
  AccessUnitList* head = p.TakePackets();
  for (AccessUnitList* l = head; l; l = l->Next()) {
    framed.Frame(l, 0);
    benchmark::DoNotOptimize(framed.Remaining());
    ++packets;
  }
  alloc.FreeChain(head);
}

void Video(benchmark::State& state) {
  PacketAllocator alloc;
  VideoRtpPacketizer v(alloc, 96, 1);
  std::vector<uint8_t> frame(size_t(state.range(0)), 0x55);
  const uint8_t header = 0x31;
  int64_t packets = 0;
  uint32_t t = 0;
  for (auto _ : state) {
    AccessUnitList unit(AccessUnitList::kMaxFragments);
    unit.Append(&header, 1);
    unit.Append(frame.data(), uint32_t(frame.size()));
    v.Packetize(unit, t += 40);
    v.Flush();
    Drain(v, alloc, packets);
  }
  state.counters["packets/s"] = benchmark::Counter(double(packets), benchmark::Counter::kIsRate);
}
BENCHMARK(Video)->Arg(1500)->Arg(100000);

void Amr(benchmark::State& state) {
  PacketAllocator alloc;
  AudioRtpPacketizer a(alloc, 98, 1);
  std::vector<uint8_t> frame(31, 0x3C);
  const uint8_t header = 7;
  int64_t packets = 0;
  uint32_t t = 0;
  for (auto _ : state) {
    AccessUnitList unit(AccessUnitList::kMaxFragments);
    unit.Append(&header, 1);
    for (int i = 0; i < 10; ++i) unit.Append(frame.data(), 31);
    a.Packetize(unit, t += 200);
    a.Flush();
    Drain(a, alloc, packets);
  }
  state.counters["packets/s"] = benchmark::Counter(double(packets), benchmark::Counter::kIsRate);
}
BENCHMARK(Amr);

}  // namespace
