#include "fileformat/sample_buffer.h"

namespace fileformat {

int SampleBuffer::release() { return pool_ ? pool_->release(this) : -2; }

SampleBufferPool::SampleBufferPool(uint32_t capacity, uint32_t prepared) : capacity_(capacity) {
  for (uint32_t i = 0; i < prepared; ++i) free_.push_back(std::make_unique<SampleBuffer>(capacity, this));
}

SampleBuffer* SampleBufferPool::acquire(bool* wasNew) {
  if (wasNew) *wasNew = free_.empty();
  if (free_.empty()) {
    inUse_.push_back(std::make_unique<SampleBuffer>(capacity_, this));
  } else {
    inUse_.push_back(std::move(free_.back()));
    free_.pop_back();
  }
  inUse_.back()->length = 0;
  return inUse_.back().get();
}

int SampleBufferPool::release(SampleBuffer* b) {
  for (size_t i = 0; i < inUse_.size(); ++i) {
    if (inUse_[i].get() == b) {
      free_.push_back(std::move(inUse_[i]));
      inUse_.erase(inUse_.begin() + static_cast<std::ptrdiff_t>(i));
      return 0;
    }
  }
  return -1;
}

}  // namespace fileformat
