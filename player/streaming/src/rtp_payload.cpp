#include "streaming/rtp_payload.h"

#include <cstring>

namespace streaming {

namespace {
const uint8_t kGovStart[4] = {0, 0, 1, 0xB3};

// Offset of the next VOP start code at or after 'from', or -1.
int64_t findVop(const uint8_t* p, uint32_t length, uint32_t from) {
  for (uint32_t i = from; i + 4 <= length; ++i) {
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB6) return i;
  }
  return -1;
}

// H.263 picture start code: 00 00 then a byte whose top six bits are 100000.
int64_t findPsc(const uint8_t* p, uint32_t length, uint32_t from, uint32_t limit) {
  for (uint32_t i = from; i + 3 <= length && i < limit; ++i) {
    if (p[i] == 0 && p[i + 1] == 0 && (p[i + 2] & 0xFC) == 0x80) return i;
  }
  return -1;
}

uint32_t room(uint32_t capacity, uint32_t filled) { return capacity > filled ? capacity - filled : 0; }

// A frame returned inside the packet; longer than the caller's capacity it
// is cut and flagged.
uint8_t inPlace(FrameContext& ctx, uint32_t capacity, uint32_t start, uint32_t end, uint8_t flags) {
  ctx.output = ctx.payload + start;
  ctx.outputLength = end - start;
  if (ctx.outputLength > capacity) {
    ctx.outputLength = capacity;
    flags |= kFrameCut;
  }
  return flags;
}

// Appends to the caller's buffer; returns whether everything fitted.
bool append(FrameContext& ctx, uint32_t capacity, uint32_t& filled, const uint8_t* data, uint32_t n) {
  uint32_t r = room(capacity, filled);
  uint32_t take = n < r ? n : r;
  if (take) std::memcpy(ctx.buffer + filled, data, take);
  filled += take;
  ctx.output = ctx.buffer;
  ctx.outputLength = filled;
  return take == n;
}
// The previous frame lost its last packet: deliver what there is and keep
// this packet for the next call.
template <class State>
uint8_t deliverCutFrame(State& st, FrameContext& ctx) {
  st.continuing = false;
  ctx.output = ctx.buffer;
  ctx.outputLength = st.filled;
  return kFrameDone | kKeepPacket | kFrameCut;
}

// A packet with a new time stamp starts a frame.
template <class State>
void beginFrame(State& st, FrameContext& ctx) {
  st.haveTimestamp = true;
  st.timestamp = ctx.timestamp;
  st.filled = 0;
  st.nextOffset = 0;
  ctx.outputLength = 0;
}

}  // namespace

bool PatternDiffers(const uint8_t* buffer, const uint8_t* pattern, int32_t length) {
  return length >= 1 && std::memcmp(buffer, pattern, size_t(length)) != 0;
}

int16_t FindPattern(const uint8_t* pattern, uint32_t length, const uint8_t* buffer, uint32_t bufferLength) {
  if (length == 0 || length > bufferLength) return -1;
  for (uint32_t i = 0; i + length <= bufferLength && i <= 0x7FFF; ++i) {
    if (std::memcmp(buffer + i, pattern, length) == 0) return int16_t(i);
  }
  return -1;
}

uint8_t AssembleMpeg4VideoPayload(Mpeg4AssemblyState& st, FrameContext& ctx) {
  const uint8_t* p = ctx.payload;
  const uint32_t n = ctx.payloadLength;
  if (st.haveTimestamp && ctx.timestamp == st.timestamp) {
    if (st.continuing) {
      bool fitted = append(ctx, st.capacity, st.filled, p, n);
      if (ctx.marker) {
        st.continuing = false;
        return uint8_t(kFrameDone | (fitted ? 0 : kFrameCut));
      }
      if (fitted) return kFrameMore;
      st.continuing = false;
      return kFrameDone | kFrameCut;
    }
    if (st.nextOffset) {
      uint32_t start = st.nextOffset;
      int64_t next = findVop(p, n, start + 4);
      if (next >= 0) {
        st.nextOffset = uint16_t(next);
        return inPlace(ctx, st.capacity, start, uint32_t(next), kFrameDone | kKeepPacket);
      }
      st.nextOffset = 0;
      if (ctx.marker) return inPlace(ctx, st.capacity, start, n, kFrameDone);
      st.filled = 0;
      append(ctx, st.capacity, st.filled, p + start, n - start);
      st.continuing = true;
      return kFrameMore;
    }
    return kPacketError;  // a further packet of a frame already returned
  }
  if (st.continuing) return deliverCutFrame(st, ctx);
  beginFrame(st, ctx);

  uint32_t frameStart;
  int64_t vop;
  if (n >= 4 && std::memcmp(p, kGovStart, 4) == 0) {
    vop = findVop(p, n, 4);
    if (vop < 0) return kPacketError;
    frameStart = 0;
  } else {
    vop = findVop(p, n, 0);
    if (vop < 0) return kPacketError;
    // Configuration headers in front of the stream's first VOP belong to
    // the first frame.
    frameStart = st.firstPacket ? 0 : uint32_t(vop);
  }
  st.firstPacket = false;
  int64_t second = findVop(p, n, uint32_t(vop) + 4);
  if (second >= 0 && second <= 0xFFFF) {
    st.nextOffset = uint16_t(second);
    return inPlace(ctx, st.capacity, frameStart, uint32_t(second), kFrameDone | kKeepPacket);
  }
  if (ctx.marker) return inPlace(ctx, st.capacity, frameStart, n, kFrameDone);
  if (append(ctx, st.capacity, st.filled, p + frameStart, n - frameStart)) {
    st.continuing = true;
    return kFrameMore;
  }
  return kFrameDone | kFrameCut;
}

uint8_t AssembleH263Payload(H263AssemblyState& st, FrameContext& ctx) {
  // A payload shorter than its own header cannot be read.
  if (ctx.payloadLength < 2) return kPacketError;
  uint8_t* p = ctx.payload;
  const uint32_t n = ctx.payloadLength;
  uint32_t dataStart = 2;
  if ((p[0] & 0x04) && !st.nextOffset) {
    // P bit: the two zero bytes of the start code were left out; put them
    // back in place of the header.
    p[0] = p[1] = 0;
    dataStart = 0;
  } else if (st.nextOffset) {
    dataStart = 0;  // rewritten on the call that found the first picture
  }
  if (st.haveTimestamp && ctx.timestamp == st.timestamp) {
    if (st.continuing) {
      bool fitted = append(ctx, st.capacity, st.filled, p + dataStart, n - dataStart);
      if (ctx.marker) {
        st.continuing = false;
        return uint8_t(kFrameDone | (fitted ? 0 : kFrameCut));
      }
      return kFrameMore;
    }
    if (st.nextOffset) {
      uint32_t start = st.nextOffset;
      int64_t next = findPsc(p, n, start + 3, n);
      if (next >= 0) {
        st.nextOffset = uint32_t(next);
        return inPlace(ctx, st.capacity, start, uint32_t(next), kFrameDone | kKeepPacket);
      }
      st.nextOffset = 0;
      return inPlace(ctx, st.capacity, start, n, kFrameDone);
    }
    return kPacketError;
  }
  if (st.continuing) return deliverCutFrame(st, ctx);
  beginFrame(st, ctx);
  if (!ctx.marker) {
    append(ctx, st.capacity, st.filled, p + dataStart, n - dataStart);
    st.continuing = true;
    return kFrameMore;
  }
  // A whole picture in one packet must begin with a start code; a lone tail
  // of a picture whose start was lost is dropped.
  if (dataStart != 0 || n < 3 || (p[2] & 0xFC) != 0x80) return kPacketError;
  int64_t second = n > 5 ? findPsc(p, n, 3, n - 5) : -1;
  if (second >= 0) {
    st.nextOffset = uint32_t(second);
    return inPlace(ctx, st.capacity, 0, uint32_t(second), kFrameDone | kKeepPacket);
  }
  return inPlace(ctx, st.capacity, 0, n, kFrameDone);
}

namespace {
// Speech bytes per AMR frame type (modes 0 to 7, SID, reserved, no data).
const uint8_t kAmrFrameBytes[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 0, 0, 0, 0, 0, 0, 0};
}  // namespace

uint8_t ParseAmrToc(FrameContext& ctx) {
  const uint8_t* p = ctx.payload;
  const uint32_t n = ctx.payloadLength;
  ctx.outputLength = 0;
  ctx.frames = 0;
  if (n < 2) return kFrameDone | kPacketError;
  // The walk stays inside the payload.
  uint32_t i = 1, entries = 0, speechBytes = 0;
  bool last = false;
  while (i < n && !last) {
    last = !(p[i] & 0x80);
    speechBytes += kAmrFrameBytes[(p[i] >> 3) & 0x0F];
    ++entries;
    ++i;
  }
  if (!last) return kFrameDone | kPacketError;  // the table ran past the payload
  const uint32_t dataLength = n - i;
  if (dataLength < speechBytes) return kFrameDone | kPacketError;
  uint8_t flags = kFrameDone;
  uint32_t taken = entries;
  if (taken > kMaxTocEntries) {
    taken = kMaxTocEntries;
    flags |= kFrameCut;
  }
  ctx.toc = p + 1;
  ctx.frames = uint8_t(taken);
  ctx.speech = p + i;
  ctx.speechLength = dataLength;
  ctx.outputLength = 1 + taken + dataLength;
  return flags;
}

uint8_t ParseEvrcToc(FrameContext& ctx) {
  const uint8_t* p = ctx.payload;
  const uint32_t n = ctx.payloadLength;
  ctx.outputLength = 0;
  ctx.frames = 0;
  uint32_t i = 0, entries = 0;
  bool last = false;
  while (i < n && !last) {
    last = !(p[i] & 0x20);
    ++entries;
    ++i;
  }
  uint8_t flags = kFrameDone;
  uint32_t taken = entries;
  if (taken > kMaxTocEntries) {
    taken = kMaxTocEntries;
    flags |= kFrameCut;
  }
  if (!last) return uint8_t(flags | kPacketError);
  ctx.toc = p;
  ctx.frames = uint8_t(taken);
  ctx.speech = p + i;
  ctx.speechLength = n - i;
  ctx.outputLength = 1 + taken + (n - i);
  return flags;
}

uint32_t WriteTocFrame(const FrameContext& ctx, uint8_t* out, uint32_t capacity) {
  uint32_t total = 1 + ctx.frames + ctx.speechLength;
  if (total > capacity || !ctx.toc) return 0;
  out[0] = ctx.frames;
  std::memcpy(out + 1, ctx.toc, ctx.frames);
  if (ctx.speechLength) std::memcpy(out + 1 + ctx.frames, ctx.speech, ctx.speechLength);
  return total;
}

}  // namespace streaming
