#include "scrivel/command_line.h"

#include "scrivel/text.h"

namespace scrivel {

SplitLine SplitCommandLine(std::u16string_view text) {
  constexpr size_t kNone = std::u16string_view::npos;
  size_t opening = kNone, closing = kNone, split = kNone;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'"') {
      if (opening == kNone) {
        opening = i;
      } else {
        closing = i;
      }
    } else if (text[i] == u' ' && (opening == kNone || closing != kNone)) {
      split = i;
    }
  }
  const bool quoted = opening != kNone && closing != kNone;
  SplitLine out;
  if (split != kNone && split > 0) {
    out.fileName = quoted ? text.substr(1, closing - 1) : text.substr(0, split);
    out.switchText = text.substr(split + 1);
  } else {
    out.fileName = quoted ? text.substr(1, closing - 1) : text;
  }
  return out;
}

CommandLineRequest ReadCommandLine(std::u16string_view text) {
  CommandLineRequest request;
  if (text.empty()) return request;
  SplitLine line = SplitCommandLine(text);
  request.fileName = line.fileName;
  request.kind = CommandLineFile::kInvalid;
  // A name shorter than its extension is simply invalid.
  if (line.fileName.size() < 4) return request;
  const std::u16string_view ext = std::u16string_view(line.fileName).substr(line.fileName.size() - 4);
  if (ext == u".krs" || ext == u".KRS") {
    request.kind = CommandLineFile::kSession;
    if (EqualsNoCase(line.switchText, u"-start")) {
      request.start = true;
    } else if (EqualsNoCase(line.switchText, u"-startquit")) {
      request.start = true;
      request.quitAfterRun = true;
    }
  } else if (ext == u".krp" || ext == u".KRP") {
    request.kind = CommandLineFile::kProfile;
  }
  return request;
}

namespace {

struct FailureRow {
  int cause;
  unsigned id;
};

constexpr FailureRow kFailureTexts[] = {
    {kFileNotFound, 403},  {kBadPath, 404},          {kTooManyOpenFiles, 405}, {kAccessDenied, 406},
    {kInvalidFile, 407},   {kDirectoryFull, 408},    {kBadSeek, 409},          {kHardIO, 414},
    {kSharingViolation, 412}, {kLockViolation, 411}, {kDiskFull, 410},         {kEndOfFile, 413},
};

}  // namespace

unsigned FileErrorTextId(int cause) {
  for (const FailureRow& row : kFailureTexts) {
    if (row.cause == cause) return row.id;
  }
  return 0;
}

std::u16string FileErrorText(int cause, std::u16string_view fileName, const ctlvane::StringLoader& load) {
  const unsigned id = FileErrorTextId(cause);
  if (id == 0) return std::u16string();
  // Texts without "%s" take no name; FillText leaves them as they are.
  return FillText(load(id), {fileName});
}

CommandLineMessage CommandLineFailure(const CommandLineRequest& request, int cause,
                                      const ctlvane::StringLoader& load) {
  switch (request.kind) {
    case CommandLineFile::kSession:
      return {FillText(load(kSelectSessionId), {FileErrorText(cause, request.fileName, load)}), kInvalidSessionId};
    case CommandLineFile::kProfile:
      return {FillText(load(kSelectProfileId), {FileErrorText(cause, request.fileName, load)}), kInvalidProfileId};
    case CommandLineFile::kInvalid:
      return {load(kInvalidFileId), kInvalidFileId};
    case CommandLineFile::kNone:
      break;
  }
  return {};
}

}  // namespace scrivel
