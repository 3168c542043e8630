#include "mp4aenc/chanmap.h"

#include <cstring>

namespace {

const char kModule[] = "mp4AEnc/mp4AACCore/src/chanmap";

const long kRates[12] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

// Element kinds per channel count (index = count); configuration 7 is the
// 8-channel layout.
struct Layout {
  int configuration;
  int count;
  int kinds[5];
};
const Layout kLayouts[9] = {
    {0, 0, {}},
    {1, 1, {kAacSingle}},
    {2, 1, {kAacPair}},
    {3, 2, {kAacSingle, kAacPair}},
    {4, 3, {kAacSingle, kAacPair, kAacSingle}},
    {5, 3, {kAacSingle, kAacPair, kAacPair}},
    {6, 4, {kAacSingle, kAacPair, kAacPair, kAacLfe}},
    {0, 0, {}},
    {7, 5, {kAacSingle, kAacPair, kAacPair, kAacPair, kAacLfe}},
};

AacToolSwitches default_switches(int ltp) { return {1, 0, 0, ltp ? 1 : 0}; }

}  // namespace

ErrorRecord* aac_channel_map_build(AacChannelMap* map, int channels, int ltp) {
  if (!map) return error_create(kModule, __LINE__, nullptr, "null pointer");
  if (channels < 1 || channels > 8 || kLayouts[channels].count == 0)
    return error_create(kModule, __LINE__, nullptr, "this number of channels is not supported");
  std::memset(map, 0, sizeof *map);
  const Layout& layout = kLayouts[channels];
  int channel = 0, tags[4] = {};
  for (int e = 0; e < layout.count; ++e) {
    AacChannelElement& el = map->elements[e];
    el.kind = layout.kinds[e];
    el.tag = tags[el.kind]++;
    el.first = channel++;
    el.channels = 1;
    if (el.kind == kAacPair) {
      el.second = channel++;
      el.channels = 2;
      el.ms = 1;
    }
    el.left = el.right = default_switches(ltp);
    if (el.kind == kAacLfe) el.left.tns = el.right.tns = 0;
  }
  map->header.elementCount = layout.count;
  map->header.configuration = layout.configuration;
  map->header.firstIsPair = layout.kinds[0] == kAacPair;
  map->header.channels = channels;
  map->header.elements = map->elements;
  return nullptr;
}

ErrorRecord* aac_channel_map_add_coupling(AacChannelMap* map, int channel, const int* targets,
                                          int targetCount, const AacToolSwitches* switches) {
  if (!map || !targets) return error_create(kModule, __LINE__, nullptr, "null pointer");
  if (map->header.elementCount >= kAacMaxElements || targetCount < 1 || targetCount > 8)
    return error_create(kModule, __LINE__, nullptr, "too many elements");
  for (int i = 0; i < targetCount; ++i) {
    if (targets[i] < 0 || targets[i] >= map->header.elementCount)
      return error_create(kModule, __LINE__, nullptr, "coupling target %d out of range", targets[i]);
    const int kind = map->elements[targets[i]].kind;
    if (kind != kAacSingle && kind != kAacPair)
      return error_create(kModule, __LINE__, nullptr, "coupling to wrong element type");
  }
  int tag = 0;
  for (int e = 0; e < map->header.elementCount; ++e)
    if (map->elements[e].kind == kAacCoupling) ++tag;
  AacChannelElement& el = map->elements[map->header.elementCount];
  std::memset(&el, 0, sizeof el);
  el.kind = kAacCoupling;
  el.tag = tag;
  el.first = channel;
  el.channels = 1;
  el.left = el.right = switches ? *switches : default_switches(0);
  if (!switches)
    for (int i = 0; i < targetCount; ++i) {
      AacChannelElement& target = map->elements[targets[i]];
      if (target.kind == kAacSingle) target.left = el.left;
    }
  ++map->header.elementCount;
  return nullptr;
}

int aac_sampling_index(long sampleRate) {
  for (int i = 0; i < 12; ++i)
    if (kRates[i] == sampleRate) return i;
  return -1;
}

long aac_sampling_rate(int index) { return index >= 0 && index < 12 ? kRates[index] : 0; }
