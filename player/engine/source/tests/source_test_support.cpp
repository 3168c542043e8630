#include "source_test_support.h"

#include <atomic>

#include "fileformat/mp4_file_writer.h"
#include "fileformat/render.h"
#include "platform/os.h"

namespace source_test {

namespace {
const uint32_t kAmrStored[9] = {12, 13, 15, 17, 19, 20, 26, 31, 5};
const uint32_t kEvrcStored[5] = {0, 2, 0, 10, 22};  // blank, eighth, -, half, full
}  // namespace

uint32_t AmrBytes(uint32_t mode) { return mode < 9 ? kAmrStored[mode] : 0; }
uint32_t EvrcBytes(uint32_t rate) { return rate < 5 && kEvrcStored[rate] ? kEvrcStored[rate] : 22; }

std::vector<uint8_t> Payload(uint32_t trackIndex, uint32_t sample, uint32_t size) {
  std::vector<uint8_t> out(size);
  for (uint32_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(trackIndex * 71 + sample * 13 + i * 7 + 1);
  return out;
}

std::filesystem::path ScratchDir() {
  static std::atomic<int> counter{0};
  const auto dir = std::filesystem::temp_directory_path() /
                   ("file_source_" + std::to_string(platform::monotonicMs()) + "_" + std::to_string(counter++));
  std::filesystem::create_directories(dir);
  return dir;
}

void WriteClip(const std::filesystem::path& path, const FileSpec& spec) {
  using fileformat::fourcc;
  const bool audio = [&] {
    for (auto& t : spec.tracks)
      if (t.kind != TrackSpec::kVideo) return true;
    return false;
  }();
  const bool video = [&] {
    for (auto& t : spec.tracks)
      if (t.kind == TrackSpec::kVideo) return true;
    return false;
  }();
  const uint32_t kind = audio && video ? 3 : video ? 1 : 2;
  std::u16string base = path.u16string();
  base.resize(base.size() - 4);
  auto w = fileformat::MP4FileWriter::Create(kind, 2, base, u"0", 0, 0);
  w->SetDownload(0);
  w->SetContentVersion(spec.contentMajor, 0);
  w->SetRandomAccess(1);
  if (!spec.versionText.empty()) w->SetContentText1(spec.versionText);
  w->SetContentText2(spec.title);
  w->SetContentText3(u"Author");
  std::vector<uint32_t> ids;
  for (const TrackSpec& t : spec.tracks) {
    uint32_t id = 0;
    if (t.kind == TrackSpec::kVideo) {
      id = w->AddTrack(fourcc("vide"), t.dependsOn ? 2 : 1);
      w->SetVideoParameters(id, 1000.0f / static_cast<float>(t.stepMs), 0, 176, 144);
      const uint8_t config[] = {0, 0, 1, 0xB0, 1, 0, 0, 1, 0xB5, 9};
      w->SetDecoderConfig(config, sizeof(config), id);
      w->SetDecoderBufferSize(id, 16384);
      if (t.dependsOn) w->AddTrackDependency(id, ids[t.dependsOn - 1]);
    } else {
      const uint32_t audioKind = t.kind == TrackSpec::kAmr ? 1 : t.kind == TrackSpec::kEvrc ? 2 : 3;
      id = w->AddTrack(fourcc("soun"), audioKind);
      if (t.kind == TrackSpec::kAac) {
        const uint8_t asc[] = {0x14, 0x08};  // AAC LC, 16000 Hz, mono
        w->SetDecoderConfig(asc, sizeof(asc), id);
      }
    }
    w->SetTrackVersion(id, spec.contentMajor, 0);
    w->SetMediaTimeScale(id, 1000);
    w->SetBitrate(id, t.kind == TrackSpec::kVideo ? 64000 : 12200);
    ids.push_back(id);
  }
  // Interleaved by time, as a recording arrives.
  std::vector<uint32_t> next(spec.tracks.size(), 0);
  for (;;) {
    int pick = -1;
    for (size_t k = 0; k < spec.tracks.size(); ++k) {
      if (next[k] >= spec.tracks[k].samples) continue;
      if (pick < 0 || next[k] * spec.tracks[k].stepMs < next[pick] * spec.tracks[pick].stepMs) pick = int(k);
    }
    if (pick < 0) break;
    const TrackSpec& t = spec.tracks[pick];
    const uint32_t i = next[pick]++;
    uint32_t size = 40 + i % 17, flag = 0;
    switch (t.kind) {
      case TrackSpec::kAmr: size = AmrBytes(t.flag); flag = t.flag; break;
      case TrackSpec::kEvrc: size = EvrcBytes(t.flag); flag = t.flag; break;
      case TrackSpec::kAac: size = 60 + i % 23; break;
      case TrackSpec::kVideo: size = 300 + i % 50; flag = i % 5 == 0 ? 0 : 0x04; break;
    }
    const auto data = Payload(static_cast<uint32_t>(pick), i, size);
    w->AddSample(ids[pick], data.data(), size, i * t.stepMs, flag);
  }
  w->WriteToFile(path.u16string());
}

void RecordingHost::ReportError(uint32_t id, const char16_t* argument) {
  std::lock_guard<std::mutex> g(lock);
  errors.push_back({id, argument ? std::u16string(argument) : std::u16string()});
}

void RecordingHost::SetStatusText(uint32_t id) {
  std::lock_guard<std::mutex> g(lock);
  statusTexts.push_back(id);
}

void RecordingHost::Log(const char16_t* line) {
  std::lock_guard<std::mutex> g(lock);
  log.push_back(platform::utf16ToUtf8(line));
}

void RecordingHost::LoadText(uint32_t id, char16_t* buffer, uint32_t units) {
  const std::u16string text = id == 60110 ? u"Untitled" : u"";
  const size_t n = text.size() < units - 1 ? text.size() : units - 1;
  text.copy(buffer, n);
  buffer[n] = 0;
}

}  // namespace source_test
