#include "reader/shared_wide_string.h"

#include <cstring>
#include <new>

namespace reader {

SharedWideString* SharedWideString::Create(const char16_t* text) {
  size_t n = 0;
  if (text)
    while (text[n]) ++n;
  return Create(std::u16string_view(text ? text : u"", n));
}

SharedWideString* SharedWideString::Create(std::u16string_view text) {
  auto* s = new (std::nothrow) SharedWideString;
  if (!s) return nullptr;
  s->text_ = new (std::nothrow) char16_t[text.size() + 1];
  if (!s->text_) {
    delete s;
    return nullptr;
  }
  if (!text.empty()) std::memcpy(s->text_, text.data(), text.size() * sizeof(char16_t));
  s->text_[text.size()] = 0;
  s->length_ = static_cast<uint32_t>(text.size());
  return s;
}

SharedWideString* SharedWideString::AddRef() {
  references_.fetch_add(1);
  return this;
}

void SharedWideString::Release() {
  if (references_.fetch_sub(1) == 1) delete this;
}

SharedWideString::~SharedWideString() { delete[] text_; }

}  // namespace reader
