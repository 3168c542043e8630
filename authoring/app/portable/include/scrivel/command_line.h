// The application's command line (one session or profile file and one
// switch) and the texts of file-open failures.
#pragma once

#include <string>
#include <string_view>

#include "ctlvane/rules.h"

namespace scrivel {

struct SplitLine {
  std::u16string fileName;
  std::u16string switchText;
};

// The last blank outside quotes splits the name from the switch; a quoted
// name loses its quotes (the opening one taken to be the first character).
SplitLine SplitCommandLine(std::u16string_view text);

enum class CommandLineFile { kNone, kSession, kProfile, kInvalid };

struct CommandLineRequest {
  CommandLineFile kind = CommandLineFile::kNone;
  std::u16string fileName;
  bool start = false;         // "-start" or "-startquit", sessions only
  bool quitAfterRun = false;  // "-startquit"
};

// What the command line asks for: ".krs"/".KRS" a session, ".krp"/".KRP" a
// profile (its switch ignored), anything else invalid ("Invalid file");
// an empty line asks for nothing.
CommandLineRequest ReadCommandLine(std::u16string_view text);

// String-table ids of the command line's messages.
constexpr unsigned kInvalidFileId = 184;       // "Invalid file"
constexpr unsigned kInvalidProfileId = 172;    // "Invalid Profile"
constexpr unsigned kSelectProfileId = 178;     // "%s Please select another profile."
constexpr unsigned kInvalidSessionId = 203;    // "Invalid Session"
constexpr unsigned kSelectSessionId = 205;     // "%s Please select another session."
constexpr unsigned kStartSwitchId = 398;       // "-start"
constexpr unsigned kStartQuitSwitchId = 437;   // "-startquit"

// Failure causes of the framework's file classes.
enum FileFailure : int {
  kFileNotFound = 2,
  kBadPath = 3,
  kTooManyOpenFiles = 4,
  kAccessDenied = 5,
  kInvalidFile = 6,
  kDirectoryFull = 8,
  kBadSeek = 9,
  kHardIO = 10,
  kSharingViolation = 11,
  kLockViolation = 12,
  kDiskFull = 13,
  kEndOfFile = 14,
};

// The string id of a cause's text, 0 for a cause without one.
unsigned FileErrorTextId(int cause);
// The message for a failed open of `fileName`; empty for an unknown cause.
std::u16string FileErrorText(int cause, std::u16string_view fileName, const ctlvane::StringLoader& load);

// The message box of a command-line file that is refused or cannot be
// opened: "Invalid file" as text and caption for a refused name; for a
// session or a profile, its "select another" text around the failure's
// text, under "Invalid Session" or "Invalid Profile".
struct CommandLineMessage {
  std::u16string text;
  unsigned captionId = 0;
};
CommandLineMessage CommandLineFailure(const CommandLineRequest& request, int cause,
                                      const ctlvane::StringLoader& load);

}  // namespace scrivel
