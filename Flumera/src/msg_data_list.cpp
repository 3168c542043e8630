#include "flumera/msg_data_list.h"

#include "flumera/priority_list.h"

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
  EnterCriticalSection(lock_);
  ++count_;
  flumera::InsertByPriority(head_, item);
  LeaveCriticalSection(lock_);
}

MsgItem* MsgDataList::Pop() {
  EnterCriticalSection(lock_);
  MsgItem* item = flumera::PopHead(head_);
  if (item != nullptr && --count_ == 0) head_ = nullptr;
  LeaveCriticalSection(lock_);
  return item;
}

int MsgDataList::GetCount() {
  EnterCriticalSection(lock_);
  const int n = count_;
  LeaveCriticalSection(lock_);
  return n;
}
