#include "mp4aenc/scalable.h"

namespace {
const char kModule[] = "mp4AEnc/mp4AACScalable/src/amr_dummy";
}

ErrorRecord* amr_core_create(void) { return error_create(kModule, __LINE__, nullptr, "No AMR Core available"); }
