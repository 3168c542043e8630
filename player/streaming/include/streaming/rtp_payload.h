// Payload depacketisers: MPEG-4 visual and H.263 (RFC 2429) frame
// assembly, and the table-of-contents forms of AMR and EVRC speech.
#pragma once

#include <cstdint>

namespace streaming {

enum PayloadKind : int32_t { kPayloadMpeg4 = 0, kPayloadAmr = 1, kPayloadH263 = 2, kPayloadEvrc = 3 };

// Result flags of one depacketiser call.
enum : uint8_t {
  kFrameDone = 0x80,     // a frame is complete and returned now
  kKeepPacket = 0x04,    // the packet holds more: hand it in again
  kFrameCut = 0x08,      // cut at the capacity, or ended without its last packet
  kFrameMore = 0x02,     // the frame continues in the next packet
  kPacketError = 0x01,   // the packet is unusable
};

// Filled by the caller for each call; output and outputLength are the
// result: either inside the packet (in place) or the caller's buffer.
struct FrameContext {
  uint8_t* payload = nullptr;
  uint32_t payloadLength = 0;
  bool marker = false;
  uint32_t timestamp = 0;
  uint8_t* buffer = nullptr;  // the caller's frame buffer (capacity in the state)
  const uint8_t* output = nullptr;
  uint32_t outputLength = 0;
  // Speech: the entries, their count and the speech data behind them.
  const uint8_t* toc = nullptr;
  uint8_t frames = 0;
  const uint8_t* speech = nullptr;
  uint32_t speechLength = 0;
  uint8_t mode = 0;
};

struct Mpeg4AssemblyState {
  bool haveTimestamp = false;
  uint32_t timestamp = 0;
  bool firstPacket = true;
  uint16_t nextOffset = 0;  // 0 = none
  bool continuing = false;
  uint32_t capacity = 0;
  uint32_t filled = 0;
};

struct H263AssemblyState {
  bool haveTimestamp = false;
  uint32_t timestamp = 0;
  bool continuing = false;
  uint32_t capacity = 0;
  uint32_t nextOffset = 0;  // 0 = none
  uint32_t filled = 0;
};

constexpr uint32_t kMaxTocEntries = 10;

bool PatternDiffers(const uint8_t* buffer, const uint8_t* pattern, int32_t length);
// First offset at which the whole pattern lies in the buffer; -1 when none
// (also beyond what 16 bits can name).
int16_t FindPattern(const uint8_t* pattern, uint32_t length, const uint8_t* buffer, uint32_t bufferLength);

uint8_t AssembleMpeg4VideoPayload(Mpeg4AssemblyState& state, FrameContext& ctx);
uint8_t AssembleH263Payload(H263AssemblyState& state, FrameContext& ctx);
uint8_t ParseAmrToc(FrameContext& ctx);
uint8_t ParseEvrcToc(FrameContext& ctx);
// Writes a parsed speech payload as the decoders take it: the entry count,
// the entries, the speech data. Returns the bytes written, 0 when it does
// not fit.
uint32_t WriteTocFrame(const FrameContext& ctx, uint8_t* out, uint32_t capacity);

}  // namespace streaming
