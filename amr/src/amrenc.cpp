#include "amrenc/amrenc.h"

#include <cstdlib>
#include <cstring>

#include "amr_tables.h"
#include "cod_amr.h"
#include "state.h"

using namespace amr;

namespace {

struct ModeBits {
    int nparams;
    int nbits;
    const int16_t* bits;
    const int16_t* order;  // null: no reordering (SID)
};

const ModeBits kModeBits[9] = {
    {17, 95, bits_MR475, bitorder_MR475},   {19, 103, bits_MR515, bitorder_MR515},
    {19, 118, bits_MR59, bitorder_MR59},    {19, 134, bits_MR67, bitorder_MR67},
    {19, 148, bits_MR74, bitorder_MR74},    {23, 159, bits_MR795, bitorder_MR795},
    {39, 204, bits_MR102, bitorder_MR102},  {57, 244, bits_MR122, bitorder_MR122},
    {5, 35, bits_MRDTX, nullptr},
};

// High-pass filter at 80 Hz with the input halved; saturating arithmetic.
void Pre_Process(PreProcessState* st, Word16 signal[], Word16 lg) {
    static const Word16 a[3] = {4096, 7807, -3733};
    static const Word16 b[3] = {1899, -3798, 1899};
    for (int i = 0; i < lg; i++) {
        Word16 x2 = st->x1;
        st->x1 = st->x0;
        st->x0 = signal[i];
        Word32 L_tmp = Mpy_32_16(st->y1_hi, st->y1_lo, a[1]);
        L_tmp = L_add(L_tmp, Mpy_32_16(st->y2_hi, st->y2_lo, a[2]));
        L_tmp = L_mac(L_tmp, st->x0, b[0]);
        L_tmp = L_mac(L_tmp, st->x1, b[1]);
        L_tmp = L_mac(L_tmp, x2, b[2]);
        L_tmp = L_shl(L_tmp, 3);
        signal[i] = round16(L_tmp);
        st->y2_hi = st->y1_hi;
        st->y2_lo = st->y1_lo;
        L_Extract(L_tmp, &st->y1_hi, &st->y1_lo);
    }
}

// Bits a frame carries after its 4-bit frame type: the coded parameters, and
// for a SID frame also its type indicator and the speech mode's indication.
constexpr int kSidBits = 35 + 1 + 3;

int frame_bits(int frame_type) { return frame_type == AMR_SID ? kSidBits : kModeBits[frame_type].nbits; }

void amr_prm_to_if2(int frame_type, int mode, const Word16* prm, uint8_t* out) {
    const ModeBits& m = kModeBits[frame_type];
    uint8_t serial[244];
    int n = 0;
    for (int p = 0; p < m.nparams; p++)
        for (int b = m.bits[p] - 1; b >= 0; b--) serial[n++] = (uint8_t)((prm[p] >> b) & 1);
    if (frame_type == AMR_SID) {
        // Every comfort-noise frame carries valid parameters, so it is an
        // update (STI 1), never a first SID without them; the mode indication
        // follows, least significant bit first, and tells the decoder the
        // speech mode to resume with.
        serial[n++] = 1;
        for (int b = 0; b < 3; b++) serial[n++] = (uint8_t)((mode >> b) & 1);
    }
    out[0] = (uint8_t)(frame_type & 0x0f);
    for (int k = 0; k < n; k++) {
        uint8_t bit = m.order ? serial[m.order[k]] : serial[k];
        int pos = k + 4;  // after the 4-bit frame type
        out[pos >> 3] = (uint8_t)(out[pos >> 3] | (bit << (pos & 7)));
    }
}

}  // namespace

int amr_if2_frame_bytes(int frame_type) {
    if (frame_type < 0 || frame_type > AMR_SID) return 0;
    return (4 + frame_bits(frame_type) + 7) / 8;
}

int amr_storage_frame_bytes(int frame_type) {
    if (frame_type < 0 || frame_type > AMR_SID) return 0;
    return 1 + (frame_bits(frame_type) + 7) / 8;
}

int amr_if2_to_storage(const uint8_t* if2, uint8_t* out) {
    const int ft = if2[0] & 0x0f;
    const int n = amr_storage_frame_bytes(ft);
    if (n == 0) return 0;
    const int bits = frame_bits(ft);
    std::memset(out, 0, (size_t)n);
    out[0] = (uint8_t)((ft << 3) | 0x04);  // Q = 1: a good frame
    for (int k = 0; k < bits; k++) {
        const int pos = k + 4;
        const int bit = (if2[pos >> 3] >> (pos & 7)) & 1;
        out[1 + k / 8] = (uint8_t)(out[1 + k / 8] | (bit << (7 - k % 8)));
    }
    return n;
}

int amr_enc_init(AmrEncState** out, int dtx, const char* id) {
    (void)id;
    if (out == nullptr) return -1;
    *out = nullptr;
    AmrEncState* s = static_cast<AmrEncState*>(std::calloc(1, sizeof(AmrEncState)));
    if (s == nullptr) return -1;
    s->dtx = dtx;
    s->counter_id = nullptr;
    if (alloc_state(&s->pre_state) != 0 || cod_amr_init(&s->cod_state, dtx ? 1 : 0) != 0) {
        amr_enc_exit(&s);
        return -1;
    }
    amr_enc_reset(s);
    *out = s;
    return 0;
}

int amr_enc_reset(AmrEncState* st) {
    if (st == nullptr) return -1;
    *st->pre_state = PreProcessState{};
    cod_amr_reset(st->cod_state);
    return 0;
}

void amr_enc_exit(AmrEncState** p) {
    if (p == nullptr || *p == nullptr) return;
    free_state(&(*p)->pre_state);
    cod_amr_exit(&(*p)->cod_state);
    free_state(p);
}

int amr_enc_frame(AmrEncState* st, int mode, int16_t* speech, uint8_t* out, int* usedMode) {
    Word16 synth[L_FRAME];
    return amr::encode_frame(st, mode, speech, out, usedMode, synth);
}

namespace amr {

int encode_frame(AmrEncState* st, int mode, int16_t* speech, uint8_t* out, int* usedMode, int16_t* synth) {
    if (out != nullptr) std::memset(out, 0, AMR_OUT_BYTES);
    if (st == nullptr || speech == nullptr || out == nullptr || usedMode == nullptr || mode < AMR_MR475 ||
        mode > AMR_MR122) {
        // An unknown mode would index past the mode tables.
        if (usedMode) *usedMode = -1;
        return -1;
    }
    for (int i = 0; i < L_FRAME; i++) speech[i] = (Word16)(speech[i] & 0xfff8);
    Pre_Process(st->pre_state, speech, L_FRAME);
    Word16 prm[57] = {};
    Mode used = (Mode)mode;
    cod_amr(st->cod_state, (Mode)mode, speech, prm, &used, synth);
    *usedMode = used;
    amr_prm_to_if2(used, mode, prm, out);
    return 0;
}

}  // namespace amr
