// Helpers shared by the writer's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fileformat/atom.h"

namespace fileformat::test {

using Bytes = std::vector<uint8_t>;

Bytes render(const AtomRenderable& a);
Bytes hexBytes(const std::string& hex);  // "00 01 ff" -> bytes; spaces ignored
std::string hexOf(const Bytes& b);
uint32_t be32(const Bytes& b, size_t at);

// Every atom of the tree: its stored size equals the bytes it renders.
void expectSizesCurrent(const Atom& root);

// A scratch folder for this test program's files.
std::string scratchPath(const std::string& name);
void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);

// Peers (ffprobe, ffmpeg, python3) run only in the native build.
bool peersAvailable();
// Runs a shell command; returns its exit code, stdout+stderr into output.
int runCommand(const std::string& cmd, std::string* output);

}  // namespace fileformat::test
