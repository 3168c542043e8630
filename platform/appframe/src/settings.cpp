#include "appframe/settings.h"

#include <algorithm>
#include <cwctype>

namespace appf {

namespace {

std::wstring Path(const std::wstring& key, const std::wstring& section) {
  return section.empty() ? key : key + L"\\" + section;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return std::towlower(x) == std::towlower(y);
         });
}

}  // namespace

int Settings::GetInt(const std::wstring& section, const std::wstring& entry, int fallback) const {
  if (key_.empty()) return fallback;
  DWORD value = 0, size = sizeof(value);
  LSTATUS s = RegGetValueW(HKEY_CURRENT_USER, Path(key_, section).c_str(), entry.c_str(), RRF_RT_REG_DWORD, nullptr,
                           &value, &size);
  return s == ERROR_SUCCESS ? static_cast<int>(value) : fallback;
}

bool Settings::WriteInt(const std::wstring& section, const std::wstring& entry, int value) {
  if (key_.empty()) return false;
  DWORD v = static_cast<DWORD>(value);
  return RegSetKeyValueW(HKEY_CURRENT_USER, Path(key_, section).c_str(), entry.c_str(), REG_DWORD, &v, sizeof(v)) ==
         ERROR_SUCCESS;
}

std::wstring Settings::GetString(const std::wstring& section, const std::wstring& entry,
                                 const std::wstring& fallback) const {
  if (key_.empty()) return fallback;
  std::wstring path = Path(key_, section);
  DWORD size = 0;
  // RegGetValue terminates what it returns, whatever was stored.
  if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), entry.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
      ERROR_SUCCESS)
    return fallback;
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), entry.c_str(), RRF_RT_REG_SZ, nullptr, text.data(), &size) !=
      ERROR_SUCCESS)
    return fallback;
  text.resize(wcslen(text.c_str()));
  return text;
}

bool Settings::WriteString(const std::wstring& section, const std::wstring& entry, const std::wstring& value) {
  if (key_.empty()) return false;
  return RegSetKeyValueW(HKEY_CURRENT_USER, Path(key_, section).c_str(), entry.c_str(), REG_SZ, value.c_str(),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool Settings::DeleteEntry(const std::wstring& section, const std::wstring& entry) {
  if (key_.empty()) return false;
  return RegDeleteKeyValueW(HKEY_CURRENT_USER, Path(key_, section).c_str(), entry.c_str()) == ERROR_SUCCESS;
}

void RecentFiles::Attach(Settings* settings, size_t size) {
  settings_ = settings;
  size_ = size;
  items_.clear();
}

void RecentFiles::Add(const std::wstring& path) {
  if (!size_ || path.empty()) return;
  items_.erase(std::remove_if(items_.begin(), items_.end(), [&](const std::wstring& p) { return SameText(p, path); }),
               items_.end());
  items_.insert(items_.begin(), path);
  if (items_.size() > size_) items_.resize(size_);
}

void RecentFiles::Load() {
  items_.clear();
  if (!settings_) return;
  for (size_t i = 1; i <= size_; ++i) {
    std::wstring path = settings_->GetString(L"Recent File List", L"File" + std::to_wstring(i), L"");
    if (!path.empty()) items_.push_back(path);
  }
}

void RecentFiles::Save() const {
  if (!settings_) return;
  for (size_t i = 1; i <= size_; ++i) {
    std::wstring entry = L"File" + std::to_wstring(i);
    if (i <= items_.size())
      settings_->WriteString(L"Recent File List", entry, items_[i - 1]);
    else
      settings_->DeleteEntry(L"Recent File List", entry);
  }
}

}  // namespace appf
