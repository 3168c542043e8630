// Pitch analysis: open-loop lag, closed-loop fractional lag with its coding,
// adaptive-codebook vector and the tone stabiliser.
#pragma once
#include "defs.h"

namespace amr {

struct VadState;

struct PitchOlWghtState {
    Word16 old_T0_med;
    Word16 ada_w;
    Word16 wght_flg;
};
struct PitchFrState { Word16 T0_prev_subframe; };
struct ClLtpState { PitchFrState* pitchSt; };
struct TonStabState {
    Word16 count;
    Word16 gp[7];
};

int p_ol_wgh_init(PitchOlWghtState** st);
int p_ol_wgh_reset(PitchOlWghtState* st);
void p_ol_wgh_exit(PitchOlWghtState** st);
int cl_ltp_init(ClLtpState** st);
int cl_ltp_reset(ClLtpState* st);
void cl_ltp_exit(ClLtpState** st);
int ton_stab_init(TonStabState** st);
int ton_stab_reset(TonStabState* st);
void ton_stab_exit(TonStabState** st);

void ol_ltp(PitchOlWghtState* st, VadState* vadSt, Mode mode, Word16* wsp, Word16* T_op, Word16 old_lags[],
            Word16 ol_gain_flg[], Word16 idx, Flag dtx);

void cl_ltp(ClLtpState* clSt, TonStabState* tonSt, Mode mode, Word16 frameOffset, const Word16 T_op[],
            const Word16* h1, Word16* exc, Word16 res2[], const Word16 xn[], Word16 lsp_flag, Word16 xn2[],
            Word16 y1[], Word16* T0, Word16* T0_frac, Word16* gain_pit, Word16 g_coeff[], Word16** anap,
            Word16* gp_limit);

void Pred_lt_3or6(Word16 exc[], Word16 T0, Word16 frac, Word16 L_subfr, Flag flag3);
Word16 Enc_lag3(Word16 T0, Word16 T0_frac, Word16 T0_prev, Word16 T0_min, Word16 T0_max, Word16 delta_flag,
                Word16 flag4);
Word16 Enc_lag6(Word16 T0, Word16 T0_frac, Word16 T0_min, Word16 delta_flag);

Word16 check_lsp(TonStabState* st, const Word16* lsp);
Word16 check_gp_clipping(TonStabState* st, Word16 g_pitch);
void update_gp_clipping(TonStabState* st, Word16 g_pitch);

}  // namespace amr
