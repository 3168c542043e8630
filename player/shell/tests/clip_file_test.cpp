// The clip descriptor reader under Wine over the python writer's files:
// results from a path and from memory, deletion only after a good read from
// a path, the retries while a writer holds the file, and what the entry
// operations give the player session.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/media_types.h"
#include "shell/clip_file.h"
#include "shell/shell_services.h"
#include "shell_test_support.h"

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

std::string CaseBytes(const std::string& name) {
  std::ifstream in(std::string(DESCRIPTOR_CASES) + "/" + name + ".kcd", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::wstring WriteTemp(const std::string& name, const std::string& bytes) {
  const std::wstring path = TempPath(Widen(name + ".kcd").c_str());
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return path;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

const char16_t* U(const std::wstring& s) { return reinterpret_cast<const char16_t*>(s.c_str()); }

bool Ascii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

TEST(ClipFile, PythonWrittenFilesFromAPathAndFromMemory) {
  const std::vector<Case> cases = Cases();
  ASSERT_GE(cases.size(), 30u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = CaseBytes(c.name);
    const std::wstring path = WriteTemp(c.name, bytes);
    DescriptorClipFile file;
    EXPECT_EQ(file.Read(U(path)), c.result);
    // Used up only when it was read whole.
    EXPECT_EQ(Exists(path), c.result != 0);
    if (c.result == 0) {
      EXPECT_EQ(file.GetEntryKind(-1), c.kind);
      EXPECT_EQ(file.IsValid(), c.kind != 0);
      EXPECT_EQ(file.GetEntryCount(), 1);
      // The URL comes through the system code page.
      if (Ascii(c.url) || GetACP() == 1252) {
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(file.GetEntryUrl(-1))), Widen(c.url));
      }
    }
    file.Release();
    DeleteFileW(path.c_str());

    // The same image from memory: its length field is not read.
    DescriptorClipFile memory;
    const uint32_t fromMemory =
        memory.Read(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
    if (c.name == "length_zero" || c.name == "length_past_end")
      EXPECT_EQ(fromMemory, 0u);
    else
      EXPECT_EQ(fromMemory, c.result);
  }
}

TEST(ClipFile, AMemoryReadDeletesNothingAndAnImageUnderTwoBytesIsRefused) {
  const std::string bytes = CaseBytes("file_upper");
  const std::wstring path = WriteTemp("memory", bytes);
  const std::string image = ReadFileBytes(path);
  DescriptorClipFile file;
  EXPECT_EQ(file.Read(reinterpret_cast<const uint8_t*>(image.data()), static_cast<uint32_t>(image.size())), 0u);
  EXPECT_TRUE(Exists(path));
  const uint8_t one = 5;
  EXPECT_EQ(file.Read(&one, 1), 18u);
  EXPECT_EQ(file.Read(&one, 0), 18u);
  EXPECT_EQ(file.Read(static_cast<const uint8_t*>(nullptr), 10), 18u);
  DeleteFileW(path.c_str());
}

// A writer holding the file (no sharing) for a while, then closing it.
class Holder {
 public:
  Holder(const std::wstring& path, DWORD ms) {
    handle_ = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    thread_ = std::thread([this, ms] {
      Sleep(ms);
      CloseHandle(handle_);
    });
  }
  ~Holder() { thread_.join(); }
  bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
  std::thread thread_;
};

TEST(ClipFile, AFileItsWriterStillHoldsIsReadOnceReleased) {
  const std::wstring path = WriteTemp("held", CaseBytes("file_upper"));
  DescriptorClipFile file;
  {
    Holder holder(path, 200);
    ASSERT_TRUE(holder.Held());
    const DWORD start = GetTickCount();
    EXPECT_EQ(file.Read(U(path)), 0u);
    EXPECT_GE(GetTickCount() - start, 150u);
  }
  EXPECT_FALSE(Exists(path));
}

TEST(ClipFile, AFileHeldPastTheTriesOrMissingGives17) {
  const std::wstring path = WriteTemp("held_long", CaseBytes("file_upper"));
  DescriptorClipFile file;
  {
    Holder holder(path, 1500);
    ASSERT_TRUE(holder.Held());
    const DWORD start = GetTickCount();
    EXPECT_EQ(file.Read(U(path)), 17u);
    // 20 tries 25 ms apart.
    EXPECT_GE(GetTickCount() - start, 450u);
    EXPECT_LT(GetTickCount() - start, 1500u);
  }
  EXPECT_TRUE(Exists(path));
  DeleteFileW(path.c_str());
  EXPECT_EQ(file.Read(U(TempPath(L"no_such.kcd"))), 17u);
}

TEST(ClipFile, EntryOperationsGiveTheSessionTheFileFields) {
  ShellServices services;
  std::unique_ptr<ClipFile> base(services.NewClipFile());
  auto* file = dynamic_cast<DescriptorClipFile*>(base.get());
  ASSERT_NE(file, nullptr);
  const std::string trailer = CaseBytes("trailer");
  ASSERT_EQ(file->Read(reinterpret_cast<const uint8_t*>(trailer.data()), static_cast<uint32_t>(trailer.size())), 0u);
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(file->GetTrailerText())), L"http://127.0.0.1/next");
  EXPECT_EQ(file->GetHeaderFlagBit0(), 0u);
  EXPECT_EQ(file->GetHeaderFlagBit2(), 1u);
  EXPECT_EQ(file->IsHeaderByteOne(), 1u);
  ClipAccessInfo record{};
  ASSERT_TRUE(file->GetEntryRecord(-1, &record));
  EXPECT_EQ(record.flag, 1);
  EXPECT_STREQ(record.user, "Clip title");
  EXPECT_STREQ(record.authentication, std::string(36, 'A').c_str());
  EXPECT_STREQ(record.expiration, std::string(20, 'B').c_str());
  EXPECT_STREQ(record.application, "Second text");
  EXPECT_STREQ(record.extra, std::string(16, 'C').c_str());
  EXPECT_STREQ(record.signature, ("entry-name" + std::string(30, '.')).c_str());
  file->Release();
  EXPECT_EQ(file->GetTrailerText(), nullptr);
  EXPECT_EQ(file->GetEntryCount(), 0);

  // Bits of the entry flags (0b111111 with the live values).
  const std::string modes = CaseBytes("bit1_modes");
  ASSERT_EQ(file->Read(reinterpret_cast<const uint8_t*>(modes.data()), static_cast<uint32_t>(modes.size())), 0u);
  uint32_t v1 = 9, v2 = 9;
  file->GetEntryValues(-1, &v1, &v2);
  EXPECT_EQ(v1, 0u);
  EXPECT_EQ(v2, 0xFFFFFFFFu);
  EXPECT_EQ(file->GetEntryFlagBit1(-1), 1u);
  EXPECT_EQ(file->IsEntryFlagBit0Clear(-1), 0u);
  EXPECT_EQ(file->GetEntryFlagBit2(-1), 1u);
  EXPECT_EQ(file->GetEntryMode(-1), 3u);
  EXPECT_EQ(file->GetEntryFlagBit5(-1), 1u);
  // Without bit 1 of the flag word the trailing text is not offered.
  const std::string plain = CaseBytes("bit0_alone");
  ASSERT_EQ(file->Read(reinterpret_cast<const uint8_t*>(plain.data()), static_cast<uint32_t>(plain.size())), 0u);
  EXPECT_EQ(file->GetTrailerText(), nullptr);
  EXPECT_EQ(file->GetEntryMode(-1), 0u);
  EXPECT_EQ(file->IsEntryFlagBit0Clear(-1), 0u);
}

}  // namespace
