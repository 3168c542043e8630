// The file source handing out every sample of a one-hour recording (AAC in
// groups of up to ten, MPEG-4 video one unit at a time), next to ffmpeg
// reading the same file with `-c copy -f null -` in the same run. Both report
// samples per second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "elementary_streams.h"
#include "file_source.h"
#include "source_test_support.h"

using namespace source_test;

namespace {

// One hour of ffmpeg-made MPEG-4 video (QCIF, 15 pictures per second) and
// AAC (16 kHz), recorded through our writer as the recorder does.
struct Hour {
  std::filesystem::path path;
  uint64_t samples = 0;
};

const Hour& Recording() {
  static const Hour hour = [] {
    Hour h;
    const auto dir = ScratchDir();
    const std::string v = (dir / "hour.m4v").string(), a = (dir / "hour.adts").string();
    const std::string ffmpeg = "ffmpeg -nostdin -v error -y -f lavfi ";
    if (std::system((ffmpeg + "-i testsrc=size=176x144:rate=15 -t 3600 -c:v mpeg4 -bf 0 -g 15 -q:v 20 -f m4v '" + v +
                     "'").c_str()) != 0 ||
        std::system((ffmpeg + "-i sine=frequency=440:sample_rate=16000 -t 3600 -c:a aac -b:a 24k -f adts '" + a + "'")
                        .c_str()) != 0)
      return h;
    fileformat::tools::Recording in;
    in.video = v;
    in.aac = a;
    in.fps = 15;
    h.path = dir / "hour.mp4";
    const auto r = fileformat::tools::recordMp4(h.path.string(), in);
    h.samples = r.ok ? r.samples : 0;
    return h;
  }();
  return hour;
}

void FileSourceEverySample(benchmark::State& state) {
  const Hour& hour = Recording();
  if (hour.samples == 0) state.SkipWithError("no recording (is ffmpeg installed?)");
  const auto& path = hour.path;
  uint64_t samples = 0;
  for (auto _ : state) {
    RecordingHost host;
    FileSource source(nullptr, &host);
    if (source.Open(path.u16string().c_str(), nullptr) != 0) state.SkipWithError("open failed");
    int32_t count = 0;
    TrackEntry* tracks = source.GetTrackList(&count);
    for (int32_t i = 0; i < count; ++i) source.SelectTrack(tracks[i].trackId);
    source.SetAudioTrack(static_cast<uint32_t>(source.audioTrackId));
    source.SetPlayRange(0, kPlayToEnd);
    std::vector<uint8_t> audio(11 + 10 * source.GetMaxAudioFrameSize()), video(source.GetMaxVideoFrameSize(0));
    uint32_t ts = 0, length = 0, got = 0;
    while (source.GetAudioFrame(audio.data(), uint32_t(audio.size()), 0, &ts, &length) == kFrameDelivered)
      got += audio[0];
    while (source.GetVideoFrame(video.data(), uint32_t(video.size()), 0, &ts, &length) == kFrameDelivered) ++got;
    if (got != hour.samples) state.SkipWithError("a sample was not delivered");
    samples += got;
  }
  state.counters["samples/s"] = benchmark::Counter(double(samples), benchmark::Counter::kIsRate);
}
BENCHMARK(FileSourceEverySample)->Unit(benchmark::kMillisecond)->UseRealTime();

// ffmpeg reads the same file, as a separate process, timed from outside.
void FfmpegCopyEverySample(benchmark::State& state) {
  const Hour& hour = Recording();
  const std::string command =
      "ffmpeg -nostdin -v quiet -i '" + hour.path.string() + "' -map 0:v -map 0:a -c copy -f null - >/dev/null 2>&1";
  uint64_t samples = 0;
  for (auto _ : state) {
    if (hour.samples == 0 || std::system(command.c_str()) != 0) state.SkipWithError("ffmpeg failed or is not installed");
    samples += hour.samples;
  }
  state.counters["samples/s"] = benchmark::Counter(double(samples), benchmark::Counter::kIsRate);
}
BENCHMARK(FfmpegCopyEverySample)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
