// The output writers' speed on ffmpeg-made AAC frames (the stereo test
// fixture, its ADTS headers taken off, repeated): frames per second through
// ADTS, LATM/LOAS and the bit buffer's byte drain. bench/writers_peer.sh
// times ffmpeg's stream copy of the same frames into the same formats.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "mp4aenc/mp4aenc.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> Frames() {
  std::ifstream f(SUITE_BENCH_DATA "/tone_stereo.aac", std::ios::binary);
  const Bytes b{std::istreambuf_iterator<char>(f), {}};
  std::vector<Bytes> frames;
  for (size_t at = 0; at + 7 <= b.size();) {
    const size_t n = size_t(((b[at + 3] & 3) << 11) | (b[at + 4] << 3) | (b[at + 5] >> 5));
    if (n < 7 || at + n > b.size()) break;
    frames.emplace_back(b.begin() + long(at + 7), b.begin() + long(at + n));
    at += n;
  }
  return frames;
}

void Push(BitBuffer* buffer, const Bytes& frame) {
  for (uint8_t v : frame) bitbuf_write_bits(buffer, v, 8);
  bitbuf_push_count(buffer, long(frame.size()) * 8);
}

void Wrap(benchmark::State& state, int format) {
  const std::vector<Bytes> frames = Frames();
  Mp4AudioHeader header;
  mp4_audio_header_fill(&header, 2, 44100, 2, 1024);
  AacChannelMap map;
  aac_channel_map_build(&map, 2, 0);
  LayerInfo info[kMp4Layers] = {};
  info[0] = {44100, 96000, 1024, 2229, 0, 2, &header};
  Mp4BitstreamSetup setup = {};
  setup.layers = info;
  setup.map = &map;
  Mp4BitstreamWriter* w = nullptr;
  mp4aenc_bitstream_open(&w, &setup, format);
  BitBuffer* buffer = bitbuf_create(8 * 8192 * 4);
  uint8_t out[16384];
  size_t i = 0, bytes = 0;
  for (auto _ : state) {
    const Bytes& f = frames[i++ % frames.size()];
    Push(buffer, f);
    BitBuffer* layers[kMp4Layers] = {buffer};
    uint32_t n = 0;
    if (format == 0) {
      bitbuf_copy_bytes(buffer, &n, out);
    } else {
      mp4aenc_bitstream_write(w, layers, nullptr, out, sizeof out, &n);
    }
    bytes += n;
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.SetBytesProcessed(int64_t(bytes));
  mp4aenc_bitstream_close(w);
  bitbuf_free(buffer);
}

void BM_Drain(benchmark::State& s) { Wrap(s, 0); }
void BM_Adts(benchmark::State& s) { Wrap(s, 2); }
void BM_Loas(benchmark::State& s) { Wrap(s, 4); }
BENCHMARK(BM_Drain);
BENCHMARK(BM_Adts);
BENCHMARK(BM_Loas);

}  // namespace
