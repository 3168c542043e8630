// Files opened with share modes and create-without-truncate; a failure
// carries its cause (file not found, bad path, access denied, sharing
// violation, ...) turned from the system's error by one table.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace appf {

enum class FileCause : int {
  kNone = 0,
  kGeneric = 1,
  kFileNotFound = 2,
  kBadPath = 3,
  kTooManyOpenFiles = 4,
  kAccessDenied = 5,
  kInvalidFile = 6,
  kRemoveCurrentDir = 7,
  kDirectoryFull = 8,
  kBadSeek = 9,
  kHardIO = 10,
  kSharingViolation = 11,
  kLockViolation = 12,
  kDiskFull = 13,
  kEndOfFile = 14,
};

// The cause of a system error code (GetLastError); kGeneric for codes the
// table does not name, kNone for 0.
FileCause CauseOfError(DWORD error);

struct FileError {
  FileCause cause = FileCause::kNone;
  DWORD osError = 0;
  std::wstring file;
};

class File {
 public:
  // Access, sharing and creation, combined with |.
  enum Mode : unsigned {
    kRead = 0x0000,
    kWrite = 0x0001,
    kReadWrite = 0x0002,
    kShareExclusive = 0x0010,
    kShareDenyWrite = 0x0020,
    kShareDenyRead = 0x0030,
    kShareDenyNone = 0x0040,
    kCreate = 0x1000,      // make the file; with kNoTruncate an existing one is kept
    kNoTruncate = 0x2000,
  };

  File() = default;
  explicit File(HANDLE handle) : handle_(handle) {}  // adopts it
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { Close(); }

  bool Open(const std::wstring& path, unsigned mode, FileError* error);
  void Close();
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Handle() const { return handle_; }

  // Each false with the cause in `error`.
  bool Read(void* buffer, DWORD size, DWORD* read, FileError* error);
  // Exactly `size` bytes: a file that ends before is kEndOfFile.
  bool ReadExactly(void* buffer, DWORD size, FileError* error);
  bool Write(const void* buffer, DWORD size, FileError* error);
  bool Seek(int64_t offset, DWORD from, int64_t* position, FileError* error);
  bool Lock(uint64_t offset, uint64_t size, FileError* error);
  bool Unlock(uint64_t offset, uint64_t size, FileError* error);
  bool Length(uint64_t* length, FileError* error);

 private:
  bool Fail(FileError* error, DWORD osError);
  bool Fail(FileError* error);

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::wstring path_;
};

}  // namespace appf
