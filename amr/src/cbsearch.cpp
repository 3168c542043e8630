#include "cbsearch.h"

#include <cstdlib>

#include "amr_tables.h"
#include "lpc.h"

namespace amr {

namespace {

constexpr int L_CODE = 40;

// Correlations of the search, scaled into 15 bits: dn = backward-filtered
// target, rr = impulse-response correlation matrix.
struct Corr {
    int32_t dn[L_CODE];
    int32_t rr[L_CODE][L_CODE];
};

int shift_to_15_bits(int64_t max_abs) {
    int s = 0;
    while ((max_abs >> s) > 16383) s++;
    return s;
}

void compute_corr(const Word16* xn, const Word16* h, Corr& c) {
    int64_t dn[L_CODE], max_dn = 1;
    for (int n = 0; n < L_CODE; n++) {
        int64_t s = 0;
        for (int i = n; i < L_CODE; i++) s += (int64_t)xn[i] * h[i - n];
        dn[n] = s;
        int64_t a = s < 0 ? -s : s;
        if (a > max_dn) max_dn = a;
    }
    int sd = shift_to_15_bits(max_dn);
    for (int n = 0; n < L_CODE; n++) c.dn[n] = (int32_t)(dn[n] >> sd);

    static_assert(L_CODE == 40, "");
    int64_t r[L_CODE][L_CODE];
    for (int d = 0; d < L_CODE; d++) {
        // rr[i][i+d] = sum over n <= 39 - (i + d) of h[n] h[n + d]
        int64_t partial[L_CODE];
        int64_t s = 0;
        for (int n = 0; n + d < L_CODE; n++) {
            s += (int64_t)h[n] * h[n + d];
            partial[n] = s;
        }
        for (int i = 0; i + d < L_CODE; i++) r[i][i + d] = r[i + d][i] = partial[L_CODE - 1 - (i + d)];
    }
    int sr = shift_to_15_bits(r[0][0] > 0 ? r[0][0] : 1);
    for (int i = 0; i < L_CODE; i++)
        for (int j = 0; j < L_CODE; j++) c.rr[i][j] = (int32_t)(r[i][j] >> sr);
}

// Pulse signs fixed per position: sign[i] = +1/-1; dn and rr then hold the
// sign-adjusted values.
void apply_signs(Corr& c, const int sign[L_CODE]) {
    for (int i = 0; i < L_CODE; i++) c.dn[i] *= sign[i];
    for (int i = 0; i < L_CODE; i++)
        for (int j = 0; j < L_CODE; j++) c.rr[i][j] *= sign[i] * sign[j];
}

// cand (C^2 / E) better than best: cross-multiplied, first maximum kept.
bool better(int64_t c, int64_t e, int64_t best_c2, int64_t best_e) {
    if (e <= 0 || c <= 0) return false;
    return (int64_t)c * c * best_e > (int64_t)best_c2 * e;
}

// Exhaustive search over candidate positions per pulse.
struct Exhaustive {
    const Corr& c;
    const int (*cand)[16];
    const int* ncand;
    int npulse;
    int pos[10], best_pos[10];
    int64_t best_c2 = 0, best_e = 1;
    bool found = false;

    void run(int k, int64_t C, int64_t E) {
        if (k >= npulse || k >= 10) {
            if (better(C, E, best_c2, best_e)) {
                best_c2 = C * C;
                best_e = E;
                found = true;
                for (int i = 0; i < npulse; i++) best_pos[i] = pos[i];
            }
            return;
        }
        for (int n = 0; n < ncand[k]; n++) {
            int p = cand[k][n];
            bool dup = false;
            int64_t e = c.rr[p][p];
            for (int i = 0; i < k; i++) {
                if (pos[i] == p) dup = true;
                e += 2 * (int64_t)c.rr[p][pos[i]];
            }
            if (dup) continue;
            pos[k] = p;
            run(k + 1, C + c.dn[p], E + e);
        }
    }
};

int track_positions(int track, int step, int* out) {
    int n = 0;
    for (int p = track; p < L_CODE; p += step) out[n++] = p;
    return n;
}

void sign_from_dn(const Corr& c, int sign[L_CODE]) {
    for (int i = 0; i < L_CODE; i++) sign[i] = c.dn[i] >= 0 ? 1 : -1;
}

// ---- 2, 3 and 4 pulses ----------------------------------------------------

struct Pulses {
    int n = 0;
    int pos[10] = {};
};

void search_small(const Corr& c, int (*cand)[16], const int* ncand, int npulse, Pulses& out, int64_t* c2,
                  int64_t* e) {
    Exhaustive s{c, cand, ncand, npulse, {}, {}};
    s.run(0, 0, 0);
    if (!s.found) {
        for (int k = 0; k < npulse; k++) s.best_pos[k] = cand[k][0];
    }
    out.n = npulse;
    for (int k = 0; k < npulse; k++) out.pos[k] = s.best_pos[k];
    *c2 = s.best_c2;
    *e = s.best_e;
}

Word16 sign_bits(const int sign[L_CODE], const Pulses& p) {
    Word16 s = 0;
    for (int k = 0; k < p.n; k++)
        if (sign[p.pos[k]] > 0) s = (Word16)(s | (1 << k));
    return s;
}

void code_2i40_9bits(const Corr& c, const int sign[], Word16 subframe, Pulses& p, Word16** anap) {
    Pulses best;
    int64_t best_c2 = 0, best_e = 1;
    int best_b = 0;
    for (int b = 0; b < 2; b++) {
        int cand[4][16], ncand[4];
        for (int k = 0; k < 2; k++) ncand[k] = track_positions(startPos_9pf[8 * b + 2 * subframe + k], 5, cand[k]);
        Pulses q;
        int64_t c2, e;
        search_small(c, cand, ncand, 2, q, &c2, &e);
        if (b == 0 || (e > 0 && (int64_t)c2 * best_e > (int64_t)best_c2 * e)) {
            best = q;
            best_c2 = c2;
            best_e = e;
            best_b = b;
        }
    }
    p = best;
    Word16 index = (Word16)((p.pos[0] / 5) | ((p.pos[1] / 5) << 3) | (best_b << 6));
    *(*anap)++ = index;
    *(*anap)++ = sign_bits(sign, p);
}

void code_2i40_11bits(const Corr& c, const int sign[], Pulses& p, Word16** anap) {
    int cand[4][16], ncand[4] = {0, 0};
    int tmp[8];
    for (int j = 0; j < 2; j++) {
        int n = track_positions(startPos1_11pf[j], 5, tmp);
        for (int i = 0; i < n; i++) cand[0][ncand[0]++] = tmp[i];
    }
    int cand1[32], n1 = 0;
    for (int j = 0; j < 4; j++) {
        int n = track_positions(startPos2_11pf[j], 5, tmp);
        for (int i = 0; i < n; i++) cand1[n1++] = tmp[i];
    }
    // The second pulse has 32 candidates: search the two halves and keep the better.
    Pulses best;
    int64_t best_c2 = 0, best_e = 1;
    for (int half = 0; half < 2; half++) {
        ncand[1] = 16;
        for (int i = 0; i < 16; i++) cand[1][i] = cand1[16 * half + i];
        Pulses q;
        int64_t c2, e;
        search_small(c, cand, ncand, 2, q, &c2, &e);
        if (half == 0 || (e > 0 && (int64_t)c2 * best_e > (int64_t)best_c2 * e)) {
            best = q;
            best_c2 = c2;
            best_e = e;
        }
    }
    p = best;
    int j0 = (p.pos[0] % 5) == startPos1_11pf[1] ? 1 : 0;
    int j1 = 0;
    while (startPos2_11pf[j1] != p.pos[1] % 5) j1++;
    Word16 index = (Word16)(j0 | ((p.pos[0] / 5) << 1) | (j1 << 4) | ((p.pos[1] / 5) << 6));
    *(*anap)++ = index;
    *(*anap)++ = sign_bits(sign, p);
}

void code_3i40_14bits(const Corr& c, const int sign[], Pulses& p, Word16** anap) {
    int cand[4][16], ncand[4];
    ncand[0] = track_positions(0, 5, cand[0]);
    ncand[1] = track_positions(1, 5, cand[1]);
    ncand[1] += track_positions(3, 5, cand[1] + ncand[1]);
    ncand[2] = track_positions(2, 5, cand[2]);
    ncand[2] += track_positions(4, 5, cand[2] + ncand[2]);
    int64_t c2, e;
    search_small(c, cand, ncand, 3, p, &c2, &e);
    int j1 = (p.pos[1] % 5) == 3 ? 1 : 0;
    int j2 = (p.pos[2] % 5) == 4 ? 1 : 0;
    Word16 index = (Word16)((p.pos[0] / 5) | (j1 << 3) | ((p.pos[1] / 5) << 4) | (j2 << 7) | ((p.pos[2] / 5) << 8));
    *(*anap)++ = index;
    *(*anap)++ = sign_bits(sign, p);
}

void code_4i40_17bits(const Corr& c, const int sign[], Pulses& p, Word16** anap) {
    int cand[4][16], ncand[4];
    ncand[0] = track_positions(0, 5, cand[0]);
    ncand[1] = track_positions(1, 5, cand[1]);
    ncand[2] = track_positions(2, 5, cand[2]);
    ncand[3] = track_positions(3, 5, cand[3]);
    ncand[3] += track_positions(4, 5, cand[3] + ncand[3]);
    int64_t c2, e;
    search_small(c, cand, ncand, 4, p, &c2, &e);
    int j3 = (p.pos[3] % 5) == 4 ? 1 : 0;
    Word16 index = (Word16)(gray[p.pos[0] / 5] | (gray[p.pos[1] / 5] << 3) | (gray[p.pos[2] / 5] << 6) |
                            (j3 << 9) | (gray[p.pos[3] / 5] << 10));
    *(*anap)++ = index;
    *(*anap)++ = sign_bits(sign, p);
}

// ---- 8 and 10 pulses (two per track) ----------------------------------------

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

// Signs preselected from the LTP residual and the backward-filtered target
// (both normalised); en is the magnitude used to rank positions.
void preselect_signs(const Corr& c, const Word16* res2, int sign[L_CODE], int64_t en[L_CODE]) {
    int64_t ecn = 0, edn = 0;
    for (int i = 0; i < L_CODE; i++) {
        ecn += (int64_t)res2[i] * res2[i];
        edn += (int64_t)c.dn[i] * c.dn[i];
    }
    int64_t ncn = isqrt64(ecn) + 1, ndn = isqrt64(edn) + 1;
    for (int i = 0; i < L_CODE; i++) {
        int64_t v = (int64_t)res2[i] * ndn + (int64_t)c.dn[i] * ncn;
        sign[i] = v >= 0 ? 1 : -1;
        en[i] = v >= 0 ? v : -v;
    }
}

// Improves a placement: each pair of pulses in consecutive slots is searched
// again over its two tracks with all other pulses kept; two passes.
void refine_pairs(const Corr& c, int ntrack, Pulses& p) {
    for (int pass = 0; pass < 2; pass++) {
        for (int k = 0; k + 1 < p.n; k += 2) {
            int64_t C = 0, E = 0, rrsum[L_CODE] = {};
            for (int i = 0; i < p.n; i++) {
                if (i == k || i == k + 1) continue;
                C += c.dn[p.pos[i]];
                for (int j = 0; j < p.n; j++)
                    if (j != k && j != k + 1) E += c.rr[p.pos[i]][p.pos[j]];
                for (int q = 0; q < L_CODE; q++) rrsum[q] += c.rr[q][p.pos[i]];
            }
            const int t1 = p.pos[k] % ntrack, t2 = p.pos[k + 1] % ntrack;
            int b1 = p.pos[k], b2 = p.pos[k + 1];
            int64_t bc = C + c.dn[b1] + c.dn[b2];
            int64_t be = E + c.rr[b1][b1] + c.rr[b2][b2] + 2 * (rrsum[b1] + rrsum[b2] + c.rr[b1][b2]);
            int64_t bc2 = bc * bc;
            for (int p1 = t1; p1 < L_CODE; p1 += ntrack) {
                const int64_t C1 = C + c.dn[p1];
                const int64_t E1 = E + c.rr[p1][p1] + 2 * rrsum[p1];
                for (int p2 = t2; p2 < L_CODE; p2 += ntrack) {
                    const int64_t C2 = C1 + c.dn[p2];
                    const int64_t E2 = E1 + c.rr[p2][p2] + 2 * (rrsum[p2] + c.rr[p1][p2]);
                    if (better(C2, E2, bc2, be)) {
                        bc2 = C2 * C2;
                        be = E2;
                        b1 = p1;
                        b2 = p2;
                    }
                }
            }
            p.pos[k] = b1;
            p.pos[k + 1] = b2;
        }
    }
}

// Depth-first search: pulse 0 at the strongest position of the first track,
// then pairs of pulses in consecutive tracks searched exhaustively, each
// stage keeping the earlier pulses; every track is tried as the first.
void search_pairs(const Corr& c, const int64_t en[], int ntrack, int npulse, Pulses& out) {
    int pos_max[5];
    for (int t = 0; t < ntrack; t++) {
        int64_t m = -1;
        for (int p = t; p < L_CODE; p += ntrack)
            if (en[p] > m) {
                m = en[p];
                pos_max[t] = p;
            }
    }
    int64_t best_c2 = 0, best_e = 1;
    bool have = false;
    for (int rot = 0; rot < ntrack; rot++) {
        int pos[10];
        int64_t rrsum[L_CODE];  // sum over placed pulses of rr[p][pulse]
        pos[0] = pos_max[rot];
        int64_t C = c.dn[pos[0]], E = c.rr[pos[0]][pos[0]];
        for (int p = 0; p < L_CODE; p++) rrsum[p] = c.rr[p][pos[0]];
        int k = 1;
        while (k < npulse) {
            const int t1 = (rot + k) % ntrack;
            const bool pair = k + 1 < npulse;
            const int t2 = pair ? (rot + k + 1) % ntrack : t1;
            int64_t bc2 = 0, be = 1;
            int b1 = t1, b2 = t2;
            bool f = false;
            for (int p1 = t1; p1 < L_CODE; p1 += ntrack) {
                const int64_t C1 = C + c.dn[p1];
                const int64_t E1 = E + c.rr[p1][p1] + 2 * rrsum[p1];
                if (!pair) {
                    if (!f || better(C1, E1, bc2, be)) {
                        bc2 = C1 * C1;
                        be = E1;
                        b1 = p1;
                        f = E1 > 0 && C1 > 0;
                    }
                    continue;
                }
                for (int p2 = t2; p2 < L_CODE; p2 += ntrack) {
                    const int64_t C2 = C1 + c.dn[p2];
                    const int64_t E2 = E1 + c.rr[p2][p2] + 2 * (rrsum[p2] + c.rr[p1][p2]);
                    if (!f || better(C2, E2, bc2, be)) {
                        bc2 = C2 * C2;
                        be = E2;
                        b1 = p1;
                        b2 = p2;
                        f = E2 > 0 && C2 > 0;
                    }
                }
            }
            const int placed[2] = {b1, b2};
            for (int n = 0; n < (pair ? 2 : 1); n++) {
                const int p = placed[n];
                C += c.dn[p];
                E += c.rr[p][p] + 2 * rrsum[p];
                for (int q = 0; q < L_CODE; q++) rrsum[q] += c.rr[q][p];
                pos[k++] = p;
            }
        }
        if (!have || better(C, E, best_c2, best_e)) {
            have = true;
            best_c2 = C * C;
            best_e = E > 0 ? E : 1;
            out.n = npulse;
            for (int i = 0; i < npulse; i++) out.pos[i] = pos[i];
        }
    }
    refine_pairs(c, ntrack, out);
}

// For a track holding two pulses, the decoder takes the second pulse's sign
// from the first: equal unless the second lies before the first.
void order_track_pair(int a, int b, const int sign[], int* first, int* second) {
    if (sign[a] == sign[b]) {
        *first = a < b ? a : b;
        *second = a < b ? b : a;
    } else {
        *first = a > b ? a : b;
        *second = a > b ? b : a;
    }
}

void code_10i40_35bits(const Corr& c, const int sign[], const int64_t en[], Pulses& p, Word16** anap) {
    search_pairs(c, en, 5, 10, p);
    int per_track[5][2], cnt[5] = {};
    for (int k = 0; k < 10; k++) {
        int t = p.pos[k] % 5;
        per_track[t][cnt[t]++] = p.pos[k];
    }
    Word16 first_word[5], second_word[5];
    for (int t = 0; t < 5; t++) {
        int f, s;
        order_track_pair(per_track[t][0], per_track[t][1], sign, &f, &s);
        first_word[t] = (Word16)(gray[f / 5] | (sign[f] < 0 ? 8 : 0));
        second_word[t] = gray[s / 5];
    }
    for (int t = 0; t < 5; t++) *(*anap)++ = first_word[t];
    for (int t = 0; t < 5; t++) *(*anap)++ = second_word[t];
}

Word16 compress10(Word16 a, Word16 b, Word16 c) {
    Word16 msbs = (Word16)((a >> 1) + 5 * (b >> 1) + 25 * (c >> 1));
    return (Word16)((msbs << 3) | ((c & 1) << 2) | ((b & 1) << 1) | (a & 1));
}

void code_8i40_31bits(const Corr& c, const int sign[], const int64_t en[], Pulses& p, Word16** anap) {
    search_pairs(c, en, 4, 8, p);
    int per_track[4][2], cnt[4] = {};
    for (int k = 0; k < 8; k++) {
        int t = p.pos[k] % 4;
        per_track[t][cnt[t]++] = p.pos[k];
    }
    Word16 pos_indx[8], sign_indx[4];
    for (int t = 0; t < 4; t++) {
        int f, s;
        order_track_pair(per_track[t][0], per_track[t][1], sign, &f, &s);
        sign_indx[t] = sign[f] < 0 ? 1 : 0;
        pos_indx[t] = (Word16)(f / 4);
        pos_indx[t + 4] = (Word16)(s / 4);
    }
    for (int t = 0; t < 4; t++) *(*anap)++ = sign_indx[t];
    *(*anap)++ = compress10(pos_indx[0], pos_indx[4], pos_indx[1]);
    *(*anap)++ = compress10(pos_indx[2], pos_indx[6], pos_indx[5]);
    // Two positions of ten in 7 bits: 25 combinations in 5 bits plus two LSBs.
    Word16 ia = (Word16)(pos_indx[7] >> 1), ib = (Word16)(pos_indx[3] >> 1);
    if (ia & 1) ib = (Word16)(4 - ib);
    Word16 combined = (Word16)(5 * ia + ib);
    Word16 msbs = (Word16)((combined * 32 + 12) / 25);
    *(*anap)++ = (Word16)((msbs << 2) | ((pos_indx[7] & 1) << 1) | (pos_indx[3] & 1));
}

}  // namespace

void cbsearch(const Word16* xn, const Word16* h_in, Word16 T0, Word16 pitch_sharp, Word16 gain_pit,
              const Word16* res2, Word16* code, Word16* y, Word16** anap, Mode mode, Word16 subframe) {
    const Word16 sharp = mode == MR122 ? shl(gain_pit, 1) : shl(pitch_sharp, 1);
    Word16 h[L_CODE];
    Copy(h_in, h, L_CODE);
    if (T0 < L_CODE)
        for (int i = T0; i < L_CODE; i++) h[i] = add(h[i], mult(h[i - T0], sharp));

    Corr c;
    compute_corr(xn, h, c);
    int sign[L_CODE];
    int64_t en[L_CODE];
    Pulses p;
    if (mode == MR102 || mode == MR122) {
        preselect_signs(c, res2, sign, en);
        apply_signs(c, sign);
        if (mode == MR122)
            code_10i40_35bits(c, sign, en, p, anap);
        else
            code_8i40_31bits(c, sign, en, p, anap);
    } else {
        sign_from_dn(c, sign);
        apply_signs(c, sign);
        switch (mode) {
        case MR475:
        case MR515: code_2i40_9bits(c, sign, subframe, p, anap); break;
        case MR59: code_2i40_11bits(c, sign, p, anap); break;
        case MR67: code_3i40_14bits(c, sign, p, anap); break;
        default: code_4i40_17bits(c, sign, p, anap); break;
        }
    }

    // Pulse amplitudes as the decoder builds them.
    const Word16 pos_amp = mode == MR122 ? 4096 : 8191;
    const Word16 neg_amp = mode == MR122 ? -4096 : mode == MR102 ? -8191 : -8192;
    for (int i = 0; i < L_CODE; i++) code[i] = 0;
    for (int k = 0; k < p.n; k++) code[p.pos[k]] = add(code[p.pos[k]], sign[p.pos[k]] > 0 ? pos_amp : neg_amp);
    if (T0 < L_CODE)
        for (int i = T0; i < L_CODE; i++) code[i] = add(code[i], mult(code[i - T0], sharp));
    Convolve(code, h_in, y, L_CODE);
}

}  // namespace amr
