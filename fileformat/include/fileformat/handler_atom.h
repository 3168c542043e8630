// hdlr: the track's handler type and its fixed name.
#pragma once

#include <string>

#include "fileformat/atom.h"

namespace fileformat {

class HandlerAtom : public FullAtom {
 public:
  HandlerAtom(uint32_t handlerType, uint8_t version = 0, uint32_t flags = 0);
  void SetHandlerType(uint32_t handlerType);
  uint32_t handlerType() const { return handlerType_; }
  const std::string& name() const { return name_; }

 protected:
  uint64_t bodySize() const override { return 20 + name_.size() + 1; }
  void renderBody(std::ostream& out) const override;

 private:
  uint32_t handlerType_ = 0;
  std::string name_;
};

}  // namespace fileformat
