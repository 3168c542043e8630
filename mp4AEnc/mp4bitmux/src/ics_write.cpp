// The syntax below raw_data_block(): individual_channel_stream and its
// parts, ics_info, the M/S mask, fill elements.
#include <cstdlib>

#include "mp4aenc/bitmux.h"
#include "mp4aenc/lt_pred.h"
#include "mp4aenc/ms_stereo.h"
#include "mp4aenc/noiseless.h"

namespace {
long put(BitBuffer* b, uint32_t v, int n) {
  bitbuf_write_bits(b, v, n);
  return n;
}

// ltp_data of one channel: present bit, then the 11-bit lag (the only form
// of the object types opened here), the coefficient and one bit per band.
long put_ltp(BitBuffer* b, const LtpSideInfo* info, int maxSfb) {
  const bool present = info && info->dataPresent;
  long n = put(b, present ? 1u : 0u, 1);
  if (!present) return n;
  n += put(b, uint32_t(info->lastLag), 11);
  n += put(b, uint32_t(info->coefIndex), 3);
  for (int s = 0; s < maxSfb && s < kLtpMaxBands; ++s)
    n += put(b, s < info->numBands && info->used[s] ? 1u : 0u, 1);
  return n;
}

// predictor_data_present and, when set, the ltp_data of the channel and
// of the partner that shares its window.
long put_prediction(BitBuffer* b, const AacChannelResult* r, const AacChannelResult* partner) {
  const LtpSideInfo* mine = r->ltp;
  const LtpSideInfo* theirs = partner ? partner->ltp : nullptr;
  const bool used = (mine && mine->dataPresent) || (theirs && theirs->dataPresent);
  long n = put(b, used ? 1u : 0u, 1);
  if (!used) return n;
  n += put_ltp(b, mine, r->maxSfb);
  if (partner) n += put_ltp(b, theirs, partner->maxSfb);
  return n;
}

void rebuild_sections(AacChannelResult* r);
}  // namespace

long aac_write_ics_info(BitBuffer* b, const AacChannelResult* r, const AacChannelResult* partner) {
  long n = put(b, 0, 1);  // ics_reserved_bit
  n += put(b, uint32_t(r->blockType), 2);
  n += put(b, uint32_t(r->windowShape), 1);
  if (r->blockType == 2) {
    n += put(b, uint32_t(r->maxSfb), 4);
    // scale_factor_grouping: a 1 for each window that continues its group.
    uint32_t grouping = 0;
    int w = 0;
    for (int g = 0; g < r->groups; ++g)
      for (int k = 0; k < r->groupLength[g]; ++k, ++w)
        if (w > 0) grouping = (grouping << 1) | (k > 0 ? 1u : 0u);
    n += put(b, grouping, 7);
  } else {
    n += put(b, uint32_t(r->maxSfb), 6);
    n += put_prediction(b, r, partner);
  }
  return n;
}

long aac_write_ms_mask(BitBuffer* b, int groups, int maxSfb, const int* msUsed, int intensity) {
  int on = 0, total = groups * maxSfb;
  if (msUsed)
    for (int g = 0; g < groups; ++g)
      for (int s = 0; s < maxSfb; ++s) on += msUsed[g * kPsyMaxBands + s] != 0;
  if (on == 0) return put(b, 0, 2);
  if (on == total && !intensity) return put(b, 2, 2);
  long n = put(b, 1, 2);
  for (int g = 0; g < groups; ++g)
    for (int s = 0; s < maxSfb; ++s) n += put(b, msUsed[g * kPsyMaxBands + s] ? 1u : 0u, 1);
  return n;
}

long aac_write_tns(BitBuffer* b, const TnsInfo* t, int blockType, int bandsPerWindow) {
  const bool isShort = blockType == 2;
  const int windows = isShort ? 8 : 1;
  long n = 0;
  for (int w = 0; w < windows; ++w) {
    const TnsWindow& win = t->window[w];
    const int filters = win.nFilters;
    n += put(b, uint32_t(filters), isShort ? 1 : 2);
    if (!filters) continue;
    const int res = win.filter[0].resolution == 4 ? 4 : 3;
    n += put(b, res == 4 ? 1u : 0u, 1);
    int top = bandsPerWindow;
    for (int f = 0; f < filters; ++f) {
      const TnsFilter& fl = win.filter[f];
      n += put(b, uint32_t(top - fl.startBand), isShort ? 4 : 6);
      top = fl.startBand;
      n += put(b, uint32_t(fl.order), isShort ? 3 : 5);
      if (!fl.order) continue;
      n += put(b, uint32_t(fl.direction ? 1 : 0), 1);
      // Fewer bits when every coefficient fits them.
      const int lo = res == 4 ? -4 : -2, hi = res == 4 ? 3 : 1;
      int compress = 1;
      for (int i = 1; i <= fl.order; ++i)
        if (fl.index[i] < lo || fl.index[i] > hi) compress = 0;
      n += put(b, uint32_t(compress), 1);
      const int bits = res - compress;
      for (int i = 1; i <= fl.order; ++i) n += put(b, uint32_t(fl.index[i]) & ((1u << bits) - 1u), bits);
    }
  }
  return n;
}

long aac_write_ics(BitBuffer* b, const AacChannelResult* r, int commonWindow) {
  const bool isShort = r->blockType == 2;
  long n = put(b, uint32_t(r->globalGain), 8);
  if (!commonWindow) n += aac_write_ics_info(b, r);
  // section_data
  const int lenBits = isShort ? 3 : 5, esc = isShort ? 7 : 31;
  for (int g = 0; g < r->groups; ++g)
    for (int s = 0; s < r->sectionCount[g]; ++s) {
      const AacSection& sec = r->section[g][s];
      n += put(b, uint32_t(sec.book), 4);
      int left = sec.length;
      while (left >= esc) n += put(b, uint32_t(esc), lenBits), left -= esc;
      n += put(b, uint32_t(left), lenBits);
    }
  // scale_factor_data: noise bands (book 13) carry their noise energy on a
  // chain of their own, the first as 9 bits from global_gain - 90 + 256;
  // intensity bands (14, 15) their positions on another, from 0.
  int last = r->globalGain, noise = r->globalGain - 90, position = 0;
  bool firstNoise = true;
  for (int g = 0; g < r->groups; ++g)
    for (int s = 0; s < r->maxSfb; ++s) {
      const int i = g * kPsyMaxBands + s;
      if (!r->book[i]) continue;
      if (r->book[i] == kAacNoiseBook) {
        const int d = r->sf[i] - noise;
        if (firstNoise) n += put(b, uint32_t(d + 256), 9);
        else n += put(b, aac_scf_code(d), aac_scf_len(d));
        firstNoise = false;
        noise = r->sf[i];
        continue;
      }
      if (r->book[i] == kAacIntensityBook || r->book[i] == kAacIntensityBook2) {
        const int d = r->sf[i] - position;
        n += put(b, aac_scf_code(d), aac_scf_len(d));
        position = r->sf[i];
        continue;
      }
      const int d = r->sf[i] - last;
      n += put(b, aac_scf_code(d), aac_scf_len(d));
      last = r->sf[i];
    }
  n += put(b, 0, 1);  // pulse_data_present
  const bool tns = r->tns && r->tns->active;
  n += put(b, tns ? 1u : 0u, 1);
  if (tns) n += aac_write_tns(b, r->tns, r->blockType, r->bandsPerWindow);
  n += put(b, 0, 1);  // gain_control_data_present
  // spectral_data
  int groupStart = 0;
  for (int g = 0; g < r->groups; ++g) {
    const int len = r->groupLength[g];
    for (int s = 0; s < r->sectionCount[g]; ++s) {
      const AacSection& sec = r->section[g][s];
      if (sec.book == 0 || sec.book > 11) continue;
      const int from = groupStart + len * r->bandOffset[sec.start];
      const int to = groupStart + len * r->bandOffset[sec.start + sec.length];
      n += aac_write_spectrum(b, r->q + from, to - from, sec.book);
    }
    groupStart += len * r->bandOffset[r->bandsPerWindow];
  }
  return n;
}

long aac_write_fill(BitBuffer* b, long f) {
  long written = 0;
  while (f > 6) {
    const long bytes = (f - 7) / 8;
    const long count = bytes < 15 ? bytes : 15;
    long n = put(b, 6, 3) + put(b, uint32_t(count), 4);
    long payload = count;
    if (count == 15) {
      const long escCount = bytes < 270 ? bytes - 15 : 255;
      n += put(b, uint32_t(escCount), 8);
      payload = escCount + 14;
    }
    for (long i = 0; i < payload; ++i) n += put(b, 0, 8);
    written += n;
    f -= n;
  }
  return written;
}

void aac_mark_noise_bands(AacChannelResult* r, bool (*value)(const void* arg, int g, int b, int* v), const void* arg) {
  int noise = r->globalGain - 90;
  bool first = true, any = false;
  for (int g = 0; g < r->groups; ++g)
    for (int s = 0; s < r->maxSfb; ++s) {
      const int i = g * kPsyMaxBands + s;
      if (!(r->jsFlags[i] & kJsPns)) continue;
      int v = 0;
      if (!value || !value(arg, g, s, &v)) {
        r->jsFlags[i] &= ~(kJsPns | kJsPnsCorrelated);
        continue;
      }
      // Within the code's reach, and within what decoders scale by
      // (2^(v / 4) for v from -155 to 100).
      const int lo = first ? noise - 256 : noise - 60, hi = first ? noise + 255 : noise + 60;
      v = v < lo ? lo : v > hi ? hi : v;
      v = v < -155 ? -155 : v > 100 ? 100 : v;
      if (v < lo || v > hi) {  // no value within both ranges: the band stays silent
        r->jsFlags[i] &= ~(kJsPns | kJsPnsCorrelated);
        continue;
      }
      r->book[i] = kAacNoiseBook;
      r->sf[i] = v;
      noise = v;
      first = false;
      any = true;
    }
  if (any) rebuild_sections(r);
}

bool aac_ms_used(int jsFlags) { return (jsFlags & (kJsMs | kJsMsOnIntensity | kJsPnsCorrelated)) != 0; }

void aac_mark_intensity_bands(AacChannelResult* r, const AacChannelResult* first,
                              bool (*position)(const void* arg, int g, int b, int* pos, int* outOfPhase),
                              const void* arg) {
  bool any = false;
  for (int g = 0; g < r->groups; ++g)
    for (int s = 0; s < r->maxSfb; ++s) {
      const int i = g * kPsyMaxBands + s;
      int pos = 0, outOfPhase = 0;
      if (!(first->jsFlags[i] & kJsIntensity) || !position || !position(arg, g, s, &pos, &outOfPhase)) continue;
      // Positions stay within -30..30, so every difference has a code.
      pos = pos < -30 ? -30 : pos > 30 ? 30 : pos;
      const bool negative = (outOfPhase != 0) != aac_ms_used(first->jsFlags[i]);
      r->book[i] = negative ? kAacIntensityBook2 : kAacIntensityBook;
      r->sf[i] = pos;
      any = true;
    }
  if (any) rebuild_sections(r);
}

namespace {
void rebuild_sections(AacChannelResult* r) {
  // Sections: runs of equal books.
  for (int g = 0; g < r->groups; ++g) {
    int count = 0;
    for (int s = 0; s < r->maxSfb;) {
      const int book = r->book[g * kPsyMaxBands + s];
      int e = s + 1;
      while (e < r->maxSfb && r->book[g * kPsyMaxBands + e] == book) ++e;
      r->section[g][count++] = {book, s, e - s};
      s = e;
    }
    r->sectionCount[g] = count;
  }
}
}  // namespace
