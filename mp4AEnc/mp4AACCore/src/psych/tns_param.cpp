// TNS defaults by bitrate, and the TNS band and order limits of the
// standard (generated from the shared tables).
#include <cstring>

#include "aac_psy_tables.h"
#include "mp4aenc/tool_params.h"

namespace {

struct TnsRow {
  unsigned minRate, maxRate;
  TnsParam a, b;
};

// Records: order, direction, mask options, time resolutions long, long 2nd,
// short [ms], gain threshold long, LPC start/stop long [Hz], gain threshold
// short, LPC start/stop short [Hz].
const TnsRow kTnsRows[] = {
    {4000, 12000, {12, 0, 1, 0.6f, 2.5f, 0.6f, 1.2f, 1800, 16000, 1.2f, 2500, 16000},
     {15, 0, 1, 0.6f, 2.5f, 0.6f, 1.2f, 1800, 16000, 1.2f, 2500, 16000}},
    {12001, 20000, {12, 1, 1, 0.6f, 2.5f, 0.6f, 1.41f, 2500, 16000, 1.41f, 3750, 16000},
     {20, 1, 1, 0.6f, 2.5f, 0.6f, 1.41f, 2500, 16000, 1.41f, 3750, 16000}},
    {20001, 28000, {20, 0, 1, 0.5f, 2.5f, 0.5f, 1.41f, 2500, 16000, 1.41f, 3750, 16000},
     {20, 0, 1, 0.5f, 2.5f, 0.5f, 1.41f, 2500, 16000, 1.41f, 3750, 16000}},
    {28001, 36000, {15, 0, 3, 0.8f, 1.5f, 0.3f, 1.41f, 2500, 16000, 1.41f, 3750, 16000},
     {20, 0, 3, 0.5f, 1.5f, 0.3f, 1.41f, 2500, 16000, 1.41f, 3750, 16000}},
    {36001, 52000, {15, 0, 3, 0.5f, 1.5f, 0.1f, 1.41f, 2500, 16000, 1.41f, 3750, 16000},
     {20, 0, 3, 0.5f, 1.5f, 0.1f, 1.41f, 2500, 16000, 1.41f, 3750, 16000}},
    {52001, 320000, {20, 0, 3, 0.3f, 1.5f, 0.1f, 1.41f, 2500, 16000, 1.41f, 3750, 16000},
     {20, 0, 3, 0.3f, 1.5f, 0.1f, 1.41f, 2500, 16000, 1.41f, 3750, 16000}},
};

// MPEG-4 object type 19.
const TnsRow kTnsRows19[] = {
    {20001, 28000, {20, 0, 1, 1.0f, 2.5f, 0.5f, 1.41f, 2500, 16000, 1.41f, 3750, 16000},
     {20, 0, 1, 0.5f, 2.5f, 0.5f, 1.41f, 2500, 16000, 1.41f, 3750, 16000}},
    {28001, 36000, {15, 0, 1, 0.8f, 1.5f, 0.3f, 1.41f, 2500, 16000, 1.41f, 3750, 16000},
     {20, 0, 1, 0.5f, 1.5f, 0.3f, 1.41f, 2500, 16000, 1.41f, 3750, 16000}},
    {36001, 52000, {15, 0, 3, 0.5f, 1.5f, 0.1f, 1.41f, 2500, 16000, 1.41f, 3750, 16000},
     {20, 0, 3, 0.5f, 1.5f, 0.1f, 1.41f, 2500, 16000, 1.41f, 3750, 16000}},
};

bool is_type19(AudioObject o) { return o.mpeg4 == 1 && o.objectType == 19; }

}  // namespace

int tns_param_lookup(int mode, unsigned bitrate, TnsParam* out, AudioObject object) {
  const bool t19 = is_type19(object);
  const TnsRow* rows = t19 ? kTnsRows19 : kTnsRows;
  const int count = t19 ? int(sizeof kTnsRows19 / sizeof kTnsRows19[0])
                        : int(sizeof kTnsRows / sizeof kTnsRows[0]);
  for (int i = 0; i < count; ++i) {
    if (bitrate < rows[i].minRate || bitrate > rows[i].maxRate) continue;
    if (out) {
      if (mode == 0) *out = rows[i].a;
      if (mode == 1 || mode == 4 || mode == 5 || mode == 7) *out = rows[i].b;
    }
    return i;
  }
  return count;
}

void tns_max_bands(int sampleRate, AudioObject object, int frameLength, int* outLong,
                   int* outShort) {
  *outLong = -1;
  *outShort = -1;
  if (is_type19(object)) {
    for (const TnsBandsRow* r = kTnsMaxBandsLd; r->sampleRate; ++r)
      if (r->sampleRate == sampleRate) {
        if (frameLength == 480) *outLong = r->a;
        if (frameLength == 512) *outLong = r->b;
      }
    return;
  }
  const bool ssr = object.mpeg4 ? object.objectType == 3 : object.objectType == 2;
  if (ssr) return;  // the SSR columns are not among the tables
  for (const TnsBandsRow* r = kTnsMaxBands; r->sampleRate; ++r)
    if (r->sampleRate == sampleRate) {
      *outLong = r->a;
      *outShort = r->b;
    }
}

void tns_max_order(AudioObject object, int* outLong, int* outShort) {
  const bool main = object.mpeg4 ? object.objectType == 1 : object.objectType == 0;
  const bool ssr = object.mpeg4 ? object.objectType == 3 : object.objectType == 2;
  const char* profile = main ? "main" : (ssr ? "ssr" : "lc");
  for (const TnsOrderRow& row : kTnsMaxOrder)
    if (std::strcmp(row.profile, profile) == 0) {
      *outLong = row.longOrder;
      *outShort = row.shortOrder;
    }
}
