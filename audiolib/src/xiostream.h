// Byte streams under the readers and writers, and the sample codec that
// turns bytes of any width (1..4) and byte order into 16-bit or float
// samples and back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace audiolib {

// The library's internal failure: 2 unsupported encoding or width, 3 wrong
// magic or form, 4 compressed AIFC, 5 output not seekable for a chunked
// format, 6 input too short, 7 short write, 8 misuse inside the library.
struct auError {
  int code;
};
[[noreturn]] void au_throw(int code);

class ByteInStream {
 public:
  virtual ~ByteInStream() = default;
  virtual int64_t skip(int64_t n) = 0;
  virtual int64_t read(void* buffer, int64_t n) = 0;
  virtual bool eof() = 0;
  virtual int64_t mark() { return -1; }
  virtual int64_t reset() { return -1; }
  virtual int64_t remaining() { return -1; }
  virtual int64_t rewind() { return -1; }
};

class ByteOutStream {
 public:
  virtual ~ByteOutStream() = default;
  virtual int64_t write(const void* buffer, int64_t n) = 0;
  virtual bool seekable() = 0;
  virtual int64_t tell() = 0;
  virtual int64_t seek(int64_t position) = 0;
};

// A stdio FILE, not owned (the handle closes it).
class FileInStream : public ByteInStream {
 public:
  explicit FileInStream(FILE* file);
  int64_t skip(int64_t n) override;
  int64_t read(void* buffer, int64_t n) override;
  bool eof() override;
  int64_t mark() override;
  int64_t reset() override;
  int64_t remaining() override { return remaining_; }
  int64_t rewind() override;

 private:
  FILE* file_;
  bool seekable_;
  int64_t marked_ = 0;
  int64_t size_ = 0;
  int64_t remaining_ = 0;
};

class FileOutStream : public ByteOutStream {
 public:
  explicit FileOutStream(FILE* file);
  int64_t write(const void* buffer, int64_t n) override;
  bool seekable() override { return seekable_; }
  int64_t tell() override;
  int64_t seek(int64_t position) override;

 private:
  FILE* file_;
  bool seekable_;
};

// Bytes read for detection are pushed back and delivered again first.
class PeekInStream : public ByteInStream {
 public:
  explicit PeekInStream(ByteInStream* inner, bool owns = true) : inner_(inner), owns_(owns) {}
  ~PeekInStream() override;
  int reserve(int n);
  int unread(const void* bytes, int n);
  int64_t skip(int64_t n) override;
  int64_t read(void* buffer, int64_t n) override;
  bool eof() override { return held_ == 0 && inner_->eof(); }
  int64_t mark() override { return inner_->mark(); }
  int64_t reset() override { return inner_->reset(); }
  int64_t remaining() override { return inner_->remaining(); }
  // Drops the held bytes only when the inner stream could go back to its
  // start: on a pipe they are the only copy of the first bytes.
  int64_t rewind() override;

 private:
  ByteInStream* inner_;
  bool owns_;
  std::vector<uint8_t> ring_;
  int head_ = 0;
  int held_ = 0;
};

class SampleInStream {
 public:
  SampleInStream(ByteInStream* in, bool littleEndian, double scale)
      : in_(in), little_(littleEndian), scale_(scale) {}
  // Reads up to `count` samples of `bytesPerSample` bytes; only whole
  // samples are delivered. Answers the samples decoded.
  int64_t read(float* dst, int bytesPerSample, int64_t count);
  int64_t read(int16_t* dst, int bytesPerSample, int64_t count);
  bool littleEndian() const { return little_; }
  double scale() const { return scale_; }

 private:
  template <typename T>
  int64_t readAny(T* dst, int b, int64_t count);
  ByteInStream* in_;
  bool little_;
  double scale_;
  uint8_t work_[10080];
};

class SampleOutStream {
 public:
  SampleOutStream(ByteOutStream* out, bool littleEndian, double scale)
      : out_(out), little_(littleEndian), scale_(scale) {}
  int64_t write(const float* src, int bytesPerSample, int64_t count);
  int64_t write(const int16_t* src, int bytesPerSample, int64_t count);
  int32_t clips() const { return clips_; }
  double peak() const { return peak_; }
  double scale() const { return scale_; }

 private:
  template <typename T>
  int64_t writeAny(const T* src, int b, int64_t count);
  void encode(float x, int b, uint8_t* p);
  void encode(int16_t x, int b, uint8_t* p);
  ByteOutStream* out_;
  bool little_;
  double scale_;
  int32_t clips_ = 0;
  double peak_ = 0.0;
  uint8_t work_[10080];
};

// Helpers for the sample codec, exposed for tests and the chunk engine.
int32_t decode_top(const uint8_t* p, int b, bool little);  // MSBs at the top of 32 bits
void put_bytes(uint8_t* p, uint32_t value, int b, bool little);  // the low b bytes
uint32_t get_bytes(const uint8_t* p, int b, bool little);

}  // namespace audiolib
