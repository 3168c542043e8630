// Shared, reference-counted byte strings: the text fields of session
// descriptions. Copying a handle shares the text; the last release frees it.
#pragma once

#include <cstdint>

namespace streaming {

struct RefString {
  char* text;         // length + 1 bytes, always NUL-terminated
  uint32_t length;    // bytes before the terminator
  int32_t references;
};

// A handle is one pointer to a record; null when an allocation failed.
void RefStringMakeEmpty(RefString*& handle);
// Fills an existing record; the copy stops at a NUL of the source and the
// rest of the buffer is zero. False when the buffer cannot be allocated.
bool RefStringMakeFromBytes(RefString& record, uint32_t length, const char* text);
// A new record holding a copy of the C text (empty for null); allocates.
RefString* RefStringNew(const char* text, uint32_t length);
void RefStringAssign(RefString*& handle, const char* text);
void RefStringShare(RefString*& target, RefString* source);
void RefStringRelease(RefString*& handle);
// Frees the buffer, and the record itself when bit 0 of flags is set.
void RefStringDestroy(RefString* record, uint32_t flags);

// Text of a handle, "" for null.
inline const char* RefStringText(const RefString* handle) {
  return handle ? handle->text : "";
}

}  // namespace streaming
