// The graph events the authoring control takes from the media engine, and
// the records three of them carry. A record is a copy the engine made of
// what the streamer sent: it is read only within the length the event gives
// (parameter 2) and within each field's own size, never up to a terminator
// that may not be there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ctlvane {

enum GraphEventCode : int32_t {
  kEcComplete = 1,
  kEcConnectionPaused = 32772,
  kEcConnected = 32773,
  kEcSecurityCheck = 32774,
  kEcClientStatus = 32775,
  kEcPortError = 32776,
  kEcStopped = 32778,
  kEcAudioDrift = 32781,
  kEcError = 32788,
  kEcCustom2 = 32789,
  kEcCustom3 = 32790,
};

// EC_KR_ERROR's kind for the output file, and its two codes.
constexpr int32_t kErrorKindDisk = 4;
constexpr int32_t kDiskSpaceLow = static_cast<int32_t>(0x800A1389);
constexpr int32_t kDiskFullCode = static_cast<int32_t>(0x800A138A);

// Codes 0 and 1, 32772 to 32779, 32781 and 32788 to 32790.
bool IsHandledEvent(int32_t code);

// The client record of 32774 and 32775: a 32-bit word (client id or
// status), the address text in a 32-byte field, then (32774) the
// identification text in a 256-byte field. Texts end at their first zero,
// at their field's end or at the block's end, whichever comes first.
constexpr size_t kClientAddressBytes = 32;
constexpr size_t kClientTextBytes = 256;
struct ClientRecord {
  uint32_t word = 0;
  std::string address;
  std::string text;
};
// False for a missing block or one too short for its word.
bool ReadClientRecord(const void* block, size_t length, ClientRecord* record);

// The port of 32776: decimal text within the block (at most 15 digits
// looked at). False for a missing block or one without a leading digit.
bool ReadPortText(const void* block, size_t length, int32_t* port);

}  // namespace ctlvane
