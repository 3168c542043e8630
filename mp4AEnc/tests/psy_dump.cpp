// Prints the partition centres, the spreading matrix (every pair, read back
// from the sparse form) and the normalisation of the long and short
// partitions at 48 kHz, 64 kbit/s per channel, for tests/spreading_check.py.
#include <cstdio>

#include "mp4aenc/psy_conf.h"

static void dump(const char* name, const CbParam* cb, const ThrParamSet* thr) {
  std::printf("table %s %d %g %g %d %d\n", name, cb->count, double(thr->spreadLowerSlope),
              double(thr->spreadUpperSlope), thr->spreadNoLower, thr->spreadNoMasking);
  for (int i = 0; i < cb->count; ++i) std::printf("centre %d %.9g\n", i, double(cb->centre[i]));
  for (int i = 0; i < cb->count; ++i) {
    std::printf("norm %d %.9g\n", i, double(cb->norm[i]));
    for (int j = 0; j < cb->spreadCount[i]; ++j)
      std::printf("spread %d %d %.9g\n", i, cb->spreadFirst[i] + j,
                  double(cb->spreadValues[cb->spreadStart[i] + j]));
  }
}

int main() {
  PsyConf* conf = nullptr;
  if (ErrorRecord* err = psy_conf_create(&conf, 1024, 48000.0f, 64000, 0.0f, 0, 2)) {
    std::fprintf(stderr, "%s\n", err->message);
    return 1;
  }
  dump("long", conf->longCb, conf->longParam->thr);
  dump("short", conf->shortCb, conf->shortParam->thr);
  psy_conf_delete(conf);
  return 0;
}
