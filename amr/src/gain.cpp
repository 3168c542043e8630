#include "gain.h"

#include <cstdio>
#include <cstdlib>

#include "amr_tables.h"
#include "state.h"

namespace amr {

namespace {

constexpr Word32 MEAN_ENER_MR122 = 783741;  // 36 dB as log2 of the amplitude, Q17
constexpr Word16 MIN_ENERGY = -14336;       // -14 dB, Q10
constexpr Word16 MIN_ENERGY_MR122 = -2381;  // -14 dB / (20 log10 2), Q10

// Limits of the unquantised-gain predictor update at 4.75 kbit/s.
constexpr Word16 MIN_QUA_ENER_MR122 = -5120;  // log2, Q10
constexpr Word16 MAX_QUA_ENER_MR122 = 5120;

// Dot product as frac * 2^exp with frac normalised, computed exactly in 64 bits.
void norm_dot(const Word16* a, const Word16* b, int n, Word16* frac, Word16* exp) {
    int64_t s = 0;
    for (int i = 0; i < n; i++) s += (int64_t)a[i] * b[i];
    if (s == 0) {
        *frac = 0;
        *exp = 0;
        return;
    }
    int e = 0;
    while (s > 32767 || s < -32768) {
        s >>= 1;
        e++;
    }
    while (s < 16384 && s > -16384) {
        s *= 2;
        e--;
    }
    *frac = (Word16)s;
    *exp = (Word16)e;
}

// Quantised-energy update values of a gain correction factor g (Q(q)).
void gain_factor_energies(Word16 g, Word16 q, Word16* qua_ener_MR122, Word16* qua_ener) {
    Word16 exp, frac;
    Log2(L_deposit_l(g), &exp, &frac);
    exp = sub(exp, q);
    *qua_ener_MR122 = add(shr_r(frac, 5), shl(exp, 10));
    Word32 L_tmp = Mpy_32_16(exp, frac, 24660);  // 20 log10(2) in Q12
    *qua_ener = round16(L_shl(L_tmp, 13));
}

}  // namespace

// ---- predictor --------------------------------------------------------------

int gc_pred_init(GcPredState** st) {
    if (st == nullptr) {
        std::fprintf(stderr, "gc_pred_init: invalid parameter\n");
        return -1;
    }
    *st = nullptr;
    GcPredState* s = static_cast<GcPredState*>(std::calloc(1, sizeof(GcPredState)));
    if (s == nullptr) {
        std::fprintf(stderr, "gc_pred_init: can not malloc state structure\n");
        return -1;
    }
    gc_pred_reset(s);
    *st = s;
    return 0;
}

int gc_pred_reset(GcPredState* st) {
    if (st == nullptr) {
        std::fprintf(stderr, "gc_pred_reset: invalid parameter\n");
        return -1;
    }
    for (int i = 0; i < NPRED; i++) {
        st->past_qua_en[i] = MIN_ENERGY;
        st->past_qua_en_MR122[i] = MIN_ENERGY_MR122;
    }
    return 0;
}

void gc_pred_exit(GcPredState** st) { free_state(st); }

void gc_pred_copy(const GcPredState* src, GcPredState* dst) {
    for (int i = 0; i < NPRED; i++) {
        dst->past_qua_en[i] = src->past_qua_en[i];
        dst->past_qua_en_MR122[i] = src->past_qua_en_MR122[i];
    }
}

void gc_pred_update(GcPredState* st, Word16 qua_ener_MR122, Word16 qua_ener) {
    for (int i = NPRED - 1; i > 0; i--) {
        st->past_qua_en[i] = st->past_qua_en[i - 1];
        st->past_qua_en_MR122[i] = st->past_qua_en_MR122[i - 1];
    }
    st->past_qua_en_MR122[0] = qua_ener_MR122;
    st->past_qua_en[0] = qua_ener;
}

void gc_pred(GcPredState* st, Mode mode, const Word16* code, Word16* exp_gcode0, Word16* frac_gcode0,
             Word16* exp_en, Word16* frac_en) {
    Word32 ener_code = 0;
    for (int i = 0; i < L_SUBFR; i++) ener_code = L_mac(ener_code, code[i], code[i]);

    if (mode == MR122) {
        Word16 exp, frac;
        ener_code = L_mult(round16(ener_code), 26214);  // mean over 40, Q30
        Log2(ener_code, &exp, &frac);
        ener_code = L_Comp(sub(exp, 30), frac);  // log2 of the energy, Q16
        Word32 ener = MEAN_ENER_MR122;
        for (int i = 0; i < NPRED; i++) ener = L_mac(ener, st->past_qua_en_MR122[i], gc_pred_coef_mr122[i]);
        ener = L_shr(L_sub(ener, ener_code), 1);
        L_Extract(ener, exp_gcode0, frac_gcode0);
        return;
    }

    Word16 exp_code = norm_l(ener_code);
    ener_code = L_shl(ener_code, exp_code);
    Word16 exp, frac;
    Log2_norm(ener_code, exp_code, &exp, &frac);
    Word32 L_tmp = Mpy_32_16(exp, frac, -24660);  // -10 log10 of the code energy, Q14
    // Mean innovation energy of the mode plus the scaling of the code (Q14).
    switch (mode) {
    case MR102: L_tmp = L_mac(L_tmp, 16678, 64); break;  // 33 dB
    case MR795:
        *frac_en = extract_h(ener_code);
        *exp_en = sub(-11, exp_code);
        L_tmp = L_mac(L_tmp, 17062, 64);  // 36 dB
        break;
    case MR74: L_tmp = L_mac(L_tmp, 32588, 32); break;  // 30 dB
    case MR67: L_tmp = L_mac(L_tmp, 32268, 32); break;  // 28.75 dB
    default: L_tmp = L_mac(L_tmp, 16678, 64); break;    // 33 dB
    }
    L_tmp = L_shl(L_tmp, 10);  // Q24
    for (int i = 0; i < NPRED; i++) L_tmp = L_mac(L_tmp, gc_pred_coef[i], st->past_qua_en[i]);
    Word16 gcode0 = extract_h(L_tmp);  // dB, Q8
    L_tmp = L_mult(gcode0, 5439);      // log2(10) / 20, Q15
    L_tmp = L_shr(L_tmp, 8);
    L_Extract(L_tmp, exp_gcode0, frac_gcode0);
}

// ---- gain adaptation state (7.95 kbit/s) -------------------------------------

int gain_adapt_init(GainAdaptState** st) {
    if (alloc_state(st) != 0) return -1;
    return gain_adapt_reset(*st);
}
int gain_adapt_reset(GainAdaptState* st) {
    if (st == nullptr) return -1;
    st->onset = 0;
    st->prev_alpha = 0;
    st->prev_gc = 0;
    for (int i = 0; i < 5; i++) st->ltpg_mem[i] = 0;
    return 0;
}
void gain_adapt_exit(GainAdaptState** st) { free_state(st); }

// ---- gain quantiser state ----------------------------------------------------

int gainQuant_init(GainQuantState** st) {
    if (alloc_state(st) != 0) return -1;
    GainQuantState* s = *st;
    if (gc_pred_init(&s->gc_predSt) != 0 || gc_pred_init(&s->gc_predUnqSt) != 0 ||
        gain_adapt_init(&s->adaptSt) != 0) {
        gainQuant_exit(st);
        return -1;
    }
    return gainQuant_reset(s);
}
int gainQuant_reset(GainQuantState* st) {
    if (st == nullptr) return -1;
    st->sf0_exp_gcode0 = st->sf0_frac_gcode0 = 0;
    st->sf0_exp_target_en = st->sf0_frac_target_en = 0;
    for (int i = 0; i < 5; i++) st->sf0_exp_coeff[i] = st->sf0_frac_coeff[i] = 0;
    st->gain_idx_ptr = nullptr;
    gc_pred_reset(st->gc_predSt);
    gc_pred_reset(st->gc_predUnqSt);
    gain_adapt_reset(st->adaptSt);
    return 0;
}
void gainQuant_exit(GainQuantState** st) {
    if (st == nullptr || *st == nullptr) return;
    gc_pred_exit(&(*st)->gc_predSt);
    gc_pred_exit(&(*st)->gc_predUnqSt);
    gain_adapt_exit(&(*st)->adaptSt);
    free_state(st);
}

// ---- energies -------------------------------------------------------------------

Word16 G_pitch(Mode mode, const Word16 xn[], const Word16 y1[], Word16 g_coeff[], Word16 L_subfr) {
    Word16 scaled_y1[L_SUBFR];
    for (int i = 0; i < L_subfr; i++) scaled_y1[i] = shr(y1[i], 2);

    Word16 exp_yy, yy, exp_xy, xy;
    Overflow = 0;
    Word32 s = 1;
    for (int i = 0; i < L_subfr; i++) s = L_mac(s, y1[i], y1[i]);
    if (Overflow == 0) {
        exp_yy = norm_l(s);
        yy = round16(L_shl(s, exp_yy));
    } else {
        s = 1;
        for (int i = 0; i < L_subfr; i++) s = L_mac(s, scaled_y1[i], scaled_y1[i]);
        exp_yy = norm_l(s);
        yy = round16(L_shl(s, exp_yy));
        exp_yy = sub(exp_yy, 4);
    }
    Overflow = 0;
    s = 1;
    for (int i = 0; i < L_subfr; i++) s = L_mac(s, xn[i], y1[i]);
    if (Overflow == 0) {
        exp_xy = norm_l(s);
        xy = round16(L_shl(s, exp_xy));
    } else {
        s = 1;
        for (int i = 0; i < L_subfr; i++) s = L_mac(s, xn[i], scaled_y1[i]);
        exp_xy = norm_l(s);
        xy = round16(L_shl(s, exp_xy));
        exp_xy = sub(exp_xy, 2);
    }
    g_coeff[0] = yy;
    g_coeff[1] = sub(15, exp_yy);
    g_coeff[2] = xy;
    g_coeff[3] = sub(15, exp_xy);

    if (sub(xy, 4) < 0) return 0;
    xy = shr(xy, 1);  // xy < yy for div_s
    Word16 gain = div_s(xy, yy);
    gain = shr(gain, sub(exp_xy, exp_yy));
    if (gain > 19661) gain = 19661;  // 1.2 in Q14
    if (mode == MR122) gain = (Word16)(gain & 0xfffc);
    return gain;
}

namespace {

// Q format of the code vector: pulses of 4096 at 12.2 kbit/s, 8192 otherwise.
Word16 code_q(Mode mode) { return mode == MR122 ? 12 : 13; }

// Coefficients of the error |xn - gp*y1 - gc*y2|^2 as frac * 2^exp:
// <y1,y1>, -2<xn,y1>, <y2,y2>, -2<xn,y2>, 2<y1,y2>, for gp and gc as real gains.
// Also the optimum code gain <xn2,y2>/<y2,y2> as frac * 2^exp (frac 0 if none).
void calc_filt_energies(Mode mode, const Word16 xn[], const Word16 xn2[], const Word16 y1[], const Word16 y2[],
                        const Word16 g_coeff[], Word16 frac_coeff[], Word16 exp_coeff[], Word16* cod_gain_frac,
                        Word16* cod_gain_exp) {
    const Word16 q = code_q(mode);
    Word16 f, e;
    frac_coeff[0] = g_coeff[0];
    exp_coeff[0] = g_coeff[1];
    frac_coeff[1] = negate(g_coeff[2]);
    exp_coeff[1] = add(g_coeff[3], 1);
    norm_dot(y2, y2, L_SUBFR, &f, &e);
    frac_coeff[2] = f;
    exp_coeff[2] = (Word16)(e - 2 * q);
    norm_dot(xn, y2, L_SUBFR, &f, &e);
    frac_coeff[3] = negate(f);
    exp_coeff[3] = (Word16)(e + 1 - q);
    norm_dot(y1, y2, L_SUBFR, &f, &e);
    frac_coeff[4] = f;
    exp_coeff[4] = (Word16)(e + 1 - q);

    *cod_gain_frac = 0;
    *cod_gain_exp = 0;
    Word16 fxy, exy, fyy, eyy;
    norm_dot(xn2, y2, L_SUBFR, &fxy, &exy);
    norm_dot(y2, y2, L_SUBFR, &fyy, &eyy);
    if (fxy > 0 && fyy > 0) {
        // gain = 2^q * xy / yy, with div_s on fractions below one.
        Word16 g = div_s(shr(fxy, 1), fyy);  // Q15 of fxy / (2 fyy)
        *cod_gain_frac = g;
        *cod_gain_exp = (Word16)(exy - eyy + q + 1 - 15);
    }
}

// Energy of the target as frac * 2^exp.
void calc_target_energy(const Word16 xn[], Word16* exp, Word16* frac) {
    norm_dot(xn, xn, L_SUBFR, frac, exp);
    if (*frac <= 0) {
        *frac = 16384;
        *exp = -30;
    }
}

// Value frac * 2^exp as a saturated Q1 gain.
Word16 gain_q1(Word16 frac, Word16 exp) {
    if (frac <= 0) return 0;
    Word32 L = L_shl(L_deposit_l(frac), (Word16)(exp + 1));
    return L > MAX_16 ? MAX_16 : extract_l(L);
}

// f0 * 2^e0 > f1 * 2^e1 for positive normalised fractions.
bool energy_greater(Word16 f0, Word16 e0, Word16 f1, Word16 e1) {
    int de = e0 - e1;
    if (de >= 16) return true;
    if (de <= -16) return false;
    int64_t a = (int64_t)f0 << (de > 0 ? de : 0);
    int64_t b = (int64_t)f1 << (de < 0 ? -de : 0);
    return a > b;
}

// Scales the five coefficients to one exponent, with the exponent of each
// gain term: term i = coeff[i] * gainterm[i] * 2^exp_max[i].
void scale_coeffs(const Word16 frac_coeff[], const Word16 exp_coeff[], Word16 exp_gcode0, Word16 coeff[],
                  Word16 coeff_lo[]) {
    Word16 exp_code = sub(exp_gcode0, 11);
    Word16 exp_max[5];
    exp_max[0] = sub(exp_coeff[0], 13);
    exp_max[1] = sub(exp_coeff[1], 14);
    exp_max[2] = add(exp_coeff[2], add(15, shl(exp_code, 1)));
    exp_max[3] = add(exp_coeff[3], exp_code);
    exp_max[4] = add(exp_coeff[4], add(1, exp_code));
    Word16 e_max = exp_max[0];
    for (int i = 1; i < 5; i++)
        if (exp_max[i] > e_max) e_max = exp_max[i];
    e_max = add(e_max, 1);
    for (int i = 0; i < 5; i++) {
        Word16 j = sub(e_max, exp_max[i]);
        Word32 L_tmp = L_shr(L_deposit_h(frac_coeff[i]), j);
        L_Extract(L_tmp, &coeff[i], &coeff_lo[i]);
    }
}

Word32 gain_error(const Word16 coeff[], const Word16 coeff_lo[], Word16 g_pitch, Word16 g_code) {
    Word16 g2_pitch = mult(g_pitch, g_pitch);
    Word16 g2_code = mult(g_code, g_code);
    Word16 g_pit_cod = mult(g_code, g_pitch);
    Word32 L = Mpy_32_16(coeff[0], coeff_lo[0], g2_pitch);
    L = L_add(L, Mpy_32_16(coeff[1], coeff_lo[1], g_pitch));
    L = L_add(L, Mpy_32_16(coeff[2], coeff_lo[2], g2_code));
    L = L_add(L, Mpy_32_16(coeff[3], coeff_lo[3], g_code));
    return L_add(L, Mpy_32_16(coeff[4], coeff_lo[4], g_pit_cod));
}

// Final code gain (Q1) from a correction factor (Q12) and the prediction.
Word16 code_gain_q1(Word16 g_fac, Word16 gcode0, Word16 exp_gcode0) {
    Word32 L_tmp = L_mult(g_fac, gcode0);
    L_tmp = L_shr(L_tmp, sub(10, exp_gcode0));
    return extract_h(L_tmp);
}

Word16 Qua_gain(Mode mode, Word16 exp_gcode0, Word16 frac_gcode0, const Word16 frac_coeff[],
                const Word16 exp_coeff[], Word16 gp_limit, Word16* gain_pit, Word16* gain_cod,
                Word16* qua_ener_MR122, Word16* qua_ener) {
    const Word16* table;
    int table_len;
    if (mode == MR102 || mode == MR74 || mode == MR67) {
        table = table_gain_highrates;
        table_len = 128;
    } else {
        table = table_gain_lowrates;
        table_len = 64;
    }
    Word16 gcode0 = extract_l(Pow2(14, frac_gcode0));
    Word16 coeff[5], coeff_lo[5];
    scale_coeffs(frac_coeff, exp_coeff, exp_gcode0, coeff, coeff_lo);

    Word32 dist_min = MAX_32;
    Word16 index = 0;
    for (int i = 0; i < table_len; i++) {
        const Word16* p = &table[4 * i];
        if (p[0] > gp_limit) continue;
        Word32 L = gain_error(coeff, coeff_lo, p[0], mult(p[1], gcode0));
        if (L < dist_min) {
            dist_min = L;
            index = (Word16)i;
        }
    }
    const Word16* p = &table[4 * index];
    *gain_pit = p[0];
    *gain_cod = code_gain_q1(p[1], gcode0, exp_gcode0);
    *qua_ener_MR122 = p[2];
    *qua_ener = p[3];
    return index;
}

int64_t isqrt64(int64_t v) {
    if (v <= 0) return 0;
    int64_t r = 0, bit = (int64_t)1 << 62;
    while (bit > v) bit >>= 2;
    while (bit != 0) {
        if (v >= r + bit) {
            v -= r + bit;
            r = (r >> 1) + bit;
        } else {
            r >>= 1;
        }
        bit >>= 2;
    }
    return r;
}

Word16 median5(const Word16 v[5]) {
    Word16 t[5];
    Copy(v, t, 5);
    for (int i = 1; i < 5; i++)
        for (int j = i; j > 0 && t[j - 1] > t[j]; j--) {
            Word16 x = t[j];
            t[j] = t[j - 1];
            t[j - 1] = x;
        }
    return t[2];
}

// LTP coding gain log2(E(res) / E(res - gp exc)), Q13; 0 for a weak residual.
Word16 ltp_coding_gain(const Word16* res, const Word16* exc, Word16 gain_pit) {
    int64_t e_res = 0, e_ltp = 0;
    for (int i = 0; i < L_SUBFR; i++) {
        Word16 t = sub(res[i], round16(L_shl(L_mult(exc[i], gain_pit), 1)));
        e_res += (int64_t)res[i] * res[i];
        e_ltp += (int64_t)t * t;
    }
    if (e_res < 200 || e_ltp <= 0) return 0;
    int64_t ratio = (e_res << 8) / e_ltp;  // Q8
    if (ratio <= 0) return -32768;
    if (ratio > MAX_32) ratio = MAX_32;
    Word16 exp, frac;
    Log2((Word32)ratio, &exp, &frac);
    Word32 q13 = ((Word32)(exp - 8) << 13) + (frac >> 2);
    return q13 > MAX_16 ? MAX_16 : q13 < MIN_16 ? MIN_16 : (Word16)q13;
}

// Adaptation factor of the 7.95 kbit/s code-gain quantiser (Q15, 0..0.5):
// large for weak long-term prediction (noise-like excitation), none at onsets
// or in well-predicted speech.
Word16 gain_adapt(GainAdaptState* st, Word16 ltpg, Word16 gain_cod) {
    Word16 adapt = ltpg <= 2721 ? 0 : ltpg <= 5443 ? 1 : 2;
    if (shr_r(gain_cod, 1) > st->prev_gc && gain_cod > 200)
        st->onset = 8;
    else if (st->onset != 0)
        st->onset = sub(st->onset, 1);
    if (st->onset != 0 && adapt < 2) adapt = add(adapt, 1);
    st->ltpg_mem[0] = ltpg;
    Word16 filt = median5(st->ltpg_mem);
    Word16 result = 0;
    if (adapt == 0) {
        if (filt > 5443)
            result = 0;
        else if (filt < 0)
            result = 16384;
        else
            result = sub(16384, mult(24660, shl(filt, 2)));
    }
    if (st->prev_alpha == 0) result = shr(result, 1);
    st->prev_alpha = result;
    for (int i = 4; i > 0; i--) st->ltpg_mem[i] = st->ltpg_mem[i - 1];
    st->prev_gc = gain_cod;
    return result;
}

// 7.95 kbit/s: joint choice among the three pitch-gain candidates and the 32
// code-gain factors; then, with the adaptive gain control, the code gain is
// chosen again by a criterion that also matches the energy of the total
// excitation to that of the LP residual.
void MR795_gain_quant(GainAdaptState* adapt, const Word16* res, const Word16* exc, const Word16* code,
                      Word16 gp_limit, Word16 exp_gcode0, Word16 frac_gcode0, const Word16 frac_coeff[],
                      const Word16 exp_coeff[], Word16 cod_gain_frac, Word16 cod_gain_exp, Word16* gain_pit,
                      Word16* gain_cod, Word16* qua_ener_MR122, Word16* qua_ener, Word16** anap) {
    Word16 gcode0 = extract_l(Pow2(14, frac_gcode0));
    // The factors are Q11, one bit less than those of the joint tables: the
    // products carry one more exponent unit.
    const Word16 exp_q11 = add(exp_gcode0, 1);
    Word16 cand[3], cind[3];
    q_gain_pitch(MR795, gp_limit, gain_pit, cand, cind);
    Word16 coeff[5], coeff_lo[5];
    scale_coeffs(frac_coeff, exp_coeff, exp_q11, coeff, coeff_lo);
    Word32 dist_min = MAX_32;
    int best_j = 1, best_k = 0;
    for (int j = 0; j < 3; j++) {
        Word16 gp = cand[j];
        for (int k = 0; k < 32; k++) {
            Word16 g_code = mult(qua_gain_code[3 * k], gcode0);
            Word32 L = gain_error(coeff, coeff_lo, gp, g_code);
            if (L < dist_min) {
                dist_min = L;
                best_j = j;
                best_k = k;
            }
        }
    }
    *gain_pit = cand[best_j];
    *gain_cod = code_gain_q1(qua_gain_code[3 * best_k], gcode0, exp_q11);

    if (res != nullptr && exc != nullptr) {
        const Word16 alpha = gain_adapt(adapt, ltp_coding_gain(res, exc, *gain_pit), *gain_cod);
        if (alpha > 0) {
            const int64_t gc_opt = gain_q1(cod_gain_frac, cod_gain_exp);  // Q1
            int64_t e_res = 0, e_code = 0;
            for (int i = 0; i < L_SUBFR; i++) {
                e_res += (int64_t)res[i] * res[i];
                e_code += (int64_t)code[i] * code[i];
            }
            const int64_t rms_res = isqrt64(e_res);
            int64_t j_min = -1;
            for (int k = 0; k < 32; k++) {
                const int64_t gc = code_gain_q1(qua_gain_code[3 * k], gcode0, exp_q11);
                int64_t e_tot = 0;
                for (int i = 0; i < L_SUBFR; i++) {
                    // total excitation: gp (Q14) exc + gc (Q1) code (Q13), in Q0
                    int64_t v = (((int64_t)*gain_pit * exc[i]) + gc * code[i]) >> 14;
                    e_tot += v * v;
                }
                const int64_t d_energy = isqrt64(e_tot) - rms_res;
                const int64_t dg = gc - gc_opt;
                const int64_t term_fit = (dg * dg * (e_code >> 14)) >> 14;  // (gc - gc_opt)^2 <c,c>, Q0
                const int64_t j = ((32768 - alpha) * term_fit + alpha * d_energy * d_energy) >> 15;
                if (j_min < 0 || j < j_min) {
                    j_min = j;
                    best_k = k;
                }
            }
            *gain_cod = code_gain_q1(qua_gain_code[3 * best_k], gcode0, exp_q11);
        }
    }
    *qua_ener_MR122 = qua_gain_code[3 * best_k + 1];
    *qua_ener = qua_gain_code[3 * best_k + 2];
    *(*anap)++ = cind[best_j];
    *(*anap)++ = (Word16)best_k;
}

// 4.75 kbit/s, even subframe: update the unquantised predictor with the
// optimum gain's correction factor.
void MR475_update_unq_pred(GcPredState* pred_st, Word16 exp_gcode0, Word16 frac_gcode0, Word16 cod_gain_exp,
                           Word16 cod_gain_frac) {
    Word16 qua_ener_MR122 = MIN_QUA_ENER_MR122, qua_ener;
    if (cod_gain_frac > 0) {
        // log2(g_fac) = log2(cod_gain) - log2(gcode0)
        Word16 e, f;
        Log2(L_deposit_l(cod_gain_frac), &e, &f);
        Word32 lg = L_Comp(add(e, cod_gain_exp), f);                     // Q16
        Word32 lg0 = L_Comp(exp_gcode0, frac_gcode0);                    // Q16
        Word32 d = L_sub(lg, lg0);                                       // log2(g_fac), Q16
        d = L_shr_r(d, 6);                                               // Q10
        if (d < MIN_QUA_ENER_MR122) d = MIN_QUA_ENER_MR122;
        if (d > MAX_QUA_ENER_MR122) d = MAX_QUA_ENER_MR122;
        qua_ener_MR122 = extract_l(d);
    }
    qua_ener = extract_h(L_shl(L_mult(qua_ener_MR122, 24660), 3));  // 20 log10(2) Q12
    gc_pred_update(pred_st, qua_ener_MR122, qua_ener);
}

Word16 MR475_gain_quant(GainQuantState* st, const Word16* sf1_code, Word16 sf1_exp_gcode0, Word16 sf1_frac_gcode0,
                        const Word16 sf1_exp_coeff[], const Word16 sf1_frac_coeff[], Word16 sf1_exp_target_en,
                        Word16 sf1_frac_target_en, Word16 gp_limit, Word16* sf0_gain_pit, Word16* sf0_gain_cod,
                        Word16* sf1_gain_pit, Word16* sf1_gain_cod) {
    // Weight the second subframe up when its target is much weaker, down when
    // much stronger, so that neither subframe dominates the joint choice.
    Word16 w = 0;
    if (energy_greater(st->sf0_frac_target_en, st->sf0_exp_target_en, sf1_frac_target_en,
                       (Word16)(sf1_exp_target_en + 1)))
        w = 1;
    else if (energy_greater(sf1_frac_target_en, sf1_exp_target_en, st->sf0_frac_target_en,
                            (Word16)(st->sf0_exp_target_en + 2)))
        w = -1;
    Word16 sf1_exp_w[5];
    for (int i = 0; i < 5; i++) sf1_exp_w[i] = add(sf1_exp_coeff[i], w);

    Word16 gcode0_0 = extract_l(Pow2(14, st->sf0_frac_gcode0));
    Word16 gcode0_1 = extract_l(Pow2(14, sf1_frac_gcode0));
    // Scale both subframes' coefficients to a common exponent.
    Word16 c0[5], c0lo[5], c1[5], c1lo[5];
    Word16 exp_code0 = sub(st->sf0_exp_gcode0, 11), exp_code1 = sub(sf1_exp_gcode0, 11);
    Word16 em0[5], em1[5];
    em0[0] = sub(st->sf0_exp_coeff[0], 13);
    em0[1] = sub(st->sf0_exp_coeff[1], 14);
    em0[2] = add(st->sf0_exp_coeff[2], add(15, shl(exp_code0, 1)));
    em0[3] = add(st->sf0_exp_coeff[3], exp_code0);
    em0[4] = add(st->sf0_exp_coeff[4], add(1, exp_code0));
    em1[0] = sub(sf1_exp_w[0], 13);
    em1[1] = sub(sf1_exp_w[1], 14);
    em1[2] = add(sf1_exp_w[2], add(15, shl(exp_code1, 1)));
    em1[3] = add(sf1_exp_w[3], exp_code1);
    em1[4] = add(sf1_exp_w[4], add(1, exp_code1));
    Word16 e_max = em0[0];
    for (int i = 0; i < 5; i++) {
        if (em0[i] > e_max) e_max = em0[i];
        if (em1[i] > e_max) e_max = em1[i];
    }
    e_max = add(e_max, 2);  // two subframes summed: one more bit of headroom
    for (int i = 0; i < 5; i++) {
        L_Extract(L_shr(L_deposit_h(st->sf0_frac_coeff[i]), sub(e_max, em0[i])), &c0[i], &c0lo[i]);
        L_Extract(L_shr(L_deposit_h(sf1_frac_coeff[i]), sub(e_max, em1[i])), &c1[i], &c1lo[i]);
    }

    Word32 dist_min = MAX_32;
    Word16 index = 0;
    for (int i = 0; i < 256; i++) {
        const Word16* p = &table_gain_MR475[4 * i];
        if (p[0] > gp_limit || p[2] > gp_limit) continue;
        Word32 L = gain_error(c0, c0lo, p[0], mult(p[1], gcode0_0));
        L = L_add(L, gain_error(c1, c1lo, p[2], mult(p[3], gcode0_1)));
        if (L < dist_min) {
            dist_min = L;
            index = (Word16)i;
        }
    }

    // Final gains with the quantised predictor, as the decoder forms them.
    const Word16* p = &table_gain_MR475[4 * index];
    Word16 qe122, qe;
    *sf0_gain_pit = p[0];
    *sf0_gain_cod = code_gain_q1(p[1], gcode0_0, st->sf0_exp_gcode0);
    gain_factor_energies(p[1], 12, &qe122, &qe);
    gc_pred_update(st->gc_predSt, qe122, qe);

    Word16 exp_gc, frac_gc, exp_en, frac_en;
    gc_pred(st->gc_predSt, MR475, sf1_code, &exp_gc, &frac_gc, &exp_en, &frac_en);
    Word16 gc0 = extract_l(Pow2(14, frac_gc));
    *sf1_gain_pit = p[2];
    *sf1_gain_cod = code_gain_q1(p[3], gc0, exp_gc);
    gain_factor_energies(p[3], 12, &qe122, &qe);
    gc_pred_update(st->gc_predSt, qe122, qe);
    return index;
}

}  // namespace

Word16 q_gain_pitch(Mode mode, Word16 gp_limit, Word16* gain, Word16 gain_cand[], Word16 gain_cind[]) {
    Word16 err_min = abs_s(sub(*gain, qua_gain_pitch[0]));
    Word16 index = 0;
    for (int i = 1; i < 16; i++) {
        if (qua_gain_pitch[i] <= gp_limit) {
            Word16 err = abs_s(sub(*gain, qua_gain_pitch[i]));
            if (err < err_min) {
                err_min = err;
                index = (Word16)i;
            }
        }
    }
    if (mode == MR795) {
        // The choice and its two neighbours, shifted inwards at the ends.
        Word16 ii;
        if (index == 0)
            ii = 0;
        else if (index == 15 || qua_gain_pitch[index + 1] > gp_limit)
            ii = sub(index, 2);
        else
            ii = sub(index, 1);
        if (ii < 0) ii = 0;
        for (int i = 0; i < 3; i++, ii++) {
            gain_cind[i] = ii;
            gain_cand[i] = qua_gain_pitch[ii];
        }
        *gain = qua_gain_pitch[index];
    } else if (mode == MR122) {
        *gain = (Word16)(qua_gain_pitch[index] & 0xfffc);
    } else {
        *gain = qua_gain_pitch[index];
    }
    return index;
}

Word16 q_gain_code(Mode mode, Word16 exp_gcode0, Word16 frac_gcode0, Word16* gain, Word16* qua_ener_MR122,
                   Word16* qua_ener) {
    Word16 g_q0 = 0;
    if (mode == MR122) g_q0 = shr(*gain, 1);
    Word16 gcode0 = extract_l(Pow2(exp_gcode0, frac_gcode0));
    gcode0 = mode == MR122 ? shl(gcode0, 4) : shl(gcode0, 5);
    Word16 target = mode == MR122 ? g_q0 : *gain;
    Word16 err_min = MAX_16, index = 0;
    for (int i = 0; i < 32; i++) {
        Word16 err = abs_s(sub(target, mult(gcode0, qua_gain_code[3 * i])));
        if (err < err_min) {
            err_min = err;
            index = (Word16)i;
        }
    }
    const Word16* p = &qua_gain_code[3 * index];
    *gain = mode == MR122 ? shl(mult(gcode0, p[0]), 1) : mult(gcode0, p[0]);
    *qua_ener_MR122 = p[1];
    *qua_ener = p[2];
    return index;
}

void gainQuant(GainQuantState* st, Mode mode, const Word16* res, const Word16* exc, const Word16* code,
               const Word16* xn, const Word16* xn2, const Word16* y1, const Word16* Y2, Word16 g_coeff[],
               Flag even_subframe, Word16 gp_limit, Word16* sf0_gain_pit, Word16* sf0_gain_cod,
               Word16* gain_pit, Word16* gain_cod, Word16** anap) {
    Word16 exp_gcode0, frac_gcode0, exp_en = 0, frac_en = 0, cod_gain_frac, cod_gain_exp;
    Word16 frac_coeff[5], exp_coeff[5];
    Word16 qua_ener_MR122, qua_ener;

    if (mode == MR475) {
        if (even_subframe) {
            st->gain_idx_ptr = (*anap)++;
            *st->gain_idx_ptr = 0;
            gc_pred_copy(st->gc_predSt, st->gc_predUnqSt);
            gc_pred(st->gc_predUnqSt, mode, code, &st->sf0_exp_gcode0, &st->sf0_frac_gcode0, &exp_en, &frac_en);
            calc_filt_energies(mode, xn, xn2, y1, Y2, g_coeff, st->sf0_frac_coeff, st->sf0_exp_coeff,
                               &cod_gain_frac, &cod_gain_exp);
            *gain_cod = gain_q1(cod_gain_frac, cod_gain_exp);
            calc_target_energy(xn, &st->sf0_exp_target_en, &st->sf0_frac_target_en);
            MR475_update_unq_pred(st->gc_predUnqSt, st->sf0_exp_gcode0, st->sf0_frac_gcode0, cod_gain_exp,
                                  cod_gain_frac);
        } else {
            gc_pred(st->gc_predUnqSt, mode, code, &exp_gcode0, &frac_gcode0, &exp_en, &frac_en);
            calc_filt_energies(mode, xn, xn2, y1, Y2, g_coeff, frac_coeff, exp_coeff, &cod_gain_frac,
                               &cod_gain_exp);
            calc_target_energy(xn, &exp_en, &frac_en);
            *st->gain_idx_ptr =
                MR475_gain_quant(st, code, exp_gcode0, frac_gcode0, exp_coeff, frac_coeff, exp_en, frac_en,
                                 gp_limit, sf0_gain_pit, sf0_gain_cod, gain_pit, gain_cod);
        }
        return;
    }

    gc_pred(st->gc_predSt, mode, code, &exp_gcode0, &frac_gcode0, &exp_en, &frac_en);
    if (mode == MR122) {
        // Optimum code gain of the updated target, Q1.
        calc_filt_energies(mode, xn, xn2, y1, Y2, g_coeff, frac_coeff, exp_coeff, &cod_gain_frac, &cod_gain_exp);
        *gain_cod = gain_q1(cod_gain_frac, cod_gain_exp);
        *(*anap)++ = q_gain_code(mode, exp_gcode0, frac_gcode0, gain_cod, &qua_ener_MR122, &qua_ener);
    } else {
        calc_filt_energies(mode, xn, xn2, y1, Y2, g_coeff, frac_coeff, exp_coeff, &cod_gain_frac, &cod_gain_exp);
        if (mode == MR795) {
            MR795_gain_quant(st->adaptSt, res, exc, code, gp_limit, exp_gcode0, frac_gcode0, frac_coeff, exp_coeff,
                             cod_gain_frac, cod_gain_exp, gain_pit, gain_cod,
                             &qua_ener_MR122, &qua_ener, anap);
        } else {
            *(*anap)++ = Qua_gain(mode, exp_gcode0, frac_gcode0, frac_coeff, exp_coeff, gp_limit, gain_pit,
                                  gain_cod, &qua_ener_MR122, &qua_ener);
        }
    }
    gc_pred_update(st->gc_predSt, qua_ener_MR122, qua_ener);
}

}  // namespace amr
