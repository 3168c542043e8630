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

namespace fileformat::test {

// A box of a rendered file, found by walking sizes from the top.
struct Box {
  uint32_t type = 0;
  size_t offset = 0;  // of the header
  uint32_t size = 0;
  std::vector<Box> children;
  const Box* find(const char* path) const;  // "moov/trak/mdia"; first match at each level
  std::vector<const Box*> all(const char* type) const;
};
// Walks the known containers; fails the test when a size does not add up.
Box parseBoxes(const Bytes& file);
std::string typeName(uint32_t type);

}  // namespace fileformat::test
