// Block-switching control.
//
// Timing: the driver pushes the short spectra of the look-ahead, so the
// windows coded in the next frame are the last nSub/2 blocks of the previous
// call and the first nSub/2 of this one. The marks keep that span: entries
// 0 .. nSub/2-1 are carried from the previous call, the rest are this call's
// blocks; the grouping is built over the first nSub entries and reported by
// the next call, when the driver applies the eight-short sequence that the
// attack asked for. A frame's grouping therefore always describes the
// windows it codes and sums to nSub.
#include "mp4aenc/sw_cont.h"

#include <cstdlib>
#include <cstring>

#include "attack_detect.h"
#include "mp4aenc/param.h"
#include "mp4aenc/psy_conf.h"

static const char kModule[] = "mp4AEnc/mp4AACCore/src/psych/sw_cont";

int sw_cont_next_on_attack(int previous) {
  static const int next[4] = {1, 2, 2, 1};
  return previous >= 0 && previous < 4 ? next[previous] : 1;
}

int sw_cont_next_quiet(int previous) {
  static const int next[4] = {0, 3, 3, 0};
  return previous >= 0 && previous < 4 ? next[previous] : 0;
}

ErrorRecord* sw_cont_create(SwCont** out, const PsyConf* conf, int nSub, int extra) {
  *out = nullptr;
  if (!conf || !conf->shortCb || nSub < 2 || nSub > 8)
    return error_create(kModule, __LINE__, nullptr, "invalid function parameters");
  auto* s = static_cast<SwCont*>(std::calloc(1, sizeof(SwCont)));
  if (!s) return error_create(kModule, __LINE__, nullptr, "out of memory");
  s->detector = static_cast<AttackDetector*>(std::calloc(1, sizeof(AttackDetector)));
  if (!s->detector) {
    sw_cont_free(s);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  // Per instance: two encoders never share or race on it.
  s->preConst = 200.0f;
  param_get_float("preConst", 0.0f, 2000.0f, "pe threshold for block switch decision", nullptr,
                  &s->preConst);
  param_get_int("d8r", 0, 1, "debug mode: make always 8 regions 0:off, 1:on", nullptr, &s->d8r);
  s->nSub = nSub;
  s->extra = extra;
  s->firstDepth = nSub - 1;
  s->secondDepth = nSub / 2 + 1;
  s->grouping.count = 1;
  s->grouping.lengths[0] = nSub;
  s->pending = s->grouping;
  const float lowBark = conf->shortAd ? conf->shortAd->lowBark : 10.0f;
  if (ErrorRecord* err =
          attack_detector_init(s->detector, conf->shortCb, lowBark, nSub + nSub / 2, kModule)) {
    sw_cont_free(s);
    return error_add_trace(kModule, __LINE__, nullptr, err);
  }
  *out = s;
  return nullptr;
}

void sw_cont_free(SwCont* state) {
  if (!state) return;
  if (state->detector) attack_detector_free(state->detector);
  std::free(state->detector);
  std::free(state);
}

// Adds group starts inside runs longer than 3 (one) or 6 (two) blocks.
static void split_runs(int* starts, int n) {
  int runStart = 0;
  for (int i = 1; i <= n; ++i) {
    if (i < n && !starts[i]) continue;
    const int length = i - runStart;
    if (length > 6) {
      starts[i - length / 3] = 1;
      starts[i - 2 * length / 3] = 1;
    } else if (length > 3) {
      starts[i - length / 2] = 1;
    }
    runStart = i;
  }
}

void lowPeRatioHist(SwCont* s, const FloatFifo* shortSpectra, int* sequenceOut, int nSub) {
  AttackDetector* d = s->detector;
  const int carried = nSub / 2;
  for (int i = carried; i < carried + nSub; ++i) s->marks[i] = 0;
  s->maxRise = 0.0f;
  for (int i = 0; i < nSub; ++i) {
    const float* spectrum = fifo_get(shortSpectra, nSub - 1 - i);
    if (!spectrum) continue;
    attack_detector_measure(d, spectrum);
    if (d->rise[0] > s->maxRise) s->maxRise = d->rise[0];
    int mark = attack_first_test(d, s->preConst, s->prevAttack, &s->firstDepth, nSub - 2);
    const int second = attack_second_test(d, &s->secondDepth, nSub / 2);
    if (!mark) mark = second;
    s->marks[carried + i] = mark;
  }
  // The windows of the next coded frame: marks 0 .. nSub-1.
  int starts[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  int attack = 0;
  for (int w = 0; w < nSub + carried; ++w) {
    // A carried fall was judged by the previous call already.
    if (w < carried && s->marks[w] != 1) continue;
    if (s->marks[w] == 1) {
      attack = 1;
      if (w < nSub) starts[w] = 1;
      if (w + 1 < nSub) starts[w + 1] = 1;
    } else if (s->marks[w] == 4 && s->prevAttack) {
      attack = 1;
    }
  }
  if (s->forceFlag && s->grouping.force) attack = s->grouping.force == 2;
  if (attack && !s->d8r) split_runs(starts, nSub);
  if (s->d8r)
    for (int w = 0; w < nSub; ++w) starts[w] = 1;
  // Carry the look-ahead half into the next call.
  for (int i = 0; i < carried; ++i) s->marks[i] = s->marks[nSub + i];

  s->grouping = s->pending;
  s->pending.count = 0;
  for (int w = 0; w < nSub; ++w) {
    if (starts[w]) s->pending.lengths[s->pending.count++] = 0;
    ++s->pending.lengths[s->pending.count - 1];
  }

  const int sequence = (attack || s->prevAttack) ? sw_cont_next_on_attack(s->lastSequence)
                                                 : sw_cont_next_quiet(s->lastSequence);
  s->prevAttack = attack;
  s->attack = attack;
  if (sequence == 2 && s->grouping.count == 1) {
    // Without an attack inside the frame the windows still form groups, so
    // that the scalefactors are not shared by all eight.
    if (nSub == 8) {
      s->grouping.count = 3;
      s->grouping.lengths[0] = 3;
      s->grouping.lengths[1] = 3;
      s->grouping.lengths[2] = 2;
    } else if (nSub == 4) {
      s->grouping.count = 2;
      s->grouping.lengths[0] = s->grouping.lengths[1] = 2;
    }
  }
  s->lastSequence = sequence;
  *sequenceOut = sequence;
}
