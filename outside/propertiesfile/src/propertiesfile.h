// The properties-file stand-in's object and its file format.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "propertiesfile/propertiesfile.h"

namespace propertiesfile {

using PropertySet = std::vector<std::pair<std::wstring, std::wstring>>;

// The file: UTF-16LE with a byte-order mark, one "key=value" line per entry
// ending in CR LF, in the order the keys were first put. In values a
// backslash, CR and LF are written as \\, \r and \n.
std::wstring FormatProperties(const PropertySet& set);
// S_OK with the set, or KRM_E_CANNOT_OPEN_FILE for text that is not such a
// file, or KRM_E_DUPLICATE_IDENTIFIER for a key given twice.
HRESULT ParseProperties(const std::wstring& text, PropertySet* set);
// Keys are 1..255 characters without "=", CR or LF.
bool KeyAllowed(LPCWSTR key);

class CKRPropertiesFile : public IKRPropertiesFile {
 public:
  CKRPropertiesFile();
  virtual ~CKRPropertiesFile();

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Put(LPCWSTR key, LPCWSTR value) override;
  STDMETHODIMP Get(LPCWSTR key, LPWSTR value) override;
  STDMETHODIMP Save(LPCWSTR fileName, LONG flag) override;
  STDMETHODIMP Load(LPCWSTR fileName) override;
  STDMETHODIMP Close() override;

  static LONG Objects();

 private:
  void Log(const std::wstring& line, HRESULT result);

  volatile LONG refs_ = 1;
  CRITICAL_SECTION lock_;
  PropertySet set_;
};

}  // namespace propertiesfile
