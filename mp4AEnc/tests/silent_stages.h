// A double of the inner encoder for tests of the outer half: every stage
// is there, the analysis gives figures the test sets, and each frame is a
// valid silent raw data block (every element with max_sfb 0, END, byte
// alignment) whose length is pushed on the bit buffer. Stage calls are
// logged in order.
#pragma once

#include <string>
#include <vector>

#include "mp4aenc/aaccore.h"

struct SilentStagesKnobs {
  long reservoirFill = 0;     // what the multiplexer reports
  long workCounter = 0;       // every channel's analysis work
  float frameTime = 0.0f;     // the frame's timing figure
  float energy = 1000.0f, threshold = 10.0f;  // one band per channel
  float lowpassShort = 16000.0f;  // the long-block one is 16000
  bool logTools = true;
};

extern SilentStagesKnobs g_silent;
extern std::vector<std::string> g_silentLog;  // "psy_analyse", "ltp_frame 0 1", ...

// The table; g_silent and g_silentLog are reset by SilentStagesReset.
const AacCoreStages* SilentStages();
void SilentStagesReset();
// The budget the multiplexer was last given.
AacFrameBudget SilentLastBudget();

// Installs the double for the life of the object.
struct UseSilentStages {
  UseSilentStages() {
    SilentStagesReset();
    aac_core_use_stages(SilentStages());
  }
  ~UseSilentStages() { aac_core_use_stages(nullptr); }
};
