#include "fileformat/edit_atom.h"

#include "fileformat/render.h"

namespace fileformat {

EditAtom::EditAtom() : Atom(fourcc("edts")), elst_(std::make_unique<EditListAtom>()) {
  elst_->setParent(this);
  recomputeSize();
}

void EditAtom::addEdit(uint32_t duration, uint32_t mediaTime, uint16_t rate) {
  elst_->AddEntry(duration, mediaTime, rate);
}

void EditAtom::addEmptyEdit(uint32_t duration) { addEdit(duration, 0xFFFFFFFF, 1); }

void EditAtom::renderBody(std::ostream& out) const {
  if (elst_->entryCount()) elst_->render(out);
}

}  // namespace fileformat
