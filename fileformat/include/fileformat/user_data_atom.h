// udta: an ordered list of owned user-data atoms, at file level and inside
// moov and trak.
#pragma once

#include <memory>

#include "fileformat/atom.h"

namespace fileformat {

class UserDataAtom : public ContainerAtom {
 public:
  UserDataAtom();

  // Appends the child and becomes its owner. The size change reaches the
  // parents too, so a udta filled after it joined moov keeps moov's size right.
  template <class T>
  T* AddAtom(std::unique_ptr<T> child) {
    return adopt(std::move(child));
  }
};

}  // namespace fileformat
