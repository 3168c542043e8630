// Profiles and sessions: the settings records as named text values through
// a properties store (the outside properties-file object), with the key
// names, value kinds and writing and reading orders the files keep.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "mediaengine/records.h"

namespace mediaengine {

// The five operations of the properties-file object. Each answers 0 or an
// error code; Get of a key not in the set answers KRM_E_MISSING_IDENTIFIER.
class PropertyStore {
 public:
  virtual ~PropertyStore() = default;
  virtual int32_t Put(const std::u16string& key, const std::u16string& value) = 0;
  virtual int32_t Get(const std::u16string& key, std::u16string* value) = 0;
  virtual int32_t Save(const std::u16string& fileName) = 0;  // replaces the file
  virtual int32_t Load(const std::u16string& fileName) = 0;
  virtual int32_t Close() = 0;
};

// Whether a file named in a session can be opened for reading.
using FileProbe = std::function<bool(const std::u16string& name)>;

// version: major, minor, build of the suite, written into every file.
int32_t SaveProfile(PropertyStore& store, const KRSettingsRecords& records, const uint32_t version[3],
                    const std::u16string& fileName);
int32_t LoadProfile(PropertyStore& store, KRSettingsRecords& records, const std::u16string& fileName);
int32_t SaveSession(PropertyStore& store, const KRSettingsRecords& records, const uint32_t version[3],
                    const std::u16string& fileName);
int32_t LoadSession(PropertyStore& store, KRSettingsRecords& records, const std::u16string& fileName,
                    const FileProbe& canOpen);

// The text forms of the value kinds: "%f" with a point whatever the
// process's numeric locale, and its reading back.
std::u16string FloatText(float value);
bool ReadFloat(const std::u16string& text, float* value);

}  // namespace mediaengine
