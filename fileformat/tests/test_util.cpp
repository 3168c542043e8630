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

namespace fileformat::test {

namespace {
// Bytes of fields before the children of a container.
int childrenAt(uint32_t type) {
  static const std::pair<const char*, int> kContainers[] = {
      {"moov", 8}, {"trak", 8}, {"mdia", 8}, {"minf", 8}, {"stbl", 8}, {"udta", 8},
      {"dinf", 8}, {"edts", 8}, {"tref", 8}, {"krti", 8}, {"krsi", 32}, {"stsd", 16},
      {"dref", 16}, {"mp4v", 86}, {"mp4a", 36}, {"mp4s", 16}};
  for (auto [t, at] : kContainers) {
    if (type == ((uint32_t(uint8_t(t[0])) << 24) | (uint32_t(uint8_t(t[1])) << 16) |
                 (uint32_t(uint8_t(t[2])) << 8) | uint8_t(t[3])))
      return at;
  }
  return -1;
}

void walk(const Bytes& b, size_t from, size_t to, std::vector<Box>* out) {
  size_t i = from;
  while (i < to) {
    ASSERT_LE(i + 8, to) << "box header past its container at " << i;
    Box box;
    box.offset = i;
    box.size = be32(b, i);
    box.type = be32(b, i + 4);
    ASSERT_GE(box.size, 8u) << typeName(box.type) << " at " << i;
    ASSERT_LE(i + box.size, to) << typeName(box.type) << " at " << i << " overruns its container";
    int at = childrenAt(box.type);
    if (at >= 0 && size_t(at) <= box.size) walk(b, i + at, i + box.size, &box.children);
    out->push_back(std::move(box));
    i += out->back().size;
  }
}
}  // namespace

std::string typeName(uint32_t type) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>(type >> shift));
  return s;
}

const Box* Box::find(const char* path) const {
  const Box* at = this;
  std::string p(path);
  size_t start = 0;
  while (at && start <= p.size()) {
    size_t slash = p.find('/', start);
    std::string name = p.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    const Box* next = nullptr;
    for (const Box& c : at->children) {
      if (typeName(c.type) == name) {
        next = &c;
        break;
      }
    }
    at = next;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return at;
}

std::vector<const Box*> Box::all(const char* type) const {
  std::vector<const Box*> r;
  for (const Box& c : children) {
    if (typeName(c.type) == type) r.push_back(&c);
  }
  return r;
}

Box parseBoxes(const Bytes& file) {
  Box root;
  root.size = static_cast<uint32_t>(file.size());
  walk(file, 0, file.size(), &root.children);
  return root;
}

}  // namespace fileformat::test
