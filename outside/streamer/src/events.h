// Which graph events a message of the live server becomes.
#pragma once

#include <winsock2.h>  // before windows.h: the server's headers want it
#include <windows.h>

struct GraphEvent {
  long code;
  LONG_PTR p1, p2;
  // What p1 carries: nothing of its own, the message's client record (p2 its
  // length), or the port of the message as decimal text (p2 its length).
  enum Block { kNone, kRecord, kPortText } block;
};

// Fills out (room for two) and answers how many events the message gives.
int EventsFor(int type, unsigned long extra, GraphEvent* out);
