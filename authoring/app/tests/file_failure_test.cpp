// File failure texts for causes provoked for real under Wine: a missing
// file, a missing folder, a folder, a file another handle holds, each
// through the application framework's file class, as the command line's
// test-open meets them.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "appframe/file.h"
#include "scrivel/command_line.h"
#include "scrivel/text.h"

namespace scrivel {
namespace {

const std::map<unsigned, std::u16string> kStrings = {
    {184, u"Invalid file"},
    {172, u"Invalid Profile"},
    {178, u"%s Please select another profile."},
    {203, u"Invalid Session"},
    {205, u"%s Please select another session."},
    {403, u"%s could not be located."},
    {404, u"All or part of the path %s is invalid.  Please specify a new path."},
    {406, u"%s could not be accessed."},
    {412, u"A shared region of file %s was locked."},
};

std::u16string Load(unsigned id) {
  auto it = kStrings.find(id);
  return it == kStrings.end() ? std::u16string() : it->second;
}

std::u16string U(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

class FileFailures : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    folder_ = std::wstring(temp) + L"scrivel_file_failures_" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
  }
  void TearDown() override {
    DeleteFileW((folder_ + L"\\held.krs").c_str());
    RemoveDirectoryW((folder_ + L"\\sub.krs").c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  // The cause of a test-open for reading with writing denied to others.
  static int OpenCause(const std::wstring& path) {
    appf::File file;
    appf::FileError error;
    if (file.Open(path, appf::File::kRead | appf::File::kShareDenyWrite, &error)) return 0;
    return static_cast<int>(error.cause);
  }
  std::wstring folder_;
};

TEST_F(FileFailures, TextsOfRealFailures) {
  const std::wstring missing = folder_ + L"\\missing.krs";
  const std::wstring noFolder = folder_ + L"\\no such folder\\job.krs";
  const std::wstring directory = folder_ + L"\\sub.krs";
  ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
  const std::wstring held = folder_ + L"\\held.krs";
  HANDLE holder = CreateFileW(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);

  struct Case {
    const char* what;
    std::wstring path;
    int cause;
    std::u16string text;  // with "%s" for the path
  } const cases[] = {
      {"missing file", missing, kFileNotFound, u"%s could not be located."},
      {"missing folder", noFolder, kBadPath, u"All or part of the path %s is invalid.  Please specify a new path."},
      {"a folder", directory, kAccessDenied, u"%s could not be accessed."},
      {"held without sharing", held, kSharingViolation, u"A shared region of file %s was locked."},
  };
  for (const Case& c : cases) {
    const int cause = OpenCause(c.path);
    EXPECT_EQ(cause, c.cause) << c.what;
    const std::u16string expected = FillText(c.text, {U(c.path)});
    EXPECT_EQ(FileErrorText(cause, U(c.path), Load), expected) << c.what;

    // The command line shows it inside its "select another" text.
    const CommandLineRequest request = ReadCommandLine(u"\"" + U(c.path) + u"\" -start");
    ASSERT_EQ(request.kind, CommandLineFile::kSession) << c.what;
    const CommandLineMessage message = CommandLineFailure(request, cause, Load);
    EXPECT_EQ(message.text, expected + u" Please select another session.") << c.what;
    EXPECT_EQ(message.captionId, kInvalidSessionId) << c.what;
  }
  CloseHandle(holder);
  EXPECT_EQ(OpenCause(held), 0);  // readable once released

  const CommandLineMessage profile = CommandLineFailure(ReadCommandLine(U(missing.substr(0, missing.size() - 4)) + u".krp"),
                                                        kFileNotFound, Load);
  EXPECT_EQ(profile.captionId, kInvalidProfileId);
  EXPECT_NE(profile.text.find(u"could not be located. Please select another profile."), std::u16string::npos);
  const CommandLineMessage refused = CommandLineFailure(ReadCommandLine(u"news.Krs"), 0, Load);
  EXPECT_EQ(std::tuple(refused.text, refused.captionId), std::tuple(u"Invalid file", kInvalidFileId));
}

}  // namespace
}  // namespace scrivel
