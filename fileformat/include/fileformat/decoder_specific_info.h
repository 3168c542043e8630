// Decoder-specific information descriptors (tag 0x05): the caller's bytes, or
// one of the three fixed layouts the writer builds itself, all starting with
// the maker's vendor code 'krmm'.
#pragma once

#include <cstdint>
#include <vector>

#include "fileformat/descriptor.h"

namespace fileformat {

class DecoderSpecificInfo : public BaseDescriptor {
 public:
  DecoderSpecificInfo();
  DecoderSpecificInfo(const uint8_t* data, uint32_t length);
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 protected:
  uint32_t computePayloadSize() const override { return static_cast<uint32_t>(bytes_.size()); }
  void renderPayload(std::ostream& out) const override;

 private:
  std::vector<uint8_t> bytes_;
};

// H.263 video: level and picture size.
class VisualDecoderSpecificInfo : public BaseDescriptor {
 public:
  VisualDecoderSpecificInfo(uint8_t version, uint8_t level, uint16_t width, uint16_t height);

 protected:
  uint32_t computePayloadSize() const override { return 12; }
  void renderPayload(std::ostream& out) const override;

 private:
  uint8_t version_, level_;
  uint16_t width_, height_;
};

// AMR narrow-band: the entry's mode and the set of modes met on the track.
class AmrDecoderSpecificInfo : public BaseDescriptor {
 public:
  AmrDecoderSpecificInfo();
  void setVersion(uint8_t v) { version_ = v; }
  void setMode(uint8_t mode) { mode_ = mode & 0x0F; }
  void setModeSet(uint16_t set) { modeSet_ = set; }
  uint8_t mode() const { return mode_; }
  uint16_t modeSet() const { return modeSet_; }

 protected:
  uint32_t computePayloadSize() const override { return 12; }
  void renderPayload(std::ostream& out) const override;

 private:
  uint8_t version_ = 0;
  uint8_t mode_ = 0;
  uint16_t modeSet_ = 0;
};

// The second mode-based audio kind: a 6-bit mode.
class CompactAudioDecoderSpecificInfo : public BaseDescriptor {
 public:
  CompactAudioDecoderSpecificInfo(uint8_t version, uint8_t mode);
  uint8_t mode() const { return mode_; }

 protected:
  uint32_t computePayloadSize() const override { return 8; }
  void renderPayload(std::ostream& out) const override;

 private:
  uint8_t version_;
  uint8_t mode_;
};

}  // namespace fileformat
