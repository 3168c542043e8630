#include "pitch.h"

#include <cstdlib>

#include "state.h"

#include "amr_tables.h"
#include "gain.h"
#include "lpc.h"
#include "vad.h"

namespace amr {

namespace {

constexpr Word16 THRESHOLD = 27853;  // 0.85: favours the shorter of two lag maxima
constexpr int L_INTER_SRCH = 4;
constexpr int L_INTER10 = 10;
constexpr int UP_SAMP_MAX = 6;


struct ModeParm {
    Word16 max_frac_lag, flag3, first_frac, last_frac;
    Word16 delta_int_low, delta_int_range, delta_frc_low, delta_frc_range, pit_min;
};
const ModeParm mode_dep_parm[8] = {
    {84, 1, -2, 2, 5, 10, 5, 9, PIT_MIN},       // 4.75
    {84, 1, -2, 2, 5, 10, 5, 9, PIT_MIN},       // 5.15
    {84, 1, -2, 2, 3, 6, 5, 9, PIT_MIN},        // 5.90
    {84, 1, -2, 2, 3, 6, 5, 9, PIT_MIN},        // 6.70
    {84, 1, -2, 2, 3, 6, 5, 9, PIT_MIN},        // 7.40
    {84, 1, -2, 2, 3, 6, 10, 19, PIT_MIN},      // 7.95
    {84, 1, -2, 2, 3, 6, 5, 9, PIT_MIN},        // 10.2
    {94, 0, -3, 3, 3, 6, 5, 9, PIT_MIN_MR122},  // 12.2
};

// ---- open loop ------------------------------------------------------------

void comp_corr(const Word16 scal_sig[], Word16 L_frame, Word16 lag_max, Word16 lag_min, Word32 corr[]) {
    for (int i = lag_max; i >= lag_min; i--) {
        const Word16* p = scal_sig;
        const Word16* p1 = &scal_sig[-i];
        Word32 t0 = 0;
        for (int j = 0; j < L_frame; j++) t0 = L_mac(t0, p[j], p1[j]);
        corr[-i] = t0;
    }
}

Word16 Lag_max(VadState* vadSt, const Word32 corr[], const Word16 scal_sig[], Word16 scal_fac, Word16 scal_flag,
               Word16 L_frame, Word16 lag_max, Word16 lag_min, Word16* cor_max, Flag dtx) {
    Word32 max = MIN_32;
    Word16 p_max = lag_max;
    for (int i = lag_max; i >= lag_min; i--) {
        if (corr[-i] >= max) {
            max = corr[-i];
            p_max = (Word16)i;
        }
    }
    Word32 t0 = 0;
    const Word16* p = &scal_sig[-p_max];
    for (int i = 0; i < L_frame; i++) t0 = L_mac(t0, p[i], p[i]);
    if (dtx) vad_tone_detection(vadSt, max, t0);
    t0 = Inv_sqrt(t0);
    if (scal_flag) t0 = L_shl(t0, 1);
    Word16 max_h, max_l, ener_h, ener_l;
    L_Extract(max, &max_h, &max_l);
    L_Extract(t0, &ener_h, &ener_l);
    t0 = Mpy_32(max_h, max_l, ener_h, ener_l);
    if (scal_flag) {
        t0 = L_shr(t0, scal_fac);
        *cor_max = extract_h(L_shl(t0, 15));
    } else {
        *cor_max = extract_l(t0);
    }
    return p_max;
}

// Largest normalised correlation of the high-passed signal, for the VAD's
// complex-signal detection.
Word16 hp_max(const Word32 corr[], const Word16 scal_sig[], Word16 L_frame, Word16 lag_max, Word16 lag_min) {
    Word32 max = MIN_32;
    for (int i = lag_max - 1; i > lag_min; i--) {
        Word32 t0 = L_sub(L_sub(L_shl(corr[-i], 1), corr[-i - 1]), corr[-i + 1]);
        t0 = L_abs(t0);
        if (t0 > max) max = t0;
    }
    Word32 t0 = 0;
    const Word16* p = scal_sig;
    const Word16* p1 = &scal_sig[0];
    for (int i = 0; i < L_frame; i++) t0 = L_mac(t0, p[i], p1[i]);
    Word32 t1 = 0;
    p1 = &scal_sig[-1];
    for (int i = 0; i < L_frame; i++) t1 = L_mac(t1, p[i], p1[i]);
    t0 = L_shl(L_sub(t0, t1), 1);
    t0 = L_abs(t0);
    Word16 shift1 = sub(norm_l(max), 1);
    Word16 max16 = extract_h(L_shl(max, shift1));
    Word16 shift2 = norm_l(t0);
    Word16 t016 = extract_h(L_shl(t0, shift2));
    Word16 cor_max = 0;
    if (t016 != 0) cor_max = div_s(max16, t016);
    Word16 shift = sub(shift1, shift2);
    return shift >= 0 ? shr(cor_max, shift) : shl(cor_max, negate(shift));
}

Word16 Pitch_ol(VadState* vadSt, Mode mode, Word16 signal[], Word16 pit_min, Word16 pit_max, Word16 L_frame,
                Word16 idx, Flag dtx) {
    Word16 scaled_signal[L_FRAME + PIT_MAX + 1];
    Word32 corr_v[PIT_MAX + 1];
    Word16* scal_sig = &scaled_signal[pit_max];
    Word32* corr = &corr_v[pit_max];

    Word32 t0 = 0;
    Overflow = 0;
    for (int i = -pit_max; i < L_frame; i++) t0 = L_mac(t0, signal[i], signal[i]);
    Word16 scal_fac;
    if (t0 == MAX_32) {
        for (int i = -pit_max; i < L_frame; i++) scal_sig[i] = shr(signal[i], 3);
        scal_fac = 3;
    } else if (t0 < 1048576L) {
        for (int i = -pit_max; i < L_frame; i++) scal_sig[i] = shl(signal[i], 3);
        scal_fac = -3;
    } else {
        for (int i = -pit_max; i < L_frame; i++) scal_sig[i] = signal[i];
        scal_fac = 0;
    }
    comp_corr(scal_sig, L_frame, pit_max, pit_min, corr);

    const Word16 scal_flag = mode == MR122 ? 1 : 0;
    Word16 max1, max2, max3;
    Word16 j = shl(pit_min, 2);
    Word16 p_max1 = Lag_max(vadSt, corr, scal_sig, scal_fac, scal_flag, L_frame, pit_max, j, &max1, dtx);
    Word16 i = sub(j, 1);
    j = shl(pit_min, 1);
    Word16 p_max2 = Lag_max(vadSt, corr, scal_sig, scal_fac, scal_flag, L_frame, i, j, &max2, dtx);
    i = sub(j, 1);
    Word16 p_max3 = Lag_max(vadSt, corr, scal_sig, scal_fac, scal_flag, L_frame, i, pit_min, &max3, dtx);

    if (dtx && idx == 1) vad_complex_detection_update(vadSt, hp_max(corr, scal_sig, L_frame, pit_max, pit_min));

    if (mult(max1, THRESHOLD) < max2) {
        max1 = max2;
        p_max1 = p_max2;
    }
    if (mult(max1, THRESHOLD) < max3) p_max1 = p_max3;
    return p_max1;
}

// ---- closed loop ----------------------------------------------------------

// corr_norm[i - t_min] for lags t_min..t_max.
void Norm_Corr(const Word16 exc[], const Word16 xn[], const Word16 h[], Word16 L_subfr, Word16 t_min,
               Word16 t_max, Word16 corr_norm[]) {
    Word16 excf[L_SUBFR], scaled_excf[L_SUBFR];
    int k = -t_min;
    Convolve(&exc[k], h, excf, L_subfr);
    for (int j = 0; j < L_subfr; j++) scaled_excf[j] = shr(excf[j], 2);
    Word32 s = 0;
    for (int j = 0; j < L_subfr; j++) s = L_mac(s, excf[j], excf[j]);
    Word16* s_excf;
    Word16 h_fac, scaling;
    if (s <= 67108864L) {
        s_excf = excf;
        h_fac = 15 - 12;
        scaling = 0;
    } else {
        s_excf = scaled_excf;
        h_fac = 15 - 12 - 2;
        scaling = 2;
    }
    for (int i = t_min; i <= t_max; i++) {
        s = 0;
        for (int j = 0; j < L_subfr; j++) s = L_mac(s, s_excf[j], s_excf[j]);
        s = Inv_sqrt(s);
        Word16 norm_h, norm_l_, corr_h, corr_l;
        L_Extract(s, &norm_h, &norm_l_);
        s = 0;
        for (int j = 0; j < L_subfr; j++) s = L_mac(s, xn[j], s_excf[j]);
        L_Extract(s, &corr_h, &corr_l);
        s = Mpy_32(corr_h, corr_l, norm_h, norm_l_);
        corr_norm[i - t_min] = extract_h(L_shl(s, 16));
        if (i != t_max) {
            k--;
            for (int j = L_subfr - 1; j > 0; j--) {
                s = L_mult(exc[k], h[j]);
                s = L_shl(s, h_fac);
                s_excf[j] = add(extract_h(s), s_excf[j - 1]);
            }
            s_excf[0] = shr(exc[k], scaling);
        }
    }
}

Word16 Interpol_3or6(const Word16* x, Word16 frac, Word16 flag3) {
    if (flag3 != 0) frac = shl(frac, 1);
    if (frac < 0) {
        frac = add(frac, UP_SAMP_MAX);
        x--;
    }
    const Word16* x1 = &x[0];
    const Word16* x2 = &x[1];
    const Word16* c1 = &inter_6_b24[frac];
    const Word16* c2 = &inter_6_b24[sub(UP_SAMP_MAX, frac)];
    Word32 s = 0;
    for (int i = 0, k = 0; i < L_INTER_SRCH; i++, k += UP_SAMP_MAX) {
        s = L_mac(s, x1[-i], c1[k]);
        s = L_mac(s, x2[i], c2[k]);
    }
    return round16(s);
}

// corr[i] is the correlation at lag t_min + i.
void searchFrac(Word16* lag, Word16* frac, Word16 last_frac, const Word16 corr[], Word16 t_min, Word16 flag3) {
    const Word16* at = &corr[*lag - t_min];
    Word16 max = Interpol_3or6(at, *frac, flag3);
    for (Word16 i = add(*frac, 1); i <= last_frac; i++) {
        Word16 corr_int = Interpol_3or6(at, i, flag3);
        if (corr_int > max) {
            max = corr_int;
            *frac = i;
        }
    }
    if (flag3 == 0) {
        if (*frac == -3) {
            *frac = 3;
            *lag = sub(*lag, 1);
        }
    } else {
        if (*frac == -2) {
            *frac = 1;
            *lag = sub(*lag, 1);
        }
        if (*frac == 2) {
            *frac = -1;
            *lag = add(*lag, 1);
        }
    }
}

void getRange(Word16 T0, Word16 delta_low, Word16 delta_range, Word16 pitmin, Word16 pitmax, Word16* T0_min,
              Word16* T0_max) {
    *T0_min = sub(T0, delta_low);
    if (*T0_min < pitmin) *T0_min = pitmin;
    *T0_max = add(*T0_min, delta_range);
    if (*T0_max > pitmax) {
        *T0_max = pitmax;
        *T0_min = sub(*T0_max, delta_range);
    }
}

// Centre of the 4-bit relative lag code.
Word16 relative_lag_centre(Word16 T0_prev, Word16 T0_min, Word16 T0_max) {
    Word16 tmp_lag = T0_prev;
    if (sub(sub(tmp_lag, T0_min), 5) > 0) tmp_lag = add(T0_min, 5);
    if (sub(sub(T0_max, tmp_lag), 4) > 0) tmp_lag = sub(T0_max, 4);
    return tmp_lag;
}

Word16 Pitch_fr(PitchFrState* st, Mode mode, const Word16 T_op[], const Word16 exc[], const Word16 xn[],
                const Word16 h[], Word16 L_subfr, Word16 i_subfr, Word16* pit_frac, Word16* resu3,
                Word16* ana_index) {
    const ModeParm& p = mode_dep_parm[mode];
    Word16 frac = p.first_frac, last_frac = p.last_frac;
    Word16 t0_min, t0_max;
    Flag delta_search = 1;
    if (i_subfr == 0 || i_subfr == L_FRAME_BY2) {
        if ((mode != MR475 && mode != MR515) || i_subfr != L_FRAME_BY2) {
            delta_search = 0;
            getRange(T_op[i_subfr > 0 ? 1 : 0], p.delta_int_low, p.delta_int_range, p.pit_min, PIT_MAX, &t0_min,
                     &t0_max);
        } else {
            getRange(st->T0_prev_subframe, p.delta_frc_low, p.delta_frc_range, p.pit_min, PIT_MAX, &t0_min,
                     &t0_max);
        }
    } else {
        getRange(st->T0_prev_subframe, p.delta_frc_low, p.delta_frc_range, p.pit_min, PIT_MAX, &t0_min, &t0_max);
    }

    Word16 corr_v[40];
    const Word16 t_min = sub(t0_min, L_INTER_SRCH);
    const Word16 t_max = add(t0_max, L_INTER_SRCH);
    Word16* corr = corr_v;
    Norm_Corr(exc, xn, h, L_subfr, t_min, t_max, corr);

    Word16 max = corr[t0_min - t_min], lag = t0_min;
    for (Word16 i = t0_min + 1; i <= t0_max; i++) {
        if (corr[i - t_min] >= max) {
            max = corr[i - t_min];
            lag = i;
        }
    }

    const bool flag4 = mode == MR475 || mode == MR515 || mode == MR59 || mode == MR67;
    if (delta_search == 0 && lag > p.max_frac_lag) {
        frac = 0;
    } else if (delta_search != 0 && flag4) {
        // Fractions only where the 4-bit relative code can represent them.
        Word16 tmp_lag = relative_lag_centre(st->T0_prev_subframe, t0_min, t0_max);
        if (lag == tmp_lag || lag == sub(tmp_lag, 1)) {
            searchFrac(&lag, &frac, last_frac, corr, t_min, p.flag3);
        } else if (lag == sub(tmp_lag, 2)) {
            frac = 0;
            searchFrac(&lag, &frac, last_frac, corr, t_min, p.flag3);
        } else if (lag == add(tmp_lag, 1)) {
            last_frac = 0;
            searchFrac(&lag, &frac, last_frac, corr, t_min, p.flag3);
        } else {
            frac = 0;
        }
    } else {
        searchFrac(&lag, &frac, last_frac, corr, t_min, p.flag3);
    }

    if (p.flag3 != 0)
        *ana_index = Enc_lag3(lag, frac, st->T0_prev_subframe, t0_min, t0_max, (Word16)delta_search, flag4);
    else
        *ana_index = Enc_lag6(lag, frac, t0_min, (Word16)delta_search);
    st->T0_prev_subframe = lag;
    *resu3 = p.flag3;
    *pit_frac = frac;
    return lag;
}

}  // namespace

// ---- states ----------------------------------------------------------------

int p_ol_wgh_init(PitchOlWghtState** st) {
    if (alloc_state(st) != 0) return -1;
    return p_ol_wgh_reset(*st);
}
int p_ol_wgh_reset(PitchOlWghtState* st) {
    if (st == nullptr) return -1;
    st->old_T0_med = 40;
    st->ada_w = 0;
    st->wght_flg = 0;
    return 0;
}
void p_ol_wgh_exit(PitchOlWghtState** st) { free_state(st); }

int cl_ltp_init(ClLtpState** st) {
    if (alloc_state(st) != 0) return -1;
    if (alloc_state(&(*st)->pitchSt) != 0) {
        cl_ltp_exit(st);
        return -1;
    }
    return cl_ltp_reset(*st);
}
int cl_ltp_reset(ClLtpState* st) {
    if (st == nullptr || st->pitchSt == nullptr) return -1;
    st->pitchSt->T0_prev_subframe = 0;
    return 0;
}
void cl_ltp_exit(ClLtpState** st) {
    if (st == nullptr || *st == nullptr) return;
    free_state(&(*st)->pitchSt);
    free_state(st);
}

int ton_stab_init(TonStabState** st) {
    if (alloc_state(st) != 0) return -1;
    return ton_stab_reset(*st);
}
int ton_stab_reset(TonStabState* st) {
    if (st == nullptr) return -1;
    st->count = 0;
    for (auto& g : st->gp) g = 0;
    return 0;
}
void ton_stab_exit(TonStabState** st) { free_state(st); }

// ---- open-loop entry ----------------------------------------------------------

// The weighting table of the 10.2 kbit/s weighted open-loop search is not
// available to this build: 10.2 kbit/s uses the plain search, with the
// open-loop gain flags left clear.
void ol_ltp(PitchOlWghtState* st, VadState* vadSt, Mode mode, Word16* wsp, Word16* T_op, Word16 old_lags[],
            Word16 ol_gain_flg[], Word16 idx, Flag dtx) {
    (void)st;
    (void)old_lags;
    ol_gain_flg[0] = 0;
    ol_gain_flg[1] = 0;
    if (mode == MR475 || mode == MR515)
        *T_op = Pitch_ol(vadSt, mode, wsp, PIT_MIN, PIT_MAX, L_FRAME, idx, dtx);
    else if (mode <= MR102)
        *T_op = Pitch_ol(vadSt, mode, wsp, PIT_MIN, PIT_MAX, L_FRAME_BY2, idx, dtx);
    else
        *T_op = Pitch_ol(vadSt, mode, wsp, PIT_MIN_MR122, PIT_MAX, L_FRAME_BY2, idx, dtx);
}

// ---- lag coding -------------------------------------------------------------------

Word16 Enc_lag3(Word16 T0, Word16 T0_frac, Word16 T0_prev, Word16 T0_min, Word16 T0_max, Word16 delta_flag,
                Word16 flag4) {
    if (delta_flag == 0) {
        if (T0 <= 85) return add(sub(add(add(T0, T0), T0), 58), T0_frac);
        return add(T0, 112);
    }
    if (flag4 == 0) {
        Word16 i = sub(T0, T0_min);
        i = add(add(i, i), i);
        return add(add(i, 2), T0_frac);
    }
    Word16 tmp_lag = relative_lag_centre(T0_prev, T0_min, T0_max);
    Word16 uplag = add(add(add(T0, T0), T0), T0_frac);
    Word16 i = sub(tmp_lag, 2);
    Word16 tmp_ind = add(add(i, i), i);
    if (tmp_ind >= uplag) return add(sub(T0, tmp_lag), 5);
    i = add(tmp_lag, 1);
    i = add(add(i, i), i);
    if (i > uplag) return add(sub(uplag, tmp_ind), 3);
    return add(sub(T0, tmp_lag), 11);
}

Word16 Enc_lag6(Word16 T0, Word16 T0_frac, Word16 T0_min, Word16 delta_flag) {
    if (delta_flag == 0) {
        if (T0 <= 94) return add(sub(extract_l(L_shr(L_mult(T0, 6), 1)), 105), T0_frac);
        return add(T0, 368);
    }
    Word16 i = sub(T0, T0_min);
    return add(add(extract_l(L_shr(L_mult(i, 6), 1)), 3), T0_frac);
}

void Pred_lt_3or6(Word16 exc[], Word16 T0, Word16 frac, Word16 L_subfr, Flag flag3) {
    Word16* x0 = &exc[-T0];
    frac = negate(frac);
    if (flag3 != 0) frac = shl(frac, 1);
    if (frac < 0) {
        frac = add(frac, UP_SAMP_MAX);
        x0--;
    }
    for (int j = 0; j < L_subfr; j++) {
        const Word16* x1 = x0++;
        const Word16* x2 = x0;
        const Word16* c1 = &inter_6_b60[frac];
        const Word16* c2 = &inter_6_b60[sub(UP_SAMP_MAX, frac)];
        Word32 s = 0;
        for (int i = 0, k = 0; i < L_INTER10; i++, k += UP_SAMP_MAX) {
            s = L_mac(s, x1[-i], c1[k]);
            s = L_mac(s, x2[i], c2[k]);
        }
        exc[j] = round16(s);
    }
}

void cl_ltp(ClLtpState* clSt, TonStabState* tonSt, Mode mode, Word16 frameOffset, const Word16 T_op[],
            const Word16* h1, Word16* exc, Word16 res2[], const Word16 xn[], Word16 lsp_flag, Word16 xn2[],
            Word16 y1[], Word16* T0, Word16* T0_frac, Word16* gain_pit, Word16 g_coeff[], Word16** anap,
            Word16* gp_limit) {
    Word16 resu3, index;
    *T0 = Pitch_fr(clSt->pitchSt, mode, T_op, exc, xn, h1, L_SUBFR, frameOffset, T0_frac, &resu3, &index);
    *(*anap)++ = index;
    Pred_lt_3or6(exc, *T0, *T0_frac, L_SUBFR, resu3);
    Convolve(exc, h1, y1, L_SUBFR);
    *gain_pit = G_pitch(mode, xn, y1, g_coeff, L_SUBFR);

    Flag gpc_flag = 0;
    *gp_limit = MAX_16;
    if (lsp_flag != 0 && *gain_pit > GP_CLIP) gpc_flag = check_gp_clipping(tonSt, *gain_pit);

    if (mode == MR475 || mode == MR515) {
        // Lower limit at the two lowest rates: copes better with bit errors.
        if (*gain_pit > 13926) *gain_pit = 13926;
        if (gpc_flag != 0) *gp_limit = GP_CLIP;
    } else {
        if (gpc_flag != 0) {
            *gp_limit = GP_CLIP;
            *gain_pit = GP_CLIP;
        }
        if (mode == MR122) *(*anap)++ = q_gain_pitch(MR122, *gp_limit, gain_pit, nullptr, nullptr);
    }
    for (int i = 0; i < L_SUBFR; i++) {
        Word32 L_temp = L_shl(L_mult(y1[i], *gain_pit), 1);
        xn2[i] = sub(xn[i], extract_h(L_temp));
        L_temp = L_shl(L_mult(exc[i], *gain_pit), 1);
        res2[i] = sub(res2[i], extract_h(L_temp));
    }
}

// ---- tone stabiliser --------------------------------------------------------------

Word16 check_lsp(TonStabState* st, const Word16* lsp) {
    Word16 dist_min1 = MAX_16;
    for (int i = 3; i < M - 3; i++) {
        Word16 dist = sub(lsp[i], lsp[i + 1]);
        if (dist < dist_min1) dist_min1 = dist;
    }
    Word16 dist_min2 = MAX_16;
    for (int i = 1; i < 3; i++) {
        Word16 dist = sub(lsp[i], lsp[i + 1]);
        if (dist < dist_min2) dist_min2 = dist;
    }
    Word16 dist_th = lsp[1] > 32000 ? 600 : lsp[1] > 30500 ? 800 : 1100;
    if (dist_min1 < 1500 || dist_min2 < dist_th)
        st->count = add(st->count, 1);
    else
        st->count = 0;
    if (st->count >= 12) {
        st->count = 12;
        return 1;
    }
    return 0;
}

Word16 check_gp_clipping(TonStabState* st, Word16 g_pitch) {
    Word16 sum = shr(g_pitch, 3);
    for (int i = 0; i < 7; i++) sum = add(sum, st->gp[i]);
    return sum > GP_CLIP ? 1 : 0;
}

void update_gp_clipping(TonStabState* st, Word16 g_pitch) {
    for (int i = 0; i < 6; i++) st->gp[i] = st->gp[i + 1];
    st->gp[6] = shr(g_pitch, 3);
}

}  // namespace amr
