// Window-shape adaptation for encoders that use long blocks only: per frame
// the sine shape or, around an attack, the zero-padded shape, whose short
// overlap keeps the pre-echo within an eighth of the block.
#include <cstdlib>

#include "attack_detect.h"
#include "mp4aenc/common.h"
#include "mp4aenc/param.h"
#include "mp4aenc/psy_conf.h"
#include "mp4aenc/window.h"

static const char kModule[] = "mp4AEnc/mp4AACCore/src/psych/ws_adapt";

ErrorRecord* ws_adapt_create(WsAdapt** out, WindowObject** longWindowOut, int N, int leftIndex,
                             int rightIndex, const PsyConf* conf, int historyLength, int enabled) {
  *out = nullptr;
  if (!enabled) return nullptr;
  if (!conf || !conf->shortCb || historyLength < 2 || leftIndex < 0 || leftIndex > 2 ||
      rightIndex < 0 || rightIndex > 2)
    return error_create(kModule, __LINE__, nullptr, "invalid function parameters");
  auto* s = static_cast<WsAdapt*>(std::calloc(1, sizeof(WsAdapt)));
  if (!s) return error_create(kModule, __LINE__, nullptr, "out of memory");
  s->detector = static_cast<AttackDetector*>(std::calloc(1, sizeof(AttackDetector)));
  if (!s->detector) {
    ws_adapt_free(s);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  for (int l = 0; l < 3; ++l)
    for (int r = 0; r < 3; ++r)
      if (ErrorRecord* err = window_create(&s->windows[l][r], N, 0, l, r, 0, 8)) {
        ws_adapt_free(s);
        return error_add_trace(kModule, __LINE__, nullptr, err);
      }
  // The detector reads short spectra, so it takes the short partition table:
  // the long table's partitions would reach far past a short block's lines.
  const CbParam* cb = conf->shortCb;
  AttackDetector* d = s->detector;
  const float lowBark = conf->shortAd ? conf->shortAd->lowBark : 10.0f;
  if (ErrorRecord* err = attack_detector_init(d, cb, lowBark, historyLength, kModule)) {
    ws_adapt_free(s);
    return error_add_trace(kModule, __LINE__, nullptr, err);
  }
  s->nPart = cb->count;
  s->partWidth = cb->width;
  s->quietDb = d->quietDb;
  s->quietLin = d->quietLin;
  s->history = d->history;
  s->historyLength = historyLength;
  s->marks = static_cast<int*>(std::calloc(size_t(historyLength), sizeof(int)));
  if (!s->marks) {
    ws_adapt_free(s);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  s->rise = d->rise;
  s->fall = d->fall;
  s->centre = cb->centre;
  s->lowBark = lowBark;
  s->mode = 0;
  param_get_int("wsa_ws", 0, 2, "test windowshape for wsa mode : 0=adaptive 1=only ZPW , 2=only SINE",
                nullptr, &s->mode);
  s->firstDepth = historyLength - 1;
  s->secondDepth = historyLength / 2 + 1;
  s->left = leftIndex;
  s->right = rightIndex;
  if (longWindowOut) *longWindowOut = s->windows[leftIndex][rightIndex];
  *out = s;
  return nullptr;
}

ErrorRecord* winShapeHist(WsAdapt* s, int blockType, const FloatFifo* history,
                          WindowObject** windowOut, int nSub) {
  if (blockType != 0)
    return error_create(kModule, __LINE__, nullptr,
                        "window shape adaptation works on long blocks only (block type %d)",
                        blockType);
  AttackDetector* d = s->detector;
  int attack = 0;
  for (int n = 0; n < nSub && n < s->historyLength; ++n) {
    const float* spectrum = fifo_get(history, 2 * nSub - 1 - n);
    if (!spectrum) continue;
    attack_detector_measure(d, spectrum);
    int mark = attack_first_test(d, 200.0f, s->prevAttack, &s->firstDepth, s->historyLength - 2);
    const int second = attack_second_test(d, &s->secondDepth, nSub / 2);
    if (!mark) mark = second;
    s->marks[n] = mark;
    if (mark == 1 || (mark == 4 && s->prevAttack)) attack = 1;
  }
  s->prevAttack = attack;
  s->lastDecision = attack;
  int shape = attack ? 2 : 0;
  if (s->mode == 1) shape = 2;
  if (s->mode == 2) shape = 0;
  // The left half continues the right half of the previous frame's window.
  s->left = s->right;
  s->right = shape;
  *windowOut = s->windows[s->left][s->right];
  return nullptr;
}

void ws_adapt_free(WsAdapt* state) {
  if (!state) return;
  for (auto& row : state->windows)
    for (WindowObject*& w : row) object_free(w);
  if (state->detector) attack_detector_free(state->detector);
  std::free(state->detector);
  std::free(state->marks);
  std::free(state);
}
