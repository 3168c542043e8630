// Frames per second of one encoder instance (one frame = 20 ms of speech).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "amrenc/amrenc.h"

namespace {

std::vector<int16_t> signal(int frames) {
    std::vector<int16_t> x(frames * AMR_FRAME_SAMPLES);
    double phase = 0;
    for (size_t i = 0; i < x.size(); i++) {
        phase += (120 + 40 * std::sin(i / 4000.0)) / 8000.0;
        double v = 0;
        for (int h = 1; h <= 12; h++) v += std::sin(2 * 3.14159265 * h * phase) / h;
        x[i] = (int16_t)(v * 6000 + ((i * 7919) % 601) - 300);
    }
    return x;
}

void BM_EncodeFrame(benchmark::State& state) {
    const int mode = (int)state.range(0);
    const auto x = signal(250);
    AmrEncState* st = nullptr;
    amr_enc_init(&st, 0, "bench");
    uint8_t out[AMR_OUT_BYTES];
    int16_t buf[AMR_FRAME_SAMPLES];
    size_t f = 0;
    for (auto _ : state) {
        for (int i = 0; i < AMR_FRAME_SAMPLES; i++) buf[i] = x[f * AMR_FRAME_SAMPLES + i];
        int used;
        amr_enc_frame(st, mode, buf, out, &used);
        benchmark::DoNotOptimize(out);
        f = (f + 1) % 250;
    }
    // Real-time factor: seconds of speech coded per second.
    state.counters["frames/s"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
    state.counters["x_realtime"] = benchmark::Counter(state.iterations() * 0.02, benchmark::Counter::kIsRate);
    amr_enc_exit(&st);
}

BENCHMARK(BM_EncodeFrame)->Arg(AMR_MR475)->Arg(AMR_MR122)->Arg(AMR_MR74)->Arg(AMR_MR102);

}  // namespace
