// Fixed-capacity buffers for reading samples back, kept in a pool so a
// sequential reader reuses them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace fileformat {

class SampleBufferPool;

class SampleBuffer {
 public:
  SampleBuffer(uint32_t capacity, SampleBufferPool* pool) : data_(capacity), pool_(pool) {}
  uint8_t* data() { return data_.data(); }
  const uint8_t* data() const { return data_.data(); }
  uint32_t capacity() const { return static_cast<uint32_t>(data_.size()); }
  uint32_t length = 0;
  // Back to the pool: 0 when done, -1 when not in use, -2 when poolless.
  int release();

 private:
  std::vector<uint8_t> data_;
  SampleBufferPool* pool_;
};

class SampleBufferPool {
 public:
  explicit SampleBufferPool(uint32_t capacity, uint32_t prepared = 0);
  // A free buffer, or a new one; wasNew tells which.
  SampleBuffer* acquire(bool* wasNew = nullptr);
  int release(SampleBuffer* b);
  uint32_t capacity() const { return capacity_; }
  size_t freeCount() const { return free_.size(); }
  size_t inUseCount() const { return inUse_.size(); }

 private:
  uint32_t capacity_;
  std::vector<std::unique_ptr<SampleBuffer>> free_;
  std::vector<std::unique_ptr<SampleBuffer>> inUse_;
};

}  // namespace fileformat
