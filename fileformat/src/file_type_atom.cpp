#include "fileformat/file_type_atom.h"

#include "fileformat/render.h"

namespace fileformat {

FileTypeAtom::FileTypeAtom() : Atom(fourcc("ftyp")) { recomputeSize(); }

void FileTypeAtom::renderBody(std::ostream& out) const {
  writeU32(out, majorBrand_);
  writeU32(out, minorVersion_);
  for (uint32_t b : compatibleBrands_) writeU32(out, b);
}

}  // namespace fileformat
