#include "cbsearch.h"

#include <algorithm>
#include <cstdlib>

#include "amr_tables.h"
#include "lpc.h"

namespace amr {

namespace {

constexpr int L_CODE = 40;

// ---- correlations (all codebooks) and the 8 and 10 pulse search -------------

// Backward-filtered target, scaled by the sum of the track maxima (and a
// further factor 2^sf) so that sums of pulses cannot overflow.
void cor_h_x(const Word16 h[], const Word16 x[], Word16 dn[], Word16 sf, int nb_track, int step) {
    Word32 y32[L_CODE], tot = 5;
    for (int k = 0; k < nb_track; k++) {
        Word32 max = 0;
        for (int i = k; i < L_CODE; i += step) {
            Word32 s = 0;
            for (int j = i; j < L_CODE; j++) s = L_mac(s, x[j], h[j - i]);
            y32[i] = s;
            s = L_abs(s);
            if (L_sub(s, max) > 0) max = s;
        }
        tot = L_add(tot, L_shr(max, 1));
    }
    const Word16 j = sub(norm_l(tot), sf);
    for (int i = 0; i < L_CODE; i++) dn[i] = round16(L_shl(y32[i], j));
}

// Signs fixed per position from the normalised LTP residual cn and target
// correlation dn (dn becomes sign-adjusted); the strongest position of each
// track, and the pulses' tracks starting at the track of the overall maximum.
void set_sign12k2(Word16 dn[], const Word16 cn[], Word16 sign[], Word16 pos_max[], int nb_track, Word16 ipos[],
                  int step) {
    Word32 s = 256, t = 256;
    for (int i = 0; i < L_CODE; i++) {
        s = L_mac(s, cn[i], cn[i]);
        t = L_mac(t, dn[i], dn[i]);
    }
    const Word16 k_cn = extract_h(L_shl(Inv_sqrt(s), 5));
    const Word16 k_dn = extract_h(L_shl(Inv_sqrt(t), 5));
    Word16 en[L_CODE];
    for (int i = 0; i < L_CODE; i++) {
        Word16 val = dn[i];
        Word16 cor = round16(L_shl(L_mac(L_mult(k_cn, cn[i]), k_dn, val), 10));
        if (cor >= 0) {
            sign[i] = 32767;
        } else {
            sign[i] = -32767;
            cor = negate(cor);
            val = negate(val);
        }
        dn[i] = val;
        en[i] = cor;
    }
    Word16 max_of_all = -1, pos = 0;
    ipos[0] = 0;
    for (int i = 0; i < nb_track; i++) {
        Word16 max = -1;
        for (int j = i; j < L_CODE; j += step) {
            if (sub(en[j], max) > 0) {
                max = en[j];
                pos = (Word16)j;
            }
        }
        pos_max[i] = pos;
        if (sub(max, max_of_all) > 0) {
            max_of_all = max;
            ipos[0] = (Word16)i;
        }
    }
    pos = ipos[0];
    ipos[nb_track] = pos;
    for (int i = 1; i < nb_track; i++) {
        pos = add(pos, 1);
        if (pos >= nb_track) pos = 0;
        ipos[i] = pos;
        ipos[i + nb_track] = pos;
    }
}

// Impulse-response correlation matrix, h normalised by its energy, with the
// position signs folded in.
void cor_h(const Word16 h[], const Word16 sign[], Word16 rr[][L_CODE]) {
    Word16 h2[L_CODE];
    Word32 s = 2;
    for (int i = 0; i < L_CODE; i++) s = L_mac(s, h[i], h[i]);
    if (sub(extract_h(s), 32767) == 0) {
        for (int i = 0; i < L_CODE; i++) h2[i] = shr(h[i], 1);
    } else {
        s = L_shr(s, 1);
        Word16 k = extract_h(L_shl(Inv_sqrt(s), 7));
        k = mult(k, 32440);  // 0.99: headroom
        for (int i = 0; i < L_CODE; i++) h2[i] = round16(L_shl(L_mult(h[i], k), 9));
    }
    s = 0;
    for (int k = 0, i = L_CODE - 1; k < L_CODE; k++, i--) {
        s = L_mac(s, h2[k], h2[k]);
        rr[i][i] = round16(s);
    }
    for (int dec = 1; dec < L_CODE; dec++) {
        s = 0;
        for (int k = 0, j = L_CODE - 1, i = j - dec; k < L_CODE - dec; k++, i--, j--) {
            s = L_mac(s, h2[k], h2[k + dec]);
            rr[j][i] = mult(round16(s), mult(sign[i], sign[j]));
            rr[i][j] = rr[j][i];
        }
    }
}

// One depth-first stage: the best pair (ix in track ipos_x, iy in track
// ipos_y) added to the pulses placed so far. The energy scale halves per
// stage: diag is the weight of a new pulse's own energy, cross that of its
// correlation with each earlier pulse; rrv_w weights the precomputed sums.
void search_pair(const Word16 dn[], const Word16 rr[][L_CODE], const Word16 placed[], int nplaced, int ipos_x,
                 int ipos_y, int step, Word16 rrv_diag, Word16 rrv_cross, Word16 rrv_w, Word16 diag, Word16 cross,
                 Word16 ps0, Word32 alp0, Word16* ps, Word16* alp, Word16* ia, Word16* ib) {
    Word16 rrv[L_CODE];
    for (int iy = ipos_y; iy < L_CODE; iy += step) {
        Word32 s = L_mult(rr[iy][iy], rrv_diag);
        for (int k = 0; k < nplaced; k++) s = L_mac(s, rr[placed[k]][iy], rrv_cross);
        rrv[iy] = round16(s);
    }
    Word16 sq = -1;
    *alp = 1;
    *ps = 0;
    *ia = (Word16)ipos_x;
    *ib = (Word16)ipos_y;
    for (int ix = ipos_x; ix < L_CODE; ix += step) {
        const Word16 ps1 = add(ps0, dn[ix]);
        Word32 alp1 = L_mac(alp0, rr[ix][ix], diag);
        for (int k = 0; k < nplaced; k++) alp1 = L_mac(alp1, rr[placed[k]][ix], cross);
        for (int iy = ipos_y; iy < L_CODE; iy += step) {
            const Word16 ps2 = add(ps1, dn[iy]);
            Word32 s = L_mac(alp1, rrv[iy], rrv_w);
            s = L_mac(s, rr[ix][iy], cross);
            const Word16 sq2 = mult(ps2, ps2);
            const Word16 alp_16 = round16(s);
            if (L_msu(L_mult(*alp, sq2), sq, alp_16) > 0) {
                sq = sq2;
                *ps = ps2;
                *alp = alp_16;
                *ia = (Word16)ix;
                *ib = (Word16)iy;
            }
        }
    }
}

// Depth-first search of 8 (10.2 kbit/s) or 10 (12.2 kbit/s) pulses: the first
// pulse at the overall maximum, the second at the maximum of the next track,
// then pairs of tracks one after the other; repeated with the later tracks
// rotated, keeping the best.
void search_10and8i40(int nb_pulse, int step, int nb_tracks, const Word16 dn[], const Word16 rr[][L_CODE],
                      Word16 ipos[], const Word16 pos_max[], Word16 codvec[]) {
    constexpr Word16 _1_2 = 16384, _1_4 = 8192, _1_8 = 4096, _1_16 = 2048, _1_32 = 1024, _1_64 = 512,
                     _1_128 = 256;
    // Weights per stage: rrv own, rrv cross, rrv use, own, cross.
    const Word16 w[4][5] = {{_1_8, _1_4, _1_2, _1_16, _1_8},
                            {_1_8, _1_4, _1_4, _1_32, _1_16},
                            {_1_16, _1_8, _1_4, _1_64, _1_32},
                            {_1_16, _1_8, _1_8, _1_128, _1_64}};
    const Word16 i0 = pos_max[ipos[0]];
    Word16 psk = -1, alpk = 1;
    for (int i = 0; i < nb_pulse; i++) codvec[i] = (Word16)i;
    for (int track = 1; track < nb_tracks; track++) {
        Word16 placed[10];
        placed[0] = i0;
        placed[1] = pos_max[ipos[1]];
        Word16 ps0 = add(dn[placed[0]], dn[placed[1]]);
        Word32 alp0 = L_mult(rr[placed[0]][placed[0]], _1_16);
        alp0 = L_mac(alp0, rr[placed[1]][placed[1]], _1_16);
        alp0 = L_mac(alp0, rr[placed[0]][placed[1]], _1_8);
        Word16 ps = 0, alp = 1, sq = -1;
        int n = 2;
        for (int stage = 0; n < nb_pulse; stage++) {
            search_pair(dn, rr, placed, n, ipos[n], ipos[n + 1], step, w[stage][0], w[stage][1], w[stage][2],
                        w[stage][3], w[stage][4], ps0, alp0, &ps, &alp, &placed[n], &placed[n + 1]);
            n += 2;
            ps0 = ps;
            alp0 = L_mult(alp, _1_2);
        }
        sq = mult(ps, ps);
        if (L_msu(L_mult(alpk, sq), psk, alp) > 0) {
            psk = sq;
            alpk = alp;
            for (int i = 0; i < nb_pulse; i++) codvec[i] = placed[i];
        }
        // Cyclic permutation of the tracks of pulses 1 and later.
        const Word16 pos = ipos[1];
        for (int j = 1, k = 2; k < nb_pulse; j++, k++) ipos[j] = ipos[k];
        ipos[nb_pulse - 1] = pos;
    }
}

// ---- 2, 3 and 4 pulses ----------------------------------------------------

struct Pulses {
    int n = 0;
    int pos[10] = {};
};

// Bit k set when pulse k (in track order) is positive.
Word16 sign_bits(const int sign[L_CODE], const Pulses& p) {
    Word16 s = 0;
    for (int k = 0; k < p.n; k++)
        if (sign[p.pos[k]] > 0) s = (Word16)(s | (1 << k));
    return s;
}

// Signs from the target correlation alone (dn becomes sign-adjusted); dn2
// keeps the n strongest positions of each track and marks the others -1.
void set_sign(Word16 dn[], Word16 sign[], Word16 dn2[], int n) {
    for (int i = 0; i < L_CODE; i++) {
        if (dn[i] >= 0) {
            sign[i] = 32767;
        } else {
            sign[i] = -32767;
            dn[i] = negate(dn[i]);
        }
        dn2[i] = dn[i];
    }
    for (int i = 0; i < 5; i++) {
        for (int k = 0; k < 8 - n; k++) {
            Word16 min = 0x7fff;
            int pos = i;
            for (int j = i; j < L_CODE; j += 5) {
                if (dn2[j] >= 0 && sub(dn2[j], min) < 0) {
                    min = dn2[j];
                    pos = j;
                }
            }
            dn2[pos] = -1;
        }
    }
}

// Target correlation, signs and correlation matrix of the 5-track codebooks.
struct SmallSearch {
    Word16 dn[L_CODE], dn2[L_CODE], sgn[L_CODE];
    Word16 rr[L_CODE][L_CODE];
    Word16 psk = -1, alpk = 1;
    Word16 codvec[4] = {0, 1, 2, 3};

    SmallSearch(const Word16* h, const Word16* xn, int keep) {
        cor_h_x(h, xn, dn, 1, 5, 5);
        set_sign(dn, sgn, dn2, keep);
        cor_h(h, sgn, rr);
    }

    // One pulse added to those placed: its best position in the track
    // starting at ipos, given the correlation ps0 and energy alp0 so far
    // (diag and cross weight its own energy and its correlation with each
    // placed pulse).
    Word16 next_pulse(const Word16 placed[], int nplaced, int ipos, Word16 diag, Word16 cross, Word16 ps0,
                      Word32 alp0, Word16* ps, Word16* alp, Word16* sq) const {
        *sq = -1;
        *alp = 1;
        *ps = 0;
        Word16 ix = (Word16)ipos;
        for (int i = ipos; i < L_CODE; i += 5) {
            const Word16 ps1 = add(ps0, dn[i]);
            Word32 alp1 = L_mac(alp0, rr[i][i], diag);
            for (int k = nplaced - 1; k >= 0; k--) alp1 = L_mac(alp1, rr[placed[k]][i], cross);
            const Word16 sq1 = mult(ps1, ps1);
            const Word16 alp_16 = round16(alp1);
            if (L_msu(L_mult(*alp, sq1), *sq, alp_16) > 0) {
                *sq = sq1;
                *ps = ps1;
                *alp = alp_16;
                ix = (Word16)i;
            }
        }
        return ix;
    }

    // The first pulse over the kept positions of the track starting at
    // ipos[0], each later one depth-first in the track of its ipos; true when
    // a better code vector than all before was found.
    bool depth_first(const int ipos[], int npulse) {
        constexpr Word16 _1_2 = 16384, _1_4 = 8192, _1_8 = 4096, _1_16 = 2048;
        bool improved = false;
        for (int i0 = ipos[0]; i0 < L_CODE; i0 += 5) {
            if (dn2[i0] < 0) continue;
            Word16 placed[4] = {(Word16)i0};
            Word16 ps, alp, sq;
            placed[1] = next_pulse(placed, 1, ipos[1], _1_4, _1_2, dn[i0], L_mult(rr[i0][i0], _1_4), &ps, &alp, &sq);
            if (npulse > 2)
                placed[2] = next_pulse(placed, 2, ipos[2], _1_16, _1_8, ps, L_mult(alp, _1_4), &ps, &alp, &sq);
            if (npulse > 3)
                placed[3] = next_pulse(placed, 3, ipos[3], _1_16, _1_8, ps, L_deposit_h(alp), &ps, &alp, &sq);
            if (L_msu(L_mult(alpk, sq), psk, alp) > 0) {
                psk = sq;
                alpk = alp;
                for (int k = 0; k < npulse; k++) codvec[k] = placed[k];
                improved = true;
            }
        }
        return improved;
    }

    void signs(int sign[]) const {
        for (int i = 0; i < L_CODE; i++) sign[i] = sgn[i] > 0 ? 1 : -1;
    }
};

// The tracks of a rotation: ipos[k] takes the old ipos[k - 1], the first the last.
void rotate(int ipos[], int n) {
    const int last = ipos[n - 1];
    for (int k = n - 1; k > 0; k--) ipos[k] = ipos[k - 1];
    ipos[0] = last;
}

// 4.75 and 5.15 kbit/s: both pulses over all positions of the two track
// pairs allowed in this subframe.
void code_2i40_9bits(const Word16* h, const Word16* xn, Word16 subframe, int sign[], Pulses& p, Word16** anap) {
    SmallSearch s(h, xn, 8);
    int set = 0;
    for (int track1 = 0; track1 < 2; track1++) {
        const int ipos[2] = {startPos_9pf[subframe * 2 + 8 * track1], startPos_9pf[subframe * 2 + 1 + 8 * track1]};
        if (s.depth_first(ipos, 2)) set = track1;
    }
    s.signs(sign);
    p.n = 2;
    p.pos[0] = s.codvec[0];
    p.pos[1] = s.codvec[1];
    Word16 index = (Word16)((p.pos[0] / 5) | ((p.pos[1] / 5) << 3) | (set << 6));
    *(*anap)++ = index;
    *(*anap)++ = sign_bits(sign, p);
}

// 5.90 kbit/s: both pulses over all positions of every allowed track pair.
void code_2i40_11bits(const Word16* h, const Word16* xn, int sign[], Pulses& p, Word16** anap) {
    SmallSearch s(h, xn, 8);
    for (int track1 = 0; track1 < 2; track1++)
        for (int track2 = 0; track2 < 4; track2++) {
            const int ipos[2] = {startPos1_11pf[track1], startPos2_11pf[track2]};
            s.depth_first(ipos, 2);
        }
    s.signs(sign);
    p.n = 2;
    p.pos[0] = s.codvec[0];
    p.pos[1] = s.codvec[1];
    int j0 = (p.pos[0] % 5) == startPos1_11pf[1] ? 1 : 0;
    int j1 = 0;
    while (startPos2_11pf[j1] != p.pos[1] % 5) j1++;
    Word16 index = (Word16)(j0 | ((p.pos[0] / 5) << 1) | (j1 << 4) | ((p.pos[1] / 5) << 6));
    *(*anap)++ = index;
    *(*anap)++ = sign_bits(sign, p);
}

// 6.70 kbit/s: depth-first from the 6 strongest positions of each track, over
// every choice of tracks 1/3 and 2/4 and their rotations.
void code_3i40_14bits(const Word16* h, const Word16* xn, int sign[], Pulses& p, Word16** anap) {
    SmallSearch s(h, xn, 6);
    for (int track1 = 1; track1 < 4; track1 += 2)
        for (int track2 = 2; track2 < 5; track2 += 2) {
            int ipos[3] = {0, track1, track2};
            for (int r = 0; r < 3; r++) {
                s.depth_first(ipos, 3);
                rotate(ipos, 3);
            }
        }
    s.signs(sign);
    // In track order: track 0, then 1 or 3, then 2 or 4.
    p.n = 3;
    for (int k = 0; k < 3; k++) {
        const int t = s.codvec[k] % 5;
        p.pos[t == 0 ? 0 : (t % 2 == 1 ? 1 : 2)] = s.codvec[k];
    }
    int j1 = (p.pos[1] % 5) == 3 ? 1 : 0;
    int j2 = (p.pos[2] % 5) == 4 ? 1 : 0;
    Word16 index = (Word16)((p.pos[0] / 5) | (j1 << 3) | ((p.pos[1] / 5) << 4) | (j2 << 7) | ((p.pos[2] / 5) << 8));
    *(*anap)++ = index;
    *(*anap)++ = sign_bits(sign, p);
}

// 7.40 and 7.95 kbit/s: depth-first from the 4 strongest positions of each
// track; the tracks rotate, and the last pulse takes track 3 in one round and
// track 4 in the other.
void code_4i40_17bits(const Word16* h, const Word16* xn, int sign[], Pulses& p, Word16** anap) {
    SmallSearch s(h, xn, 4);
    for (int track = 3; track < 5; track++) {
        int ipos[4] = {0, 1, 2, track};
        for (int r = 0; r < 4; r++) {
            s.depth_first(ipos, 4);
            rotate(ipos, 4);
        }
    }
    s.signs(sign);
    // In track order: tracks 0, 1, 2, then 3 or 4.
    p.n = 4;
    for (int k = 0; k < 4; k++) p.pos[std::min(s.codvec[k] % 5, 3)] = s.codvec[k];
    const int j3 = (p.pos[3] % 5) == 4 ? 1 : 0;
    Word16 index = (Word16)(gray[p.pos[0] / 5] | (gray[p.pos[1] / 5] << 3) | (gray[p.pos[2] / 5] << 6) |
                            (j3 << 9) | (gray[p.pos[3] / 5] << 10));
    *(*anap)++ = index;
    *(*anap)++ = sign_bits(sign, p);
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

void code_10i40_35bits(const int sign[], const Pulses& p, Word16** anap) {
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

void code_8i40_31bits(const int sign[], const Pulses& p, Word16** anap) {
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

    int sign[L_CODE];
    Pulses p;
    switch (mode) {
    case MR475:
    case MR515: code_2i40_9bits(h, xn, subframe, sign, p, anap); break;
    case MR59: code_2i40_11bits(h, xn, sign, p, anap); break;
    case MR67: code_3i40_14bits(h, xn, sign, p, anap); break;
    case MR74:
    case MR795: code_4i40_17bits(h, xn, sign, p, anap); break;
    default: {
        const int ntrack = mode == MR122 ? 5 : 4;
        Word16 dn[L_CODE], sgn[L_CODE], pos_max[5], ipos[10], codvec[10];
        Word16 rr[L_CODE][L_CODE];
        cor_h_x(h, xn, dn, 2, ntrack, ntrack);
        set_sign12k2(dn, res2, sgn, pos_max, ntrack, ipos, ntrack);
        cor_h(h, sgn, rr);
        p.n = 2 * ntrack;
        search_10and8i40(p.n, ntrack, ntrack, dn, rr, ipos, pos_max, codvec);
        for (int i = 0; i < L_CODE; i++) sign[i] = sgn[i] > 0 ? 1 : -1;
        for (int k = 0; k < p.n; k++) p.pos[k] = codvec[k];
        if (mode == MR122)
            code_10i40_35bits(sign, p, anap);
        else
            code_8i40_31bits(sign, p, anap);
        break;
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
