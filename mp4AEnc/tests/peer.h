// Runs an independent peer program (python, ffmpeg, faad) and collects its
// standard output. Peers run on the Linux host only: under Wine the tests
// that need them are skipped.
#pragma once

#include <string>

// False where no host program can be started (the Windows builds).
bool PeerAvailable();
// Runs a shell command; its standard output, and its exit status in *status.
std::string RunPeer(const std::string& command, int* status = nullptr);
// A writable scratch path for this test run (in the working folder).
std::string ScratchPath(const std::string& name);
