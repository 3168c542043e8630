// edts: wraps the track's edit list.
#pragma once

#include "fileformat/atom.h"
#include "fileformat/edit_list_atom.h"

namespace fileformat {

class EditAtom : public Atom {
 public:
  EditAtom();
  void addEdit(uint32_t duration, uint32_t mediaTime, uint16_t rate);
  // An edit that shows nothing for that long (media time -1).
  void addEmptyEdit(uint32_t duration);
  EditListAtom* editList() const { return elst_.get(); }

 protected:
  // The edit list counts, and is written, from its first edit on.
  uint64_t bodySize() const override { return elst_->entryCount() ? elst_->size() : 0; }
  void renderBody(std::ostream& out) const override;

 private:
  std::unique_ptr<EditListAtom> elst_;
};

}  // namespace fileformat
