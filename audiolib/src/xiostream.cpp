#include "xiostream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace audiolib {

void au_throw(int code) { throw auError{code}; }

namespace {

int64_t file_tell(FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return ftello(f);
#endif
}

int file_seek(FILE* f, int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(f, offset, whence);
#else
  return fseeko(f, off_t(offset), whence);
#endif
}

// A pipe or a terminal: a zero-distance seek fails (the Windows runtime
// answers 0 on pipes, so its file type is asked as well).
bool file_seekable(FILE* f) { return file_seek(f, 0, SEEK_CUR) == 0 && file_tell(f) >= 0; }

// 2^(8b-1) for a sample of b bytes.
constexpr double kTop[5] = {0.0, 128.0, 32768.0, 8388608.0, 2147483648.0};

}  // namespace

FileInStream::FileInStream(FILE* file) : file_(file), seekable_(file_seekable(file)) {
  if (seekable_) {
    const int64_t here = file_tell(file_);
    ::rewind(file_);
    file_seek(file_, 0, SEEK_END);
    size_ = file_tell(file_);
    file_seek(file_, here, SEEK_SET);
    if (here == size_) ::rewind(file_);
  }
  remaining_ = size_;
}

int64_t FileInStream::skip(int64_t n) {
  if (n <= 0) return 0;
  if (seekable_) {
    const int64_t here = file_tell(file_);
    const int64_t to = std::min(here + n, std::max(size_, here));
    if (file_seek(file_, to, SEEK_SET) != 0) return 0;
    return to - here;
  }
  // A pipe is read and discarded in small pieces; the end stops it early.
  uint8_t piece[20];
  int64_t done = 0;
  while (done < n) {
    const size_t want = size_t(std::min<int64_t>(sizeof piece, n - done));
    const size_t got = fread(piece, 1, want, file_);
    done += int64_t(got);
    if (got < want) break;
  }
  return done;
}

int64_t FileInStream::read(void* buffer, int64_t n) {
  if (n <= 0) return 0;
  return int64_t(fread(buffer, 1, size_t(n), file_));
}

bool FileInStream::eof() { return feof(file_) != 0; }

int64_t FileInStream::mark() {
  if (!seekable_) {
    marked_ = 0;
    remaining_ = 0;
    return 0;
  }
  marked_ = file_tell(file_);
  remaining_ = std::max<int64_t>(0, size_ - marked_);
  return marked_;
}

int64_t FileInStream::reset() {
  if (!seekable_) return -1;
  if (file_tell(file_) != marked_) file_seek(file_, marked_, SEEK_SET);
  clearerr(file_);
  return file_tell(file_);
}

int64_t FileInStream::rewind() {
  if (!seekable_) return -1;
  ::rewind(file_);
  return file_tell(file_);
}

FileOutStream::FileOutStream(FILE* file) : file_(file), seekable_(file_seekable(file)) {}

int64_t FileOutStream::write(const void* buffer, int64_t n) {
  if (n <= 0) return 0;
  return int64_t(fwrite(buffer, 1, size_t(n), file_));
}

int64_t FileOutStream::tell() { return seekable_ ? file_tell(file_) : -1; }

int64_t FileOutStream::seek(int64_t position) {
  if (!seekable_) return -1;
  return file_seek(file_, position, SEEK_SET) == 0 ? position : -1;
}

PeekInStream::~PeekInStream() {
  if (owns_) delete inner_;
}

int PeekInStream::reserve(int n) {
  if (held_ != 0 || n <= 0) return -1;
  ring_.assign(size_t(n), 0);
  head_ = 0;
  return 0;
}

int PeekInStream::unread(const void* bytes, int n) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  const int cap = int(ring_.size());
  int i = 0;
  for (; i < n && held_ < cap; ++i, ++held_) ring_[size_t((head_ + held_) % cap)] = p[i];
  return i == n ? 0 : -1;
}

int64_t PeekInStream::read(void* buffer, int64_t n) {
  auto* p = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  const int cap = int(ring_.size());
  while (done < n && held_ > 0) {
    p[done++] = ring_[size_t(head_)];
    head_ = (head_ + 1) % cap;
    --held_;
  }
  if (done < n) done += inner_->read(p + done, n - done);
  return done;
}

int64_t PeekInStream::skip(int64_t n) {
  if (n <= 0) return 0;
  const int64_t from_ring = std::min<int64_t>(held_, n);
  if (from_ring > 0) {
    head_ = int((head_ + from_ring) % int64_t(ring_.size()));
    held_ -= int(from_ring);
  }
  return from_ring + (n > from_ring ? inner_->skip(n - from_ring) : 0);
}

int64_t PeekInStream::rewind() {
  const int64_t r = inner_->rewind();
  if (r >= 0) held_ = 0;
  return r;
}

int32_t decode_top(const uint8_t* p, int b, bool little) {
  uint32_t v = 0;
  const int take = std::min(b, 4);
  for (int i = 0; i < take; ++i) {
    // i-th most significant byte of the sample
    const uint8_t byte = little ? p[b - 1 - i] : p[i];
    v |= uint32_t(byte) << (24 - 8 * i);
  }
  return int32_t(v);
}

uint32_t get_bytes(const uint8_t* p, int b, bool little) {
  uint32_t v = 0;
  for (int i = 0; i < b; ++i) v |= uint32_t(little ? p[i] : p[b - 1 - i]) << (8 * i);
  return v;
}

void put_bytes(uint8_t* p, uint32_t value, int b, bool little) {
  for (int i = 0; i < b; ++i) {
    const uint8_t byte = uint8_t(value >> (8 * i));
    if (little)
      p[i] = byte;
    else
      p[b - 1 - i] = byte;
  }
}

template <typename T>
int64_t SampleInStream::readAny(T* dst, int b, int64_t count) {
  if (b <= 0 || b > 4 || count <= 0) return 0;
  const int64_t cap = int64_t(sizeof work_) / b * b;
  const int64_t total = int64_t(b) * count;
  const double f = scale_ / 2147483648.0;
  int64_t done = 0;
  while (done < total) {
    const int64_t ask = std::min(cap, total - done);
    const int64_t got = in_->read(work_, ask);
    const int64_t whole = got > 0 ? got / b * b : 0;
    T* out = dst + done / b;
    for (int64_t i = 0; i < whole / b; ++i) {
      const int32_t top = decode_top(work_ + i * b, b, little_);
      if constexpr (sizeof(T) == 2)
        out[i] = int16_t(uint32_t(top) >> 16);
      else
        out[i] = float(double(top) * f);
    }
    done += whole;
    if (got < ask) break;
  }
  return done / b;
}

int64_t SampleInStream::read(float* dst, int b, int64_t count) { return readAny(dst, b, count); }
int64_t SampleInStream::read(int16_t* dst, int b, int64_t count) { return readAny(dst, b, count); }

void SampleOutStream::encode(float x, int b, uint8_t* p) {
  const double top = kTop[b];  // 2^(n-1)
  const double g = double(x) * top / scale_;
  double h = g + 0.5;
  int64_t v;
  if (h <= -top) {
    v = int64_t(-top);
    ++clips_;
  } else if (h >= top) {
    v = int64_t(top) - 1;
    ++clips_;
  } else {
    if (b == 1 ? h <= -0.5 : h <= 0.0) h -= 1.0;
    v = int64_t(h);  // toward zero
  }
  const double a = std::fabs(g);
  if (a > peak_ * (top - 1.0)) peak_ = a / (top - 1.0);
  put_bytes(p, uint32_t(v), b, little_);
}

void SampleOutStream::encode(int16_t x, int b, uint8_t* p) {
  const uint32_t top = uint32_t(uint16_t(x)) << 16;  // the two most significant bytes
  put_bytes(p, top >> (32 - 8 * b), b, little_);
}

template <typename T>
int64_t SampleOutStream::writeAny(const T* src, int b, int64_t count) {
  if (b <= 0 || b > 4 || count <= 0) return 0;
  const int64_t per_pass = int64_t(sizeof work_) / b;
  int64_t done = 0;  // samples
  while (done < count) {
    const int64_t n = std::min(per_pass, count - done);
    for (int64_t i = 0; i < n; ++i) encode(src[done + i], b, work_ + i * b);
    const int64_t took = out_->write(work_, n * b);
    done += std::max<int64_t>(0, took) / b;
    if (took < n * b) break;
  }
  return done;
}

int64_t SampleOutStream::write(const float* src, int b, int64_t count) { return writeAny(src, b, count); }
int64_t SampleOutStream::write(const int16_t* src, int b, int64_t count) { return writeAny(src, b, count); }

}  // namespace audiolib
