// ftyp: the first top-level atom; brand and minor version, and compatible
// brands only when a caller adds some (the archive recorder adds none).
#pragma once

#include <vector>

#include "fileformat/atom.h"

namespace fileformat {

class FileTypeAtom : public Atom {
 public:
  FileTypeAtom();
  void SetMajorBrand(uint32_t brand) { majorBrand_ = brand; }
  void SetMinorVersion(uint32_t version) { minorVersion_ = version; }
  uint32_t majorBrand() const { return majorBrand_; }
  uint32_t minorVersion() const { return minorVersion_; }
  void AddCompatibleBrand(uint32_t brand) {
    compatibleBrands_.push_back(brand);
    recomputeSize();
  }

 protected:
  uint64_t bodySize() const override { return 8 + 4 * uint64_t(compatibleBrands_.size()); }
  void renderBody(std::ostream& out) const override;

 private:
  uint32_t majorBrand_ = 0;
  uint32_t minorVersion_ = 0;
  std::vector<uint32_t> compatibleBrands_;
};

}  // namespace fileformat
