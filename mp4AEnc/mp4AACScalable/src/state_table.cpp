#include "mp4aenc/state_table.h"

#include <cstdlib>
#include <cstring>

#include "mp4aenc/aaccore.h"

namespace {

const char kModule[] = "mp4AEnc/mp4AACScalable/src/state_table";

struct Entry {
  void* address;
  int operation;
  int length;  // units: 1 for a single value
  int width;   // bytes of the variable behind a single 32-bit value (4, or 8 for a long)
};

struct Group {
  int id;
  int count;
  Entry entries[kStateGroupEntries];
};

bool is_byte_operation(int op) { return op == 3 || op == 9; }
bool is_run_operation(int op) { return op == 6 || op == 7 || op == 8 || op == 9 || op == 10 || op == 11; }

}  // namespace

struct StateTable {
  int groupCount;
  Group* groups;
  int elementOf[kAacMaxChannels];  // the 0x120 group's element entry
};

namespace {

Group* find_group(const StateTable* t, int id) {
  for (int g = 0; g < t->groupCount; ++g)
    if (t->groups[g].id == id) return &t->groups[g];
  return nullptr;
}

void add(Group* g, void* address, int operation, int length = 1, int width = 4) {
  if (g->count < kStateGroupEntries) g->entries[g->count++] = Entry{address, operation, length, width};
}

ErrorRecord* resolve(const StateTable* t, uint32_t id, int count, const Entry** out) {
  if (!t) return error_create(kModule, __LINE__, nullptr, "null pointer");
  const int op = int(id >> 24), group = int((id >> 8) & 0xFFFF), index = int(id & 0xFF);
  const Group* g = find_group(t, group);
  if (!g || index >= g->count)
    return error_create(kModule, __LINE__, nullptr, "no state entry 0x%x (group 0x%x, index %d)", id, group, index);
  const Entry& e = g->entries[index];
  if (e.operation != op)
    return error_create(kModule, __LINE__, nullptr, "state entry 0x%x is reached with operation %d, not %d", id,
                        e.operation, op);
  if (is_run_operation(op) ? (count < 1 || count > e.length) : count != 1)
    return error_create(kModule, __LINE__, nullptr, "state entry 0x%x holds %d, not %d", id, e.length, count);
  *out = &e;
  return nullptr;
}

}  // namespace

ErrorRecord* state_table_build(StateTable** out, AacCore* core) {
  if (!out || !core || !core->map) return error_create(kModule, __LINE__, nullptr, "null pointer");
  *out = nullptr;
  auto* map = const_cast<AacChannelMap*>(core->map);
  const int elements = map->header.elementCount;
  auto* t = static_cast<StateTable*>(std::calloc(1, sizeof(StateTable)));
  if (t) t->groups = static_cast<Group*>(std::calloc(size_t(2 * core->channels + 1 + elements), sizeof(Group)));
  if (!t || !t->groups) {
    std::free(t);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  for (int c = 0; c < core->channels; ++c) {
    Group* g = &t->groups[t->groupCount++];
    g->id = kStateGroupChannel + c;
    add(g, &core->offsets[c], 0);
    add(g, &core->strides[c], 0);
    add(g, core->work + size_t(c) * size_t(core->frameLength), 6, core->frameLength);
  }
  for (int c = 0; c < core->channels; ++c) {
    Group* g = &t->groups[t->groupCount++];
    g->id = kStateGroupTools + c;
    for (int e = 0; e < elements; ++e) {
      AacChannelElement& el = map->elements[e];
      const bool right = el.kind == kAacPair && el.second == c;
      if (el.first != c && !right) continue;
      AacToolSwitches& sw = right ? el.right : el.left;
      add(g, &sw.tns, 1);
      add(g, &sw.prediction, 1);
      add(g, &sw.pns, 1);
      add(g, &sw.ltp, 1);
      t->elementOf[c] = e;
      add(g, &t->elementOf[c], 4);
      break;
    }
  }
  Group* shared = &t->groups[t->groupCount++];
  shared->id = kStateGroupShared;
  add(shared, &core->bitrate, 2, 1, int(sizeof(long)));
  add(shared, &core->sampleRate, 2, 1, int(sizeof(long)));
  add(shared, &core->samplingIndex, 4);
  add(shared, &core->frameLength, 4);
  add(shared, &core->lowpass, 5);
  add(shared, &core->objectType, 4);
  add(shared, &core->mode, 4);
  add(shared, &core->frames, 2, 1, int(sizeof(long)));
  for (int e = 0; e < elements; ++e) {
    AacChannelElement& el = map->elements[e];
    Group* g = &t->groups[t->groupCount++];
    g->id = kStateGroupElement + e;
    add(g, &el.kind, 4);
    add(g, &el.tag, 0);
    add(g, &el.channels, 0);
    add(g, &el.ms, 1);
    add(g, &el.intensity, 1);
    static_assert(sizeof(AacToolSwitches) == 4 * sizeof(int), "switches are four ints");
    add(g, &el.left, 8, 8);  // left, then right: one run
  }
  *out = t;
  return nullptr;
}

void state_table_free(StateTable* t) {
  if (!t) return;
  std::free(t->groups);
  std::free(t);
}

ErrorRecord* state_table_write(StateTable* t, uint32_t id, const void* value, int count) {
  const Entry* e = nullptr;
  if (ErrorRecord* err = resolve(t, id, count, &e)) return err;
  if (!value) return error_create(kModule, __LINE__, nullptr, "null pointer");
  if (is_byte_operation(e->operation)) {
    std::memcpy(e->address, value, size_t(count));
  } else if (e->width == int(sizeof(long)) && e->width != 4) {
    int32_t v = 0;
    std::memcpy(&v, value, 4);
    *static_cast<long*>(e->address) = v;
  } else {
    std::memcpy(e->address, value, size_t(count) * 4);
  }
  return nullptr;
}

ErrorRecord* state_table_read(const StateTable* t, uint32_t id, void* value, int count) {
  const Entry* e = nullptr;
  if (ErrorRecord* err = resolve(t, id, count, &e)) return err;
  if (!value) return error_create(kModule, __LINE__, nullptr, "null pointer");
  if (is_byte_operation(e->operation)) {
    std::memcpy(value, e->address, size_t(count));
  } else if (e->width == int(sizeof(long)) && e->width != 4) {
    const int32_t v = int32_t(*static_cast<const long*>(e->address));
    std::memcpy(value, &v, 4);
  } else {
    std::memcpy(value, e->address, size_t(count) * 4);
  }
  return nullptr;
}

int state_table_operation(const StateTable* t, int group, int index) {
  const Group* g = t ? find_group(t, group) : nullptr;
  return g && index >= 0 && index < g->count ? g->entries[index].operation : -1;
}

int state_table_entries(const StateTable* t, int group) {
  const Group* g = t ? find_group(t, group) : nullptr;
  return g ? g->count : 0;
}
