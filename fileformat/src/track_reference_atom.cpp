#include "fileformat/track_reference_atom.h"

#include "fileformat/render.h"

namespace fileformat {

TrackReferenceTypeAtom::TrackReferenceTypeAtom(uint32_t referenceType) : Atom(referenceType) {
  recomputeSize();
}

uint32_t TrackReferenceTypeAtom::addTrackId(uint32_t id) {
  ids_.push_back(id);
  recomputeSize();
  return count();
}

void TrackReferenceTypeAtom::renderBody(std::ostream& out) const {
  for (uint32_t id : ids_) writeU32(out, id);
}

TrackReferenceAtom::TrackReferenceAtom(uint32_t referenceType) : ContainerAtom(fourcc("tref")) {
  recomputeSize();
  refs_ = adopt(std::make_unique<TrackReferenceTypeAtom>(referenceType));
}

}  // namespace fileformat
