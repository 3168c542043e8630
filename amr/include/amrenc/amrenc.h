// GSM-AMR narrow-band speech encoder: four plain functions over one encoder
// instance. One call codes 160 samples (20 ms at 8 kHz) into one frame of
// interface format 2 (IF2).
#pragma once
#include <cstdint>

// Frame types: speech modes 0 (4.75 kbit/s) to 7 (12.2 kbit/s), 8 SID.
enum AmrMode {
    AMR_MR475 = 0,
    AMR_MR515,
    AMR_MR59,
    AMR_MR67,
    AMR_MR74,
    AMR_MR795,
    AMR_MR102,
    AMR_MR122,
    AMR_SID
};

constexpr int AMR_FRAME_SAMPLES = 160;
constexpr int AMR_OUT_BYTES = 244;  // size of the caller's output buffer

namespace amr {
struct AmrCoderState;
}

struct PreProcessState {
    int16_t y2_hi, y2_lo, y1_hi, y1_lo, x0, x1;
};

struct AmrEncState {
    PreProcessState* pre_state;
    amr::AmrCoderState* cod_state;
    int32_t dtx;
    const void* counter_id;  // operation counting is not done: always null
};

// 0, or -1 (null out, allocation failure); *out stays null on failure.
int amr_enc_init(AmrEncState** out, int dtx, const char* id);
// 0, or -1 for null.
int amr_enc_reset(AmrEncState* st);
// Frees the instance and sets *p to null; nothing for null.
void amr_enc_exit(AmrEncState** p);
// Codes 160 samples (modified in place: masked to 13 bits and high-pass
// filtered) in mode 0..7 into out (AMR_OUT_BYTES, cleared first). *usedMode is
// the coded frame type. Returns 0; a mode outside 0..7 or a null argument gives
// -1 (and an empty buffer, *usedMode -1 where they are given).
int amr_enc_frame(AmrEncState* st, int mode, int16_t* speech, uint8_t* out, int* usedMode);

// Octets of the IF2 frame of a frame type (13..31 for speech, 6 for SID), 0
// otherwise. A SID frame holds its 35 comfort-noise bits, the SID type
// indicator (always 1, an update) and the mode indication of the speech mode
// in use (3 bits, least significant first).
int amr_if2_frame_bytes(int frame_type);
// Octets of the same frame in the storage format of RFC 4867 (a ".amr"
// file): 13..32 for speech, 6 for SID, 0 otherwise.
int amr_storage_frame_bytes(int frame_type);
// IF2 frame -> RFC 4867 storage frame: header (FT << 3) | 4, then the same
// bits d(0).. from the most significant bit of each octet. out holds at
// least 32 octets; answers the octets written (0 for an unknown type).
int amr_if2_to_storage(const uint8_t* if2, uint8_t* out);
