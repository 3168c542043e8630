// The backward-adaptive predictor of MPEG-2 Main profile: this system has
// none, and every call says so.
#pragma once

#include "mp4aenc/error.h"
#include "mp4aenc/psymain.h"

ErrorRecord* PredictionInit(void** out, int samplingIndex, int resetDelay);
ErrorRecord* PredictionFrame(void* state, PsyOut* channel);
ErrorRecord* PredictionFramePair(void* left, void* right, PsyOut* leftChannel, PsyOut* rightChannel);
ErrorRecord* PredictionReset(void* state);
