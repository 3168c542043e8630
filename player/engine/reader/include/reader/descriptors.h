// MPEG-4 Systems descriptors as the reader keeps them: the initial object
// descriptor of iods and the ES descriptor of each esds, with the decoder
// configuration and its decoder-specific information. Every descriptor must
// lie inside the descriptor or atom that holds it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reader/mp4_atom.h"

namespace reader {

class Mp4Descriptor : public Mp4Element {
 public:
  // Reads tag and expandable size at the position; limit is the container end.
  Mp4Descriptor(Mp4Stream& s, uint64_t limit);

  uint8_t tag() const { return tag_; }
  uint32_t sizeBytes() const { return sizeBytes_; }
  uint32_t payloadSize() const { return payload_; }
  // Tag byte + size bytes + payload.
  uint64_t totalSize() const { return 1ull + sizeBytes_ + payload_; }

 protected:
  uint8_t tag_ = 0;
  uint32_t sizeBytes_ = 0;
  uint32_t payload_ = 0;
};

class DecoderSpecificInfo : public Mp4Descriptor {
 public:
  DecoderSpecificInfo(Mp4Stream& s, uint64_t limit, uint8_t objectType);
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  // Fields of the maker's H.263 (0xC0), AMR (0xD0) and EVRC (0xD1) layouts;
  // 0 where the payload is shorter than the layout.
  uint32_t vendor = 0;
  uint8_t decoderVersion = 0;
  uint8_t mode = 0;        // AMR mode (low 4 bits: frame type), EVRC byte, H.263 first byte
  uint8_t secondByte = 0;  // H.263 second byte
  uint16_t modeSet = 0;    // AMR
  uint16_t word1 = 0;      // H.263
  uint16_t word2 = 0;      // H.263
  uint32_t extra = 0;      // AMR

 private:
  std::vector<uint8_t> bytes_;
};

class DecoderConfigDescriptor : public Mp4Descriptor {
 public:
  DecoderConfigDescriptor(Mp4Stream& s, uint64_t limit);
  ~DecoderConfigDescriptor() override { delete info; }
  uint8_t objectTypeIndication = 0;
  uint8_t streamType = 0;
  bool upstream = false;
  uint32_t bufferSize = 0;
  uint32_t maxBitrate = 0;
  uint32_t averageBitrate = 0;
  DecoderSpecificInfo* info = nullptr;
};

class SlConfigDescriptor : public Mp4Descriptor {
 public:
  SlConfigDescriptor(Mp4Stream& s, uint64_t limit);
  uint8_t predefined = 0;
};

class EsDescriptor : public Mp4Descriptor {
 public:
  EsDescriptor(Mp4Stream& s, uint64_t limit);
  ~EsDescriptor() override {
    delete decoderConfig;
    delete slConfig;
  }
  uint16_t esId = 0;
  bool streamDependence = false;
  bool urlFlag = false;
  bool ocrStream = false;
  uint8_t streamPriority = 0;
  uint16_t dependsOnEsId = 0;
  std::string url;
  uint16_t ocrEsId = 0;
  DecoderConfigDescriptor* decoderConfig = nullptr;
  SlConfigDescriptor* slConfig = nullptr;
};

class InitialObjectDescriptor : public Mp4Descriptor {
 public:
  InitialObjectDescriptor(Mp4Stream& s, uint64_t limit);
  uint16_t objectDescriptorId = 0;
  bool urlFlag = false;
  bool includeInlineProfiles = false;
  std::string url;
  uint8_t profileLevels[5] = {};  // object descriptor, scene, audio, visual, graphics
  std::vector<uint32_t> esIdIncTrackIds;
};

// iods
class Mp4ObjectDescriptorAtom : public Mp4FullAtom {
 public:
  Mp4ObjectDescriptorAtom(Mp4Stream& s, uint64_t limit);
  ~Mp4ObjectDescriptorAtom() override { delete descriptor; }
  InitialObjectDescriptor* descriptor = nullptr;
};

// esds
class Mp4EsdAtom : public Mp4FullAtom {
 public:
  Mp4EsdAtom(Mp4Stream& s, uint64_t limit);
  ~Mp4EsdAtom() override { delete descriptor; }
  EsDescriptor* descriptor = nullptr;
};

// AMR frames as stored (speech bits most significant bit first, no header)
// into interface format 2 (frame type in the low nibble of byte 0, speech bits
// least significant bit first after it), as the AMR decoder library takes them.
class AmrIf2Converter {
 public:
  // Bytes of a stored and of an IF2 frame of frame type 0..8; 0 for 9..15.
  static uint32_t StoredBytes(uint8_t frameType);
  static uint32_t If2Bytes(uint8_t frameType);
  // Converts one frame; returns the IF2 bytes written, 0 for frame types 9 to
  // 15 or when out cannot hold the frame. Never writes past the IF2 frame and
  // keeps the last speech bits (they go into the frame's last byte).
  static uint32_t Convert(const uint8_t* stored, uint32_t storedLength, uint8_t frameType,
                          uint8_t* out, uint32_t capacity);
};

}  // namespace reader
