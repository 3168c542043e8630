// Reference-counted UTF-16 text. The reader keeps every text in one and the
// file object hands texts out as new references that the caller releases;
// the count is atomic because the audio and video threads share texts.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

namespace reader {

class SharedWideString {
 public:
  // A copy of the NUL-terminated text (null: empty); null when memory runs out.
  static SharedWideString* Create(const char16_t* text);
  static SharedWideString* Create(std::u16string_view text);

  SharedWideString* AddRef();
  // Drops one reference; the last one frees text and record.
  void Release();

  const char16_t* text() const { return text_; }
  uint32_t length() const { return length_; }
  int32_t references() const { return references_.load(); }
  std::u16string_view view() const { return {text_, length_}; }

 private:
  SharedWideString() = default;
  ~SharedWideString();
  char16_t* text_ = nullptr;
  uint32_t length_ = 0;
  std::atomic<int32_t> references_{1};
};

// Releases a possibly null text.
inline void ReleaseText(SharedWideString* s) {
  if (s) s->Release();
}

}  // namespace reader
