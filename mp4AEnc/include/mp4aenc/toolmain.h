// Coding-tool control: per channel element and frame, which spectral tools
// run and in which order, plus two running figures other stages read: the
// encoder workload and the smoothed total perceptual entropy. The tools'
// algorithms are the inner encoder's (AacCoreStages).
#pragma once

#include "mp4aenc/aaccore.h"

struct AacToolElement {
  AacChannelElement element;  // kind, channels and switches, from the map
  void* ldns[2];
  void* pred[2];
  void* ltp[2];
  void* pns[2];
  void* ms;
  void* is;
  void* superstarv;
};

struct AacToolControl {
  const AacCoreStages* stages;
  int channels;
  int elementCount;
  int samplingIndex;
  AacToolElement elements[kAacMaxElements];
  // settings read at creation
  int predDelay;
  int cutLdns;
  float ldnsMin, ldnsMax, ldnsAvg;
  int msDebug, noMsMask;
  // running figures
  float workload;                   // in [0, 1)
  float channelWorkload[kAacMaxChannels];
  float pe[kAacMaxChannels];        // this frame's perceptual entropy per channel
  float smoothedPe;                 // smoothed total
};

// Creates the control and every tool the map's switches ask for, in map
// order; a failure frees everything.
ErrorRecord* tool_control_create(AacToolControl** out, AacCore* core);
// After the psychoacoustic analysis; frameTime is the frame's timing figure.
ErrorRecord* tool_control_frame(AacToolControl* control, AacCore* core, float frameTime);
// After the frame is written: the predictors update from the quantised
// spectrum (long windows only; the tools decide).
ErrorRecord* tool_control_post(AacToolControl* control, AacCore* core, int decoderWritesFile);
void tool_control_free(AacToolControl* control);

// The workload after one frame: penalty = 0.01 log10(w + 1) - 0.1 v, new =
// atan(max(0, tan(old pi / 2) + penalty)) 2 / pi.
float tool_workload_update(float workload, long workCounter, float frameTime);
// The smoothed total entropy: 0.9 s + 0.1 t when t rises above s, else
// 0.97 s + 0.03 t.
float tool_smooth_pe(float smoothed, float total);
