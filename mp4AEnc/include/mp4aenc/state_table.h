// The state access table: named access to a core's internal variables by
// identifier, (operation << 24) | (group << 8) | index. Built at every AAC
// and scalable open over each core; the scalable coder's parameter access
// writes through it.
//
// Groups: 0x110 + channel (input offset, stride, the channel's input block),
// 0x120 + channel (the channel's four tool switches and its element's index),
// 0x130 (the shared figures: bitrate, sample rate, sampling index, frame
// length, lowpass, object type, mode, frames coded) and 0x140 + element
// (kind, tag, channels, mid/side and intensity switches, both channels'
// switches as one run). At most 255 entries a group.
//
// The operation names what the entry holds: 0, 1, 2, 4 and 5 one 32-bit
// value, 3 one byte, 6, 7, 8, 10 and 11 a run of 32-bit values, 9 a run of
// bytes. An access must name the entry's own operation.
#pragma once

#include <cstdint>

#include "mp4aenc/error.h"

struct AacCore;
struct StateTable;

constexpr int kStateGroupChannel = 0x110;
constexpr int kStateGroupTools = 0x120;
constexpr int kStateGroupShared = 0x130;
constexpr int kStateGroupElement = 0x140;
constexpr int kStateGroupEntries = 255;

inline uint32_t state_id(int operation, int group, int index) {
  return (uint32_t(operation) << 24) | (uint32_t(group & 0xFFFF) << 8) | uint32_t(index & 0xFF);
}

// Entries of the tool group (0x120 + channel).
enum StateToolEntry { kStateTns = 0, kStatePrediction = 1, kStatePns = 2, kStateLtp = 3, kStateElement = 4 };

ErrorRecord* state_table_build(StateTable** out, AacCore* core);
void state_table_free(StateTable* table);

// Copies `count` units (32-bit values, or bytes for operation 3 and 9) in
// or out of the entry the identifier names. A single-value operation takes
// exactly one unit; a run at most the entry's length. Unknown groups and
// indices, a wrong operation and a wrong count are errors; nothing is
// copied then.
ErrorRecord* state_table_write(StateTable* table, uint32_t id, const void* value, int count);
ErrorRecord* state_table_read(const StateTable* table, uint32_t id, void* value, int count);
// The operation of an entry; -1 when there is none.
int state_table_operation(const StateTable* table, int group, int index);
// Entries in a group; 0 when the group does not exist.
int state_table_entries(const StateTable* table, int group);
