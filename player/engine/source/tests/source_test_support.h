// Small MP4 files made through our writer, and a host that records what the
// file source reports. Shared by the file source tests and benchmark.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "source_host.h"

namespace source_test {

struct TrackSpec {
  enum Kind { kAmr, kEvrc, kAac, kVideo } kind;
  uint32_t samples = 0;
  uint32_t stepMs = 20;        // time between samples
  uint32_t flag = 7;           // AMR mode or EVRC rate; video: every 5th a sync sample
  uint32_t dependsOn = 0;      // video: index + 1 of the base layer among the specs
};

struct FileSpec {
  FileSpec(std::vector<TrackSpec> t) : tracks(std::move(t)) {}
  std::vector<TrackSpec> tracks;
  uint8_t contentMajor = 3;
  std::u16string versionText;  // empty: no content version check
  std::u16string title = u"Clip title";
};

// Writes the file; the payload of sample i of track k is Payload(k, i, size).
void WriteClip(const std::filesystem::path& path, const FileSpec& spec);
std::vector<uint8_t> Payload(uint32_t trackIndex, uint32_t sample, uint32_t size);
// Stored sizes of an AMR frame type and of an EVRC rate byte.
uint32_t AmrBytes(uint32_t mode);
uint32_t EvrcBytes(uint32_t rate);

// A scratch folder of its own for this process.
std::filesystem::path ScratchDir();

class RecordingHost : public SourceHost {
 public:
  uint32_t GetEngineState() override { return state; }
  void ReportError(uint32_t id, const char16_t* argument) override;
  void SetStatusText(uint32_t id) override;
  void SetPosition(uint32_t ms) override { position = ms; }
  uint32_t GetPosition() override { return position; }
  void OpenResult(uint32_t code) override { openResults.push_back(code); }
  void Log(const char16_t* line) override;
  void LoadText(uint32_t id, char16_t* buffer, uint32_t units) override;
  uint32_t GetSettingsVersion() override { return 0x300; }

  std::mutex lock;
  volatile uint32_t state = 1;
  volatile uint32_t position = 0;
  std::vector<std::pair<uint32_t, std::u16string>> errors;
  std::vector<uint32_t> statusTexts;
  std::vector<uint32_t> openResults;
  std::vector<std::string> log;
};

}  // namespace source_test
