#include <gtest/gtest.h>

#include <vector>

#include "flumera/priority_list.h"

namespace {

struct Item {
  long priority;
  int id;
  Item* next;
};

TEST(PriorityList, LargerFirstEqualInArrivalOrder) {
  struct Case { std::vector<long> priorities; std::vector<int> order; };
  const Case cases[] = {
      {{1, 3, 3, 2}, {1, 2, 3, 0}},
      {{0, 0, 0}, {0, 1, 2}},
      {{-1, 5, -1, 5, 0}, {1, 3, 4, 0, 2}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    std::vector<Item> items(c.priorities.size());
    Item* head = nullptr;
    for (size_t i = 0; i < items.size(); ++i) {
      items[i] = {c.priorities[i], int(i), nullptr};
      flumera::InsertByPriority(head, &items[i]);
    }
    std::vector<int> order;
    while (Item* i = flumera::PopHead(head)) order.push_back(i->id);
    EXPECT_EQ(order, c.order);
    EXPECT_EQ(head, nullptr);
  }
}

}  // namespace
