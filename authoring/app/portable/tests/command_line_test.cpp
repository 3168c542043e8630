// The command line: its split, what it asks for, and the texts of file-open
// failures.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "scrivel/command_line.h"

namespace scrivel {
namespace {

std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

TEST(CommandLine, SplitAndRequest) {
  using K = CommandLineFile;
  struct Case {
    std::u16string line;
    std::u16string file, switchText;
    K kind;
    bool start, quit;
  } const cases[] = {
      {uR"("C:\My Clips\news day.krs" -startquit)", uR"(C:\My Clips\news day.krs)", u"-startquit", K::kSession, true, true},
      {uR"(C:\clips\news.krs -start)", uR"(C:\clips\news.krs)", u"-start", K::kSession, true, false},
      {u"news.KRS -START", u"news.KRS", u"-START", K::kSession, true, false},
      {u"news.krs -StartQuit", u"news.krs", u"-StartQuit", K::kSession, true, true},
      {u"news.krs", u"news.krs", u"", K::kSession, false, false},
      {u"news.krs -stop", u"news.krs", u"-stop", K::kSession, false, false},
      // Two blanks: the split falls on the second, the name keeps a blank.
      {u"news.krs  -start", u"news.krs ", u"-start", K::kInvalid, false, false},
      // A third word: the last blank splits.
      {u"news.krs -start now", u"news.krs -start", u"now", K::kInvalid, false, false},
      {u"news.Krs -start", u"news.Krs", u"-start", K::kInvalid, false, false},
      // A profile ignores its switch.
      {u"studio.krp -start", u"studio.krp", u"-start", K::kProfile, false, false},
      {uR"("C:\a b\studio.KRP")", uR"(C:\a b\studio.KRP)", u"", K::kProfile, false, false},
      // Names shorter than an extension.
      {u"a", u"a", u"", K::kInvalid, false, false},
      {u"krs -start", u"krs", u"-start", K::kInvalid, false, false},
      {u"\"\"", u"", u"", K::kInvalid, false, false},
      // An unclosed quote keeps every blank inside the name.
      {u"\"news.krs -start", u"\"news.krs -start", u"", K::kInvalid, false, false},
      {u"", u"", u"", K::kNone, false, false},
  };
  for (const Case& c : cases) {
    const SplitLine split = SplitCommandLine(c.line);
    EXPECT_EQ(split.fileName, c.file) << Narrow(c.line);
    EXPECT_EQ(split.switchText, c.switchText) << Narrow(c.line);
    const CommandLineRequest request = ReadCommandLine(c.line);
    EXPECT_EQ(request.kind, c.kind) << Narrow(c.line);
    EXPECT_EQ(request.fileName, c.file) << Narrow(c.line);
    EXPECT_EQ(request.start, c.start) << Narrow(c.line);
    EXPECT_EQ(request.quitAfterRun, c.quit) << Narrow(c.line);
  }
}

TEST(CommandLine, FileErrorTexts) {
  const std::map<unsigned, std::u16string> strings = {
      {403, u"%s could not be located."},
      {404, u"All or part of the path %s is invalid.  Please specify a new path."},
      {405, u"The permitted number of open files was exceeded. Please save and close some open files."},
      {406, u"%s could not be accessed."},
      {407, u"There was an attempt to use an invalid file handle."},
      {408, u"There are no more directory entries."},
      {409, u"There was an error trying to set the file pointer."},
      {410, u"The disk is full."},
      {411, u"There was an attempt to lock a region that was already locked."},
      {412, u"A shared region of file %s was locked."},
      {413, u"The end of file %s was reached."},
      {414, u"Hardware error."},
  };
  const ctlvane::StringLoader load = [&](unsigned id) {
    auto it = strings.find(id);
    return it == strings.end() ? std::u16string() : it->second;
  };
  const std::u16string name = u"C:\\jobs\\100%s.krs";  // a name is never a format
  const std::pair<int, std::u16string> cases[] = {
      {kFileNotFound, u"C:\\jobs\\100%s.krs could not be located."},
      {kBadPath, u"All or part of the path C:\\jobs\\100%s.krs is invalid.  Please specify a new path."},
      {kTooManyOpenFiles, strings.at(405)},
      {kAccessDenied, u"C:\\jobs\\100%s.krs could not be accessed."},
      {kInvalidFile, strings.at(407)},
      {kDirectoryFull, strings.at(408)},
      {kBadSeek, strings.at(409)},
      {kHardIO, strings.at(414)},
      {kSharingViolation, u"A shared region of file C:\\jobs\\100%s.krs was locked."},
      {kLockViolation, strings.at(411)},
      {kDiskFull, strings.at(410)},
      {kEndOfFile, u"The end of file C:\\jobs\\100%s.krs was reached."},
      {0, u""},
      {1, u""},
      {7, u""},
      {15, u""},
  };
  for (const auto& [cause, text] : cases) EXPECT_EQ(FileErrorText(cause, name, load), text) << cause;
}

}  // namespace
}  // namespace scrivel
