// Loudness cut: the quietest bands of each window group go, up to a share
// of the group's loudness between ldnsMin and ldnsMax by the workload.
#include <cstdlib>
#include <cstring>

#include "mp4aenc/band_reduce.h"
#include "mp4aenc/numutil.h"

namespace {
const char kModule[] = "mp4AEnc/mp4AACCore/src/tools/ldns_cut";
constexpr int kMaskBands = 63;
}  // namespace

ErrorRecord* LdnsCutInit(LdnsCutState** out, float ldnsMin, float ldnsMax, float ldnsAvg) {
  *out = nullptr;
  auto* s = static_cast<LdnsCutState*>(std::calloc(1, sizeof(LdnsCutState)));
  if (s) s->mask = static_cast<int*>(std::calloc(kMaskBands, sizeof(int)));
  if (!s || !s->mask) {
    std::free(s);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  s->ldnsMin = ldnsMin, s->ldnsMax = ldnsMax, s->ldnsAvg = ldnsAvg;
  *out = s;
  return nullptr;
}

void LdnsCutFree(LdnsCutState* s) {
  if (!s) return;
  std::free(s->mask);
  std::free(s);
}

int LdnsCutFrame(PsyOut* o, const float* loudness, float* pe, float workload, LdnsCutState* s) {
  const float absCut = s->ldnsMin + (s->ldnsMax - s->ldnsMin) * workload;
  // A start/stop transition forgets the last cut.
  if (o->blockType == 3 || s->lastBlockType == 1) std::memset(s->mask, 0, sizeof(int) * kMaskBands);
  const int n = o->bandsPerWindow < kMaskBands ? o->bandsPerWindow : kMaskBands;
  int cut = 0, groupStart = 0;
  for (int g = 0; g < o->groups; ++g) {
    const float* loud = loudness + g * kPsyMaxBands;
    const int len = o->groupLength[g];
    float sum = 0.0f;
    for (int b = 0; b < n; ++b) sum += loud[b];
    const float avg = n ? sum / float(n) : 0.0f;
    // Bands cut last frame sort earlier: the cut set stays put.
    float key[kMaskBands];
    int order[kMaskBands];
    for (int b = 0; b < n; ++b) {
      key[b] = loud[b];
      if (s->mask[b]) key[b] = key[b] - 0.2f * avg > 0.0f ? key[b] - 0.2f * avg : 0.0f;
    }
    sort_indices(key, order, n);
    int offsets[kPsyMaxBands + 1] = {0};
    for (int b = 0; b < o->bandsPerWindow; ++b) offsets[b + 1] = offsets[b] + o->bandWidths[b];
    float cutSum = 0.0f;
    bool stop = false;
    for (int k = 0; k < n; ++k) {
      const int b = order[k];
      // The cut stays within its share of the group's loudness.
      if (!stop && loud[b] < avg * s->ldnsAvg && cutSum + loud[b] <= sum * absCut) {
        s->mask[b] = 1;
        cutSum += loud[b];
        ++cut;
        std::memset(o->spectrum + groupStart + len * offsets[b], 0, sizeof(float) * size_t(len * o->bandWidths[b]));
        o->energy[g * kPsyMaxBands + b] = 0.0f;
        if (pe) pe[g * kPsyMaxBands + b] = 0.0f;
      } else {
        stop = true;
        s->mask[b] = 0;
      }
    }
    groupStart += len * offsets[o->bandsPerWindow];
  }
  s->lastBlockType = o->blockType;
  return cut;
}
