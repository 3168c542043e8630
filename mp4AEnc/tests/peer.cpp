#include "peer.h"

#include <cstdio>

#ifdef _WIN32
bool PeerAvailable() { return false; }
std::string RunPeer(const std::string&, int* status) {
  if (status) *status = -1;
  return {};
}
#else
#include <sys/wait.h>

bool PeerAvailable() { return true; }

std::string RunPeer(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    if (status) *status = -1;
    return out;
  }
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
  const int rc = pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}
#endif

std::string ScratchPath(const std::string& name) { return "mp4aenc_scratch_" + name; }
