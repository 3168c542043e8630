// tref with its one reference-type child ('dpnd', 'mpod' or 'hint').
#pragma once

#include <vector>

#include "fileformat/atom.h"

namespace fileformat {

class TrackReferenceTypeAtom : public Atom {
 public:
  explicit TrackReferenceTypeAtom(uint32_t referenceType);
  // Returns the new number of ids: the 1-based position of this one.
  uint32_t addTrackId(uint32_t id);
  uint32_t trackId(size_t i) const { return i < ids_.size() ? ids_[i] : 0; }
  uint32_t count() const { return static_cast<uint32_t>(ids_.size()); }

 protected:
  uint64_t bodySize() const override { return 4 * ids_.size(); }
  void renderBody(std::ostream& out) const override;

 private:
  std::vector<uint32_t> ids_;
};

class TrackReferenceAtom : public ContainerAtom {
 public:
  explicit TrackReferenceAtom(uint32_t referenceType);
  TrackReferenceTypeAtom* references() const { return refs_; }

 private:
  TrackReferenceTypeAtom* refs_;
};

}  // namespace fileformat
