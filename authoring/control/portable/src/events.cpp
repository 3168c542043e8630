#include "ctlvane/events.h"

#include <cstring>

namespace ctlvane {

namespace {

std::string Field(const unsigned char* data, size_t available, size_t fieldBytes) {
  const size_t n = available < fieldBytes ? available : fieldBytes;
  const void* zero = std::memchr(data, 0, n);
  const size_t length = zero ? static_cast<size_t>(static_cast<const unsigned char*>(zero) - data) : n;
  return std::string(reinterpret_cast<const char*>(data), length);
}

}  // namespace

bool IsHandledEvent(int32_t code) {
  return code == 0 || code == kEcComplete || (code >= kEcConnectionPaused && code <= 32779) ||
         code == kEcAudioDrift || (code >= kEcError && code <= kEcCustom3);
}

bool ReadClientRecord(const void* block, size_t length, ClientRecord* record) {
  if (!block || length < 4) return false;
  const auto* data = static_cast<const unsigned char*>(block);
  std::memcpy(&record->word, data, 4);
  size_t at = 4;
  record->address = Field(data + at, length - at, kClientAddressBytes);
  at += kClientAddressBytes;
  record->text = at < length ? Field(data + at, length - at, kClientTextBytes) : std::string();
  return true;
}

bool ReadPortText(const void* block, size_t length, int32_t* port) {
  if (!block || length == 0) return false;
  const auto* text = static_cast<const unsigned char*>(block);
  const size_t most = length < 15 ? length : 15;
  int64_t value = 0;
  size_t i = 0;
  for (; i < most && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + (text[i] - '0');
  if (i == 0 || value > INT32_MAX) return false;
  *port = static_cast<int32_t>(value);
  return true;
}

}  // namespace ctlvane
