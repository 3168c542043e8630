#include "cod_amr.h"

#include <cstdlib>

#include "amr_tables.h"
#include "cbsearch.h"

namespace amr {

namespace {

void pre_big(Mode mode, const Word16 A_t[], Word16 frameOffset, const Word16 speech[], Word16 mem_w[],
             Word16 wsp[]) {
    const Word16* g1 = (mode <= MR795) ? gamma1 : gamma1_12k2;
    Word16 Ap1[MP1], Ap2[MP1];
    int aoff = frameOffset > 0 ? 2 * MP1 : 0;
    int offset = frameOffset;
    for (int i = 0; i < 2; i++) {
        Weight_Ai(&A_t[aoff], g1, Ap1);
        Weight_Ai(&A_t[aoff], gamma2, Ap2);
        Residu(Ap1, &speech[offset], &wsp[offset], L_SUBFR);
        Syn_filt(Ap2, &wsp[offset], &wsp[offset], L_SUBFR, mem_w, 1);
        aoff += MP1;
        offset += L_SUBFR;
    }
}

void subframePreProc(Mode mode, const Word16 A[], const Word16 Aq[], const Word16* speech, Word16* mem_err,
                     const Word16* mem_w0, Word16* zero, Word16 ai_zero[], Word16* exc, Word16 h1[], Word16 xn[],
                     Word16 res2[], Word16 error[]) {
    const Word16* g1 = (mode == MR122 || mode == MR102) ? gamma1_12k2 : gamma1;
    Word16 Ap1[MP1], Ap2[MP1], mem_w0_copy[M];
    Weight_Ai(A, g1, Ap1);
    Weight_Ai(A, gamma2, Ap2);
    for (int i = 0; i <= M; i++) ai_zero[i] = Ap1[i];
    Syn_filt(Aq, ai_zero, h1, L_SUBFR, zero, 0);
    Syn_filt(Ap2, h1, h1, L_SUBFR, zero, 0);
    Residu(Aq, speech, res2, L_SUBFR);
    Copy(res2, exc, L_SUBFR);
    Syn_filt(Aq, exc, error, L_SUBFR, mem_err, 0);
    Residu(Ap1, error, xn, L_SUBFR);
    Copy(mem_w0, mem_w0_copy, M);
    Syn_filt(Ap2, xn, xn, L_SUBFR, mem_w0_copy, 0);
}

void subframePostProc(const Word16* speech, Mode mode, Word16 i_subfr, Word16 gain_pit, Word16 gain_code,
                      const Word16* Aq, Word16 synth[], const Word16 xn[], const Word16 code[], const Word16 y1[],
                      const Word16 y2[], Word16* mem_syn, Word16* mem_err, Word16* mem_w0, Word16* exc,
                      Word16* sharp) {
    *sharp = gain_pit > SHARPMAX ? SHARPMAX : gain_pit;
    Word16 pitch_fac, tempShift;
    if (mode == MR122) {
        // 12.2 kbit/s codes are Q12: one bit less of shift.
        pitch_fac = shr(gain_pit, 1);
        tempShift = 2;
    } else {
        pitch_fac = gain_pit;
        tempShift = 1;
    }
    for (int i = 0; i < L_SUBFR; i++) {
        Word32 L_temp = L_mult(exc[i + i_subfr], pitch_fac);
        L_temp = L_mac(L_temp, code[i], gain_code);
        L_temp = L_shl(L_temp, tempShift);
        exc[i + i_subfr] = round16(L_temp);
    }
    Syn_filt(Aq, &exc[i_subfr], &synth[i_subfr], L_SUBFR, mem_syn, 1);
    for (int i = L_SUBFR - M, j = 0; i < L_SUBFR; i++, j++) {
        mem_err[j] = sub(speech[i_subfr + i], synth[i_subfr + i]);
        Word16 temp = extract_h(L_shl(L_mult(y1[i], gain_pit), 1));
        Word16 k = extract_h(L_shl(L_mult(y2[i], gain_code), tempShift));
        mem_w0[j] = sub(xn[i], add(temp, k));
    }
}

}  // namespace

int cod_amr_init(AmrCoderState** state, Flag dtx) {
    if (state == nullptr) return -1;
    *state = nullptr;
    AmrCoderState* s = static_cast<AmrCoderState*>(std::calloc(1, sizeof(AmrCoderState)));
    if (s == nullptr) return -1;
    s->dtx = dtx;
    if (cl_ltp_init(&s->clLtpSt) || lsp_init(&s->lspSt) || gainQuant_init(&s->gainQuantSt) ||
        p_ol_wgh_init(&s->pitchOLWghtSt) || ton_stab_init(&s->tonStabSt) || vad1_init(&s->vadSt) ||
        dtx_enc_init(&s->dtx_encSt) || lpc_init(&s->lpcSt)) {
        cod_amr_exit(&s);
        return -1;
    }
    cod_amr_reset(s);
    *state = s;
    return 0;
}

int cod_amr_reset(AmrCoderState* st) {
    if (st == nullptr) return -1;
    st->new_speech = st->old_speech + L_WINDOW + 80 - L_FRAME;
    st->speech = st->new_speech - 40;
    st->p_window = st->old_speech + 80;
    st->p_window_12k2 = st->p_window - 40;
    st->wsp = st->old_wsp + PIT_MAX;
    st->exc = st->old_exc + PIT_MAX + L_INTERPOL;
    st->zero = st->ai_zero + MP1;
    st->error = st->mem_err + M;
    st->h1 = &st->hvec[L_SUBFR];
    for (auto& v : st->old_speech) v = 0;
    for (auto& v : st->old_exc) v = 0;
    for (auto& v : st->old_wsp) v = 0;
    for (int i = 0; i < M; i++) st->mem_syn[i] = st->mem_w[i] = st->mem_w0[i] = st->mem_err[i] = 0;
    for (int i = 0; i < L_SUBFR; i++) st->zero[i] = 0;
    for (int i = 0; i < L_SUBFR; i++) st->hvec[i] = 0;
    for (auto& v : st->old_lags) v = 40;
    st->ol_gain_flg[0] = st->ol_gain_flg[1] = 0;
    lpc_reset(st->lpcSt);
    lsp_reset(st->lspSt);
    cl_ltp_reset(st->clLtpSt);
    gainQuant_reset(st->gainQuantSt);
    p_ol_wgh_reset(st->pitchOLWghtSt);
    ton_stab_reset(st->tonStabSt);
    vad1_reset(st->vadSt);
    dtx_enc_reset(st->dtx_encSt);
    st->sharp = SHARPMIN;
    return 0;
}

void cod_amr_exit(AmrCoderState** state) {
    if (state == nullptr || *state == nullptr) return;
    AmrCoderState* s = *state;
    lpc_exit(&s->lpcSt);
    lsp_exit(&s->lspSt);
    gainQuant_exit(&s->gainQuantSt);
    cl_ltp_exit(&s->clLtpSt);
    p_ol_wgh_exit(&s->pitchOLWghtSt);
    ton_stab_exit(&s->tonStabSt);
    vad1_exit(&s->vadSt);
    dtx_enc_exit(&s->dtx_encSt);
    std::free(s);
    *state = nullptr;
}

int cod_amr(AmrCoderState* st, Mode mode, const Word16 new_speech[], Word16 ana[], Mode* usedMode,
            Word16 synth[]) {
    Word16 A_t[(MP1) * 4], Aq_t[(MP1) * 4];
    Word16 xn[L_SUBFR], xn2[L_SUBFR], code[L_SUBFR], y1[L_SUBFR], y2[L_SUBFR], gCoeff[6], res[L_SUBFR],
        res2[L_SUBFR];
    Word16 T_op[2], T0 = 0, T0_frac = 0, gain_pit = 0, gain_code = 0, gp_limit = MAX_16;
    Word16 lsp_new[M], lsp_flag = 0, compute_sid_flag = 0;
    // Saved copies for 4.75 kbit/s, whose gains are quantised per subframe pair.
    Word16 mem_syn_save[M] = {}, mem_w0_save[M] = {}, mem_err_save[M] = {}, sharp_save = 0;
    Word16 h1_sf0[L_SUBFR] = {}, xn_sf0[L_SUBFR] = {}, y2_sf0[L_SUBFR] = {}, code_sf0[L_SUBFR] = {};
    Word16 i_subfr_sf0 = 0, T0_sf0 = 0, T0_frac_sf0 = 0, gain_pit_sf0 = 0, gain_code_sf0 = 0;

    Copy(new_speech, st->new_speech, L_FRAME);
    *usedMode = mode;

    if (st->dtx) {
        Word16 vad_flag = vad1(st->vadSt, st->new_speech - 40);
        compute_sid_flag = tx_dtx_handler(st->dtx_encSt, vad_flag, usedMode);
    }

    lpc(st->lpcSt, mode, st->p_window, st->p_window_12k2, A_t);
    lsp(st->lspSt, mode, *usedMode, A_t, Aq_t, lsp_new, &ana);
    dtx_buffer(st->dtx_encSt, lsp_new, st->new_speech);

    if (*usedMode == MRDTX) {
        dtx_enc(st->dtx_encSt, compute_sid_flag, st->lspSt->qSt, st->gainQuantSt->gc_predSt, &ana);
        for (int i = 0; i < PIT_MAX + L_INTERPOL; i++) st->old_exc[i] = 0;
        for (int i = 0; i < M; i++) st->mem_w0[i] = st->mem_err[i] = 0;
        for (int i = 0; i < L_SUBFR; i++) st->zero[i] = st->hvec[i] = 0;
        lsp_reset(st->lspSt);
        Copy(lsp_new, st->lspSt->lsp_old, M);
        Copy(lsp_new, st->lspSt->lsp_old_q, M);
        cl_ltp_reset(st->clLtpSt);
        st->sharp = SHARPMIN;
    } else {
        lsp_flag = check_lsp(st->tonStabSt, st->lspSt->lsp_old);
    }

    if (st->dtx) vad_tone_detection_update(st->vadSt, (Word16)(mode == MR475 || mode == MR515));
    for (int subfrNr = 0, i_subfr = 0; subfrNr < 2; subfrNr++, i_subfr += L_FRAME_BY2) {
        pre_big(mode, A_t, (Word16)i_subfr, st->speech, st->mem_w, st->wsp);
        if (mode != MR475 && mode != MR515) {
            if (st->dtx && subfrNr == 1) vad_tone_detection_update(st->vadSt, 0);
            ol_ltp(st->pitchOLWghtSt, st->vadSt, mode, &st->wsp[i_subfr], &T_op[subfrNr], st->old_lags,
                   st->ol_gain_flg, (Word16)subfrNr, st->dtx);
        }
    }
    if (mode == MR475 || mode == MR515) {
        ol_ltp(st->pitchOLWghtSt, st->vadSt, mode, &st->wsp[0], &T_op[0], st->old_lags, st->ol_gain_flg, 1, st->dtx);
        T_op[1] = T_op[0];
    }
    if (st->dtx) vad_pitch_detection(st->vadSt, T_op);

    if (*usedMode != MRDTX) {
        const Word16* A = A_t;
        const Word16* Aq = Aq_t;
        Flag evenSubfr = 0;
        Word16 subfrNr = -1;
        for (Word16 i_subfr = 0; i_subfr < L_FRAME; i_subfr += L_SUBFR) {
            subfrNr++;
            evenSubfr = 1 - evenSubfr;
            if (evenSubfr != 0 && *usedMode == MR475) {
                Copy(st->mem_syn, mem_syn_save, M);
                Copy(st->mem_w0, mem_w0_save, M);
                Copy(st->mem_err, mem_err_save, M);
                sharp_save = st->sharp;
            }
            if (*usedMode != MR475) {
                subframePreProc(*usedMode, A, Aq, &st->speech[i_subfr], st->mem_err, st->mem_w0, st->zero,
                                st->ai_zero, &st->exc[i_subfr], st->h1, xn, res, st->error);
            } else {
                subframePreProc(*usedMode, A, Aq, &st->speech[i_subfr], st->mem_err, mem_w0_save, st->zero,
                                st->ai_zero, &st->exc[i_subfr], st->h1, xn, res, st->error);
                if (evenSubfr != 0) Copy(st->h1, h1_sf0, L_SUBFR);
            }
            Copy(res, res2, L_SUBFR);
            cl_ltp(st->clLtpSt, st->tonStabSt, *usedMode, i_subfr, T_op, st->h1, &st->exc[i_subfr], res2, xn,
                   lsp_flag, xn2, y1, &T0, &T0_frac, &gain_pit, gCoeff, &ana, &gp_limit);
            if (subfrNr == 0 && st->ol_gain_flg[0] > 0) st->old_lags[1] = T0;
            if (subfrNr == 3 && st->ol_gain_flg[1] > 0) st->old_lags[0] = T0;

            cbsearch(xn2, st->h1, T0, st->sharp, gain_pit, res2, code, y2, &ana, *usedMode, subfrNr);
            gainQuant(st->gainQuantSt, *usedMode, res, &st->exc[i_subfr], code, xn, xn2, y1, y2, gCoeff, evenSubfr,
                      gp_limit, &gain_pit_sf0, &gain_code_sf0, &gain_pit, &gain_code, &ana);
            update_gp_clipping(st->tonStabSt, gain_pit);

            if (*usedMode != MR475) {
                subframePostProc(st->speech, *usedMode, i_subfr, gain_pit, gain_code, Aq, synth, xn, code, y1, y2,
                                 st->mem_syn, st->mem_err, st->mem_w0, st->exc, &st->sharp);
            } else if (evenSubfr != 0) {
                i_subfr_sf0 = i_subfr;
                Copy(xn, xn_sf0, L_SUBFR);
                Copy(y2, y2_sf0, L_SUBFR);
                Copy(code, code_sf0, L_SUBFR);
                T0_sf0 = T0;
                T0_frac_sf0 = T0_frac;
                subframePostProc(st->speech, *usedMode, i_subfr, gain_pit, gain_code, Aq, synth, xn, code, y1, y2,
                                 mem_syn_save, st->mem_err, mem_w0_save, st->exc, &st->sharp);
                st->sharp = sharp_save;
            } else {
                // Both subframes again, now with the pair's quantised gains.
                Copy(mem_err_save, st->mem_err, M);
                Pred_lt_3or6(&st->exc[i_subfr_sf0], T0_sf0, T0_frac_sf0, L_SUBFR, 1);
                Convolve(&st->exc[i_subfr_sf0], h1_sf0, y1, L_SUBFR);
                subframePostProc(st->speech, *usedMode, i_subfr_sf0, gain_pit_sf0, gain_code_sf0, Aq - MP1, synth,
                                 xn_sf0, code_sf0, y1, y2_sf0, st->mem_syn, st->mem_err, st->mem_w0, st->exc,
                                 &sharp_save);
                subframePreProc(*usedMode, A, Aq, &st->speech[i_subfr], st->mem_err, st->mem_w0, st->zero,
                                st->ai_zero, &st->exc[i_subfr], st->h1, xn, res, st->error);
                Pred_lt_3or6(&st->exc[i_subfr], T0, T0_frac, L_SUBFR, 1);
                Convolve(&st->exc[i_subfr], st->h1, y1, L_SUBFR);
                subframePostProc(st->speech, *usedMode, i_subfr, gain_pit, gain_code, Aq, synth, xn, code, y1, y2,
                                 st->mem_syn, st->mem_err, st->mem_w0, st->exc, &st->sharp);
            }
            A += MP1;
            Aq += MP1;
        }
    }

    Copy(&st->old_speech[L_FRAME], &st->old_speech[0], L_WINDOW + 80 - L_FRAME);
    Copy(&st->old_wsp[L_FRAME], &st->old_wsp[0], PIT_MAX);
    Copy(&st->old_exc[L_FRAME], &st->old_exc[0], PIT_MAX + L_INTERPOL);
    return 0;
}

}  // namespace amr
