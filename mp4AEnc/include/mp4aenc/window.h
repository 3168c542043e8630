// Window objects of the analysis and synthesis filterbank, the window-shape
// setting "ws", and the window-shape adaptation between the sine and the
// zero-padded shape for encoders that use long blocks only.
#pragma once

#include "mp4aenc/error.h"
#include "mp4aenc/fifo.h"

struct PsyConf;
struct AttackDetector;

struct WindowObject {
  float* coefficients;  // first member: object_free releases it
  int length;
};

// Composes the full window of a sequence (0 long, 1 long-start, 2 eight
// short, 3 long-stop) from the half generators; nShort short windows per
// frame. *out is null on failure.
ErrorRecord* window_create(WindowObject** out, int N, int sequence, int leftShape, int rightShape,
                           int useTable, int nShort);
// block[i] *= coefficients[i], N values.
void window_apply(const WindowObject* window, float* block);

struct WindowShapes {
  int longLeft, longRight;
  int startLeft, startRight;
  int shortLeft, shortRight;
  int stopLeft, stopRight;
};

// Fills shapes from "ws" (long shape, short shape; defaults[0..1] stand when
// it is absent). useSine sets only the long shapes, to sine. An invalid shape
// answers "Invalid long window shape" / "Invalid short window shape" and
// leaves the record as it was.
ErrorRecord* window_shapes_read(WindowShapes* shapes, int useSine, const int defaults[2]);

// Window-shape adaptation state (long blocks only).
struct WsAdapt {
  WindowObject* windows[3][3];  // [left][right], shapes 0..2
  int nPart;
  const int* partWidth;
  float* quietDb;     // per partition, 10 log10(quiet) - 5, or -135
  float* quietLin;    // the same back in linear form
  FloatFifo* history; // historyLength slots of one dB value per partition
  int historyLength;
  int* marks;         // historyLength entries
  float* rise;        // per depth, scratch
  float* fall;
  const float* centre;  // partition centres in Bark
  float lowBark;        // partitions below it count as low frequency
  int mode;           // "wsa_ws": 0 adaptive, 1 only ZPW, 2 only sine
  int firstDepth, secondDepth;
  int prevAttack;
  int lastDecision;
  int left, right;    // current shapes, 0 or 2
  AttackDetector* detector;  // owns quietDb, quietLin, history, rise, fall
};

// enabled 0: success and no state. longWindowOut receives the window of
// entry (leftIndex, rightIndex); the state owns it.
ErrorRecord* ws_adapt_create(WsAdapt** out, WindowObject** longWindowOut, int N, int leftIndex,
                             int rightIndex, const PsyConf* conf, int historyLength, int enabled);
// One decision per frame from the short-spectrum FIFO (complex slots, slot 0
// newest); writes the chosen long window. Block type 2 is refused.
ErrorRecord* winShapeHist(WsAdapt* state, int blockType, const FloatFifo* history,
                          WindowObject** windowOut, int nSub);
void ws_adapt_free(WsAdapt* state);
