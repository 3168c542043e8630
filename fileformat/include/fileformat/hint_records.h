// The per-sample records a hint sample entry collects for the samples of the
// track it hints: each renders onto the file and packs into a caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>

namespace fileformat {

class HintRecord {
 public:
  virtual ~HintRecord() = default;
  virtual void render(std::ostream& out) const = 0;
  // Packs the record into buf (at least 16 bytes); returns the bytes written.
  virtual size_t serialize(uint8_t* buf) const = 0;
  virtual uint32_t renderedSize() const = 0;
  // Bits 4-6 of a video record's flag byte; 0 for the other records.
  virtual uint8_t recordClass() const { return 0; }
  uint32_t offset() const { return offset_; }

 protected:
  explicit HintRecord(uint32_t offset) : offset_(offset) {}
  uint32_t offset_;
};

// Kind 1: a video sample of the general path.
class HintSampleRecord : public HintRecord {
 public:
  HintSampleRecord(uint8_t flagByte, uint32_t time, uint32_t size, uint32_t offset);
  void render(std::ostream& out) const override;
  size_t serialize(uint8_t* buf) const override;
  uint32_t renderedSize() const override { return 16; }
  uint8_t recordClass() const override { return (flagByte_ >> 4) & 7; }

 private:
  uint8_t flagByte_;
  uint32_t time_;  // low 16 bits of the time stamp
  uint32_t size_;
};

// Kind 0: an audio sample; carries the frame's mode.
class HintAudioRecord : public HintRecord {
 public:
  HintAudioRecord(uint8_t firstDataByte, uint16_t time, uint32_t size, uint32_t offset);
  void render(std::ostream& out) const override;
  size_t serialize(uint8_t* buf) const override;
  uint32_t renderedSize() const override { return 16; }

 private:
  uint8_t mode_;
  uint16_t time_;
  uint32_t size_;
};

// Kind 2: a video sample of the video-sample route, with its extra byte.
class HintVideoRecord2 : public HintRecord {
 public:
  HintVideoRecord2(uint32_t time, uint32_t size, uint8_t extra, uint32_t offset);
  void render(std::ostream& out) const override;
  size_t serialize(uint8_t* buf) const override;
  uint32_t renderedSize() const override { return 14; }

 private:
  uint32_t time_;
  uint32_t size_;
  uint8_t extra_;
};

}  // namespace fileformat
