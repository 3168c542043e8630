#include "shell/clip_file.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "engine/media_types.h"
#include "shell/settings_store.h"
#include "shell/win_api_table.h"

namespace {

std::u16string FromCodePage(const std::string& bytes) {
  if (bytes.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n > 0 ? n : 0), u'\0');
  if (n > 0)
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), reinterpret_cast<wchar_t*>(out.data()),
                        n);
  return out;
}

template <size_t N>
void CopyField(char (&dst)[N], const char* src, size_t n) {
  const size_t take = n < N - 1 ? n : N - 1;
  std::memcpy(dst, src, take);
  dst[take] = 0;
}

}  // namespace

uint32_t DescriptorClipFile::Parse(const uint8_t* body, size_t size) {
  Release();
  const uint32_t rc = shell::ParseClipDescriptor(body, size, GetSettingsVersion(), &descriptor_);
  if (rc != shell::kDescriptorOk) return rc;
  url_ = FromCodePage(descriptor_.url);
  trailer_ = FromCodePage(descriptor_.trailer);
  count_ = 1;
  current_ = 0;
  valid_ = descriptor_.urlKind != shell::kUrlOther;
  return shell::kDescriptorOk;
}

uint32_t DescriptorClipFile::Read(const uint8_t* data, uint32_t size) {
  // The image's own length field is replaced by its size less those 2 bytes.
  if (!data || size < 2) return shell::kDescriptorBad;
  return Parse(data + 2, size - 2);
}

uint32_t DescriptorClipFile::Read(const char16_t* path) {
  const WinApiTable& api = WinApi();
  const auto* name = reinterpret_cast<const wchar_t*>(path);
  if (!name) return shell::kDescriptorNotOpened;
  // The writer may still hold it: no sharing, retried a while.
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < kOpenTries; ++attempt) {
    file = api.CreateFileW(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) break;
    Sleep(kOpenRetryMs);
  }
  if (file == INVALID_HANDLE_VALUE) return shell::kDescriptorNotOpened;

  uint32_t rc = shell::kDescriptorOk;
  uint8_t head[2] = {};
  DWORD got = 0;
  std::unique_ptr<uint8_t[]> body;
  uint16_t length = 0;
  if (!ReadFile(file, head, 2, &got, nullptr) || got != 2) {
    rc = shell::kDescriptorBad;
  } else {
    length = static_cast<uint16_t>(head[0] | head[1] << 8);
    body.reset(new (std::nothrow) uint8_t[size_t(length) + 2]);
    if (!body) {
      rc = shell::kDescriptorNoMemory;
    } else if (length == 0 || !ReadFile(file, body.get(), length, &got, nullptr) || got != length) {
      rc = shell::kDescriptorBad;
    }
  }
  CloseHandle(file);
  if (rc != shell::kDescriptorOk) return rc;
  rc = Parse(body.get(), length);
  // Only a descriptor that was read whole is used up.
  if (rc == shell::kDescriptorOk) api.DeleteFileW(name);
  return rc;
}

void DescriptorClipFile::Release() {
  valid_ = false;
  descriptor_ = shell::ClipDescriptor{};
  url_.clear();
  trailer_.clear();
  count_ = 0;
  current_ = 0;
}

bool DescriptorClipFile::HasEntry(int32_t entry) const {
  (void)entry;
  return count_ > 0;
}

bool DescriptorClipFile::GetEntryRecord(int32_t entry, ClipAccessInfo* out) {
  if (!out || !HasEntry(entry)) return false;
  const shell::ClipDescriptor& d = descriptor_;
  out->flag = d.clipFlag;
  CopyField(out->user, d.title.data(), d.title.size());
  CopyField(out->authentication, d.text36, std::strlen(d.text36));
  CopyField(out->expiration, d.text20, std::strlen(d.text20));
  CopyField(out->application, d.secondText.data(), d.secondText.size());
  CopyField(out->extra, d.text16, std::strlen(d.text16));
  std::memset(out->signature, 0, sizeof(out->signature));
  std::memcpy(out->signature, d.name, 40);
  out->startMs = d.value1;
  out->endMs = d.value2;
  return true;
}

uint32_t DescriptorClipFile::GetEntryKind(int32_t entry) { return HasEntry(entry) ? descriptor_.urlKind : 0; }

const char16_t* DescriptorClipFile::GetEntryUrl(int32_t entry) { return HasEntry(entry) ? url_.c_str() : nullptr; }

void DescriptorClipFile::GetEntryValues(int32_t entry, uint32_t* value1, uint32_t* value2) {
  const bool has = HasEntry(entry);
  if (value1) *value1 = has ? descriptor_.value1 : 0;
  if (value2) *value2 = has ? descriptor_.value2 : 0;
}

uint32_t DescriptorClipFile::GetEntryMode(int32_t entry) {
  return HasEntry(entry) ? (descriptor_.entryFlags & shell::kEntryModeBits) >> 3 : 0;
}
uint32_t DescriptorClipFile::GetEntryFlagBit1(int32_t entry) {
  return HasEntry(entry) && (descriptor_.entryFlags & shell::kEntryBit1) ? 1 : 0;
}
uint32_t DescriptorClipFile::IsEntryFlagBit0Clear(int32_t entry) {
  return HasEntry(entry) && !(descriptor_.entryFlags & shell::kEntryBit0) ? 1 : 0;
}
uint32_t DescriptorClipFile::GetEntryFlagBit2(int32_t entry) {
  return HasEntry(entry) && (descriptor_.entryFlags & shell::kEntryBit2) ? 1 : 0;
}
uint32_t DescriptorClipFile::GetEntryFlagBit5(int32_t entry) {
  return HasEntry(entry) && (descriptor_.entryFlags & shell::kEntryBit5) ? 1 : 0;
}
uint32_t DescriptorClipFile::GetHeaderFlagBit0() { return descriptor_.flagWord & shell::kHeaderBit0 ? 1 : 0; }
uint32_t DescriptorClipFile::GetHeaderFlagBit2() { return descriptor_.flagWord & shell::kHeaderBit2 ? 1 : 0; }
uint32_t DescriptorClipFile::IsHeaderByteOne() { return descriptor_.clipFlag == 1 ? 1 : 0; }

const char16_t* DescriptorClipFile::GetTrailerText() {
  if (!(descriptor_.flagWord & shell::kHeaderBit1) || trailer_.empty()) return nullptr;
  return trailer_.c_str();
}
