// Voice activity detector (option 1, filter bank) and the transmit-side DTX
// functions: hangover, LSP/energy history and SID parameters.
#pragma once
#include "defs.h"

namespace amr {

struct QPlsfState;
struct GcPredState;

constexpr int COMPLEN = 9;
constexpr int DTX_HIST_SIZE = 8;

struct VadState {
    Word16 bckr_est[COMPLEN];
    Word16 ave_level[COMPLEN];
    Word16 old_level[COMPLEN];
    Word16 sub_level[COMPLEN];
    Word16 a_data5[3][2];
    Word16 a_data3[5];
    Word16 burst_count;
    Word16 hang_count;
    Word16 stat_count;
    Word16 vadreg;
    Word16 pitch;
    Word16 tone;
    Word16 complex_high;
    Word16 complex_low;
    Word16 oldlag_count;
    Word16 oldlag;
    Word16 complex_hang_count;
    Word16 complex_hang_timer;
    Word16 best_corr_hp;
    Word16 speech_vad_decision;
    Word16 complex_warning;
    Word16 sp_burst_count;
    Word16 corr_hp_fast;
};

struct DtxEncState {
    Word16 lsp_hist[M * DTX_HIST_SIZE];
    Word16 log_en_hist[DTX_HIST_SIZE];
    Word16 hist_ptr;
    Word16 log_en_index;
    Word16 init_lsf_vq_index;
    Word16 lsp_index[3];
    Word16 dtxHangoverCount;
    Word16 decAnaElapsedCount;
};

int vad1_init(VadState** st);
int vad1_reset(VadState* st);
void vad1_exit(VadState** st);
Word16 vad1(VadState* st, const Word16* in_buf);
void vad_tone_detection(VadState* st, Word32 t0, Word32 t1);
void vad_tone_detection_update(VadState* st, Word16 one_lag_per_frame);
void vad_complex_detection_update(VadState* st, Word16 best_corr_hp);
void vad_pitch_detection(VadState* st, const Word16 T_op[2]);

int dtx_enc_init(DtxEncState** st);
int dtx_enc_reset(DtxEncState* st);
void dtx_enc_exit(DtxEncState** st);
Word16 tx_dtx_handler(DtxEncState* st, Word16 vad_flag, Mode* usedMode);
void dtx_buffer(DtxEncState* st, const Word16 lsp_new[], const Word16* speech);
void dtx_enc(DtxEncState* st, Word16 computeSidFlag, QPlsfState* qSt, GcPredState* predState, Word16** anap);

}  // namespace amr
