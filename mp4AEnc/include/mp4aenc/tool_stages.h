// The coding tools' stages of the inner encoder: each adapts one tool to
// the core's stage table, working on the model's records of the frame.
#pragma once

#include "mp4aenc/aaccore.h"
#include "mp4aenc/psymain.h"

struct AacChannelResult;
struct LtpSideInfo;
struct TfIntDec;

// The inner encoder's model of a core built with its stages.
PsyMain* aac_inner_psy(AacCore* core);
// Its internal decoder and the written frame's result of a channel; null
// for a core built with other stages.
const TfIntDec* aac_inner_decoder(const AacCore* core);
const AacChannelResult* aac_inner_result(const AacCore* core, int channel);

extern const AacToolStage kAacMsStage;
extern const AacToolStage kAacIsStage;       // phase 0 analyses, phase 1 decides the border and applies
extern const AacToolStage kAacPnsStage;      // phase 0 detects, phase 1 resolves and substitutes
extern const AacToolStage kAacLdnsStage;
extern const AacToolStage kAacSuperStarvStage;

// The noise energy value of a band of a channel substituted this frame
// (group g, band b); false when the band is not noise.
bool aac_pns_value(const AacCore* core, int channel, int g, int b, int* value);

// Long-term prediction, one state per channel (update: the frame's slot of
// its band-flag history), and the predictor this system does not have.
extern const AacToolStage kAacLtpStage;
extern const AacToolStage kAacPredStage;
// Bands coded as noise or intensity in the written frame: they cannot serve
// as a prediction source, and no prediction is added to them.
bool aac_band_not_predictable(const AacChannelResult* r, int g, int b);
// The written frame's prediction of a channel: bands at or above max_sfb
// and bands that are not predictable lose it (in the record and in the
// result's flags). Null when the channel has no long-term prediction.
const LtpSideInfo* aac_ltp_finalise(const AacCore* core, int channel, AacChannelResult* r);
// Bits its data adds to the channel's side information (0 without it).
long aac_ltp_side_bits(const AacCore* core, int channel);
// The internal decoder's side: the prediction back into the used bands,
// and the reconstructed frame with its overlap into the history.
void aac_ltp_add_prediction(const AacCore* core, int channel, float* spectrum);
void aac_ltp_update_history(const AacCore* core, int channel, const float* full, const float* overlap);

// The intensity position and phase of a band of a pair's second channel
// coded as intensity this frame; false for other bands.
bool aac_is_position(const AacCore* core, int channel, int g, int b, int* position, int* outOfPhase);
