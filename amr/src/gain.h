// Gain quantisation: MA prediction of the fixed-codebook gain and the joint /
// scalar quantisers of the eight modes.
#pragma once
#include "defs.h"

namespace amr {

constexpr int NPRED = 4;

struct GcPredState {
    Word16 past_qua_en[NPRED];        // 20*log10 of past gain corrections, Q10
    Word16 past_qua_en_MR122[NPRED];  // log2 of the same, Q10
};
struct GainAdaptState {
    Word16 onset;
    Word16 prev_alpha;
    Word16 prev_gc;
    Word16 ltpg_mem[5];
};
struct GainQuantState {
    Word16 sf0_exp_gcode0, sf0_frac_gcode0;
    Word16 sf0_exp_target_en, sf0_frac_target_en;
    Word16 sf0_exp_coeff[5], sf0_frac_coeff[5];
    Word16* gain_idx_ptr;
    GcPredState* gc_predSt;
    GcPredState* gc_predUnqSt;
    GainAdaptState* adaptSt;
};

int gc_pred_init(GcPredState** st);
int gc_pred_reset(GcPredState* st);
void gc_pred_exit(GcPredState** st);
void gc_pred(GcPredState* st, Mode mode, const Word16* code, Word16* exp_gcode0, Word16* frac_gcode0,
             Word16* exp_en, Word16* frac_en);
void gc_pred_update(GcPredState* st, Word16 qua_ener_MR122, Word16 qua_ener);
void gc_pred_copy(const GcPredState* src, GcPredState* dst);

int gain_adapt_init(GainAdaptState** st);
int gain_adapt_reset(GainAdaptState* st);
void gain_adapt_exit(GainAdaptState** st);

int gainQuant_init(GainQuantState** st);
int gainQuant_reset(GainQuantState* st);
void gainQuant_exit(GainQuantState** st);

// Pitch gain of the filtered adaptive vector y1 against target xn (Q14); also
// <y1,y1> and <xn,y1> as (frac, exp) pairs in g_coeff[0..3].
Word16 G_pitch(Mode mode, const Word16 xn[], const Word16 y1[], Word16 g_coeff[], Word16 L_subfr);

// Scalar quantiser of the pitch gain (12.2 and 7.95 kbit/s); at 7.95 kbit/s
// also the three candidates around the choice.
Word16 q_gain_pitch(Mode mode, Word16 gp_limit, Word16* gain, Word16 gain_cand[], Word16 gain_cind[]);

// Scalar quantiser of the code gain (12.2 and 7.95 kbit/s); gain in/out Q1.
Word16 q_gain_code(Mode mode, Word16 exp_gcode0, Word16 frac_gcode0, Word16* gain, Word16* qua_ener_MR122,
                   Word16* qua_ener);

void gainQuant(GainQuantState* st, Mode mode, const Word16* res, const Word16* exc, const Word16* code,
               const Word16* xn, const Word16* xn2, const Word16* y1, const Word16* Y2, Word16 g_coeff[],
               Flag even_subframe, Word16 gp_limit, Word16* sf0_gain_pit, Word16* sf0_gain_cod,
               Word16* gain_pit, Word16* gain_cod, Word16** anap);

}  // namespace amr
