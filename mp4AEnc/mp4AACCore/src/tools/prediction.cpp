#include "mp4aenc/prediction.h"

namespace {
const char kModule[] = "mp4AEnc/mp4AACCore/src/tools/prediction";
ErrorRecord* none(int line) {
  return error_create(kModule, line, nullptr, "no prediction tool available");
}
}  // namespace

ErrorRecord* PredictionInit(void** out, int, int) {
  if (out) *out = nullptr;
  return none(__LINE__);
}
ErrorRecord* PredictionFrame(void*, PsyOut*) {
  return none(__LINE__);
}
ErrorRecord* PredictionFramePair(void*, void*, PsyOut*, PsyOut*) {
  return none(__LINE__);
}
ErrorRecord* PredictionReset(void*) {
  return none(__LINE__);
}
