// Scalable difference control: its set-up by sample rate. It serves only
// the layered coder of object type 6.
#include <cstdlib>

#include "mp4aenc/band_reduce.h"
#include "mp4aenc/param.h"

namespace {

const char kModule[] = "mp4AEnc/mp4AACCore/src/tools/diffctrl";

struct Row {
  long rate;
  int units, value2, value3;
  int units6, value2of6, value3of6;  // core type 6; 0: no row
};
const Row kRows[] = {
    {96000, 4, 8, 2, 6, 20, 5},    {88200, 4, 8, 2, 6, 20, 5},    {64000, 5, 13, 4, 6, 24, 6},
    {48000, 5, 18, 5, 7, 36, 7},   {44100, 5, 18, 5, 7, 36, 7},   {32000, 6, 26, 6, 8, 60, 9},
    {24000, 8, 36, 8, 10, 76, 12}, {22050, 8, 36, 8, 10, 76, 12}, {16000, 8, 54, 11, 10, 120, 15},
    {12000, 10, 104, 14, 0, 0, 0}, {11025, 10, 104, 14, 0, 0, 0}, {8000, 9, 104, 14, 0, 0, 0},
};

}  // namespace

bool diff_ctrl_table(long sampleRate, int coreType, int* units, int* value2, int* value3) {
  for (const Row& r : kRows) {
    if (r.rate != sampleRate) continue;
    if (coreType == 6) {
      if (!r.units6) return false;
      *units = r.units6, *value2 = r.value2of6, *value3 = r.value3of6;
    } else {
      *units = r.units, *value2 = r.value2, *value3 = r.value3;
    }
    return true;
  }
  return false;
}

ErrorRecord* DiffCtrlInit(DiffCtrlState** out, int /*value*/, int coreType, long sampleRate, int frameLength,
                          int monoLayer) {
  *out = nullptr;
  int units = 0, v2 = 0, v3 = 0;
  if (!diff_ctrl_table(sampleRate, coreType, &units, &v2, &v3))
    return error_create(kModule, __LINE__, nullptr, "unsupported diff control sample rate");
  auto* s = static_cast<DiffCtrlState*>(std::calloc(1, sizeof(DiffCtrlState)));
  if (s) {
    s->core = static_cast<float*>(std::calloc(size_t(frameLength), sizeof(float)));
    s->work = static_cast<float*>(std::calloc(size_t(frameLength), sizeof(float)));
    if (monoLayer) s->mono = static_cast<float*>(std::calloc(size_t(frameLength), sizeof(float)));
  }
  if (!s || !s->core || !s->work || (monoLayer && !s->mono)) {
    DiffCtrlFree(s);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  s->frameLength = frameLength;
  for (int& f : s->flags) f = 1;
  // The mono-layer mode works in units of four bands, each marked (1, 1).
  s->units = monoLayer ? 4 * units : units;
  s->unitValue2 = v2, s->unitValue3 = v3;
  for (int u = 0; u < s->units && u < 40; ++u) s->unitMark[2 * u] = 1, s->unitMark[2 * u + 1] = monoLayer ? 1 : 2;
  param_get_int("DiffCtrlLo", 0, 2, "0 PE controlled (def.)  1 All Flags on (=simulcast) 2 All Flags off ; for long blocks",
                nullptr, &s->modeLong);
  param_get_int("DiffCtrlSh", 0, 2,
                "0 PE controlled (def.)  1 All Flags on (=simulcast) 2 All Flags off ; for short blocks", nullptr,
                &s->modeShort);
  *out = s;
  return nullptr;
}

void DiffCtrlFree(DiffCtrlState* s) {
  if (!s) return;
  std::free(s->core);
  std::free(s->work);
  std::free(s->mono);
  std::free(s);
}
