#include "shell/portable/dialog_geometry.h"

namespace shell {

bool CentreOverOwner(const Rect32& owner, int32_t width, int32_t height, int32_t screenWidth,
                     int32_t screenHeight, int32_t* x, int32_t* y) {
  const int32_t ownerWidth = owner.right - owner.left;
  const int32_t ownerHeight = owner.bottom - owner.top;
  *x = owner.left + ownerWidth / 2 - width / 2;
  *y = owner.top + ownerHeight / 2 - height / 2;
  return *x >= 1 && *y >= 1 && *x + width < screenWidth && *y + height < screenHeight;
}

int32_t CentreOrAlign(int32_t ownerStart, int32_t ownerSize, int32_t size) {
  if (size > ownerSize) return ownerStart;
  return ownerStart + (ownerSize - size) / 2;
}

size_t FilterListLength(const char16_t* filter) {
  if (!filter) return 0;
  size_t n = 0;
  // Each pass takes one pair; an empty first string ends the list.
  for (;;) {
    if (filter[n] == 0) return n + 1;
    while (filter[n]) ++n;
    ++n;
    while (filter[n]) ++n;
    ++n;
  }
}

}  // namespace shell
