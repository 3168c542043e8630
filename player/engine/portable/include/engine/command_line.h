// The player's command line and the source kind an address names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

std::u16string UpperAscii(std::u16string_view text);

struct PlayerCommandLine {
  std::u16string name;        // the clip address, quotes removed
  bool repeat = false;        // "-L" or a usable "-N"
  uint32_t playCount = 0;     // 0 = not given
  bool exitWhenDone = false;  // "-X"
  int volume = -1;            // "-V", clamped to 0..100; -1 = not given
  std::u16string audioCodec;  // "-A", upper-cased
};

constexpr uint32_t kLoopPlayCount = 10100;
constexpr uint32_t kMaxPlayCount = 100;
constexpr size_t kAddressUnits = 256;   // with the terminator
constexpr size_t kAudioCodecUnits = 10;  // with the terminator

// false when an option is unknown or malformed, or a word does not fit its
// field; nothing of the line is to be used then.
bool ParseCommandLine(std::u16string_view text, PlayerCommandLine* out);

// Repeatedly drops a leading quote and the last character while the text
// begins with a quote.
std::u16string PeelQuotes(std::u16string_view address);

enum class AddressKind { stream, file, download, descriptor };
// By prefix (case ignored): "RTSP://", "FILE://", "HTTP://"; a text whose
// first ".MP4" ends it is a file; anything else a clip descriptor.
AddressKind KindOfAddress(std::u16string_view address);
