// The adaptation summary: band and partition layout of one block kind.
#include <cstdlib>

#include "mp4aenc/psy_conf.h"

static const char kModule[] = "mp4AEnc/mp4AACCore/src/psych/ad_param";

ErrorRecord* ad_param_create(AdParam** out, const PsyParam* psyParam, const CbParam* cbParam) {
  *out = nullptr;
  if (!psyParam || !cbParam || !psyParam->sfb || !psyParam->thr)
    return error_create(kModule, __LINE__, nullptr, "invalid function parameters");
  auto* a = static_cast<AdParam*>(std::calloc(1, sizeof(AdParam)));
  if (!a) return error_create(kModule, __LINE__, nullptr, "out of memory");
  a->numBands = psyParam->sfb->numBands;
  a->bandOffsets = psyParam->sfb->offsets;
  a->bandWidths = psyParam->sfb->widths;
  a->lines = psyParam->lines;
  a->bandLines = psyParam->sfb->lines;
  a->ratio = float(a->lines) / float(a->bandLines);
  a->numPartitions = cbParam->count;
  int offset = 0;
  for (int i = 0; i < cbParam->count; ++i) {
    a->partWidth[i] = cbParam->width[i];
    a->partOffset[i] = offset;
    offset += cbParam->width[i];
  }
  a->partOffset[cbParam->count] = offset;
  a->lowBark = psyParam->thr->lowBark;
  *out = a;
  return nullptr;
}

void ad_param_free(AdParam* param) { std::free(param); }
