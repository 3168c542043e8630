// The order of the server's message queues: a singly linked list kept by
// priority, larger first, equal priorities in order of arrival. The callers
// hold their own lock around these.
#pragma once

namespace flumera {

// Item: any record with `priority` and `next` fields.
template <class Item>
void InsertByPriority(Item*& head, Item* item) {
  item->next = nullptr;
  if (head == nullptr) {
    head = item;
  } else if (item->priority > head->priority) {
    item->next = head;
    head = item;
  } else {
    Item* at = head;
    while (at->next != nullptr && at->next->priority >= item->priority) at = at->next;
    item->next = at->next;
    at->next = item;
  }
}

template <class Item>
Item* PopHead(Item*& head) {
  Item* item = head;
  if (item != nullptr) {
    head = item->next;
    item->next = nullptr;
  }
  return item;
}

}  // namespace flumera
