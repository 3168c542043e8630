// Message queues between the server's threads and its host: items kept in
// priority order (larger first, equal priorities in order of arrival).
#pragma once

#include <winsock2.h>  // before windows.h, for whoever includes both
#include <windows.h>

#include "flumera/flumera_api.h"

// One numbering for both directions.
enum KRStreamMsgTypes {
  KRM_MEDIA_DATA = 1,
  KRM_PRIME = 2,
  KRM_PLAY = 3,
  KRM_STOP = 4,
  KRM_PAUSE = 5,
  KRM_ADMISSION = 6,
  KRM_PRIME_REPLY = 7,
  KRM_PLAY_REPLY = 8,
  KRM_STOP_REPLY = 9,
  KRM_PAUSE_REPLY = 10,
  KRM_CLIENT_PLAYING = 11,
  KRM_NO_CLIENTS = 12,
  KRM_CLIENT_NOTICE = 14,
  KRM_PORT_FAILURE = 15,
  KRM_ARCHIVE_SAMPLE_FAILED = 16,
  KRM_ARCHIVE_DONE = 17,
  KRM_PAUSED_BY_CLIENT = 18,
};

typedef long MsgPriority;

struct MSGDATAITEM;

template <class T>
struct QueueItem;

// Allocated zeroed from the process heap by the sender, freed there by the
// consumer.
template <>
struct QueueItem<MSGDATAITEM> {
  KRStreamMsgTypes type;
  unsigned char* data;
  unsigned long extra;
  int length;
  long reserved;  // always 0
  MsgPriority priority;
  QueueItem* next;
};
typedef QueueItem<MSGDATAITEM> MsgItem;
#ifndef _WIN64
static_assert(sizeof(MsgItem) == 28, "shared with the host");
#endif

// Allocates a zeroed item from the process heap (null when out of memory).
FLUMERA_API MsgItem* AllocMsgItem();
FLUMERA_API void FreeMsgItem(MsgItem* item);

class FLUMERA_API MsgDataList {
 public:
  MsgDataList();
  ~MsgDataList();
  MsgDataList(const MsgDataList&) = delete;
  MsgDataList& operator=(const MsgDataList&) = delete;

  void Insert(MsgItem* item);
  MsgItem* Pop();  // null when empty; the caller owns the item
  int GetCount();

 private:
  long tag_ = -1;
  int count_ = 0;
  MsgItem* head_ = nullptr;
  MsgItem* cursor_ = nullptr;
  CRITICAL_SECTION* lock_ = nullptr;
};
