#include "fileformat/user_data_atom.h"

#include "fileformat/render.h"

namespace fileformat {

UserDataAtom::UserDataAtom() : ContainerAtom(fourcc("udta")) { recomputeSize(); }

}  // namespace fileformat
