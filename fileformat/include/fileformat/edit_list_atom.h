// elst: segments of the track's timeline.
#pragma once

#include <vector>

#include "fileformat/atom.h"

namespace fileformat {

class EditListAtom : public FullAtom {
 public:
  EditListAtom();
  void AddEntry(uint32_t segmentDuration, uint32_t mediaTime, uint16_t mediaRate);
  uint32_t entryCount() const { return static_cast<uint32_t>(durations_.size()); }

 protected:
  uint64_t bodySize() const override { return 4 + 12 * durations_.size(); }
  void renderBody(std::ostream& out) const override;

 private:
  std::vector<uint32_t> durations_;
  std::vector<uint32_t> mediaTimes_;
  std::vector<uint16_t> rates_;
};

}  // namespace fileformat
