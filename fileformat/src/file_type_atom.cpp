#include "fileformat/file_type_atom.h"

#include "fileformat/render.h"

namespace fileformat {

FileTypeAtom::FileTypeAtom() : Atom(fourcc("ftyp")) { recomputeSize(); }

void FileTypeAtom::renderBody(std::ostream& out) const {
  writeU32(out, majorBrand_);
  writeU32(out, minorVersion_);
}

}  // namespace fileformat
