#include "flumera/msg_data_list.h"

MsgItem* AllocMsgItem() {
  return static_cast<MsgItem*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(MsgItem)));
}

void FreeMsgItem(MsgItem* item) {
  if (item) HeapFree(GetProcessHeap(), 0, item);
}

MsgDataList::MsgDataList() {
  lock_ = new CRITICAL_SECTION;
  InitializeCriticalSection(lock_);
}

MsgDataList::~MsgDataList() {
  DeleteCriticalSection(lock_);
  delete lock_;
}

void MsgDataList::Insert(MsgItem* item) {
  item->next = nullptr;
  EnterCriticalSection(lock_);
  ++count_;
  if (head_ == nullptr) {
    head_ = item;
  } else if (item->priority > head_->priority) {
    item->next = head_;
    head_ = item;
  } else {
    // Behind the last item of at least this priority: arrival order holds
    // among equals.
    MsgItem* at = head_;
    while (at->next != nullptr && at->next->priority >= item->priority) at = at->next;
    item->next = at->next;
    at->next = item;
  }
  LeaveCriticalSection(lock_);
}

MsgItem* MsgDataList::Pop() {
  EnterCriticalSection(lock_);
  MsgItem* item = head_;
  if (item != nullptr) {
    head_ = item->next;
    if (--count_ == 0) head_ = nullptr;
    item->next = nullptr;
  }
  LeaveCriticalSection(lock_);
  return item;
}

int MsgDataList::GetCount() {
  EnterCriticalSection(lock_);
  const int n = count_;
  LeaveCriticalSection(lock_);
  return n;
}
