#include "lpc.h"

#include <cstdlib>

#include "state.h"

#include "amr_tables.h"

namespace amr {

// ---- states -------------------------------------------------------------


int Levinson_init(LevinsonState** st) {
    if (alloc_state(st) != 0) return -1;
    return Levinson_reset(*st);
}
int Levinson_reset(LevinsonState* st) {
    if (st == nullptr) return -1;
    st->old_A[0] = 4096;
    for (int i = 1; i < MP1; i++) st->old_A[i] = 0;
    return 0;
}
void Levinson_exit(LevinsonState** st) { free_state(st); }

int lpc_init(LpcState** st) {
    if (alloc_state(st) != 0) return -1;
    if (Levinson_init(&(*st)->levinsonSt) != 0) {
        lpc_exit(st);
        return -1;
    }
    return lpc_reset(*st);
}
int lpc_reset(LpcState* st) {
    if (st == nullptr) return -1;
    return Levinson_reset(st->levinsonSt);
}
void lpc_exit(LpcState** st) {
    if (st == nullptr || *st == nullptr) return;
    Levinson_exit(&(*st)->levinsonSt);
    free_state(st);
}

int Q_plsf_init(QPlsfState** st) {
    if (alloc_state(st) != 0) return -1;
    return Q_plsf_reset(*st);
}
int Q_plsf_reset(QPlsfState* st) {
    if (st == nullptr) return -1;
    for (int i = 0; i < M; i++) st->past_rq[i] = 0;
    return 0;
}
void Q_plsf_exit(QPlsfState** st) { free_state(st); }

int lsp_init(LspState** st) {
    if (alloc_state(st) != 0) return -1;
    if (Q_plsf_init(&(*st)->qSt) != 0) {
        lsp_exit(st);
        return -1;
    }
    return lsp_reset(*st);
}
int lsp_reset(LspState* st) {
    if (st == nullptr) return -1;
    Copy(lsp_init_data, st->lsp_old, M);
    Copy(lsp_init_data, st->lsp_old_q, M);
    return Q_plsf_reset(st->qSt);
}
void lsp_exit(LspState** st) {
    if (st == nullptr || *st == nullptr) return;
    Q_plsf_exit(&(*st)->qSt);
    free_state(st);
}

// ---- LP analysis --------------------------------------------------------

Word16 Autocorr(const Word16 x[], Word16 m, Word16 r_h[], Word16 r_l[], const Word16 wind[]) {
    Word16 y[L_WINDOW];
    for (int i = 0; i < L_WINDOW; i++) y[i] = mult_r(x[i], wind[i]);

    Word16 overfl_shft = 0;
    Word32 sum;
    for (;;) {
        // The energy is summed with explicit overflow detection; on overflow
        // the windowed signal is scaled down and the sum redone.
        int64_t e = 0;
        for (int i = 0; i < L_WINDOW; i++) e += (int64_t)y[i] * y[i];
        e *= 2;
        if (e <= MAX_32) {
            sum = (Word32)e;
            break;
        }
        Overflow = 1;
        for (int i = 0; i < L_WINDOW; i++) y[i] = shr(y[i], 2);
        overfl_shft = add(overfl_shft, 4);
    }
    sum = L_add(sum, 1);
    Word16 norm = norm_l(sum);
    sum = L_shl(sum, norm);
    L_Extract(sum, &r_h[0], &r_l[0]);
    for (int i = 1; i <= m; i++) {
        // |lag i| <= lag 0, which was shown above not to overflow.
        sum = 0;
        for (int j = 0; j < L_WINDOW - i; j++) sum = L_mac(sum, y[j], y[j + i]);
        sum = L_shl(sum, norm);
        L_Extract(sum, &r_h[i], &r_l[i]);
    }
    return sub(norm, overfl_shft);
}

void Lag_window(Word16 m, Word16 r_h[], Word16 r_l[]) {
    for (int i = 1; i <= m; i++) {
        Word32 x = Mpy_32(r_h[i], r_l[i], lag_h[i - 1], lag_l[i - 1]);
        L_Extract(x, &r_h[i], &r_l[i]);
    }
}

int Levinson(LevinsonState* st, const Word16 Rh[], const Word16 Rl[], Word16 A[], Word16 rc[]) {
    Word16 Ah[MP1], Al[MP1], Anh[MP1], Anl[MP1];
    Word16 hi, lo, Kh, Kl, alp_h, alp_l, alp_exp;
    Word32 t0, t1, t2;

    t1 = L_Comp(Rh[1], Rl[1]);
    t2 = L_abs(t1);
    t0 = Div_32(t2, Rh[0], Rl[0]);
    if (t1 > 0) t0 = L_negate(t0);
    L_Extract(t0, &Kh, &Kl);
    rc[0] = round16(t0);
    t0 = L_shr(t0, 4);
    L_Extract(t0, &Ah[1], &Al[1]);

    t0 = Mpy_32(Kh, Kl, Kh, Kl);
    t0 = L_abs(t0);
    t0 = L_sub(MAX_32, t0);
    L_Extract(t0, &hi, &lo);
    t0 = Mpy_32(Rh[0], Rl[0], hi, lo);
    alp_exp = norm_l(t0);
    t0 = L_shl(t0, alp_exp);
    L_Extract(t0, &alp_h, &alp_l);

    for (int i = 2; i <= M; i++) {
        t0 = 0;
        for (int j = 1; j < i; j++) t0 = L_add(t0, Mpy_32(Rh[j], Rl[j], Ah[i - j], Al[i - j]));
        t0 = L_shl(t0, 4);
        t1 = L_Comp(Rh[i], Rl[i]);
        t0 = L_add(t0, t1);

        t1 = L_abs(t0);
        t2 = Div_32(t1, alp_h, alp_l);
        if (t0 > 0) t2 = L_negate(t2);
        t2 = L_shl(t2, alp_exp);
        L_Extract(t2, &Kh, &Kl);
        if (i < 5) rc[i - 1] = round16(t2);

        if (abs_s(Kh) > 32750) {
            Copy(st->old_A, A, MP1);
            for (int j = 0; j < 4; j++) rc[j] = 0;
            return 0;
        }
        for (int j = 1; j < i; j++) {
            t0 = Mpy_32(Kh, Kl, Ah[i - j], Al[i - j]);
            t0 = L_add(t0, L_Comp(Ah[j], Al[j]));
            L_Extract(t0, &Anh[j], &Anl[j]);
        }
        t2 = L_shr(t2, 4);
        L_Extract(t2, &Anh[i], &Anl[i]);

        t0 = Mpy_32(Kh, Kl, Kh, Kl);
        t0 = L_abs(t0);
        t0 = L_sub(MAX_32, t0);
        L_Extract(t0, &hi, &lo);
        t0 = Mpy_32(alp_h, alp_l, hi, lo);
        Word16 j = norm_l(t0);
        t0 = L_shl(t0, j);
        L_Extract(t0, &alp_h, &alp_l);
        alp_exp = add(alp_exp, j);
        for (int k = 1; k <= i; k++) {
            Ah[k] = Anh[k];
            Al[k] = Anl[k];
        }
    }
    A[0] = 4096;
    for (int i = 1; i <= M; i++) {
        t0 = L_Comp(Ah[i], Al[i]);
        st->old_A[i] = A[i] = round16(L_shl(t0, 1));
    }
    st->old_A[0] = 4096;
    return 0;
}

void lpc(LpcState* st, Mode mode, const Word16* x, const Word16* x_12k2, Word16 a[]) {
    Word16 rh[MP1], rl[MP1], rc[4];
    if (mode == MR122) {
        Autocorr(x_12k2, M, rh, rl, window_160_80);
        Lag_window(M, rh, rl);
        Levinson(st->levinsonSt, rh, rl, &a[MP1], rc);
        Autocorr(x_12k2, M, rh, rl, window_232_8);
        Lag_window(M, rh, rl);
        Levinson(st->levinsonSt, rh, rl, &a[MP1 * 3], rc);
    } else {
        Autocorr(x, M, rh, rl, window_200_40);
        Lag_window(M, rh, rl);
        Levinson(st->levinsonSt, rh, rl, &a[MP1 * 3], rc);
    }
}

// ---- LSP conversions ----------------------------------------------------

// Chebyshev polynomial of the sum/difference polynomial at x (Q15), Q14 result.
static Word16 Chebps(Word16 x, const Word16 f[], Word16 n) {
    Word16 b0_h, b0_l, b1_h, b1_l, b2_h = 256, b2_l = 0;
    Word32 t0 = L_mult(x, 512);
    t0 = L_mac(t0, f[1], 8192);
    L_Extract(t0, &b1_h, &b1_l);
    int i;
    for (i = 2; i < n; i++) {
        t0 = Mpy_32_16(b1_h, b1_l, x);
        t0 = L_shl(t0, 1);
        t0 = L_mac(t0, b2_h, (Word16)0x8000);
        t0 = L_msu(t0, b2_l, 1);
        t0 = L_mac(t0, f[i], 8192);
        L_Extract(t0, &b0_h, &b0_l);
        b2_l = b1_l;
        b2_h = b1_h;
        b1_l = b0_l;
        b1_h = b0_h;
    }
    t0 = Mpy_32_16(b1_h, b1_l, x);
    t0 = L_mac(t0, b2_h, (Word16)0x8000);
    t0 = L_msu(t0, b2_l, 1);
    t0 = L_mac(t0, f[i], 4096);
    t0 = L_shl(t0, 6);
    return extract_h(t0);
}

void Az_lsp(const Word16 a[], Word16 lsp[], const Word16 old_lsp[]) {
    constexpr int NC = M / 2;
    Word16 f1[NC + 1], f2[NC + 1];
    f1[0] = 1024;
    f2[0] = 1024;
    for (int i = 0; i < NC; i++) {
        Word32 t0 = L_mult(a[i + 1], 8192);
        t0 = L_mac(t0, a[M - i], 8192);
        Word16 x = extract_h(t0);
        f1[i + 1] = sub(x, f1[i]);
        t0 = L_mult(a[i + 1], 8192);
        t0 = L_msu(t0, a[M - i], 8192);
        x = extract_h(t0);
        f2[i + 1] = add(x, f2[i]);
    }

    int nf = 0, ip = 0, j = 0;
    const Word16* coef = f1;
    Word16 xlow = lsp_grid[0], ylow = Chebps(xlow, coef, NC), xhigh, yhigh, xmid, ymid, xint;
    while (nf < M && j < 60) {
        j++;
        xhigh = xlow;
        yhigh = ylow;
        xlow = lsp_grid[j];
        ylow = Chebps(xlow, coef, NC);
        if (L_mult(ylow, yhigh) <= 0) {
            for (int i = 0; i < 4; i++) {
                xmid = add(shr(xlow, 1), shr(xhigh, 1));
                ymid = Chebps(xmid, coef, NC);
                if (L_mult(ylow, ymid) <= 0) {
                    yhigh = ymid;
                    xhigh = xmid;
                } else {
                    ylow = ymid;
                    xlow = xmid;
                }
            }
            Word16 x = sub(xhigh, xlow);
            Word16 y = sub(yhigh, ylow);
            if (y == 0) {
                xint = xlow;
            } else {
                Word16 sign = y;
                y = abs_s(y);
                Word16 exp = norm_s(y);
                y = shl(y, exp);
                y = div_s((Word16)16383, y);
                Word32 t0 = L_mult(x, y);
                t0 = L_shr(t0, sub(20, exp));
                y = extract_l(t0);
                if (sign < 0) y = negate(y);
                t0 = L_mult(ylow, y);
                t0 = L_shr(t0, 11);
                xint = sub(xlow, extract_l(t0));
            }
            lsp[nf++] = xint;
            xlow = xint;
            ip = 1 - ip;
            coef = ip ? f2 : f1;
            ylow = Chebps(xlow, coef, NC);
        }
    }
    if (nf < M) Copy(old_lsp, lsp, M);
}

static void Get_lsp_pol(const Word16* lsp, Word32* f) {
    Word16 hi, lo;
    f[0] = L_mult(4096, 2048);
    f[1] = L_msu(0, lsp[0], 512);
    for (int i = 2; i <= 5; i++) {
        const Word16 l = lsp[2 * (i - 1)];
        f[i] = f[i - 2];
        for (int j = i; j > 1; j--) {
            L_Extract(f[j - 1], &hi, &lo);
            Word32 t0 = Mpy_32_16(hi, lo, l);
            t0 = L_shl(t0, 1);
            f[j] = L_add(f[j], f[j - 2]);
            f[j] = L_sub(f[j], t0);
        }
        f[1] = L_msu(f[1], l, 512);
    }
}

void Lsp_Az(const Word16 lsp[], Word16 a[]) {
    Word32 f1[6], f2[6];
    Get_lsp_pol(&lsp[0], f1);
    Get_lsp_pol(&lsp[1], f2);
    for (int i = 5; i > 0; i--) {
        f1[i] = L_add(f1[i], f1[i - 1]);
        f2[i] = L_sub(f2[i], f2[i - 1]);
    }
    a[0] = 4096;
    for (int i = 1, j = 10; i <= 5; i++, j--) {
        a[i] = extract_l(L_shr_r(L_add(f1[i], f2[i]), 13));
        a[j] = extract_l(L_shr_r(L_sub(f1[i], f2[i]), 13));
    }
}

void Lsf_lsp(const Word16 lsf[], Word16 lsp[], Word16 m) {
    for (int i = 0; i < m; i++) {
        Word16 ind = shr(lsf[i], 8);
        Word16 offset = (Word16)(lsf[i] & 0xff);
        Word32 L_tmp = L_mult(sub(lsp_cos_tab[ind + 1], lsp_cos_tab[ind]), offset);
        lsp[i] = add(lsp_cos_tab[ind], extract_l(L_shr(L_tmp, 9)));
    }
}

void Lsp_lsf(const Word16 lsp[], Word16 lsf[], Word16 m) {
    int ind = 63;
    for (int i = m - 1; i >= 0; i--) {
        while (ind > 0 && lsp_cos_tab[ind] < lsp[i]) ind--;
        Word32 L_tmp = L_mult(sub(lsp[i], lsp_cos_tab[ind]), lsp_slope_tab[ind]);
        lsf[i] = round16(L_shl(L_tmp, 3));
        lsf[i] = add(lsf[i], shl((Word16)ind, 8));
    }
}

void Reorder_lsf(Word16 lsf[], Word16 min_dist, Word16 n) {
    Word16 lsf_min = min_dist;
    for (int i = 0; i < n; i++) {
        if (lsf[i] < lsf_min) lsf[i] = lsf_min;
        lsf_min = add(lsf[i], min_dist);
    }
}

void Lsf_wt(const Word16* lsf, Word16* wf) {
    wf[0] = lsf[1];
    for (int i = 1; i < 9; i++) wf[i] = sub(lsf[i + 1], lsf[i - 1]);
    wf[9] = sub(16384, lsf[8]);
    for (int i = 0; i < 10; i++) {
        if (sub(wf[i], 1843) < 0)
            wf[i] = sub(3427, mult(wf[i], 28160));
        else
            wf[i] = sub(1843, mult(wf[i], 6242));
        wf[i] = shl(wf[i], 3);
    }
}

void Int_lpc_1to3(const Word16 lsp_old[], const Word16 lsp_new[], Word16 Az[]) {
    Word16 lsp[M];
    for (int i = 0; i < M; i++) lsp[i] = add(shr(lsp_new[i], 2), sub(lsp_old[i], shr(lsp_old[i], 2)));
    Lsp_Az(lsp, Az);
    for (int i = 0; i < M; i++) lsp[i] = add(shr(lsp_old[i], 1), shr(lsp_new[i], 1));
    Lsp_Az(lsp, Az + MP1);
    for (int i = 0; i < M; i++) lsp[i] = add(shr(lsp_old[i], 2), sub(lsp_new[i], shr(lsp_new[i], 2)));
    Lsp_Az(lsp, Az + 2 * MP1);
    Lsp_Az(lsp_new, Az + 3 * MP1);
}

void Int_lpc_1and3(const Word16 lsp_old[], const Word16 lsp_mid[], const Word16 lsp_new[], Word16 Az[]) {
    Word16 lsp[M];
    for (int i = 0; i < M; i++) lsp[i] = add(shr(lsp_mid[i], 1), shr(lsp_old[i], 1));
    Lsp_Az(lsp, Az);
    Lsp_Az(lsp_mid, Az + MP1);
    for (int i = 0; i < M; i++) lsp[i] = add(shr(lsp_mid[i], 1), shr(lsp_new[i], 1));
    Lsp_Az(lsp, Az + 2 * MP1);
    Lsp_Az(lsp_new, Az + 3 * MP1);
}

// ---- LSF quantisers -----------------------------------------------------

static Word16 Vq_subvec3(Word16* lsf_r1, const Word16* dico, const Word16* wf1, Word16 dico_size,
                         Flag use_half) {
    Word32 dist_min = MAX_32;
    Word16 index = 0;
    const int step = use_half ? 6 : 3;
    const Word16* p = dico;
    for (Word16 i = 0; i < dico_size; i++, p += step) {
        Word16 t = mult(wf1[0], sub(lsf_r1[0], p[0]));
        Word32 dist = L_mult(t, t);
        t = mult(wf1[1], sub(lsf_r1[1], p[1]));
        dist = L_mac(dist, t, t);
        t = mult(wf1[2], sub(lsf_r1[2], p[2]));
        dist = L_mac(dist, t, t);
        if (dist < dist_min) {
            dist_min = dist;
            index = i;
        }
    }
    p = &dico[index * step];
    lsf_r1[0] = p[0];
    lsf_r1[1] = p[1];
    lsf_r1[2] = p[2];
    return index;
}

static Word16 Vq_subvec4(Word16* lsf_r1, const Word16* dico, const Word16* wf1, Word16 dico_size) {
    Word32 dist_min = MAX_32;
    Word16 index = 0;
    const Word16* p = dico;
    for (Word16 i = 0; i < dico_size; i++, p += 4) {
        Word32 dist = 0;
        for (int k = 0; k < 4; k++) {
            Word16 t = mult(wf1[k], sub(lsf_r1[k], p[k]));
            dist = L_mac(dist, t, t);
        }
        if (dist < dist_min) {
            dist_min = dist;
            index = i;
        }
    }
    p = &dico[index * 4];
    for (int k = 0; k < 4; k++) lsf_r1[k] = p[k];
    return index;
}

// The table of the standard's eight initial past-residual vectors of the SID
// quantiser is not available to this build: the SID path predicts from a zero
// past residual and always sends initial-vector index 0.
void Q_plsf_3(QPlsfState* st, Mode mode, const Word16* lsp1, Word16* lsp1_q, Word16* indice,
              Word16* pred_init_i) {
    Word16 lsf1[M], wf1[M], lsf_p[M], lsf_r1[M], lsf1_q[M];
    Lsp_lsf(lsp1, lsf1, M);
    Lsf_wt(lsf1, wf1);
    if (mode != MRDTX) {
        for (int i = 0; i < M; i++) {
            lsf_p[i] = add(mean_lsf_3[i], mult(st->past_rq[i], pred_fac_3[i]));
            lsf_r1[i] = sub(lsf1[i], lsf_p[i]);
        }
    } else {
        *pred_init_i = 0;
        for (int i = 0; i < M; i++) {
            st->past_rq[i] = 0;
            lsf_p[i] = mean_lsf_3[i];
            lsf_r1[i] = sub(lsf1[i], lsf_p[i]);
        }
    }
    if (mode == MR475 || mode == MR515) {
        indice[0] = Vq_subvec3(&lsf_r1[0], dico1_lsf_3, &wf1[0], 256, 0);
        indice[1] = Vq_subvec3(&lsf_r1[3], dico2_lsf_3, &wf1[3], 256, 1);
        indice[2] = Vq_subvec4(&lsf_r1[6], mr515_3_lsf, &wf1[6], 128);
    } else if (mode == MR795) {
        indice[0] = Vq_subvec3(&lsf_r1[0], mr795_1_lsf, &wf1[0], 512, 0);
        indice[1] = Vq_subvec3(&lsf_r1[3], dico2_lsf_3, &wf1[3], 512, 0);
        indice[2] = Vq_subvec4(&lsf_r1[6], dico3_lsf_3, &wf1[6], 512);
    } else {
        indice[0] = Vq_subvec3(&lsf_r1[0], dico1_lsf_3, &wf1[0], 256, 0);
        indice[1] = Vq_subvec3(&lsf_r1[3], dico2_lsf_3, &wf1[3], 512, 0);
        indice[2] = Vq_subvec4(&lsf_r1[6], dico3_lsf_3, &wf1[6], 512);
    }
    for (int i = 0; i < M; i++) {
        lsf1_q[i] = add(lsf_r1[i], lsf_p[i]);
        st->past_rq[i] = lsf_r1[i];
    }
    Reorder_lsf(lsf1_q, LSF_GAP, M);
    Lsf_lsp(lsf1_q, lsp1_q, M);
}

static Word16 Vq_subvec(Word16* r1, Word16* r2, const Word16* dico, const Word16* wf1, const Word16* wf2,
                        Word16 size, Flag with_sign) {
    Word32 dist_min = MAX_32;
    Word16 index = 0;
    Flag negative = 0;
    const Word16* p = dico;
    for (Word16 i = 0; i < size; i++, p += 4) {
        for (int s = 0; s <= with_sign; s++) {
            Word32 dist = 0;
            const Word16 d[4] = {p[0], p[1], p[2], p[3]};
            Word16 t;
            if (s == 0) {
                t = mult(wf1[0], sub(r1[0], d[0])); dist = L_mac(dist, t, t);
                t = mult(wf1[1], sub(r1[1], d[1])); dist = L_mac(dist, t, t);
                t = mult(wf2[0], sub(r2[0], d[2])); dist = L_mac(dist, t, t);
                t = mult(wf2[1], sub(r2[1], d[3])); dist = L_mac(dist, t, t);
            } else {
                t = mult(wf1[0], add(r1[0], d[0])); dist = L_mac(dist, t, t);
                t = mult(wf1[1], add(r1[1], d[1])); dist = L_mac(dist, t, t);
                t = mult(wf2[0], add(r2[0], d[2])); dist = L_mac(dist, t, t);
                t = mult(wf2[1], add(r2[1], d[3])); dist = L_mac(dist, t, t);
            }
            if (dist < dist_min) {
                dist_min = dist;
                index = i;
                negative = s;
            }
        }
    }
    p = &dico[index * 4];
    if (negative) {
        r1[0] = negate(p[0]); r1[1] = negate(p[1]); r2[0] = negate(p[2]); r2[1] = negate(p[3]);
    } else {
        r1[0] = p[0]; r1[1] = p[1]; r2[0] = p[2]; r2[1] = p[3];
    }
    return with_sign ? (Word16)(index * 2 + negative) : index;
}

void Q_plsf_5(QPlsfState* st, const Word16* lsp1, const Word16* lsp2, Word16* lsp1_q, Word16* lsp2_q,
              Word16* indice) {
    Word16 lsf1[M], lsf2[M], wf1[M], wf2[M], lsf_p[M], lsf_r1[M], lsf_r2[M], lsf1_q[M], lsf2_q[M];
    Lsp_lsf(lsp1, lsf1, M);
    Lsp_lsf(lsp2, lsf2, M);
    Lsf_wt(lsf1, wf1);
    Lsf_wt(lsf2, wf2);
    for (int i = 0; i < M; i++) {
        lsf_p[i] = add(mean_lsf_5[i], mult(st->past_rq[i], pred_fac_mr122[0]));
        lsf_r1[i] = sub(lsf1[i], lsf_p[i]);
        lsf_r2[i] = sub(lsf2[i], lsf_p[i]);
    }
    indice[0] = Vq_subvec(&lsf_r1[0], &lsf_r2[0], dico1_lsf_5, &wf1[0], &wf2[0], 128, 0);
    indice[1] = Vq_subvec(&lsf_r1[2], &lsf_r2[2], dico2_lsf_5, &wf1[2], &wf2[2], 256, 0);
    indice[2] = Vq_subvec(&lsf_r1[4], &lsf_r2[4], dico3_lsf_5, &wf1[4], &wf2[4], 256, 1);
    indice[3] = Vq_subvec(&lsf_r1[6], &lsf_r2[6], dico4_lsf_5, &wf1[6], &wf2[6], 256, 0);
    indice[4] = Vq_subvec(&lsf_r1[8], &lsf_r2[8], dico5_lsf_5, &wf1[8], &wf2[8], 64, 0);
    for (int i = 0; i < M; i++) {
        lsf1_q[i] = add(lsf_r1[i], lsf_p[i]);
        lsf2_q[i] = add(lsf_r2[i], lsf_p[i]);
        st->past_rq[i] = lsf_r2[i];
    }
    Reorder_lsf(lsf1_q, LSF_GAP, M);
    Reorder_lsf(lsf2_q, LSF_GAP, M);
    Lsf_lsp(lsf1_q, lsp1_q, M);
    Lsf_lsp(lsf2_q, lsp2_q, M);
}

void lsp(LspState* st, Mode req_mode, Mode used_mode, Word16* az, Word16* azQ, Word16* lsp_new,
         Word16** anap) {
    Word16 lsp_new_q[M], lsp_mid[M], lsp_mid_q[M], A_sf[4 * MP1];
    Word16 pred_init_i;
    if (req_mode == MR122) {
        Az_lsp(&az[MP1], lsp_mid, st->lsp_old);
        Az_lsp(&az[MP1 * 3], lsp_new, lsp_mid);
        // Unquantised filters of subframes 0 and 2 by interpolation; 1 and 3
        // stay as the analysis gave them.
        Int_lpc_1and3(st->lsp_old, lsp_mid, lsp_new, A_sf);
        Copy(A_sf, az, MP1);
        Copy(A_sf + 2 * MP1, az + 2 * MP1, MP1);
        if (used_mode != MRDTX) {
            Q_plsf_5(st->qSt, lsp_mid, lsp_new, lsp_mid_q, lsp_new_q, *anap);
            Int_lpc_1and3(st->lsp_old_q, lsp_mid_q, lsp_new_q, azQ);
            *anap += 5;
        }
    } else {
        Az_lsp(&az[MP1 * 3], lsp_new, st->lsp_old);
        Int_lpc_1to3(st->lsp_old, lsp_new, A_sf);
        Copy(A_sf, az, 3 * MP1);
        if (used_mode != MRDTX) {
            Q_plsf_3(st->qSt, req_mode, lsp_new, lsp_new_q, *anap, &pred_init_i);
            Int_lpc_1to3(st->lsp_old_q, lsp_new_q, azQ);
            *anap += 3;
        }
    }
    Copy(lsp_new, st->lsp_old, M);
    if (used_mode != MRDTX) Copy(lsp_new_q, st->lsp_old_q, M);
}

// ---- filters --------------------------------------------------------------

void Weight_Ai(const Word16 a[], const Word16 fac[], Word16 a_exp[]) {
    a_exp[0] = a[0];
    for (int i = 1; i <= M; i++) a_exp[i] = round16(L_mult(a[i], fac[i - 1]));
}

void Residu(const Word16 a[], const Word16 x[], Word16 y[], Word16 lg) {
    for (int i = 0; i < lg; i++) {
        Word32 s = L_mult(x[i], a[0]);
        for (int j = 1; j <= M; j++) s = L_mac(s, a[j], x[i - j]);
        s = L_shl(s, 3);
        y[i] = round16(s);
    }
}

void Syn_filt(const Word16 a[], const Word16 x[], Word16 y[], Word16 lg, Word16 mem[], Flag update) {
    Word16 tmp[80 + M];
    Word16* yy = tmp;
    for (int i = 0; i < M; i++) *yy++ = mem[i];
    for (int i = 0; i < lg; i++) {
        Word32 s = L_mult(x[i], a[0]);
        for (int j = 1; j <= M; j++) s = L_msu(s, a[j], yy[-j]);
        s = L_shl(s, 3);
        *yy++ = round16(s);
    }
    for (int i = 0; i < lg; i++) y[i] = tmp[i + M];
    if (update)
        for (int i = 0; i < M; i++) mem[i] = y[lg - M + i];
}

void Convolve(const Word16 x[], const Word16 h[], Word16 y[], Word16 L) {
    for (int n = 0; n < L; n++) {
        Word32 s = 0;
        for (int i = 0; i <= n; i++) s = L_mac(s, x[i], h[n - i]);
        s = L_shl(s, 3);
        y[n] = extract_h(s);
    }
}

}  // namespace amr
