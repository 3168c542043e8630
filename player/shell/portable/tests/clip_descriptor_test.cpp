// The descriptor parser over files written by tests/make_descriptors.py
// (an independent writer of the layout): each case's result, URL kind and
// stored URL, every cut of a good file, and the fields of one file.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "shell/portable/clip_descriptor.h"

namespace {

struct Case {
  std::string name;
  uint32_t result = 0, kind = 0;
  std::string url;
};

std::vector<Case> Cases() {
  std::ifstream in(std::string(DESCRIPTOR_CASES) + "/cases.txt");
  std::vector<Case> out;
  Case c;
  while (in >> c.name >> c.result >> c.kind >> c.url) out.push_back(c);
  return out;
}

std::vector<uint8_t> FileBytes(const std::string& name) {
  std::ifstream in(std::string(DESCRIPTOR_CASES) + "/" + name + ".kcd", std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool Ascii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

// As the reader does from a file: the length field, then that many bytes.
uint32_t ParseImage(const std::vector<uint8_t>& image, shell::ClipDescriptor* d) {
  if (image.size() < 2) return shell::kDescriptorBad;
  const size_t length = image[0] | image[1] << 8;
  if (length == 0 || length > image.size() - 2) return shell::kDescriptorBad;
  return shell::ParseClipDescriptor(image.data() + 2, length, 0x300, d);
}

TEST(ClipDescriptor, PythonWrittenFilesGiveTheirResults) {
  const std::vector<Case> cases = Cases();
  ASSERT_GE(cases.size(), 30u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    shell::ClipDescriptor d;
    EXPECT_EQ(ParseImage(FileBytes(c.name), &d), c.result);
    if (c.result != 0) continue;
    EXPECT_EQ(d.urlKind, c.kind);
    if (Ascii(c.url)) {
      EXPECT_EQ(d.url, c.url);
    }
  }
}

TEST(ClipDescriptor, FieldsOfAGoodFile) {
  shell::ClipDescriptor d;
  ASSERT_EQ(ParseImage(FileBytes("trailer"), &d), 0u);
  EXPECT_EQ(d.version, 0x0300);
  EXPECT_EQ(d.headerWord, 0x1234);
  EXPECT_EQ(d.title, "Clip title");
  EXPECT_EQ(d.secondText, "Second text");
  EXPECT_EQ(d.clipFlag, 1);
  EXPECT_EQ(std::string(d.text36), std::string(36, 'A'));
  EXPECT_EQ(std::string(d.text20), std::string(20, 'B'));
  EXPECT_EQ(std::string(d.text16), std::string(16, 'C'));
  EXPECT_EQ(std::string(d.name), "entry-name" + std::string(30, '.'));
  EXPECT_EQ(d.url, "rtsp://h/x");
  EXPECT_EQ(d.flagWord, 0b110);
  EXPECT_EQ(d.trailer, "http://127.0.0.1/next");
  ASSERT_EQ(ParseImage(FileBytes("http_live"), &d), 0u);
  EXPECT_EQ(d.value1, 0u);
  EXPECT_EQ(d.value2, 0xFFFFFFFFu);
  EXPECT_EQ(d.entryFlags, 3u);
  ASSERT_EQ(ParseImage(FileBytes("latin1_url"), &d), 0u);
  EXPECT_EQ(d.url, "C:\\d\xe9j\xe0.mp4");
}

// Every field must lie within the body: any shorter body fails.
TEST(ClipDescriptor, EveryCutOfAGoodFileIsRefused) {
  for (const char* name : {"file_upper", "trailer", "http_live"}) {
    const std::vector<uint8_t> image = FileBytes(name);
    ASSERT_GT(image.size(), 100u);
    shell::ClipDescriptor d;
    ASSERT_EQ(shell::ParseClipDescriptor(image.data() + 2, image.size() - 2, 0x300, &d), 0u) << name;
    for (size_t n = 0; n + 2 < image.size(); ++n) {
      // A copy of exactly n bytes, so that a read past it is caught.
      const std::vector<uint8_t> cut(image.begin() + 2, image.begin() + 2 + static_cast<std::ptrdiff_t>(n));
      EXPECT_EQ(shell::ParseClipDescriptor(cut.data(), cut.size(), 0x300, &d), shell::kDescriptorBad)
          << name << " cut to " << n;
    }
  }
}

TEST(ClipDescriptor, UrlKindsIgnoreCase) {
  EXPECT_EQ(shell::UrlKindOf("Rtsp://a"), shell::kUrlRtsp);
  EXPECT_EQ(shell::UrlKindOf("hTTp://a"), shell::kUrlHttp);
  EXPECT_EQ(shell::UrlKindOf("File://a"), shell::kUrlFile);
  EXPECT_EQ(shell::UrlKindOf("file:/a"), shell::kUrlOther);
  EXPECT_EQ(shell::UrlKindOf(""), shell::kUrlOther);
}

}  // namespace
