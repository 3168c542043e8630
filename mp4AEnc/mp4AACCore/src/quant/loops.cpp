// The quantisation loops: the quantiser, sectioning and scalefactor cost,
// the inner loop on the global step, the outer loop that amplifies
// distorted bands, and the per-frame time budget.
#include "mp4aenc/loops.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mp4aenc/noiseless.h"
#include "mp4aenc/param.h"

namespace {

const char kModule[] = "mp4AEnc/mp4AACCore/src/quant/loopmain";

enum { kInnerOuter = 0, kThresholdSimulation = 1, kFastIteration = 2, kAdvancedSimulation = 3 };

float g_pow43[kAacMaxQuant + 1];
bool g_pow43Ready = false;
void pow43_init() {
  if (g_pow43Ready) return;
  for (int i = 0; i <= kAacMaxQuant; ++i) g_pow43[i] = float(std::pow(double(i), 4.0 / 3.0));
  g_pow43Ready = true;
}

// Per band of the frame (groups x coded bands), the loop's working record.
struct Band {
  int group, band;
  int start, width;  // lines in grouped order
  float energy, threshold;
  float sumSqrt;     // sum of |x|^(1/2): the noise estimate's weight
  float peak;        // largest |x|^(3/4)
  int sfMin;         // finest step that keeps every value at most 8191
  int needed;        // energy >= threshold
};

struct Channel {
  const PsyOut* psy;
  int nBands;
  Band bands[kAacMaxGroupBands];
  int base[kAacMaxGroupBands];  // estimated step per band (before the offset)
  int amp[kAacMaxGroupBands];   // amplification: steps finer than the estimate
  float xa[1024], xp[1024];
  float x[1024];
  int offset;  // inner-loop offset of the last result
  int eah, fsec, scfe;
  AacChannelResult cur, best;
  int bandBits[kAacMaxGroupBands][12];
  float err[kAacMaxGroupBands];
};

struct Timer {
  float factor;
  int blockLength, framesLeft;
  long long blockDeadline, frameDeadline;
  double frameSeconds;
};

}  // namespace

struct AacLoops {
  int channels;
  int groupOf[kAacMaxChannels];  // channel group (a pair's channels share one)
  int itm, mol, amp, evl, noMergeAll, noMergeEsc, optimise, lpp, vcb11;
  float atsExp, tlf;
  Timer* timer;
  Channel* chan[kAacMaxChannels];
  int passes;
};

long long aac_time_microseconds(void) {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int aac_section_side_bits(int n, int isShort) {
  const int lenBits = isShort ? 3 : 5, esc = isShort ? 7 : 31;
  return 4 + lenBits * (n / esc + 1);
}

namespace {

inline int cheapest(const int* bits, int* book) {
  int b = 0;
  for (int i = 1; i < 12; ++i)
    if (bits[i] < bits[b]) b = i;
  if (book) *book = b;
  return bits[b];
}

inline void add_bits(const int* a, const int* b, int* out) {
  for (int i = 0; i < 12; ++i) out[i] = std::min(a[i] + b[i], kAacBookInfinity);
}

}  // namespace

long aac_section_greedy(int n, const int (*bandBits)[12], int isShort, int noMergeAll, int noMergeEsc,
                        AacSection* sections, int* count) {
  int bits[kPsyMaxBands][12], start[kPsyMaxBands], len[kPsyMaxBands], cost[kPsyMaxBands], book[kPsyMaxBands];
  int m = 0;
  for (int b = 0; b < n; ++b) {
    std::memcpy(bits[m], bandBits[b], sizeof bits[m]);
    start[m] = b, len[m] = 1;
    cost[m] = cheapest(bits[m], &book[m]) + aac_section_side_bits(1, isShort);
    ++m;
  }
  auto mergedCost = [&](int i, int* outBook, int* sum) {
    add_bits(bits[i], bits[i + 1], sum);
    return cheapest(sum, outBook) + aac_section_side_bits(len[i] + len[i + 1], isShort);
  };
  auto mayMerge = [&](int i) {
    if (noMergeAll) return false;
    if (noMergeEsc && (book[i] == 11) != (book[i + 1] == 11)) return false;
    return true;
  };
  while (m > 1) {
    int bestI = -1, bestGain = 0, sum[12], bk;
    for (int i = 0; i + 1 < m; ++i) {
      if (!mayMerge(i)) continue;
      const int gain = cost[i] + cost[i + 1] - mergedCost(i, &bk, sum);
      if (gain > bestGain) bestGain = gain, bestI = i;
    }
    if (bestI < 0) break;
    const int c = mergedCost(bestI, &bk, sum);
    std::memcpy(bits[bestI], sum, sizeof sum);
    len[bestI] += len[bestI + 1];
    cost[bestI] = c, book[bestI] = bk;
    for (int i = bestI + 1; i + 1 < m; ++i) {
      std::memcpy(bits[i], bits[i + 1], sizeof bits[i]);
      start[i] = start[i + 1], len[i] = len[i + 1], cost[i] = cost[i + 1], book[i] = book[i + 1];
    }
    --m;
  }
  long total = 0;
  for (int i = 0; i < m; ++i) {
    sections[i] = {book[i], start[i], len[i]};
    total += cost[i];
  }
  *count = m;
  return total;
}

long aac_section_fast(int n, const int (*bandBits)[12], int isShort, AacSection* sections, int* count) {
  int parts = isShort ? int(0.33 * n) : n / 8;
  if (parts < 1) parts = 1;
  if (parts > n) parts = n;
  const int size = n / parts;
  long total = 0;
  int m = 0;
  for (int s = 0; s < parts; ++s) {
    const int from = s * size, to = s + 1 == parts ? n : from + size;
    int sum[12] = {0};
    for (int b = from; b < to; ++b) add_bits(sum, bandBits[b], sum);
    int bk;
    total += cheapest(sum, &bk) + (isShort ? 7 : 9);
    sections[m++] = {bk, from, to - from};
  }
  *count = m;
  return total;
}

long aac_scalefactor_bits(const AacChannelResult* r) {
  long bits = 0;
  int last = r->globalGain;
  for (int g = 0; g < r->groups; ++g)
    for (int b = 0; b < r->maxSfb; ++b) {
      const int i = g * kPsyMaxBands + b;
      if (r->book[i] == 0) continue;
      bits += aac_scf_len(r->sf[i] - last);
      last = r->sf[i];
    }
  return bits;
}

int aac_quantise_band(const float* xp, const float* x, int n, int sf, int* q) {
  const float gain = std::exp2(-0.1875f * float(sf - 100));
  int largest = 0;
  for (int i = 0; i < n; ++i) {
    int v = int(xp[i] * gain + 0.4054f);
    if (v > kAacMaxQuant) v = kAacMaxQuant;
    largest = std::max(largest, v);
    q[i] = x[i] < 0.0f ? -v : v;
  }
  return largest;
}

float aac_dequantise(int q, int sf) {
  pow43_init();
  const int m = std::min(std::abs(q), kAacMaxQuant);
  return g_pow43[m] * std::exp2(0.25f * float(sf - 100));
}

namespace {

void read_params(AacLoops* l) {
  l->itm = 0, l->mol = 32, l->amp = 2, l->evl = 7, l->atsExp = 0.25f, l->tlf = 1.0f;
  param_get_int("itm", 0, 3, "iteration mode",
                "0 = INNER_OUTER_LOOP 1 = THRESHOLD_SIMULATION 2 = FAST_ITERATION 3 = ADVANCED_THRESHOLD_SIMULATION ",
                &l->itm);
  param_get_int("mol", 1, 1000, "max outer loops", nullptr, &l->mol);
  param_get_int("amp", 0, 3, "amplify mode",
                "0 = ALL DISTORTED 1=WORST DISTORTED 2=MEAN IF ALL DISTORTED 3=MEAN IF 90% DISTORTED", &l->amp);
  param_get_int("evl", 0, 7, "evaluation mode",
                "0 = LINEAR MEAN 1=LINEAR DISTORTED MEAN 2=WORST 3=NRG-weighted \n4 = LOUDNESS-weighted  5 = worst "
                "NRG-weighted  6 = worst LOUDNESS-weighted \n7 = combined WORST and LINEAR DISTORTED",
                &l->evl);
  const char* mergeHelp = " by default this switch is not used\n this switch is only useful for error resilience";
  param_get_flag("noMergeAllBooks", "disables merge of all scalefactorbands", mergeHelp, &l->noMergeAll);
  param_get_flag("noMergeEscBook",
                 "disables merge of escape table scalefactorbands with non-escape table scalefactor bands", mergeHelp,
                 &l->noMergeEsc);
  int noOptimise = 0;
  param_get_flag("atsNoOptimize", "switch off the optimization step after advanced threshold simulation",
                 "do not try to optimize the result of advanced threshold simulation by increasing single scale "
                 "factors",
                 &noOptimise);
  l->optimise = !noOptimise;
  param_get_float("atsExp", 0.0f, 1.0f, "exponent for advanced threshold simulation", nullptr, &l->atsExp);
  param_get_flag("lpp", "use loops postprocessor trying to use all granted bits", "only useful if no bit reservoir is used",
                 &l->lpp);
  param_get_flag("vcb11", "use VCB11", "only useful for ER aot", &l->vcb11);
  param_get_float("tlf", 0.0f, 1.0f, "timer limit factor",
                  "amount of allowed time slice of a frame, 1.0 means no interrupt [def]", &l->tlf);
  if (l->itm == kThresholdSimulation || l->itm == kAdvancedSimulation) l->mol = 1;
}

// The time budget of a frame within a block of frames.
void timer_start_frame(Timer* t) {
  long long now = aac_time_microseconds();
  if (t->framesLeft <= 0) {
    t->framesLeft = t->blockLength;
    t->blockDeadline = now + (long long)(t->frameSeconds * t->blockLength * 1e6);
  }
  const double left = double(t->blockDeadline - now);
  const double overdrive = double(t->framesLeft - 1) / t->blockLength * 0.25 + 0.8;
  t->frameDeadline = now + (long long)(left * overdrive / t->framesLeft * t->factor);
  --t->framesLeft;
}

// The frame's bands and the values the quantiser works from.
void prepare(Channel& c, const PsyOut* p) {
  c.psy = p;
  AacChannelResult& r = c.cur;
  r.blockType = p->blockType;
  r.groups = p->groups;
  for (int g = 0; g < 8; ++g) r.groupLength[g] = g < p->groups ? p->groupLength[g] : 0;
  r.maxSfb = p->maxSfb;
  r.bandsPerWindow = p->bandsPerWindow;
  r.bandOffset[0] = 0;
  for (int b = 0; b < p->bandsPerWindow; ++b) r.bandOffset[b + 1] = r.bandOffset[b] + p->bandWidths[b];
  r.commonWindow = p->commonWindow;
  int n = 0, groupStart = 0;
  for (int g = 0; g < p->groups; ++g) {
    for (int b = 0; b < p->maxSfb; ++b) {
      Band& bd = c.bands[n++];
      bd.group = g, bd.band = b;
      bd.width = p->groupLength[g] * p->bandWidths[b];
      bd.start = groupStart + p->groupLength[g] * r.bandOffset[b];
      bd.energy = p->energy[g * kPsyMaxBands + b];
      bd.threshold = std::max(p->threshold[g * kPsyMaxBands + b], 1e-9f);
      bd.needed = bd.energy >= bd.threshold && bd.energy > 0.0f;
    }
    groupStart += p->groupLength[g] * r.bandOffset[p->bandsPerWindow];
  }
  c.nBands = n;
  const int lines = groupStart;
  for (int i = 0; i < lines; ++i) {
    c.x[i] = p->spectrum[i];
    c.xa[i] = std::fabs(c.x[i]);
    c.xp[i] = std::sqrt(c.xa[i] * std::sqrt(c.xa[i]));
  }
  for (int i = lines; i < 1024; ++i) c.x[i] = c.xa[i] = c.xp[i] = 0.0f;
  for (int i = 0; i < n; ++i) {
    Band& bd = c.bands[i];
    float s = 0.0f, peak = 0.0f;
    for (int k = bd.start; k < bd.start + bd.width; ++k) {
      s += std::sqrt(c.xa[k]);
      peak = std::max(peak, c.xp[k]);
    }
    bd.sumSqrt = s, bd.peak = peak;
    if (peak <= 0.0f) bd.needed = 0;
    // (peak * 2^(-3 (sf - 100) / 16) + 0.4054 <= 8191.
    bd.sfMin = peak > 0.0f ? 100 + int(std::ceil(16.0 / 3.0 * std::log2(double(peak) / 8190.5))) : 0;
    // Step whose quantisation noise matches the threshold:
    // noise ~ 4/27 * 2^(3 (sf - 100) / 8) * sum |x|^(1/2).
    int est = 255;
    if (bd.needed && s > 0.0f)
      est = 100 + int(std::floor(8.0 / 3.0 * std::log2(27.0 * double(bd.threshold) / (4.0 * double(s)))));
    c.base[i] = est;
    c.amp[i] = 0;
  }
}

// Quantises at the given offset, finds sections and counts everything.
long quantise_and_count(Channel& c, int offset, int fast, const AacLoops* l) {
  AacChannelResult& r = c.cur;
  const bool isShort = r.blockType == 2;
  std::memset(r.q, 0, sizeof r.q);
  std::memset(r.book, 0, sizeof r.book);
  // Steps, kept within the scalefactor range: 0..255 and a spread of 60.
  int finest = 255;
  for (int i = 0; i < c.nBands; ++i) {
    const Band& bd = c.bands[i];
    int sf = 255;
    if (bd.needed) {
      sf = std::max(c.base[i] + offset - c.amp[i], bd.sfMin);
      sf = std::min(std::max(sf, 0), 255);
      finest = std::min(finest, sf);
    }
    r.sf[bd.group * kPsyMaxBands + bd.band] = sf;
  }
  for (int i = 0; i < c.nBands; ++i) {
    const Band& bd = c.bands[i];
    int& sf = r.sf[bd.group * kPsyMaxBands + bd.band];
    if (bd.needed) sf = std::min(sf, finest + 60);
    int largest = 0;
    if (bd.needed) largest = aac_quantise_band(c.xp + bd.start, c.x + bd.start, bd.width, sf, r.q + bd.start);
    aac_count_all_books(r.q + bd.start, bd.width, largest, c.bandBits[i]);
  }
  long bits = 0;
  int first = 0;
  for (int g = 0; g < r.groups; ++g, first += r.maxSfb) {
    AacSection* s = r.section[g];
    int count = 0;
    bits += fast ? aac_section_fast(r.maxSfb, c.bandBits + first, isShort, s, &count)
                 : aac_section_greedy(r.maxSfb, c.bandBits + first, isShort, l->noMergeAll, l->noMergeEsc, s, &count);
    r.sectionCount[g] = count;
    for (int k = 0; k < count; ++k)
      for (int b = s[k].start; b < s[k].start + s[k].length; ++b) r.book[g * kPsyMaxBands + b] = s[k].book;
  }
  // Bands carried by a coded section without a step of their own repeat
  // the previous step (a difference of 0 is the shortest code).
  r.globalGain = -1;
  int last = 0;
  for (int g = 0; g < r.groups; ++g)
    for (int b = 0; b < r.maxSfb; ++b) {
      const int i = g * kPsyMaxBands + b;
      if (!r.book[i]) continue;
      const Band& bd = c.bands[g * r.maxSfb + b];
      if (!bd.needed) r.sf[i] = r.globalGain < 0 ? -1 : last;
      if (r.globalGain < 0 && r.sf[i] >= 0) r.globalGain = r.sf[i];
      if (r.sf[i] >= 0) last = r.sf[i];
    }
  if (r.globalGain < 0) r.globalGain = finest < 255 ? finest : 100;
  // Leading coded bands that had no step of their own take the first one.
  for (int g = 0; g < r.groups; ++g)
    for (int b = 0; b < r.maxSfb; ++b) {
      int& sf = r.sf[g * kPsyMaxBands + b];
      if (r.book[g * kPsyMaxBands + b] && sf < 0) sf = r.globalGain;
    }
  r.spectralBits = bits;
  r.sectionBits = 0;
  r.scfBits = aac_scalefactor_bits(&r);
  r.usedBits = bits + r.scfBits;
  c.offset = offset;
  return r.usedBits;
}

// Noise per band and the frame's evaluation.
void evaluate(Channel& c, int evl) {
  AacChannelResult& r = c.cur;
  pow43_init();
  float worst = 0.0f, sum = 0.0f, distSum = 0.0f;
  int n = 0, distorted = 0;
  for (int i = 0; i < c.nBands; ++i) {
    const Band& bd = c.bands[i];
    c.err[i] = 0.0f;
    if (!bd.needed) continue;
    const int sf = r.sf[bd.group * kPsyMaxBands + bd.band];
    const float step = std::exp2(0.25f * float(sf - 100));
    float e = 0.0f;
    for (int k = bd.start; k < bd.start + bd.width; ++k) {
      const float d = c.xa[k] - g_pow43[std::abs(r.q[k])] * step;
      e += d * d;
    }
    const float nmr = e / bd.threshold;
    c.err[i] = nmr;
    worst = std::max(worst, nmr);
    sum += nmr;
    ++n;
    if (nmr > 1.0f) distSum += nmr, ++distorted;
  }
  const float linMean = n ? sum / float(n) : 0.0f;
  const float distMean = distorted ? distSum / float(distorted) : 0.0f;
  r.worstNmr = worst;
  switch (evl) {
    case 0: r.evaluation = linMean; break;
    case 1: r.evaluation = distMean; break;
    case 2: r.evaluation = worst; break;
    default: r.evaluation = 0.25f * distMean + worst; break;
  }
}

// Inner loop: the finest offset whose bits fit the grant.
long inner_loop(Channel& c, long granted, int fast, const AacLoops* l) {
  int lo = -120, hi = 255;  // hi always fits (all values quantise to 0 or near)
  int o = std::min(std::max(c.offset, lo), hi);
  long bits = quantise_and_count(c, o, fast, l);
  if (bits <= granted) {
    hi = o;
    for (int step = 4; o - step > lo; step *= 2) {
      if (quantise_and_count(c, o - step, fast, l) > granted) {
        lo = o - step;
        break;
      }
      hi = o - step;
    }
  } else {
    lo = o;
    for (int step = 4; o + step < hi; step *= 2) {
      if (quantise_and_count(c, o + step, fast, l) <= granted) {
        hi = o + step;
        break;
      }
      lo = o + step;
    }
  }
  while (hi - lo > 1) {
    const int mid = (lo + hi) / 2;
    if (quantise_and_count(c, mid, fast, l) <= granted) hi = mid;
    else lo = mid;
  }
  return c.offset == hi ? c.cur.usedBits : quantise_and_count(c, hi, fast, l);
}

// Raises the steps of distorted bands; answers whether anything changed.
bool amplify(Channel& c, int mode) {
  int distorted = 0, needed = 0, worstI = -1;
  float worst = 1.0f;
  for (int i = 0; i < c.nBands; ++i) {
    if (!c.bands[i].needed) continue;
    ++needed;
    if (c.err[i] > 1.0f) ++distorted;
    if (c.err[i] > worst) worst = c.err[i], worstI = i;
  }
  if (!distorted) return false;
  // Amplifying every band only moves the global step: nothing to gain.
  if ((mode == 2 && distorted == needed) || (mode == 3 && distorted * 10 >= needed * 9)) return false;
  bool changed = false;
  for (int i = 0; i < c.nBands; ++i) {
    if (!c.bands[i].needed || c.err[i] <= 1.0f) continue;
    if (mode == 1 && i != worstI) continue;
    if (c.amp[i] >= 60) continue;
    ++c.amp[i];
    changed = true;
  }
  return changed;
}

void final_coding(Channel& c, const AacLoops* l) {
  // Counted fast: the sections of the kept result come from greedy merge.
  quantise_and_count(c, c.offset, 0, l);
}

bool uses_fast(int fsec, int blockType) {
  switch (fsec) {
    case 1:
    case 4: return true;
    case 2: return blockType != 2;
    case 3: return blockType == 2;
    default: return false;
  }
}

}  // namespace

ErrorRecord* aac_loops_create(AacLoops** out, const AacLoopsSetup* s) {
  if (!out) return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");
  *out = nullptr;
  if (!s || !s->map) return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");
  if (s->channels > kAacMaxChannels) return error_create(kModule, __LINE__, nullptr, "number of channels too large");
  if (s->channels < 1) return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");
  auto* l = static_cast<AacLoops*>(std::calloc(1, sizeof(AacLoops)));
  if (!l) return error_create(kModule, __LINE__, nullptr, "out of memory");
  l->channels = s->channels;
  read_params(l);
  int group = 0;
  for (int c = 0; c < kAacMaxChannels; ++c) l->groupOf[c] = -1;
  for (int e = 0; e < s->map->header.elementCount; ++e) {
    const AacChannelElement& el = s->map->elements[e];
    if (el.first >= 0 && el.first < s->channels) l->groupOf[el.first] = group;
    if (el.kind == kAacPair && el.second >= 0 && el.second < s->channels) l->groupOf[el.second] = group;
    ++group;
  }
  for (int c = 0; c < s->channels; ++c) {
    l->chan[c] = static_cast<Channel*>(std::calloc(1, sizeof(Channel)));
    if (!l->chan[c]) {
      aac_loops_free(l);
      return error_create(kModule, __LINE__, nullptr, "out of memory");
    }
    Channel& ch = *l->chan[c];
    param_get_int("eah", 0, 1, "Quantize all sfb with thr < nrg", nullptr, &ch.eah);
    param_get_int("fsec", 0, 4, "sectioning mode for bitcounter",
                  "0=greedyMerge (def.)  1=fastSectioning  2=fastSec, only long blocks  3=fastSec, only short blocks",
                  &ch.fsec);
    param_get_flag("scfe", "use scalefactor estimation", nullptr, &ch.scfe);
    ch.offset = 0;
  }
  if (l->tlf != 1.0f) {
    l->timer = static_cast<Timer*>(std::calloc(1, sizeof(Timer)));
    if (!l->timer) {
      aac_loops_free(l);
      return error_create("mp4AEnc/mp4AACCore/src/quant/timer", __LINE__, nullptr, "out of memory");
    }
    l->timer->factor = l->tlf;
    l->timer->blockLength = 10;
    l->timer->frameSeconds = s->sampleRate > 0 ? double(s->frameLength) / double(s->sampleRate) : 0.0;
  }
  aac_bitcount_init();
  pow43_init();
  *out = l;
  return nullptr;
}

void aac_loops_free(AacLoops* l) {
  if (!l) return;
  for (Channel* c : l->chan) std::free(c);
  std::free(l->timer);
  std::free(l);
}

ErrorRecord* aac_loops_frame(AacLoops* l, const PsyOut* const* psy, const long* granted) {
  if (!l || !psy || !granted) return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");
  if (l->itm == kFastIteration)
    return error_create(kModule, __LINE__, nullptr, "iteration mode 2 (fast iteration) is not built");
  if (l->itm < 0 || l->itm > 3) return error_create(kModule, __LINE__, nullptr, "invalid iteration mode parameters");
  if (l->timer) timer_start_frame(l->timer);
  const int n = l->channels;
  long target[kAacMaxChannels];
  for (int c = 0; c < n; ++c) {
    prepare(*l->chan[c], psy[c]);
    target[c] = granted[c];
  }
  // A pair starts its inner loops from the same offset.
  for (int c = 0; c < n; ++c)
    for (int d = c + 1; d < n; ++d)
      if (l->groupOf[c] == l->groupOf[d]) {
        const int o = std::max(l->chan[c]->offset, l->chan[d]->offset);
        l->chan[c]->offset = l->chan[d]->offset = o;
      }
  if (l->itm == kAdvancedSimulation) {
    long d[kAacMaxChannels];
    for (int c = 0; c < n; ++c)
      d[c] = quantise_and_count(*l->chan[c], 0, uses_fast(l->chan[c]->fsec, psy[c]->blockType), l);
    aac_loops_targets(d, granted, n, target);
  }
  int pass = 0;
  for (; pass < l->mol; ++pass) {
    bool changed = false;
    for (int c = 0; c < n; ++c) {
      Channel& ch = *l->chan[c];
      const int fast = uses_fast(ch.fsec, ch.cur.blockType);
      inner_loop(ch, std::max(0L, target[c]), fast, l);
      final_coding(ch, l);
      if (ch.cur.usedBits > target[c]) inner_loop(ch, std::max(0L, target[c]), 0, l);
      evaluate(ch, l->evl);
      if (pass == 0 || ch.cur.evaluation < ch.best.evaluation) ch.best = ch.cur;
    }
    if (pass + 1 >= l->mol) break;
    if (l->timer && aac_time_microseconds() > l->timer->frameDeadline) break;
    for (int c = 0; c < n; ++c) changed |= amplify(*l->chan[c], l->amp);
    if (!changed) break;
  }
  l->passes = std::min(pass + 1, l->mol);
  for (int c = 0; c < n; ++c) l->chan[c]->cur = l->chan[c]->best;
  return nullptr;
}

void aac_loops_targets(const long* demand, const long* granted, int n, long* target) {
  long long D = 0, T = 0;
  for (int c = 0; c < n; ++c) {
    D += demand[c];
    T += granted[c];
    target[c] = granted[c];
  }
  // In proportion to what each channel asks for at its estimate.
  if (D > 0)
    for (int c = 0; c < n; ++c) target[c] = long(demand[c] * T / D);
  if (n > 1 && target[1] < 50) target[1] += 50, target[0] -= 50;
}

const AacChannelResult* aac_loops_result(const AacLoops* l, int c) {
  return l && c >= 0 && c < l->channels ? &l->chan[c]->best : nullptr;
}
int aac_loops_passes(const AacLoops* l) { return l ? l->passes : 0; }
int aac_loops_mode(const AacLoops* l) { return l ? l->itm : -1; }
