#include "streaming/ref_string.h"

#include <cstdlib>
#include <cstring>

namespace streaming {

namespace {

RefString* allocRecord() {
  auto* r = static_cast<RefString*>(std::malloc(sizeof(RefString)));
  if (r) {
    r->text = nullptr;
    r->length = 0;
    r->references = 0;
  }
  return r;
}

}  // namespace

void RefStringMakeEmpty(RefString*& handle) {
  handle = RefStringNew(nullptr, 0);
}

bool RefStringMakeFromBytes(RefString& record, uint32_t length, const char* text) {
  record.length = length;
  record.references = 1;
  record.text = static_cast<char*>(std::calloc(size_t(length) + 1, 1));
  if (!record.text) {
    record.length = 0;
    return false;
  }
  for (uint32_t i = 0; text && i < length && text[i] != 0; ++i) record.text[i] = text[i];
  return true;
}

RefString* RefStringNew(const char* text, uint32_t length) {
  RefString* r = allocRecord();
  if (!r) return nullptr;
  if (!RefStringMakeFromBytes(*r, text ? length : 0, text)) {
    std::free(r);
    return nullptr;
  }
  return r;
}

void RefStringAssign(RefString*& handle, const char* text) {
  RefStringRelease(handle);
  handle = RefStringNew(text, text ? uint32_t(std::strlen(text)) : 0);
}

void RefStringShare(RefString*& target, RefString* source) {
  if (target == source) return;
  if (source) ++source->references;
  RefStringRelease(target);
  target = source;
}

void RefStringRelease(RefString*& handle) {
  if (!handle) return;
  if (--handle->references <= 0) RefStringDestroy(handle, 1);
  handle = nullptr;
}

void RefStringDestroy(RefString* record, uint32_t flags) {
  if (!record) return;
  std::free(record->text);
  record->text = nullptr;
  if (flags & 1) std::free(record);
}

}  // namespace streaming
