#include "mp4aenc/prconfig.h"

#include <cstring>
#include <initializer_list>
#include <utility>

namespace {

const char kModule[] = "mp4AEnc/mp4BitstreamWriter/mp4bitstreamwriter/src/prconfig";
const char* const kSpeakerCounts[] = {"", "one", "two", "three", "four", "five", "six"};

void clear_lists(ProgramConfig* p) {
  p->frontCount = p->sideCount = p->backCount = p->lfeCount = p->assocCount = p->couplingCount = 0;
}

void add(ProgramSpeaker* list, int* count, const AacChannelElement& el) {
  list[*count].isCpe = el.kind == kAacPair;
  list[*count].tag = el.tag;
  ++*count;
}

// Coupling elements always go to the coupling list.
bool add_by_kind(ProgramConfig* p, const AacChannelElement& el) {
  if (el.kind == kAacCoupling) {
    p->coupling[p->couplingCount].isCpe = 0;  // not independently switched
    p->coupling[p->couplingCount++].tag = el.tag;
    return true;
  }
  return false;
}

int speakers_of(const AacChannelElement& el) { return el.kind == kAacPair ? 2 : 1; }

}  // namespace

ErrorRecord* pce_by_configuration(ProgramConfig* p, const AacChannelMap* map, int configuration) {
  if (!p || !map) return error_create(kModule, __LINE__, nullptr, "null pointer");
  clear_lists(p);
  if (configuration < 1 || configuration > 6)
    return error_create(kModule, __LINE__, nullptr, "this speaker mapping is not yet supported");
  int speakers = 0, lfe = 0;
  for (int e = 0; e < map->header.elementCount; ++e) {
    const AacChannelElement& el = map->elements[e];
    if (add_by_kind(p, el)) continue;
    if (el.kind == kAacLfe) {
      if (configuration != 6)
        return error_create(kModule, __LINE__, nullptr, "wrong syntactic element for this configuration");
      p->lfe[p->lfeCount++] = el.tag;
      ++lfe;
      ++speakers;
      continue;
    }
    if (el.kind != kAacSingle && el.kind != kAacPair)
      return error_create(kModule, __LINE__, nullptr, "wrong syntactic element for this configuration");
    if (configuration >= 3 && speakers == 0 && el.kind == kAacPair)
      return error_create(kModule, __LINE__, nullptr, "CPE may not be the first element in this configuration");
    if (configuration == 1 && el.kind == kAacPair)
      return error_create(kModule, __LINE__, nullptr, "wrong syntactic element for this configuration");
    // Configurations 1-3 are all front; from 4 on the first three speakers
    // are front and the rest back.
    if (configuration <= 3 || speakers + speakers_of(el) <= 3) {
      if (p->frontCount >= 15) return error_create(kModule, __LINE__, nullptr, "too many front elements");
      add(p->front, &p->frontCount, el);
    } else {
      if (p->backCount >= 15) return error_create(kModule, __LINE__, nullptr, "too many back elements");
      add(p->back, &p->backCount, el);
    }
    speakers += speakers_of(el);
  }
  if (configuration == 6 && lfe != 1)
    return error_create(kModule, __LINE__, nullptr, "configuration must contain an LFE");
  if (speakers != configuration)
    return error_create(kModule, __LINE__, nullptr, "this configuration contains %s speaker%s",
                        kSpeakerCounts[configuration], configuration == 1 ? "" : "s");
  return nullptr;
}

ErrorRecord* pce_by_position(ProgramConfig* p, const AacChannelMap* map, const int* hints) {
  if (!p || !map) return error_create(kModule, __LINE__, nullptr, "null pointer");
  clear_lists(p);
  for (int e = 0; e < map->header.elementCount; ++e) {
    const AacChannelElement& el = map->elements[e];
    if (add_by_kind(p, el)) continue;
    if (el.kind == kAacLfe) {
      if (p->lfeCount >= 3) return error_create(kModule, __LINE__, nullptr, "too many LFE elements");
      p->lfe[p->lfeCount++] = el.tag;
      continue;
    }
    const int hint = hints ? hints[e] : (el.kind == kAacPair ? 1 : 0);
    if (hint == 1)
      add(p->side, &p->sideCount, el);
    else if (hint == 2)
      add(p->back, &p->backCount, el);
    else
      add(p->front, &p->frontCount, el);
  }
  return nullptr;
}

ErrorRecord* pce_by_element_type(ProgramConfig* p, const AacChannelMap* map) {
  return pce_by_position(p, map, nullptr);
}

ErrorRecord* pce_from_speakers(ProgramConfig* p, const AacChannelMap* map, const char* speakers) {
  if (!p || !map || !speakers) return error_create(kModule, __LINE__, nullptr, "null pointer");
  const int n = int(std::strlen(speakers));
  for (int i = 0; i < n; ++i)
    if (speakers[i] != 'F' && speakers[i] != 'S' && speakers[i] != 'B')
      return error_create(kModule, __LINE__, nullptr, "Error in spk format string!");
  int hints[kAacMaxElements] = {};
  for (int e = 0; e < map->header.elementCount; ++e) {
    const int first = map->elements[e].first;
    if (first >= n) return error_create(kModule, __LINE__, nullptr, "Error in spk format string!");
    hints[e] = speakers[first] == 'S' ? 1 : speakers[first] == 'B' ? 2 : 0;
  }
  return pce_by_position(p, map, hints);
}

namespace {

// Writes or counts (out null) the element.
long put_pce(BitBuffer* out, const ProgramConfig* p, long offset) {
  long bits = 0;
  auto put = [&](uint32_t v, int n) {
    if (out) bitbuf_write_bits(out, v, n);
    bits += n;
  };
  put(uint32_t(p->tag), 4);
  put(uint32_t(p->objectType), 2);
  put(uint32_t(p->samplingIndex), 4);
  put(uint32_t(p->frontCount), 4);
  put(uint32_t(p->sideCount), 4);
  put(uint32_t(p->backCount), 4);
  put(uint32_t(p->lfeCount), 2);
  put(uint32_t(p->assocCount), 3);
  put(uint32_t(p->couplingCount), 4);
  put(uint32_t(p->monoMixdown != 0), 1);
  if (p->monoMixdown) put(uint32_t(p->monoElement), 4);
  put(uint32_t(p->stereoMixdown != 0), 1);
  if (p->stereoMixdown) put(uint32_t(p->stereoElement), 4);
  put(uint32_t(p->matrixMixdown != 0), 1);
  if (p->matrixMixdown) {
    put(uint32_t(p->matrixIndex), 2);
    put(uint32_t(p->pseudoSurround != 0), 1);
  }
  for (const auto& [list, count] : {std::pair{p->front, p->frontCount}, std::pair{p->side, p->sideCount},
                                    std::pair{p->back, p->backCount}})
    for (int i = 0; i < count; ++i) {
      put(uint32_t(list[i].isCpe), 1);
      put(uint32_t(list[i].tag), 4);
    }
  for (int i = 0; i < p->lfeCount; ++i) put(uint32_t(p->lfe[i]), 4);
  for (int i = 0; i < p->assocCount; ++i) put(uint32_t(p->assocData[i]), 4);
  for (int i = 0; i < p->couplingCount; ++i) {
    put(uint32_t(p->coupling[i].isCpe), 1);
    put(uint32_t(p->coupling[i].tag), 4);
  }
  const long pad = (8 - (offset + bits) % 8) % 8;
  put(0, int(pad));
  put(uint32_t(p->commentBytes), 8);
  for (int i = 0; i < p->commentBytes; ++i) put(p->comment[i], 8);
  return bits;
}

}  // namespace

int pce_write(BitBuffer* out, const ProgramConfig* p, long alignStart) {
  if (!out || !p) return -1;
  const int64_t before = bitbuf_bit_position(out);
  const long need = put_pce(nullptr, p, long(before - alignStart));
  if (bitbuf_bit_count(out) + need > out->capacity) return -1;
  put_pce(out, p, long(before - alignStart));
  return 0;
}

long pce_bits(const ProgramConfig* p, long offset) { return p ? put_pce(nullptr, p, offset) : 0; }
