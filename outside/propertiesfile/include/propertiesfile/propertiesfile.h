// The properties-file object through which the media engine writes and reads
// sessions and profiles: named UTF-16 text values, saved and loaded as a set.
#pragma once

#include <windows.h>
#include <objbase.h>

// {20EEFA7F-2843-11D5-BFD1-00B0D082A349}
inline constexpr IID IID_IKRPropertiesFile = {
    0x20EEFA7F, 0x2843, 0x11D5, {0xBF, 0xD1, 0x00, 0xB0, 0xD0, 0x82, 0xA3, 0x49}};
// Our stand-in's class; callers create it by its ProgID.
// {6948391C-81D2-401B-89E0-89BAC43C8130}
inline constexpr CLSID CLSID_KRPropertiesFile = {
    0x6948391C, 0x81D2, 0x401B, {0x89, 0xE0, 0x89, 0xBA, 0xC4, 0x3C, 0x81, 0x30}};
inline constexpr wchar_t kPropertiesFileProgId[] = L"KRPropertiesFile.PropertiesFile.1";

// Values hold at most this many characters; Get fills a buffer of
// kPropertyValueChars characters, terminator included.
constexpr int kPropertyValueMax = 255;
constexpr int kPropertyValueChars = 256;

// Codes of the properties-file object (severity error, facility 10; the media
// engine's family holds the same values).
namespace propertiesfile {
constexpr HRESULT KRM_E_MISSING_IDENTIFIER = static_cast<HRESULT>(0x800A044Cu);
constexpr HRESULT KRM_E_FORBIDDEN_IDENTIFIER = static_cast<HRESULT>(0x800A044Du);
constexpr HRESULT KRM_E_CANNOT_CREATE_FILE = static_cast<HRESULT>(0x800A044Eu);
constexpr HRESULT KRM_E_CANNOT_OPEN_FILE = static_cast<HRESULT>(0x800A044Fu);
constexpr HRESULT KRM_E_DUPLICATE_IDENTIFIER = static_cast<HRESULT>(0x800A0450u);
}  // namespace propertiesfile

struct IKRPropertiesFile : public IUnknown {
  // Stores one key with its value in the current set (replacing an earlier
  // value of the same key).
  virtual HRESULT STDMETHODCALLTYPE Put(LPCWSTR key, LPCWSTR value) = 0;
  // Copies the key's value into a buffer of kPropertyValueChars characters;
  // a key not in the set gives KRM_E_MISSING_IDENTIFIER.
  virtual HRESULT STDMETHODCALLTYPE Get(LPCWSTR key, LPWSTR value) = 0;
  // Writes the current set to the file; flag 1 replaces an existing file,
  // flag 0 refuses to.
  virtual HRESULT STDMETHODCALLTYPE Save(LPCWSTR fileName, LONG flag) = 0;
  // Replaces the current set by the file's contents.
  virtual HRESULT STDMETHODCALLTYPE Load(LPCWSTR fileName) = 0;
  // Ends the current set: the next operation starts from an empty one.
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};
