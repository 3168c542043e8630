// Short-term analysis: LPC, LSP conversion and quantisation, interpolation,
// and the order-10 filters the other modules use.
#pragma once
#include "defs.h"

namespace amr {

struct LevinsonState { Word16 old_A[MP1]; };
struct LpcState { LevinsonState* levinsonSt; };
struct QPlsfState { Word16 past_rq[M]; };
struct LspState {
    Word16 lsp_old[M];
    Word16 lsp_old_q[M];
    QPlsfState* qSt;
};

int Levinson_init(LevinsonState** st);
int Levinson_reset(LevinsonState* st);
void Levinson_exit(LevinsonState** st);
int lpc_init(LpcState** st);
int lpc_reset(LpcState* st);
void lpc_exit(LpcState** st);
int Q_plsf_init(QPlsfState** st);
int Q_plsf_reset(QPlsfState* st);
void Q_plsf_exit(QPlsfState** st);
int lsp_init(LspState** st);
int lsp_reset(LspState* st);
void lsp_exit(LspState** st);

Word16 Autocorr(const Word16 x[], Word16 m, Word16 r_h[], Word16 r_l[], const Word16 wind[]);
void Lag_window(Word16 m, Word16 r_h[], Word16 r_l[]);
// Returns 0; on an unstable recursion the previous frame's filter is used.
int Levinson(LevinsonState* st, const Word16 Rh[], const Word16 Rl[], Word16 A[], Word16 rc[]);
void lpc(LpcState* st, Mode mode, const Word16* x, const Word16* x_12k2, Word16 a[]);

void Az_lsp(const Word16 a[], Word16 lsp[], const Word16 old_lsp[]);
void Lsp_Az(const Word16 lsp[], Word16 a[]);
void Lsf_lsp(const Word16 lsf[], Word16 lsp[], Word16 m);
void Lsp_lsf(const Word16 lsp[], Word16 lsf[], Word16 m);
void Reorder_lsf(Word16 lsf[], Word16 min_dist, Word16 n);
void Lsf_wt(const Word16* lsf, Word16* wf);
void Int_lpc_1to3(const Word16 lsp_old[], const Word16 lsp_new[], Word16 Az[]);
void Int_lpc_1and3(const Word16 lsp_old[], const Word16 lsp_mid[], const Word16 lsp_new[], Word16 Az[]);

void Q_plsf_3(QPlsfState* st, Mode mode, const Word16* lsp1, Word16* lsp1_q, Word16* indice,
              Word16* pred_init_i);
void Q_plsf_5(QPlsfState* st, const Word16* lsp1, const Word16* lsp2, Word16* lsp1_q, Word16* lsp2_q,
              Word16* indice);
void lsp(LspState* st, Mode req_mode, Mode used_mode, Word16* az, Word16* azQ, Word16* lsp_new,
         Word16** anap);

void Weight_Ai(const Word16 a[], const Word16 fac[], Word16 a_exp[]);
void Residu(const Word16 a[], const Word16 x[], Word16 y[], Word16 lg);
void Syn_filt(const Word16 a[], const Word16 x[], Word16 y[], Word16 lg, Word16 mem[], Flag update);
void Convolve(const Word16 x[], const Word16 h[], Word16 y[], Word16 L);

}  // namespace amr
