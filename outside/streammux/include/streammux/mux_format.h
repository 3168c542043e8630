// The stream multiplexer's identities and its output: every input sample
// forwarded as one output sample, a 16-byte header in front of its bytes.
// The streamer reads it.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
// {DECF6B90-03BD-11D5-BF59-00B0D0741880}
static const GUID CLSID_KRStreamMux = {0xDECF6B90, 0x03BD, 0x11D5, {0xBF, 0x59, 0x00, 0xB0, 0xD0, 0x74, 0x18, 0x80}};
// The output's subtype (major type MEDIATYPE_Stream).
// {DECF6B91-03BD-11D5-BF59-00B0D0741880}
static const GUID MEDIASUBTYPE_KRMuxStream = {0xDECF6B91, 0x03BD, 0x11D5, {0xBF, 0x59, 0x00, 0xB0, 0xD0, 0x74, 0x18, 0x80}};
#endif

namespace streammux {

constexpr uint8_t kKindVideo = 1;
constexpr uint8_t kKindAudio = 2;
// Video flags as the live server reads them: a key picture has neither 0x10
// nor 0x20; a predicted one carries 0x10.
constexpr uint8_t kVideoKey = 0x00;
constexpr uint8_t kVideoPredicted = 0x10;
constexpr size_t kHeaderBytes = 16;

// Header layout, little-endian: kind (1), flags (1), two zero bytes, start
// (ms, 4), duration (ms, 4), payload length (4).
struct SampleHeader {
  uint8_t kind = 0;
  uint8_t flags = 0;
  uint32_t startMs = 0;
  uint32_t durationMs = 0;
  uint32_t length = 0;
};

inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void WriteHeader(uint8_t* out, const SampleHeader& h) {
  out[0] = h.kind;
  out[1] = h.flags;
  out[2] = out[3] = 0;
  PutU32(out + 4, h.startMs);
  PutU32(out + 8, h.durationMs);
  PutU32(out + 12, h.length);
}

// False when the bytes hold no header, an unknown kind, or a length that
// runs past them.
inline bool ReadHeader(const uint8_t* in, size_t available, SampleHeader* h) {
  if (available < kHeaderBytes) return false;
  h->kind = in[0];
  h->flags = in[1];
  h->startMs = GetU32(in + 4);
  h->durationMs = GetU32(in + 8);
  h->length = GetU32(in + 12);
  if (h->kind != kKindVideo && h->kind != kKindAudio) return false;
  return h->length <= available - kHeaderBytes;
}

}  // namespace streammux
