#include "vad.h"

#include <cstdlib>

#include "state.h"

#include "amr_tables.h"
#include "gain.h"
#include "lpc.h"

namespace amr {

namespace {

constexpr Word16 COEFF5_1 = 21955;
constexpr Word16 COEFF5_2 = 6390;
constexpr Word16 COEFF3 = 13363;
constexpr Word16 INV_COMPLEN = 3641;
constexpr Word16 NOISE_INIT = 150, NOISE_MIN = 40, NOISE_MAX = 16000;
constexpr Word16 VAD_THR_HIGH = 1260, VAD_THR_LOW = 720, VAD_SLOPE = -2808, VAD_P1 = 0;
constexpr Word32 VAD_POW_LOW = 15000;
constexpr Word32 POW_PITCH_THR = 343040;
constexpr Word32 POW_COMPLEX_THR = 15000;
constexpr Word16 TONE_THR = 21298;
constexpr Word16 STAT_THR_LEVEL = 184, STAT_THR = 1000, STAT_COUNT = 20, CAD_MIN_STAT_COUNT = 5;
constexpr Word16 ALPHA_UP1 = 1638, ALPHA_DOWN1 = 2097, ALPHA_UP2 = 491, ALPHA_DOWN2 = 1867, ALPHA3 = 1638;
constexpr Word16 ALPHA4 = 3276, ALPHA5 = 16383;
constexpr Word16 HANG_NOISE_THR = 100, BURST_LEN_HIGH_NOISE = 4, HANG_LEN_HIGH_NOISE = 7;
constexpr Word16 BURST_LEN_LOW_NOISE = 5, HANG_LEN_LOW_NOISE = 4;
constexpr Word16 CVAD_THRESH_ADAPT_HIGH = 19660, CVAD_THRESH_ADAPT_LOW = 16383, CVAD_THRESH_HANG = 22936;
constexpr Word16 CVAD_THRESH_IN_NOISE = 18021, CVAD_HANG_LIMIT = 100, CVAD_HANG_LENGTH = 250;
constexpr Word16 CVAD_ADAPT_SLOW = 655, CVAD_ADAPT_FAST = 2621, CVAD_ADAPT_REALLY_FAST = 6553;
constexpr Word16 CVAD_MIN_CORR = 13106;
constexpr Word16 LTHRESH = 4, NTHRESH = 4;
constexpr Word16 DTX_HANG_CONST = 7, DTX_ELAPSED_FRAMES_THRESH = 30;
constexpr Word16 UNIRSHFT = 6;

void first_filter_stage(const Word16 in[], Word16 out[], Word16 data[]) {
    Word16 data0 = data[0], data1 = data[1];
    for (int i = 0; i < L_FRAME / 4; i++) {
        Word16 temp0 = sub(shr(in[4 * i + 0], 2), mult(COEFF5_1, data0));
        Word16 temp1 = add(data0, mult(COEFF5_1, temp0));
        Word16 temp3 = sub(shr(in[4 * i + 1], 2), mult(COEFF5_2, data1));
        Word16 temp2 = add(data1, mult(COEFF5_2, temp3));
        out[4 * i + 0] = add(temp1, temp2);
        out[4 * i + 1] = sub(temp1, temp2);
        data0 = sub(shr(in[4 * i + 2], 2), mult(COEFF5_1, temp0));
        temp1 = add(temp0, mult(COEFF5_1, data0));
        data1 = sub(shr(in[4 * i + 3], 2), mult(COEFF5_2, temp3));
        temp2 = add(temp3, mult(COEFF5_2, data1));
        out[4 * i + 2] = add(temp1, temp2);
        out[4 * i + 3] = sub(temp1, temp2);
    }
    data[0] = data0;
    data[1] = data1;
}

void filter5(Word16* in0, Word16* in1, Word16 data[]) {
    Word16 temp0 = sub(*in0, mult(COEFF5_1, data[0]));
    Word16 temp1 = add(data[0], mult(COEFF5_1, temp0));
    data[0] = temp0;
    temp0 = sub(*in1, mult(COEFF5_2, data[1]));
    Word16 temp2 = add(data[1], mult(COEFF5_2, temp0));
    data[1] = temp0;
    *in0 = shr(add(temp1, temp2), 1);
    *in1 = shr(sub(temp1, temp2), 1);
}

void filter3(Word16* in0, Word16* in1, Word16* data) {
    Word16 temp1 = sub(*in1, mult(COEFF3, *data));
    Word16 temp2 = add(*data, mult(COEFF3, temp1));
    *data = temp1;
    *in1 = shr(sub(*in0, temp2), 1);
    *in0 = shr(add(*in0, temp2), 1);
}

Word16 level_calculation(const Word16 data[], Word16* sub_level, int count1, int count2, int ind_m, int ind_a,
                         Word16 scale) {
    Word32 l_temp1 = 0;
    for (int i = count1; i < count2; i++) l_temp1 = L_mac(l_temp1, 1, abs_s(data[ind_m * i + ind_a]));
    Word32 l_temp2 = L_add(l_temp1, L_shl(*sub_level, sub(16, scale)));
    *sub_level = extract_h(L_shl(l_temp1, scale));
    for (int i = 0; i < count1; i++) l_temp2 = L_mac(l_temp2, 1, abs_s(data[ind_m * i + ind_a]));
    return extract_h(L_shl(l_temp2, scale));
}

void filter_bank(VadState* st, const Word16* in_buf, Word16 level[]) {
    Word16 tmp_buf[L_FRAME];
    first_filter_stage(in_buf, tmp_buf, st->a_data5[0]);
    for (int i = 0; i < L_FRAME / 4; i++) {
        filter5(&tmp_buf[4 * i], &tmp_buf[4 * i + 2], st->a_data5[1]);
        filter5(&tmp_buf[4 * i + 1], &tmp_buf[4 * i + 3], st->a_data5[2]);
    }
    for (int i = 0; i < L_FRAME / 8; i++) {
        filter3(&tmp_buf[8 * i + 0], &tmp_buf[8 * i + 4], &st->a_data3[0]);
        filter3(&tmp_buf[8 * i + 2], &tmp_buf[8 * i + 6], &st->a_data3[1]);
        filter3(&tmp_buf[8 * i + 3], &tmp_buf[8 * i + 7], &st->a_data3[4]);
    }
    for (int i = 0; i < L_FRAME / 16; i++) {
        filter3(&tmp_buf[16 * i + 0], &tmp_buf[16 * i + 8], &st->a_data3[2]);
        filter3(&tmp_buf[16 * i + 4], &tmp_buf[16 * i + 12], &st->a_data3[3]);
    }
    level[8] = level_calculation(tmp_buf, &st->sub_level[8], L_FRAME / 4 - 8, L_FRAME / 4, 4, 1, 15);
    level[7] = level_calculation(tmp_buf, &st->sub_level[7], L_FRAME / 8 - 4, L_FRAME / 8, 8, 7, 16);
    level[6] = level_calculation(tmp_buf, &st->sub_level[6], L_FRAME / 8 - 4, L_FRAME / 8, 8, 3, 16);
    level[5] = level_calculation(tmp_buf, &st->sub_level[5], L_FRAME / 8 - 4, L_FRAME / 8, 8, 2, 16);
    level[4] = level_calculation(tmp_buf, &st->sub_level[4], L_FRAME / 8 - 4, L_FRAME / 8, 8, 6, 16);
    level[3] = level_calculation(tmp_buf, &st->sub_level[3], L_FRAME / 16 - 2, L_FRAME / 16, 16, 4, 16);
    level[2] = level_calculation(tmp_buf, &st->sub_level[2], L_FRAME / 16 - 2, L_FRAME / 16, 16, 12, 16);
    level[1] = level_calculation(tmp_buf, &st->sub_level[1], L_FRAME / 16 - 2, L_FRAME / 16, 16, 8, 16);
    level[0] = level_calculation(tmp_buf, &st->sub_level[0], L_FRAME / 16 - 2, L_FRAME / 16, 16, 0, 16);
}

void update_cntrl(VadState* st, const Word16 level[]) {
    if (st->complex_warning != 0 && st->stat_count < CAD_MIN_STAT_COUNT) st->stat_count = CAD_MIN_STAT_COUNT;
    if ((st->pitch & 0x6000) == 0x6000 || (st->tone & 0x7c00) == 0x7c00) {
        st->stat_count = STAT_COUNT;
    } else if ((st->vadreg & 0x7f80) == 0) {
        st->stat_count = STAT_COUNT;
    } else {
        Word16 stat_rat = 0;
        for (int i = 0; i < COMPLEN; i++) {
            Word16 num, denom;
            if (level[i] > st->ave_level[i]) {
                num = level[i];
                denom = st->ave_level[i];
            } else {
                num = st->ave_level[i];
                denom = level[i];
            }
            if (num < STAT_THR_LEVEL) num = STAT_THR_LEVEL;
            if (denom < STAT_THR_LEVEL) denom = STAT_THR_LEVEL;
            Word16 exp = norm_s(denom);
            denom = shl(denom, exp);
            Word16 temp = div_s(shr(num, 1), denom);
            stat_rat = add(stat_rat, shr(temp, sub(8, exp)));
        }
        if (stat_rat > STAT_THR) {
            st->stat_count = STAT_COUNT;
        } else if ((st->vadreg & 0x4000) != 0 && st->stat_count != 0) {
            st->stat_count = sub(st->stat_count, 1);
        }
    }
    Word16 alpha = st->stat_count == STAT_COUNT ? 32767 : (st->vadreg & 0x4000) == 0 ? ALPHA5 : ALPHA4;
    for (int i = 0; i < COMPLEN; i++)
        st->ave_level[i] = add(st->ave_level[i], mult_r(alpha, sub(level[i], st->ave_level[i])));
}

Word16 hangover_addition(VadState* st, Word16 noise_level, Word16 low_power) {
    Word16 burst_len, hang_len;
    if (noise_level > HANG_NOISE_THR) {
        burst_len = BURST_LEN_HIGH_NOISE;
        hang_len = HANG_LEN_HIGH_NOISE;
    } else {
        burst_len = BURST_LEN_LOW_NOISE;
        hang_len = HANG_LEN_LOW_NOISE;
    }
    if (low_power != 0) {
        st->burst_count = 0;
        st->hang_count = 0;
        st->complex_hang_count = 0;
        st->complex_hang_timer = 0;
        return 0;
    }
    if (st->complex_hang_timer > CVAD_HANG_LIMIT && st->complex_hang_count < CVAD_HANG_LENGTH)
        st->complex_hang_count = CVAD_HANG_LENGTH;
    if (st->complex_hang_count != 0) {
        st->burst_count = BURST_LEN_HIGH_NOISE;
        st->complex_hang_count = sub(st->complex_hang_count, 1);
        return 1;
    }
    if ((st->vadreg & 0x3ff0) == 0 && st->corr_hp_fast > CVAD_THRESH_IN_NOISE) return 1;
    if ((st->vadreg & 0x4000) != 0) {
        st->burst_count = add(st->burst_count, 1);
        if (st->burst_count >= burst_len) st->hang_count = hang_len;
        return 1;
    }
    st->burst_count = 0;
    if (st->hang_count > 0) {
        st->hang_count = sub(st->hang_count, 1);
        return 1;
    }
    return 0;
}

void noise_estimate_update(VadState* st, const Word16 level[]) {
    update_cntrl(st, level);
    Word16 alpha_up, alpha_down, bckr_add = 2;
    if ((st->vadreg & 0x7800) == 0 && (st->pitch & 0x7800) == 0 && st->complex_hang_count == 0) {
        alpha_up = ALPHA_UP1;
        alpha_down = ALPHA_DOWN1;
    } else if (st->stat_count == 0 && st->complex_hang_count == 0) {
        alpha_up = ALPHA_UP2;
        alpha_down = ALPHA_DOWN2;
    } else {
        alpha_up = 0;
        alpha_down = ALPHA3;
        bckr_add = 0;
    }
    for (int i = 0; i < COMPLEN; i++) {
        Word16 temp = sub(st->old_level[i], st->bckr_est[i]);
        if (temp < 0) {
            temp = mult_r(alpha_down, temp);
            st->bckr_est[i] = add(-2, add(st->bckr_est[i], temp));
            if (st->bckr_est[i] < NOISE_MIN) st->bckr_est[i] = NOISE_MIN;
        } else {
            temp = mult_r(alpha_up, temp);
            st->bckr_est[i] = add(bckr_add, add(st->bckr_est[i], temp));
            if (st->bckr_est[i] > NOISE_MAX) st->bckr_est[i] = NOISE_MAX;
        }
    }
    for (int i = 0; i < COMPLEN; i++) st->old_level[i] = level[i];
}

void complex_estimate_adapt(VadState* st, Word16 low_power) {
    Word16 alpha;
    if (st->best_corr_hp < st->corr_hp_fast)
        alpha = st->corr_hp_fast < CVAD_THRESH_ADAPT_HIGH ? CVAD_ADAPT_FAST : CVAD_ADAPT_REALLY_FAST;
    else
        alpha = st->corr_hp_fast < CVAD_THRESH_ADAPT_HIGH ? CVAD_ADAPT_FAST : CVAD_ADAPT_SLOW;
    Word32 L_tmp = L_deposit_h(st->corr_hp_fast);
    L_tmp = L_msu(L_tmp, alpha, st->corr_hp_fast);
    L_tmp = L_mac(L_tmp, alpha, st->best_corr_hp);
    st->corr_hp_fast = round16(L_tmp);
    if (st->corr_hp_fast < CVAD_MIN_CORR) st->corr_hp_fast = CVAD_MIN_CORR;
    if (low_power != 0) st->corr_hp_fast = CVAD_MIN_CORR;
}

Word16 complex_vad(VadState* st, Word16 low_power) {
    st->complex_high = shr(st->complex_high, 1);
    st->complex_low = shr(st->complex_low, 1);
    if (low_power == 0) {
        if (st->corr_hp_fast > CVAD_THRESH_ADAPT_HIGH) st->complex_high |= 0x4000;
        if (st->corr_hp_fast > CVAD_THRESH_ADAPT_LOW) st->complex_low |= 0x4000;
    }
    if (st->corr_hp_fast > CVAD_THRESH_HANG)
        st->complex_hang_timer = add(st->complex_hang_timer, 1);
    else
        st->complex_hang_timer = 0;
    return (Word16)(((st->complex_high & 0x7f80) == 0x7f80) || ((st->complex_low & 0x7fff) == 0x7fff));
}

Word16 vad_decision(VadState* st, const Word16 level[], Word32 pow_sum) {
    Word32 L_snr_sum = 0;
    for (int i = 0; i < COMPLEN; i++) {
        Word16 exp = norm_s(st->bckr_est[i]);
        Word16 temp = shl(st->bckr_est[i], exp);
        temp = div_s(shr(level[i], 1), temp);
        temp = shl(temp, sub(exp, UNIRSHFT - 1));
        L_snr_sum = L_mac(L_snr_sum, temp, temp);
    }
    Word16 snr_sum = extract_h(L_shl(L_snr_sum, 6));
    snr_sum = mult(snr_sum, INV_COMPLEN);
    Word32 L_temp = 0;
    for (int i = 0; i < COMPLEN; i++) L_temp = L_add(L_temp, st->bckr_est[i]);
    Word16 noise_level = extract_h(L_shl(L_temp, 13));
    Word16 vad_thr = add(mult(VAD_SLOPE, sub(noise_level, VAD_P1)), VAD_THR_HIGH);
    if (vad_thr < VAD_THR_LOW) vad_thr = VAD_THR_LOW;
    st->vadreg = shr(st->vadreg, 1);
    if (snr_sum > vad_thr) st->vadreg |= 0x4000;
    Word16 low_power_flag = pow_sum < VAD_POW_LOW ? 1 : 0;
    complex_estimate_adapt(st, low_power_flag);
    st->complex_warning = complex_vad(st, low_power_flag);
    noise_estimate_update(st, level);
    st->speech_vad_decision = hangover_addition(st, noise_level, low_power_flag);
    return st->speech_vad_decision;
}


}  // namespace

int vad1_init(VadState** st) {
    if (alloc_state(st) != 0) return -1;
    return vad1_reset(*st);
}
int vad1_reset(VadState* st) {
    if (st == nullptr) return -1;
    *st = VadState{};
    for (int i = 0; i < COMPLEN; i++) {
        st->bckr_est[i] = NOISE_INIT;
        st->ave_level[i] = NOISE_INIT;
        st->old_level[i] = NOISE_INIT;
        st->sub_level[i] = 0;
    }
    st->best_corr_hp = CVAD_MIN_CORR;
    st->corr_hp_fast = CVAD_MIN_CORR;
    return 0;
}
void vad1_exit(VadState** st) { free_state(st); }

Word16 vad1(VadState* st, const Word16* in_buf) {
    Word32 L_temp = 0;
    for (int i = 0; i < L_FRAME; i++) L_temp = L_mac(L_temp, in_buf[i], in_buf[i]);
    if (L_temp < POW_PITCH_THR) st->pitch = (Word16)(st->pitch & 0x3fff);
    if (L_temp < POW_COMPLEX_THR) st->complex_low = (Word16)(st->complex_low & 0x3fff);
    Word16 level[COMPLEN];
    filter_bank(st, in_buf, level);
    return vad_decision(st, level, L_temp);
}

void vad_tone_detection(VadState* st, Word32 t0, Word32 t1) {
    Word16 temp = round16(t1);
    if (temp > 0 && L_msu(t0, temp, TONE_THR) > 0) st->tone |= 0x4000;
}

void vad_tone_detection_update(VadState* st, Word16 one_lag_per_frame) {
    st->tone = shr(st->tone, 1);
    if (one_lag_per_frame != 0) st->tone = shr(st->tone, 1);
}

void vad_complex_detection_update(VadState* st, Word16 best_corr_hp) { st->best_corr_hp = best_corr_hp; }

void vad_pitch_detection(VadState* st, const Word16 T_op[2]) {
    Word16 lagcount = 0;
    for (int i = 0; i < 2; i++) {
        if (abs_s(sub(st->oldlag, T_op[i])) < LTHRESH) lagcount = add(lagcount, 1);
        st->oldlag = T_op[i];
    }
    st->pitch = shr(st->pitch, 1);
    if (add(st->oldlag_count, lagcount) >= NTHRESH) st->pitch |= 0x4000;
    st->oldlag_count = lagcount;
}

// ---- DTX ------------------------------------------------------------------

int dtx_enc_init(DtxEncState** st) {
    if (alloc_state(st) != 0) return -1;
    dtx_enc_reset(*st);
    return 0;
}
int dtx_enc_reset(DtxEncState* st) {
    if (st == nullptr) return -1;
    *st = DtxEncState{};
    for (int i = 0; i < DTX_HIST_SIZE; i++) Copy(lsp_init_data, &st->lsp_hist[i * M], M);
    st->dtxHangoverCount = DTX_HANG_CONST;
    st->decAnaElapsedCount = 32767;
    return 1;
}
void dtx_enc_exit(DtxEncState** st) { free_state(st); }

Word16 tx_dtx_handler(DtxEncState* st, Word16 vad_flag, Mode* usedMode) {
    st->decAnaElapsedCount = add(st->decAnaElapsedCount, 1);
    Word16 compute_new_sid_possible = 0;
    if (vad_flag != 0) {
        st->dtxHangoverCount = DTX_HANG_CONST;
    } else if (st->dtxHangoverCount == 0) {
        st->decAnaElapsedCount = 0;
        *usedMode = MRDTX;
        compute_new_sid_possible = 1;
    } else {
        st->dtxHangoverCount = sub(st->dtxHangoverCount, 1);
        if (add(st->decAnaElapsedCount, st->dtxHangoverCount) < DTX_ELAPSED_FRAMES_THRESH) *usedMode = MRDTX;
    }
    return compute_new_sid_possible;
}

void dtx_buffer(DtxEncState* st, const Word16 lsp_new[], const Word16* speech) {
    st->hist_ptr = add(st->hist_ptr, 1);
    if (st->hist_ptr == DTX_HIST_SIZE) st->hist_ptr = 0;
    Copy(lsp_new, &st->lsp_hist[st->hist_ptr * M], M);
    Word32 L_frame_en = 0;
    for (int i = 0; i < L_FRAME; i++) L_frame_en = L_mac(L_frame_en, speech[i], speech[i]);
    Word16 log_en_e, log_en_m;
    Log2(L_frame_en, &log_en_e, &log_en_m);
    Word16 log_en = shl(log_en_e, 10);
    log_en = add(log_en, shr(log_en_m, 15 - 10));
    log_en = sub(log_en, 8521);  // log2(160), Q10
    st->log_en_hist[st->hist_ptr] = shr(log_en, 1);
}

void dtx_enc(DtxEncState* st, Word16 computeSidFlag, QPlsfState* qSt, GcPredState* predState, Word16** anap) {
    if (computeSidFlag != 0 || st->log_en_index == 0) {
        Word16 log_en = 0;
        Word32 L_lsp[M] = {};
        for (int i = 0; i < DTX_HIST_SIZE; i++) {
            log_en = add(log_en, shr(st->log_en_hist[i], 2));
            for (int j = 0; j < M; j++) L_lsp[j] = L_add(L_lsp[j], L_deposit_l(st->lsp_hist[i * M + j]));
        }
        log_en = shr(log_en, 1);
        Word16 lsp[M], lsf[M], lsp_q[M];
        for (int j = 0; j < M; j++) lsp[j] = extract_l(L_shr(L_lsp[j], 3));
        st->log_en_index = shr(add(add(log_en, 2560), 128), 8);
        if (st->log_en_index > 63) st->log_en_index = 63;
        if (st->log_en_index < 0) st->log_en_index = 0;
        log_en = sub(shl(st->log_en_index, 8), 2560 + 9000);
        if (log_en > 0) log_en = 0;
        if (log_en < -14436) log_en = -14436;
        for (int i = 0; i < NPRED; i++) predState->past_qua_en[i] = log_en;
        log_en = mult(5443, log_en);
        for (int i = 0; i < NPRED; i++) predState->past_qua_en_MR122[i] = log_en;
        Lsp_lsf(lsp, lsf, M);
        Reorder_lsf(lsf, LSF_GAP, M);
        Lsf_lsp(lsf, lsp, M);
        Q_plsf_3(qSt, MRDTX, lsp, lsp_q, st->lsp_index, &st->init_lsf_vq_index);
    }
    *(*anap)++ = st->init_lsf_vq_index;
    *(*anap)++ = st->lsp_index[0];
    *(*anap)++ = st->lsp_index[1];
    *(*anap)++ = st->lsp_index[2];
    *(*anap)++ = st->log_en_index;
}

}  // namespace amr
