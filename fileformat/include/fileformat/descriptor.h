// The bases of the MPEG-4 Systems descriptors: a tag, a size field of 7-bit
// groups and a payload. Like atoms, a descriptor keeps its size current and
// tells its container (a descriptor or an atom) after every change.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

#include "fileformat/atom.h"

namespace fileformat {

class DescriptorRenderable : public AtomRenderable {
 public:
  DescriptorRenderable() = default;
  DescriptorRenderable(const DescriptorRenderable&) = delete;
  DescriptorRenderable& operator=(const DescriptorRenderable&) = delete;

  // The payload size, as the render interface answers for descriptors.
  uint32_t size() const override { return payloadSize_; }
  uint32_t payloadSize() const { return payloadSize_; }
  uint32_t sizeFieldBytes() const { return sizeFieldLength_; }
  // Tag, size field and payload.
  uint32_t totalSize() const { return 1 + sizeFieldLength_ + payloadSize_; }

  AtomRenderable* parent() const { return parent_; }
  void setParent(AtomRenderable* parent) { parent_ = parent; }

  void recomputeSize() override;
  // Indented text for diagnostics; most descriptors print nothing.
  virtual void dump(std::ostream&) const {}

 protected:
  virtual uint32_t computePayloadSize() const = 0;

 private:
  AtomRenderable* parent_ = nullptr;
  uint32_t sizeFieldLength_ = 1;
  uint32_t payloadSize_ = 0;
};

class BaseDescriptor : public DescriptorRenderable {
 public:
  explicit BaseDescriptor(uint8_t tag) : tag_(tag) {}
  uint8_t tag() const { return tag_; }
  void render(std::ostream& out) const override;

 protected:
  virtual void renderPayload(std::ostream& out) const = 0;

 private:
  uint8_t tag_;
};

// Object-descriptor commands share the descriptor layout.
using BaseCommand = BaseDescriptor;

// Writes a size field of exactly sizeFieldLength(value) bytes: 7-bit groups,
// most significant first, bit 7 set on all but the last byte.
void writeSizeField(std::ostream& out, uint32_t value);

// An owned list of child descriptors whose container is told of size changes.
template <class T>
class DescriptorList {
 public:
  T* add(std::unique_ptr<T> d, AtomRenderable* owner) {
    T* raw = d.get();
    raw->setParent(owner);
    items_.push_back(std::move(d));
    return raw;
  }
  uint32_t totalSize() const {
    uint32_t n = 0;
    for (const auto& d : items_) n += d->totalSize();
    return n;
  }
  void render(std::ostream& out) const {
    for (const auto& d : items_) d->render(out);
  }
  size_t count() const { return items_.size(); }
  T* at(size_t i) const { return i < items_.size() ? items_[i].get() : nullptr; }
  void clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<T>> items_;
};

}  // namespace fileformat
