#include "fileformat/edit_list_atom.h"

#include "fileformat/render.h"

namespace fileformat {

EditListAtom::EditListAtom() : FullAtom(fourcc("elst"), 0, 0) { recomputeSize(); }

void EditListAtom::AddEntry(uint32_t segmentDuration, uint32_t mediaTime, uint16_t mediaRate) {
  durations_.push_back(segmentDuration);
  mediaTimes_.push_back(mediaTime);
  rates_.push_back(mediaRate);
  recomputeSize();
}

void EditListAtom::renderBody(std::ostream& out) const {
  writeU32(out, entryCount());
  for (size_t i = 0; i < durations_.size(); ++i) {
    writeU32(out, durations_[i]);
    writeU32(out, mediaTimes_[i]);
    writeU16(out, rates_[i]);
    writeU16(out, 0);  // rate fraction
  }
}

}  // namespace fileformat
