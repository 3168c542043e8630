// Frame constants and modes shared by the speech coder's modules.
#pragma once
#include "basicop.h"

namespace amr {

enum Mode { MR475 = 0, MR515, MR59, MR67, MR74, MR795, MR102, MR122, MRDTX };

constexpr int M = 10;          // LPC order
constexpr int MP1 = M + 1;
constexpr int L_FRAME = 160;
constexpr int L_FRAME_BY2 = 80;
constexpr int L_SUBFR = 40;
constexpr int L_WINDOW = 240;
constexpr int PIT_MIN = 20;
constexpr int PIT_MIN_MR122 = 18;
constexpr int PIT_MAX = 143;
constexpr int L_INTERPOL = 10 + 1;
constexpr int LSF_GAP = 205;
constexpr Word16 SHARPMIN = 0;
constexpr Word16 SHARPMAX = 13017;  // 0.8 in Q14, rounded as the standard does
constexpr Word16 GP_CLIP = 15565;   // 0.95 in Q14

}  // namespace amr
