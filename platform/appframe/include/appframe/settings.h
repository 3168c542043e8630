// A program's own settings in the registry (sections under one key), and a
// recent-file list kept there.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace appf {

class Settings {
 public:
  // Values under HKEY_CURRENT_USER\<key>\<section>; no key: nothing is
  // read or written.
  void SetKey(const std::wstring& key) { key_ = key; }
  const std::wstring& Key() const { return key_; }
  int GetInt(const std::wstring& section, const std::wstring& entry, int fallback) const;
  bool WriteInt(const std::wstring& section, const std::wstring& entry, int value);
  std::wstring GetString(const std::wstring& section, const std::wstring& entry, const std::wstring& fallback) const;
  bool WriteString(const std::wstring& section, const std::wstring& entry, const std::wstring& value);
  bool DeleteEntry(const std::wstring& section, const std::wstring& entry);

 private:
  std::wstring key_;
};

// The last files used, newest first, at most `size`, kept as "File1" ...
// in the section "Recent File List".
class RecentFiles {
 public:
  void Attach(Settings* settings, size_t size);
  // Moves the path to the front (paths compare without regard to case).
  void Add(const std::wstring& path);
  const std::vector<std::wstring>& Items() const { return items_; }
  size_t Size() const { return size_; }
  void Load();
  void Save() const;

 private:
  Settings* settings_ = nullptr;
  size_t size_ = 0;
  std::vector<std::wstring> items_;
};

}  // namespace appf
