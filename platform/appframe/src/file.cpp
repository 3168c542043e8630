#include "appframe/file.h"

namespace appf {

FileCause CauseOfError(DWORD error) {
  struct Row {
    DWORD error;
    FileCause cause;
  };
  static const Row kTable[] = {
      {ERROR_FILE_NOT_FOUND, FileCause::kFileNotFound},
      {ERROR_PATH_NOT_FOUND, FileCause::kBadPath},
      {ERROR_INVALID_DRIVE, FileCause::kBadPath},
      {ERROR_INVALID_NAME, FileCause::kBadPath},
      {ERROR_BAD_PATHNAME, FileCause::kBadPath},
      {ERROR_BAD_NETPATH, FileCause::kBadPath},
      {ERROR_FILENAME_EXCED_RANGE, FileCause::kBadPath},
      {ERROR_DIRECTORY, FileCause::kBadPath},
      {ERROR_TOO_MANY_OPEN_FILES, FileCause::kTooManyOpenFiles},
      {ERROR_ACCESS_DENIED, FileCause::kAccessDenied},
      {ERROR_NETWORK_ACCESS_DENIED, FileCause::kAccessDenied},
      {ERROR_WRITE_PROTECT, FileCause::kAccessDenied},
      {ERROR_FILE_EXISTS, FileCause::kAccessDenied},
      {ERROR_ALREADY_EXISTS, FileCause::kAccessDenied},
      {ERROR_INVALID_HANDLE, FileCause::kInvalidFile},
      {ERROR_INVALID_ACCESS, FileCause::kInvalidFile},
      {ERROR_CURRENT_DIRECTORY, FileCause::kRemoveCurrentDir},
      {ERROR_CANNOT_MAKE, FileCause::kDirectoryFull},
      {ERROR_NO_MORE_FILES, FileCause::kDirectoryFull},
      {ERROR_SEEK, FileCause::kBadSeek},
      {ERROR_NEGATIVE_SEEK, FileCause::kBadSeek},
      {ERROR_SEEK_ON_DEVICE, FileCause::kBadSeek},
      {ERROR_NOT_READY, FileCause::kHardIO},
      {ERROR_CRC, FileCause::kHardIO},
      {ERROR_SECTOR_NOT_FOUND, FileCause::kHardIO},
      {ERROR_WRITE_FAULT, FileCause::kHardIO},
      {ERROR_READ_FAULT, FileCause::kHardIO},
      {ERROR_GEN_FAILURE, FileCause::kHardIO},
      {ERROR_IO_DEVICE, FileCause::kHardIO},
      {ERROR_SHARING_VIOLATION, FileCause::kSharingViolation},
      {ERROR_LOCK_VIOLATION, FileCause::kLockViolation},
      {ERROR_DISK_FULL, FileCause::kDiskFull},
      {ERROR_HANDLE_DISK_FULL, FileCause::kDiskFull},
      {ERROR_HANDLE_EOF, FileCause::kEndOfFile},
  };
  if (error == ERROR_SUCCESS) return FileCause::kNone;
  for (const Row& row : kTable)
    if (row.error == error) return row.cause;
  return FileCause::kGeneric;
}

bool File::Fail(FileError* error, DWORD osError) {
  if (error) *error = FileError{CauseOfError(osError), osError, path_};
  return false;
}

bool File::Fail(FileError* error) { return Fail(error, GetLastError()); }

bool File::Open(const std::wstring& path, unsigned mode, FileError* error) {
  Close();
  path_ = path;
  DWORD access = GENERIC_READ;
  if ((mode & 3) == kWrite) access = GENERIC_WRITE;
  if ((mode & 3) == kReadWrite) access = GENERIC_READ | GENERIC_WRITE;
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;  // compatibility and deny-none
  switch (mode & 0x70) {
    case kShareExclusive: share = 0; break;
    case kShareDenyWrite: share = FILE_SHARE_READ; break;
    case kShareDenyRead: share = FILE_SHARE_WRITE; break;
    default: break;
  }
  DWORD creation = OPEN_EXISTING;
  if (mode & kCreate) creation = (mode & kNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
  SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, FALSE};
  handle_ = CreateFileW(path.c_str(), access, share, &security, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) return Fail(error);
  return true;
}

void File::Close() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

bool File::Read(void* buffer, DWORD size, DWORD* read, FileError* error) {
  DWORD got = 0;
  if (!ReadFile(handle_, buffer, size, &got, nullptr)) return Fail(error);
  if (read) *read = got;
  return true;
}

bool File::ReadExactly(void* buffer, DWORD size, FileError* error) {
  DWORD got = 0;
  if (!Read(buffer, size, &got, error)) return false;
  if (got != size) return Fail(error, ERROR_HANDLE_EOF);
  return true;
}

bool File::Write(const void* buffer, DWORD size, FileError* error) {
  DWORD written = 0;
  if (!WriteFile(handle_, buffer, size, &written, nullptr)) return Fail(error);
  if (written != size) return Fail(error, ERROR_DISK_FULL);
  return true;
}

bool File::Seek(int64_t offset, DWORD from, int64_t* position, FileError* error) {
  LARGE_INTEGER distance, at;
  distance.QuadPart = offset;
  if (!SetFilePointerEx(handle_, distance, &at, from)) return Fail(error);
  if (position) *position = at.QuadPart;
  return true;
}

bool File::Lock(uint64_t offset, uint64_t size, FileError* error) {
  if (!LockFile(handle_, static_cast<DWORD>(offset), static_cast<DWORD>(offset >> 32), static_cast<DWORD>(size),
                static_cast<DWORD>(size >> 32)))
    return Fail(error);
  return true;
}

bool File::Unlock(uint64_t offset, uint64_t size, FileError* error) {
  if (!UnlockFile(handle_, static_cast<DWORD>(offset), static_cast<DWORD>(offset >> 32), static_cast<DWORD>(size),
                  static_cast<DWORD>(size >> 32)))
    return Fail(error);
  return true;
}

bool File::Length(uint64_t* length, FileError* error) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle_, &size)) return Fail(error);
  *length = static_cast<uint64_t>(size.QuadPart);
  return true;
}

}  // namespace appf
