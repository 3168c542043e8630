// Texts of the player's messages and log lines, built without printf so that
// a string-table text can never be read as a format with more arguments than
// it is given, and every result fits its buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace shell {

// Message boxes and log lines hold at most this many UTF-16 units with the
// terminator.
constexpr size_t kMessageCapacity = 256;

// Copies pattern into out, replacing its first "%s" by arg (nothing when arg
// is null) and "%%" by "%". The result is cut to capacity - 1 units and always
// terminated; returns its length. capacity 0 writes nothing.
size_t FormatMessageText(const char16_t* pattern, const char16_t* arg, char16_t* out,
                         size_t capacity);

// "Unknown Error - No String in RC File: id=<id>".
size_t FormatMissingStringText(uint32_t id, char16_t* out, size_t capacity);

// Caption and style of a message by its id. captionId 0 means no caption.
struct MessageLook {
  uint32_t captionId;
  uint32_t style;
};
MessageLook MessageLookFor(uint32_t id, uint32_t callerStyle);

// The instrumentation log's time prefix "MM/DD hh:mm:ss:mmm " (19 bytes and a
// terminator; out must hold 20). Fields are printed modulo their width.
void FormatLogTimePrefix(unsigned month, unsigned day, unsigned hour, unsigned minute,
                         unsigned second, unsigned millisecond, char* out);

// Row of the debug log window kept for repainting at y (0, 14, ... 84 give 0
// to 6); -1 for any other y.
int LogWindowRow(uint32_t y);

}  // namespace shell
