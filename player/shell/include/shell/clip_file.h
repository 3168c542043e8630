// The shell's reader of clip descriptor files (ClipFile of
// engine_services.h): from a path, retried while another process holds the
// file, or from an image in memory. The texts are converted from the system
// code page. A file read and parsed from a path is deleted.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "shell/engine_services.h"
#include "shell/portable/clip_descriptor.h"

class DescriptorClipFile : public ClipFile {
 public:
  // Opening a held file: this many tries, this far apart.
  static constexpr int kOpenTries = 20;
  static constexpr DWORD kOpenRetryMs = 25;

  uint32_t Read(const char16_t* path) override;
  uint32_t Read(const uint8_t* data, uint32_t size) override;
  bool IsValid() override { return valid_; }
  bool GetEntryRecord(int32_t entry, ClipAccessInfo* out) override;
  uint32_t GetEntryKind(int32_t entry) override;
  const char16_t* GetEntryUrl(int32_t entry) override;
  void GetEntryValues(int32_t entry, uint32_t* value1, uint32_t* value2) override;
  uint32_t GetEntryMode(int32_t entry) override;
  uint32_t GetEntryFlagBit2(int32_t entry) override;
  uint32_t GetEntryFlagBit5(int32_t entry) override;
  uint32_t GetHeaderFlagBit0() override;
  const char16_t* GetTrailerText() override;
  int32_t GetCurrentEntry() override { return current_; }
  void SetCurrentEntry(int32_t entry) override { current_ = entry; }
  int32_t GetEntryCount() override { return count_; }
  void Release() override;

  uint32_t GetEntryFlagBit1(int32_t entry);
  uint32_t IsEntryFlagBit0Clear(int32_t entry);
  uint32_t GetHeaderFlagBit2();
  uint32_t IsHeaderByteOne();
  const shell::ClipDescriptor& Descriptor() const { return descriptor_; }

 private:
  uint32_t Parse(const uint8_t* body, size_t size);
  // Only entry 0 exists; any other index (or -1) is the current entry.
  bool HasEntry(int32_t entry) const;

  bool valid_ = false;
  shell::ClipDescriptor descriptor_;
  std::u16string url_;
  std::u16string trailer_;
  int32_t count_ = 0;
  int32_t current_ = 0;
};
