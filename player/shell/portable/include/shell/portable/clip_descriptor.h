// The clip descriptor file: a small little-endian file handed to the player
// in place of a clip address. It names one clip, its address (RTSP, HTTP or
// a local file) and a few values and flag bits for playing it. This is the
// parser over the file's bytes; the shell's ClipFile reads the file and
// converts the texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace shell {

// Results of reading a descriptor.
constexpr uint32_t kDescriptorOk = 0;
constexpr uint32_t kDescriptorNoMemory = 14;
constexpr uint32_t kDescriptorNotOpened = 17;
constexpr uint32_t kDescriptorBad = 18;

// The title and the second text have room for this many bytes.
constexpr size_t kDescriptorTextBytes = 256;

// URL kinds by prefix, case ignored.
constexpr uint32_t kUrlOther = 0;
constexpr uint32_t kUrlFile = 1;
constexpr uint32_t kUrlRtsp = 2;
constexpr uint32_t kUrlHttp = 3;

// Entry flag and flag word bits.
constexpr uint32_t kEntryBit0 = 1u << 0;
constexpr uint32_t kEntryBit1 = 1u << 1;
constexpr uint32_t kEntryBit2 = 1u << 2;
constexpr uint32_t kEntryModeBits = 3u << 3;
constexpr uint32_t kEntryBit5 = 1u << 5;
constexpr uint16_t kHeaderBit0 = 1u << 0;
constexpr uint16_t kHeaderBit1 = 1u << 1;
constexpr uint16_t kHeaderBit2 = 1u << 2;

struct ClipDescriptor {
  uint16_t version = 0;
  uint16_t headerWord = 0;
  std::string title;       // bytes in the system code page
  std::string secondText;
  uint8_t clipFlag = 0;
  char text36[37] = {};    // the three fixed text fields, terminated
  char text20[21] = {};
  char text16[17] = {};
  char name[41] = {};      // the entry's name
  std::string url;         // "FILE://" removed
  uint32_t urlKind = kUrlOther;
  uint32_t value1 = 0, value2 = 0, entryFlags = 0;
  uint16_t flagWord = 0;
  std::string trailer;
};

uint32_t UrlKindOf(std::string_view url);

// body: the L bytes that follow the file's length field. dataVersion is the
// player's (0x300): a file whose version has another high byte is refused.
// Every field must lie inside the body, the texts within their room, and
// the entry must keep the consistency rules; else kDescriptorBad, with out
// holding what was read before.
uint32_t ParseClipDescriptor(const uint8_t* body, size_t size, uint32_t dataVersion, ClipDescriptor* out);

}  // namespace shell
