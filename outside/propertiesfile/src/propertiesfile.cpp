#include "propertiesfile.h"

#include <cstdio>

namespace propertiesfile {

namespace {

volatile LONG objects = 0;

// Files larger than this are not property files.
constexpr DWORD kMostFileBytes = 4u << 20;

// Length of a caller's text, looked at no further than one character past
// the longest allowed; a longer text answers kPropertyValueChars.
int BoundedLength(LPCWSTR text) {
  int n = 0;
  while (n < kPropertyValueChars && text[n] != L'\0') ++n;
  return n;
}

std::wstring Escape(const std::wstring& value) {
  std::wstring out;
  for (wchar_t c : value) {
    if (c == L'\\')
      out += L"\\\\";
    else if (c == L'\r')
      out += L"\\r";
    else if (c == L'\n')
      out += L"\\n";
    else
      out += c;
  }
  return out;
}

bool Unescape(const std::wstring& text, std::wstring* value) {
  value->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'\\') {
      *value += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    if (text[i] == L'\\')
      *value += L'\\';
    else if (text[i] == L'r')
      *value += L'\r';
    else if (text[i] == L'n')
      *value += L'\n';
    else
      return false;
  }
  return true;
}

PropertySet::iterator Find(PropertySet& set, const std::wstring& key) {
  for (auto it = set.begin(); it != set.end(); ++it)
    if (it->first == key) return it;
  return set.end();
}

std::wstring Hex(HRESULT code) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(code));
  return text;
}

}  // namespace

bool KeyAllowed(LPCWSTR key) {
  int length = BoundedLength(key);
  if (length == 0 || length > kPropertyValueMax) return false;
  for (int i = 0; i < length; ++i)
    if (key[i] == L'=' || key[i] == L'\r' || key[i] == L'\n') return false;
  return true;
}

std::wstring FormatProperties(const PropertySet& set) {
  std::wstring text(1, wchar_t(0xFEFF));
  for (const auto& [key, value] : set) text += key + L"=" + Escape(value) + L"\r\n";
  return text;
}

HRESULT ParseProperties(const std::wstring& text, PropertySet* set) {
  set->clear();
  if (text.empty() || text[0] != wchar_t(0xFEFF)) return KRM_E_CANNOT_OPEN_FILE;
  size_t pos = 1;
  while (pos < text.size()) {
    size_t end = text.find(L"\r\n", pos);
    if (end == std::wstring::npos) return KRM_E_CANNOT_OPEN_FILE;
    std::wstring line = text.substr(pos, end - pos);
    pos = end + 2;
    size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) return KRM_E_CANNOT_OPEN_FILE;
    std::wstring key = line.substr(0, equals), value;
    if (!KeyAllowed(key.c_str()) || !Unescape(line.substr(equals + 1), &value) ||
        value.size() > size_t(kPropertyValueMax) || value.find(L'\0') != std::wstring::npos)
      return KRM_E_CANNOT_OPEN_FILE;
    if (Find(*set, key) != set->end()) return KRM_E_DUPLICATE_IDENTIFIER;
    set->emplace_back(std::move(key), std::move(value));
  }
  return S_OK;
}

CKRPropertiesFile::CKRPropertiesFile() {
  InitializeCriticalSection(&lock_);
  InterlockedIncrement(&objects);
}

CKRPropertiesFile::~CKRPropertiesFile() {
  DeleteCriticalSection(&lock_);
  InterlockedDecrement(&objects);
}

LONG CKRPropertiesFile::Objects() { return objects; }

STDMETHODIMP CKRPropertiesFile::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IKRPropertiesFile)) return E_NOINTERFACE;
  *out = static_cast<IKRPropertiesFile*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CKRPropertiesFile::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) CKRPropertiesFile::Release() {
  LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

// Every operation is logged with what it received and what it answered: to
// the debugger output, and appended to the file that the environment
// variable KRPROPERTIESFILE_LOG names.
void CKRPropertiesFile::Log(const std::wstring& line, HRESULT result) {
  std::wstring text = L"KRPropertiesFile: " + line + L" -> " + Hex(result) + L"\r\n";
  OutputDebugStringW(text.c_str());
  wchar_t logName[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"KRPROPERTIESFILE_LOG", logName, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  HANDLE log = CreateFileW(logName, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return;
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(size_t(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), utf8.data(), bytes, nullptr, nullptr);
  DWORD written;
  WriteFile(log, utf8.data(), DWORD(utf8.size()), &written, nullptr);
  CloseHandle(log);
}

STDMETHODIMP CKRPropertiesFile::Put(LPCWSTR key, LPCWSTR value) {
  if (!key || !value) return E_POINTER;
  EnterCriticalSection(&lock_);
  HRESULT hr = S_OK;
  std::wstring shownKey(key, size_t(BoundedLength(key)));
  if (!KeyAllowed(key)) {
    hr = KRM_E_FORBIDDEN_IDENTIFIER;
  } else if (BoundedLength(value) > kPropertyValueMax) {
    // Refused whole rather than cut: a shortened value would be saved as if
    // it were what the caller gave.
    hr = E_INVALIDARG;
  } else {
    auto it = Find(set_, shownKey);
    if (it != set_.end())
      it->second = value;
    else
      set_.emplace_back(shownKey, value);
  }
  Log(L"Put \"" + shownKey + L"\" = \"" + std::wstring(value, size_t(BoundedLength(value))) + L"\"", hr);
  LeaveCriticalSection(&lock_);
  return hr;
}

STDMETHODIMP CKRPropertiesFile::Get(LPCWSTR key, LPWSTR value) {
  if (!key || !value) return E_POINTER;
  EnterCriticalSection(&lock_);
  std::wstring shownKey(key, size_t(BoundedLength(key)));
  std::fill(value, value + kPropertyValueChars, L'\0');
  auto it = Find(set_, shownKey);
  HRESULT hr = KRM_E_MISSING_IDENTIFIER;
  if (it != set_.end()) {
    it->second.copy(value, kPropertyValueMax);
    hr = S_OK;
  }
  Log(L"Get \"" + shownKey + L"\"", hr);
  LeaveCriticalSection(&lock_);
  return hr;
}

STDMETHODIMP CKRPropertiesFile::Save(LPCWSTR fileName, LONG flag) {
  if (!fileName) return E_POINTER;
  EnterCriticalSection(&lock_);
  HRESULT hr = S_OK;
  HANDLE file = CreateFileW(fileName, GENERIC_WRITE, 0, nullptr, flag == 1 ? CREATE_ALWAYS : CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    hr = KRM_E_CANNOT_CREATE_FILE;
  } else {
    std::wstring text = FormatProperties(set_);
    DWORD bytes = DWORD(text.size() * sizeof(wchar_t)), written = 0;
    bool ok = WriteFile(file, text.data(), bytes, &written, nullptr) && written == bytes;
    CloseHandle(file);
    if (!ok) {
      // A part-written file would load as a different set.
      DeleteFileW(fileName);
      hr = KRM_E_CANNOT_CREATE_FILE;
    }
  }
  Log(L"Save \"" + std::wstring(fileName) + L"\" flag " + std::to_wstring(flag) + L", " +
          std::to_wstring(set_.size()) + L" keys",
      hr);
  LeaveCriticalSection(&lock_);
  return hr;
}

STDMETHODIMP CKRPropertiesFile::Load(LPCWSTR fileName) {
  if (!fileName) return E_POINTER;
  EnterCriticalSection(&lock_);
  HRESULT hr = KRM_E_CANNOT_OPEN_FILE;
  HANDLE file =
      CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  PropertySet loaded;
  if (file != INVALID_HANDLE_VALUE) {
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) && size.QuadPart <= kMostFileBytes && size.QuadPart % 2 == 0) {
      std::wstring text(size_t(size.QuadPart / 2), L'\0');
      DWORD read = 0;
      if (ReadFile(file, text.data(), DWORD(size.QuadPart), &read, nullptr) && read == size.QuadPart)
        hr = ParseProperties(text, &loaded);
    }
    CloseHandle(file);
  }
  // A file that cannot be read leaves the current set as it was.
  if (SUCCEEDED(hr)) set_ = std::move(loaded);
  Log(L"Load \"" + std::wstring(fileName) + L"\", " + std::to_wstring(set_.size()) + L" keys", hr);
  LeaveCriticalSection(&lock_);
  return hr;
}

STDMETHODIMP CKRPropertiesFile::Close() {
  EnterCriticalSection(&lock_);
  set_.clear();
  Log(L"Close", S_OK);
  LeaveCriticalSection(&lock_);
  return S_OK;
}

}  // namespace propertiesfile
