// What the end-to-end tests of playing a clip share: host commands started
// from inside Wine, and every picture of an elementary stream as our decoder
// and the 24-bit converter make it (what a screenshot of the video area must
// equal).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

using Bytes = std::vector<uint8_t>;

std::string ReadText(const std::string& path);

// A shell command of the host, started from Wine (which runs Unix programs
// too, but does not tell when they end): the script writes its exit code to
// a file, which is how the test learns it has finished. Its files go to
// folder.
class HostCommand {
 public:
  HostCommand(const std::string& command, const std::string& folder);
  ~HostCommand();
  HostCommand(const HostCommand&) = delete;
  HostCommand& operator=(const HostCommand&) = delete;
  bool Finished() const;
  // The exit code, or -1 when it has not ended in time.
  int Wait(unsigned limitMs = 60000) const;
  bool started = false;

 private:
  std::string script, done;
};

struct Picture {
  uint32_t timeMs;
  Bytes bgr;  // 24-bit rows as the renderer's converter writes them
};

// Every picture of the elementary stream, with the time the writer gives
// its sample at fps pictures a second.
std::vector<Picture> ExpectedPictures(const std::string& m4v, double fps);

}  // namespace e2e
