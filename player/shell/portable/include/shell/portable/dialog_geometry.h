// Placement and text-list arithmetic of the file dialogs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace shell {

struct Rect32 {
  int32_t left, top, right, bottom;
};

// Centres a dialog of the given size over its owner; false (leave it where it
// is) unless it then lies inside the screen with at least one pixel to spare
// at the top and left.
bool CentreOverOwner(const Rect32& owner, int32_t width, int32_t height, int32_t screenWidth,
                     int32_t screenHeight, int32_t* x, int32_t* y);

// One direction of the placement of the player's own dialogs over their
// owner: centred ((owner - dialog) / 2 from the owner's edge, truncated
// toward zero) when the dialog is not larger, else aligned with the edge.
int32_t CentreOrAlign(int32_t ownerStart, int32_t ownerSize, int32_t size);

// Units of a file-dialog filter list (pairs of terminated strings closed by
// an empty string) up to and including the final terminator; 0 for null.
size_t FilterListLength(const char16_t* filter);

}  // namespace shell
