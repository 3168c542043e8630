// ftyp: the first top-level atom; brand and minor version, no compatible brands.
#pragma once

#include "fileformat/atom.h"

namespace fileformat {

class FileTypeAtom : public Atom {
 public:
  FileTypeAtom();
  void SetMajorBrand(uint32_t brand) { majorBrand_ = brand; }
  void SetMinorVersion(uint32_t version) { minorVersion_ = version; }
  uint32_t majorBrand() const { return majorBrand_; }
  uint32_t minorVersion() const { return minorVersion_; }

 protected:
  uint64_t bodySize() const override { return 8; }
  void renderBody(std::ostream& out) const override;

 private:
  uint32_t majorBrand_ = 0;
  uint32_t minorVersion_ = 0;
};

}  // namespace fileformat
