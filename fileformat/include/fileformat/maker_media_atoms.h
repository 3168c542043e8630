// iods and the maker's small media atoms: wmfs (movie), vinf and wmfm (track).
#pragma once

#include "fileformat/atom.h"
#include "fileformat/object_descriptor.h"

namespace fileformat {

class ObjectDescriptorAtom : public FullAtom {
 public:
  ObjectDescriptorAtom(uint8_t version = 0, uint32_t flags = 0);
  InitialObjectDescriptor* descriptor() const { return iod_.get(); }

 protected:
  uint64_t bodySize() const override { return iod_->totalSize(); }
  void renderBody(std::ostream& out) const override { iod_->render(out); }

 private:
  std::unique_ptr<InitialObjectDescriptor> iod_;
};

class WMFSessionAtom : public FullAtom {
 public:
  WMFSessionAtom();
  uint32_t value1 = 0, value2 = 0, value3 = 1;

 protected:
  uint64_t bodySize() const override { return 12; }
  void renderBody(std::ostream& out) const override;
};

class VideoInformationAtom : public FullAtom {
 public:
  VideoInformationAtom();
  void setValues(uint16_t first, uint16_t second) {
    first_ = first;
    second_ = second;
  }

 protected:
  uint64_t bodySize() const override { return 4; }
  void renderBody(std::ostream& out) const override;

 private:
  uint16_t first_ = 0, second_ = 0;
};

class WMFMediaAtom : public FullAtom {
 public:
  WMFMediaAtom();
  void setMediaValue(uint32_t v) { mediaValue_ = v; }

 protected:
  uint64_t bodySize() const override { return 8; }
  void renderBody(std::ostream& out) const override;

 private:
  uint32_t firstValue_ = 1;
  uint32_t mediaValue_ = 0;  // written least significant byte first
};

}  // namespace fileformat
