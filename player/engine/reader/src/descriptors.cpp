#include "reader/descriptors.h"

#include <cstring>

namespace reader {

Mp4Descriptor::Mp4Descriptor(Mp4Stream& s, uint64_t limit) {
  if (limit > s.size()) limit = s.size();
  if (!s.ReadByte(tag_)) {
    ok_ = false;
    return;
  }
  // At most four size bytes: a longer chain is not a valid descriptor.
  uint8_t b = 0x80;
  while (b & 0x80) {
    if (sizeBytes_ == 4 || !s.ReadByte(b)) {
      ok_ = false;
      return;
    }
    payload_ = (payload_ << 7) | (b & 0x7F);
    ++sizeBytes_;
  }
  end_ = s.tell() + payload_;
  if (end_ > limit) ok_ = false;
}

DecoderSpecificInfo::DecoderSpecificInfo(Mp4Stream& s, uint64_t limit, uint8_t objectType)
    : Mp4Descriptor(s, limit) {
  if (!ok_ || payload_ < 1) {
    Fail(READ_DECODER_SPECIFIC_INFO_FAILED);
    return;
  }
  bytes_.resize(payload_);
  if (!s.ReadBytes(bytes_.data(), payload_)) {
    Fail(READ_DECODER_SPECIFIC_INFO_FAILED);
    return;
  }
  // The maker's fixed layouts are read from the payload itself, so a payload
  // of another length never moves the stream off the descriptor's end.
  uint8_t f[12] = {};
  std::memcpy(f, bytes_.data(), payload_ < 12 ? payload_ : 12);
  auto u16 = [&](int i) { return static_cast<uint16_t>((f[i] << 8) | f[i + 1]); };
  auto u32 = [&](int i) {
    return (uint32_t(f[i]) << 24) | (uint32_t(f[i + 1]) << 16) | (uint32_t(f[i + 2]) << 8) | f[i + 3];
  };
  if (objectType == 0xC0 || objectType == 0xD0 || objectType == 0xD1) {
    vendor = u32(0);
    decoderVersion = f[4];
    mode = f[5];
  }
  if (objectType == 0xC0) {
    secondByte = f[6];
    word1 = u16(8);
    word2 = u16(10);
  } else if (objectType == 0xD0) {
    modeSet = u16(6);
    extra = u32(8);
  }
  Finish(s, READ_DECODER_SPECIFIC_INFO_FAILED);
}

DecoderConfigDescriptor::DecoderConfigDescriptor(Mp4Stream& s, uint64_t limit)
    : Mp4Descriptor(s, limit) {
  constexpr int32_t kCode = READ_DECODER_CONFIG_DESCRIPTOR_FAILED;
  if (!ok_) {
    Fail(kCode);
    return;
  }
  uint8_t typeByte;
  if (!s.ReadByte(objectTypeIndication) || !s.ReadByte(typeByte) || !s.ReadU24(bufferSize) ||
      !s.ReadU32(maxBitrate) || !s.ReadU32(averageBitrate) || s.tell() > end_) {
    Fail(kCode);
    return;
  }
  streamType = typeByte >> 2;
  upstream = (typeByte & 2) != 0;
  if (totalSize() > sizeBytes_ + 14ull) {
    uint8_t next;
    if (!s.PeekByte(next) || next != 0x05) {
      Fail(kCode);
      return;
    }
    info = BuildAtom<DecoderSpecificInfo>(s, end_, objectTypeIndication);
    if (!info || !info->ok()) {
      Fail(READ_DECODER_SPECIFIC_INFO_FAILED);
      return;
    }
  }
  if ((streamType == 4 || streamType == 5) && !info) {
    Fail(kCode);
    return;
  }
  Finish(s, kCode);
}

SlConfigDescriptor::SlConfigDescriptor(Mp4Stream& s, uint64_t limit) : Mp4Descriptor(s, limit) {
  if (!ok_ || !s.ReadByte(predefined) || s.tell() > end_) {
    Fail(READ_SL_CONFIG_DESCRIPTOR_FAILED);
    return;
  }
  Finish(s, READ_SL_CONFIG_DESCRIPTOR_FAILED);
}

EsDescriptor::EsDescriptor(Mp4Stream& s, uint64_t limit) : Mp4Descriptor(s, limit) {
  constexpr int32_t kCode = READ_ES_DESCRIPTOR_FAILED;
  uint8_t flags;
  if (!ok_ || !s.ReadU16(esId) || !s.ReadByte(flags)) {
    Fail(kCode);
    return;
  }
  streamDependence = flags & 0x80;
  urlFlag = flags & 0x40;
  ocrStream = flags & 0x20;
  streamPriority = flags & 0x1F;
  if (streamDependence && !s.ReadU16(dependsOnEsId)) {
    Fail(kCode);
    return;
  }
  if (urlFlag) {
    uint8_t n;
    if (!s.ReadByte(n) || s.tell() + n > end_) {
      Fail(kCode);
      return;
    }
    url.resize(n);
    if (!s.ReadBytes(url.data(), n)) {
      Fail(kCode);
      return;
    }
  }
  uint8_t next = 0;
  if (ocrStream && (!s.PeekByte(next) || next != 0x04) && !s.ReadU16(ocrEsId)) {
    Fail(kCode);
    return;
  }
  if (s.tell() > end_ || !s.PeekByte(next) || next != 0x04) {
    Fail(kCode);
    return;
  }
  if (int32_t e = 0; !BuildInto(decoderConfig, e, kCode, s, end_)) {
    Fail(e);
    return;
  }
  if (!s.PeekByte(next) || next != 0x06 || s.tell() >= end_) {
    Fail(kCode);
    return;
  }
  if (int32_t e = 0; !BuildInto(slConfig, e, kCode, s, end_)) {
    Fail(e);
    return;
  }
  Finish(s, kCode);
}

InitialObjectDescriptor::InitialObjectDescriptor(Mp4Stream& s, uint64_t limit)
    : Mp4Descriptor(s, limit) {
  constexpr int32_t kCode = READ_INITIAL_OBJECT_DESCRIPTOR_FAILED;
  uint16_t word;
  if (!ok_ || !s.ReadU16(word)) {
    Fail(kCode);
    return;
  }
  objectDescriptorId = word >> 6;
  urlFlag = word & 0x20;
  includeInlineProfiles = word & 0x10;
  if (urlFlag) {
    uint8_t n;
    if (!s.ReadByte(n) || s.tell() + n > end_) {
      Fail(kCode);
      return;
    }
    url.resize(n);
    if (!s.ReadBytes(url.data(), n)) Fail(kCode);
    Finish(s, kCode);
    return;
  }
  if (payload_ < 7 || !s.ReadBytes(profileLevels, 5)) {
    Fail(kCode);
    return;
  }
  // ES descriptors may follow instead of ES_ID_Inc ones; they are not read here.
  uint8_t next = 0;
  if (s.tell() < end_ && s.PeekByte(next) && next != 0 && next != 0x03) {
    while (s.tell() < end_) {
      Mp4Descriptor inc(s, end_);
      uint32_t trackId;
      if (!inc.ok() || inc.payloadSize() < 4 || !s.ReadU32(trackId) || !s.Seek(inc.end())) {
        Fail(kCode);
        return;
      }
      esIdIncTrackIds.push_back(trackId);
    }
  }
  Finish(s, kCode);
}

Mp4ObjectDescriptorAtom::Mp4ObjectDescriptorAtom(Mp4Stream& s, uint64_t limit)
    : Mp4FullAtom(s, limit) {
  if (!ok_) {
    Fail(READ_OBJECT_DESCRIPTOR_ATOM_FAILED);
    return;
  }
  descriptor = BuildAtom<InitialObjectDescriptor>(s, end_);
  if (!descriptor || !descriptor->ok()) {
    Fail(READ_INITIAL_OBJECT_DESCRIPTOR_FAILED);
    return;
  }
  Finish(s, READ_OBJECT_DESCRIPTOR_ATOM_FAILED);
}

Mp4EsdAtom::Mp4EsdAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  uint8_t tag;
  if (!ok_ || !s.PeekByte(tag) || tag != 0x03) {
    Fail(READ_ESD_ATOM_FAILED);
    return;
  }
  if (int32_t e = 0; !BuildInto(descriptor, e, READ_ESD_ATOM_FAILED, s, end_)) {
    Fail(e);
    return;
  }
  Finish(s, READ_ESD_ATOM_FAILED);
}

namespace {

constexpr uint8_t kStoredBytes[9] = {12, 13, 15, 17, 19, 20, 26, 31, 5};
constexpr uint8_t kIf2Bytes[9] = {13, 14, 16, 18, 19, 21, 26, 31, 6};

struct BitReverseTable {
  uint8_t v[256];
  constexpr BitReverseTable() : v() {
    for (int i = 0; i < 256; ++i) {
      int r = 0;
      for (int b = 0; b < 8; ++b)
        if (i & (1 << b)) r |= 0x80 >> b;
      v[i] = static_cast<uint8_t>(r);
    }
  }
};
constexpr BitReverseTable kReverse;

}  // namespace

uint32_t AmrIf2Converter::StoredBytes(uint8_t frameType) {
  return frameType < 9 ? kStoredBytes[frameType] : 0;
}

uint32_t AmrIf2Converter::If2Bytes(uint8_t frameType) {
  return frameType < 9 ? kIf2Bytes[frameType] : 0;
}

uint32_t AmrIf2Converter::Convert(const uint8_t* stored, uint32_t storedLength, uint8_t frameType,
                                  uint8_t* out, uint32_t capacity) {
  const uint32_t n = StoredBytes(frameType);
  const uint32_t frame = If2Bytes(frameType);
  if (frame == 0 || !out || capacity < frame) return 0;
  std::memset(out, 0, capacity);
  out[0] = frameType;
  uint8_t carry = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t r = kReverse.v[i < storedLength ? stored[i] : 0];
    out[i] = static_cast<uint8_t>(out[i] | carry | (r << 4));
    carry = r >> 4;
  }
  // Where the IF2 frame is a byte longer than the stored one, the last
  // nibble of speech bits belongs in that byte; otherwise it is padding.
  if (frame > n) out[n] |= carry;
  return frame;
}

}  // namespace reader
