// The speech coder core: one pre-processed 160-sample frame to the analysis
// parameters of the requested mode.
#pragma once
#include "amrenc/amrenc.h"
#include "defs.h"
#include "gain.h"
#include "lpc.h"
#include "pitch.h"
#include "vad.h"

namespace amr {

struct AmrCoderState {
    Word16 old_speech[L_WINDOW + 80];  // 320 words
    Word16* speech;
    Word16* p_window;
    Word16* p_window_12k2;
    Word16* new_speech;
    Word16 old_wsp[L_FRAME + PIT_MAX];
    Word16* wsp;
    Word16 old_lags[5];
    Word16 ol_gain_flg[2];
    Word16 old_exc[L_FRAME + PIT_MAX + L_INTERPOL];
    Word16* exc;
    Word16 ai_zero[L_SUBFR + MP1];
    Word16* zero;
    Word16* h1;
    Word16 hvec[L_SUBFR * 2];
    LpcState* lpcSt;
    LspState* lspSt;
    ClLtpState* clLtpSt;
    GainQuantState* gainQuantSt;
    PitchOlWghtState* pitchOLWghtSt;
    TonStabState* tonStabSt;
    VadState* vadSt;
    Flag dtx;
    DtxEncState* dtx_encSt;
    Word16 mem_syn[M];
    Word16 mem_w0[M];
    Word16 mem_w[M];
    Word16 mem_err[M + L_SUBFR];
    Word16* error;
    Word16 sharp;
};

int cod_amr_init(AmrCoderState** st, Flag dtx);
int cod_amr_reset(AmrCoderState* st);
void cod_amr_exit(AmrCoderState** st);
int cod_amr(AmrCoderState* st, Mode mode, const Word16 new_speech[], Word16 ana[], Mode* usedMode, Word16 synth[]);

// amr_enc_frame that also hands out the frame's local synthesis (160 samples,
// at the level of the filtered input, 40 samples behind it).
int encode_frame(AmrEncState* st, int mode, int16_t* speech, uint8_t* out, int* usedMode, int16_t* synth);

}  // namespace amr
