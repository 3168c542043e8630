// The coding tools' stages of the inner encoder: each adapts one tool to
// the core's stage table, working on the model's records of the frame.
#pragma once

#include "mp4aenc/aaccore.h"
#include "mp4aenc/psymain.h"

struct AacChannelResult;
struct TfIntDec;

// The inner encoder's model of a core built with its stages.
PsyMain* aac_inner_psy(AacCore* core);
// Its internal decoder and the written frame's result of a channel; null
// for a core built with other stages.
const TfIntDec* aac_inner_decoder(const AacCore* core);
const AacChannelResult* aac_inner_result(const AacCore* core, int channel);

extern const AacToolStage kAacMsStage;
extern const AacToolStage kAacPnsStage;      // phase 0 detects, phase 1 resolves and substitutes
extern const AacToolStage kAacLdnsStage;
extern const AacToolStage kAacSuperStarvStage;

// The noise energy value of a band of a channel substituted this frame
// (group g, band b); false when the band is not noise.
bool aac_pns_value(const AacCore* core, int channel, int g, int b, int* value);
