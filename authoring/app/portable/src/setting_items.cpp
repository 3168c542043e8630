#include "scrivel/setting_items.h"

namespace scrivel {

namespace {

// One by one: g++ 12 at -O3 sees a range insert into the small first
// vector as out of bounds (a false -Warray-bounds).
void Append(std::vector<int>& to, std::initializer_list<int> items) {
  for (int item : items) to.push_back(item);
}

}  // namespace

std::vector<int> LoadAllItems(const CSessionSettings& r, bool partial) {
  std::vector<int> items{0, 1, 2};
  // Audio-only and still-image sessions push no video rates.
  if (r.streamOut != 1 && r.streamOut != kStillImageStream) {
    Append(items, {3, 5});
    if (r.nLayers == 2) Append(items, {4, 6});
  }
  Append(items, {7, 8, 9, 45, 46, 47, 48, 10, 40, 49, 50});
  if (!partial) Append(items, {28, 15, 27, 16, 31, 30, 29, 41});
  return items;
}

std::vector<int> SaveAllItems(const CSessionSettings& r, bool partial) {
  std::vector<int> items{0, 1, 2, 3, 5};
  if (r.nLayers == 2) Append(items, {4, 6});
  Append(items, {7, 8, 9, 45, 46, 47, 48, 10, 40, 49, 50});
  if (!partial) Append(items, {28, 15, 27, 16, 29, 30, 31, 41});
  return items;
}

}  // namespace scrivel
