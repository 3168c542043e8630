// Frame bit allocation and the raw data block.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "mp4aenc/bitmux.h"
#include "mp4aenc/ms_stereo.h"
#include "mp4aenc/param.h"

namespace {
const char kModule[] = "mp4AEnc/mp4bitmux/src/bit_enc";
}

struct AacBitmux {
  AacBitmuxConfig config;
  AacChannelMap map;
  int samplingIndex;
  BitRes* res;
  BitResCtrl longCtrl, shortCtrl;
  int adapt;
  AacFramingHeader* framing;
  BitBuffer* out;
  BitBuffer* scratch;  // the frame's elements, counted before the fill is known
  // This frame.
  long grantedBits;    // from the reservoir, header included
  long headerBits;
  long elementBits;    // elements as written to the scratch buffer
  long fillBits;
  const AacChannelResult* results[kAacMaxChannels];
};

int aac_bitmux_sampling_index(long rate) {
  static const long kRates[12] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
  for (int i = 0; i < 12; ++i)
    if (kRates[i] == rate) return i;
  return -1;
}

ErrorRecord* aac_bitmux_create(AacBitmux** out, const AacBitmuxConfig* c) {
  *out = nullptr;
  if (!c || !c->map) return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");
  if (c->channels > kAacMaxChannels) return error_create(kModule, __LINE__, nullptr, "number of channels too large");
  auto* m = static_cast<AacBitmux*>(std::calloc(1, sizeof(AacBitmux)));
  if (!m) return error_create(kModule, __LINE__, nullptr, "out of memory");
  m->config = *c;
  m->map = *c->map;
  m->map.header.elements = m->map.elements;
  BitResCtrlCreate(&m->longCtrl, 0, c->sampleRate, c->bitrate);
  BitResCtrlCreate(&m->shortCtrl, 2, c->sampleRate, c->bitrate);
  const int range = 10000;
  param_get_int("peMin", 0, range, "bitres tuning: pe Min long block ", nullptr, &m->longCtrl.peMin);
  param_get_int("peMax", 0, range, "bitres tuning: pe Max long block ", nullptr, &m->longCtrl.peMax);
  param_get_float("minBitSp", -1000.0f, 10000.0f, "bitres tuning: minBitSpend long block ", nullptr,
                  &m->longCtrl.minBitSpend);
  param_get_float("maxBitSp", 0.0f, 10000.0f, "bitres tuning: maxBitSpend  long block", nullptr,
                  &m->longCtrl.maxBitSpend);
  param_get_float("minBitSv", -1000.0f, 10000.0f, "bitres tuning: minBitSave long block ", nullptr,
                  &m->longCtrl.minBitSave);
  param_get_float("maxBitSv", 0.0f, 10000.0f, "bitres tuning: maxBitSave  long block", nullptr,
                  &m->longCtrl.maxBitSave);
  param_get_int("peMin_s", 0, range, "bitres tuning: pe Min short block ", nullptr, &m->shortCtrl.peMin);
  param_get_int("peMax_s", 0, range, "bitres tuning: pe Max short block ", nullptr, &m->shortCtrl.peMax);
  param_get_float("minBitSp_s", -1000.0f, 10000.0f, "bitres tuning: minBitSpend  short block", nullptr,
                  &m->shortCtrl.minBitSpend);
  param_get_float("maxBitSp_s", 0.0f, 10000.0f, "bitres tuning: maxBitSpend short block", nullptr,
                  &m->shortCtrl.maxBitSpend);
  ErrorRecord* err = nullptr;
  m->samplingIndex = aac_bitmux_sampling_index(c->sampleRate);
  if (m->samplingIndex < 0) err = error_create(kModule, __LINE__, nullptr, "invalid sample rate");
  int noBra = 0;
  param_get_flag("noBra", "do not adjust bitRes over time",
                 "by default the peMin and peMax parameters of the bitRes control are dynamically adjusted over time",
                 &noBra);
  m->adapt = !noBra;
  int hyper = 0;
  param_get_int("hyper", 0, 10, "use hyperframing", nullptr, &hyper);
  if (!err && hyper > 0)
    err = error_create(kModule, __LINE__, nullptr, "hyper framing is not built into this encoder");
  if (!err)
    err = BitResInit(&m->res, c->bitrate, c->bitrate, c->channels, c->channels, c->sampleRate, c->frameLength,
                     c->reservoirFactor, 0);
  if (!err && c->framing == 2) err = aac_framing_create(&m->framing);
  if (!err) {
    const long bits = 8L * (long(c->channels) * 6144 + 1024);
    m->out = bitbuf_create(bits * 4);  // room for the frames the caller has not drained yet
    m->scratch = bitbuf_create(bits);
    if (!m->out || !m->scratch) err = error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  if (err) {
    aac_bitmux_free(m);
    return err;
  }
  *out = m;
  return nullptr;
}

void aac_bitmux_free(AacBitmux* m) {
  if (!m) return;
  BitResFree(m->res);
  aac_framing_free(m->framing);
  bitbuf_free(m->out);
  bitbuf_free(m->scratch);
  std::free(m);
}

BitBuffer* aac_bitmux_buffer(AacBitmux* m) { return m ? m->out : nullptr; }
long aac_bitmux_fill(const AacBitmux* m) { return m && m->res ? m->res->fill : 0; }
long aac_bitmux_last_fill_bits(const AacBitmux* m) { return m ? m->fillBits : 0; }

namespace {

long tns_bits(const TnsInfo* t, int blockType) {
  if (!t || !t->active) return 0;
  const bool isShort = blockType == 2;
  long n = 0;
  for (int w = 0; w < (isShort ? 8 : 1); ++w) {
    const TnsWindow& win = t->window[w];
    n += isShort ? 1 : 2;
    if (!win.nFilters) continue;
    ++n;
    for (int f = 0; f < win.nFilters; ++f) {
      const TnsFilter& fl = win.filter[f];
      n += isShort ? 7 : 11;
      if (fl.order) n += 2 + long(fl.order) * fl.resolution;  // an upper bound: compression may save some
    }
  }
  return n;
}

long ics_info_bits(int blockType) { return blockType == 2 ? 15 : 11; }

}  // namespace

ErrorRecord* aac_bitmux_allocate(AacBitmux* m, const float* pe, const int* blockType, const TnsInfo* const* tns,
                                 long headerBits, long* granted, const long* toolBits) {
  if (!m || !pe || !blockType || !granted)
    return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");
  BitResFrameInfo info;
  m->grantedBits = BitResFrameBits(m->res, &info);
  m->headerBits = headerBits + aac_framing_bits(m->framing);
  const long average = m->grantedBits - m->headerBits;
  // Side information of every element.
  long side = 3;  // END
  long sideOf[kAacMaxChannels] = {0};
  for (int e = 0; e < m->map.header.elementCount; ++e) {
    const AacChannelElement& el = m->map.elements[e];
    const int a = el.first, b = el.second;
    switch (el.kind) {
      case kAacSingle:
        sideOf[a] = 18 + tns_bits(tns[a], blockType[a]) + ics_info_bits(blockType[a]);
        break;
      case kAacLfe:
        if (blockType[a] != 0)
          return error_create(kModule, __LINE__, nullptr, "encoder error: LFE must be long window");
        sideOf[a] = 29;
        break;
      case kAacPair:
        // With a shared window the second ics_info is not sent, but 2 bits
        // of mask are; counted as separate windows, an upper bound.
        sideOf[a] = 15 + tns_bits(tns[a], blockType[a]) + ics_info_bits(blockType[a]);
        sideOf[b] = 15 + tns_bits(tns[b], blockType[b]) + ics_info_bits(blockType[b]) + 2;
        break;
      default: return error_create(kModule, __LINE__, nullptr, "unknown element type");
    }
  }
  const int n = m->config.channels;
  for (int c = 0; c < n; ++c) side += sideOf[c] += toolBits ? toolBits[c] : 0;
  const long available = average - side;
  if (available <= 0) return error_create(kModule, __LINE__, nullptr, "available Bits < 0");
  const long fill = m->res->fill;
  long sum = 0;
  for (int c = 0; c < n; ++c) {
    // The group's entropy with its side information decides the factor.
    const float commonPe = float(sideOf[c]) * 0.75f + pe[c];
    const float factor = m->res->maxBits
                             ? BitResCtrlFactor(fill, m->res->maxBits, commonPe * float(n), &m->longCtrl,
                                                &m->shortCtrl, blockType[c], m->adapt && c == 0)
                             : 1.0f;
    double p = double(average) * factor;
    p = std::min(p, 0.9 * double(fill) + double(available));
    granted[c] = long(p / n);
    sum += granted[c];
  }
  if (sum > available + fill) {
    const double scale = double(available + fill) / double(sum);
    sum = 0;
    for (int c = 0; c < n; ++c) sum += (granted[c] = long(double(granted[c]) * scale));
  }
  if (sum > available + fill) return error_create(kModule, __LINE__, nullptr, "granted bits overflow");
  return nullptr;
}

namespace {

// The channel elements in map order.
ErrorRecord* write_elements(AacBitmux* m, BitBuffer* b) {
  for (int e = 0; e < m->map.header.elementCount; ++e) {
    const AacChannelElement& el = m->map.elements[e];
    const AacChannelResult* r = m->results[el.first];
    switch (el.kind) {
      case kAacSingle:
      case kAacLfe:
        bitbuf_write_bits(b, el.kind == kAacLfe ? 3u : 0u, 3);
        bitbuf_crc_set_region(b, 192);
        bitbuf_write_bits(b, uint32_t(el.tag), 4);
        aac_write_ics(b, r, 0);
        bitbuf_crc_close_region(b);
        break;
      case kAacPair: {
        const AacChannelResult* s = m->results[el.second];
        if (r->commonWindow != s->commonWindow)
          return error_create(kModule, __LINE__, nullptr, "commonWindow mismatch");
        bitbuf_write_bits(b, 1, 3);
        bitbuf_crc_set_region(b, 192);
        bitbuf_write_bits(b, uint32_t(el.tag), 4);
        bitbuf_write_bits(b, uint32_t(r->commonWindow), 1);
        if (r->commonWindow) {
          aac_write_ics_info(b, r, s);
          // ms_used: M/S bands, intensity bands coded with M/S, and noise
          // bands whose noise is the same in both channels.
          int msUsed[kAacMaxGroupBands], intensity = 0;
          for (int i = 0; i < kAacMaxGroupBands; ++i) {
            msUsed[i] = aac_ms_used(r->jsFlags[i]);
            intensity |= s->book[i] == kAacIntensityBook || s->book[i] == kAacIntensityBook2;
          }
          aac_write_ms_mask(b, r->groups, r->maxSfb, msUsed, intensity);
        }
        aac_write_ics(b, r, r->commonWindow);
        bitbuf_crc_close_region(b);
        bitbuf_crc_set_region(b, 128);
        aac_write_ics(b, s, s->commonWindow);
        bitbuf_crc_close_region(b);
        break;
      }
      default: return error_create(kModule, __LINE__, nullptr, "unknown element type");
    }
  }
  return nullptr;
}

}  // namespace

ErrorRecord* aac_bitmux_update(AacBitmux* m, const AacChannelResult* const* results) {
  if (!m || !results) return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");
  for (int c = 0; c < m->config.channels; ++c) {
    if (!results[c]) return error_create(kModule, __LINE__, nullptr, "wrong no of channels");
    m->results[c] = results[c];
  }
  bitbuf_reset(m->scratch);
  if (ErrorRecord* err = write_elements(m, m->scratch)) return err;
  if (m->scratch->overflow) return error_create(kModule, __LINE__, nullptr, "frame does not fit its buffer");
  m->elementBits = long(bitbuf_bit_position(m->scratch));
  const long used = m->headerBits + m->elementBits + 3;
  const long usedBytes = (used + 7) / 8;
  const long frameBits = BitResUpdate(m->res, m->grantedBits, usedBytes);
  m->fillBits = frameBits - used;
  // Formats whose header is not whole bytes still get a byte-aligned block.
  const long raw = m->elementBits + 3 + m->fillBits;
  if (raw % 8) m->fillBits += 8 - raw % 8;
  return nullptr;
}

ErrorRecord* aac_bitmux_write(AacBitmux* m) {
  BitBuffer* b = m->out;
  const int64_t start = bitbuf_bit_position(b);
  if (m->framing) {
    const long bytes = (m->headerBits + m->elementBits + 3 + m->fillBits) / 8;
    if (ErrorRecord* err = aac_framing_write(m->framing, b, bytes, m->samplingIndex, m->config.channels))
      return error_add_trace(kModule, __LINE__, "framing header", err);
  }
  if (m->config.streamType != 0 && m->config.streamType != 3 && m->config.streamType != 4)
    return error_create(kModule, __LINE__, nullptr, "wrong AAC stream type");
  // The counted elements, copied from the scratch buffer.
  bitbuf_copy_from(b, m->scratch, m->elementBits);
  const long fillWritten = aac_write_fill(b, m->fillBits);
  bitbuf_write_bits(b, 7, 3);  // END
  const long align = m->fillBits - fillWritten;
  if (align >= 8 || align < 0) return error_create(kModule, __LINE__, nullptr, "alignment bits >= 8");
  bitbuf_write_bits(b, 0, int(align));
  const long bits = long(bitbuf_bit_position(b) - start);
  if (m->framing) aac_framing_close(m->framing, b);
  if (b->overflow) return error_create(kModule, __LINE__, nullptr, "bit buffer full");
  if (bits != m->elementBits + 3 + m->fillBits + aac_framing_bits(m->framing))
    return error_create(kModule, __LINE__, nullptr, "no of counted and calculated Bits differ");
  return bitbuf_push_count(b, bits);
}
