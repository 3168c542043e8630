// The encoder view's settings snapshot: each setting item (0 to 50) moves one
// group of the session record into the control (load) or back (save). The
// whole-snapshot operations run the items in a fixed order, which the
// control sees as its sequence of property and method calls.
#pragma once

#include <vector>

#include "scrivel/session_settings.h"

namespace scrivel {

constexpr int kLastSettingItem = 50;

// The items of "load all" and "save all" in their order. A partial snapshot
// leaves out the source, output, clip texts, limits and content version.
std::vector<int> LoadAllItems(const CSessionSettings& record, bool partial);
std::vector<int> SaveAllItems(const CSessionSettings& record, bool partial);

}  // namespace scrivel
