#include "test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace fileformat::test {

Bytes render(const AtomRenderable& a) {
  std::ostringstream out;
  a.render(out);
  std::string s = out.str();
  return Bytes(s.begin(), s.end());
}

Bytes hexBytes(const std::string& hex) {
  Bytes b;
  std::string digits;
  for (char c : hex) {
    if (c != ' ') digits.push_back(c);
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    b.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return b;
}

std::string hexOf(const Bytes& b) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < b.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02x" : "%02x", b[i]);
    s += buf;
  }
  return s;
}

uint32_t be32(const Bytes& b, size_t at) {
  return (uint32_t(b.at(at)) << 24) | (uint32_t(b.at(at + 1)) << 16) |
         (uint32_t(b.at(at + 2)) << 8) | b.at(at + 3);
}

void expectSizesCurrent(const Atom& root) {
  Bytes bytes = render(root);
  ASSERT_EQ(root.size(), bytes.size()) << "atom " << std::hex << root.type();
  ASSERT_GE(bytes.size(), 8u);
  EXPECT_EQ(be32(bytes, 0), root.size());
  for (size_t i = 0; i < root.childCount(); ++i) expectSizesCurrent(*root.child(i));
}

std::string scratchPath(const std::string& name) {
  std::filesystem::path dir = std::filesystem::current_path() / "fileformat_scratch";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool peersAvailable() {
#ifdef _WIN32
  return false;
#else
  return std::system("ffprobe -version >/dev/null 2>&1") == 0;
#endif
}

int runCommand(const std::string& cmd, std::string* output) {
#ifdef _WIN32
  (void)cmd;
  (void)output;
  return -1;
#else
  std::FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
    if (output) output->append(buf, n);
  }
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace fileformat::test
