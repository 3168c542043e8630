#include "mp4aenc/bitres.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "mp4aenc/param.h"

namespace {
const char kModule[] = "mp4AEnc/mp4bitmux/src/bitres";
}

ErrorRecord* BitResInit(BitRes** out, long bitrate, long totalBitrate, int nChannelsLayer, int nChannels,
                        long sampleRate, long frameLength, float maxFactor, int coreKind) {
  *out = nullptr;
  float fillLevel = 0.8f;
  param_get_float_vector("bitres-fill", 1, 0.0f, 1.0f, "bitreservoir fill level at beginning",
                         "1.0 means full, 0.0 means empty bitres", &fillLevel);
  auto* r = static_cast<BitRes*>(std::calloc(1, sizeof(BitRes)));
  if (!r) return error_create(kModule, __LINE__, nullptr, "out of memory");
  r->bitrate = bitrate;
  r->sampleRate = sampleRate;
  r->frameLength = frameLength;
  r->coreKind = coreKind;
  const long long eighth = (long long)(frameLength >> 3) * bitrate;
  r->frameBytes = sampleRate > 0 ? long(eighth / sampleRate) : 0;
  r->frameRem = sampleRate > 0 ? long(eighth % sampleRate) : 0;
  *out = r;
  if (nChannelsLayer < 1 || frameLength <= 0 || bitrate / nChannelsLayer > sampleRate * 6144 / frameLength)
    return nullptr;  // no reservoir for this layer
  const long meanBits = long((long long)bitrate * frameLength / sampleRate);
  const long limit = std::max(0L, long(nChannels) * 6144 - meanBits);
  const long size = std::min(long(double(meanBits) * maxFactor), limit);
  float share = totalBitrate > 0 ? float(bitrate) / float(totalBitrate) : 1.0f;
  if (coreKind == 5)
    param_get_float("bitresDist", 0.0f, 1.0f, "bitreservoir maximum distribution between layers ",
                    "For debugging purpose only: this allows you to change the default bitresMax.\n"
                    "Attention: sum of bitresDist of all layer MUST BE 1 ;\n1st PARAMETER IGNORED FOR TVQ AND "
                    "SPEECH CORE",
                    &share);
  const long bytes = long(float(size) * share + 7.0f) >> 3;
  r->maxBits = r->maxFill = 8 * bytes;
  r->fill = 8 * long(float(bytes) * fillLevel);
  r->fracAccu = r->frameRem;
  return nullptr;
}

void BitResFree(BitRes* res) { std::free(res); }

long BitResFrameBits(BitRes* r, BitResFrameInfo* info) {
  int extra = 0;
  r->fracAccu -= r->frameRem;
  if (r->fracAccu < 0) {
    r->fracAccu += r->sampleRate;
    extra = 1;
  }
  const long bytes = r->frameBytes + extra;
  if (info) *info = {bytes, extra, r->fill, r->maxFill};
  return 8 * bytes;
}

long BitResUpdate(BitRes* r, long grantedBits, long usedBytes) {
  r->fill += grantedBits - 8 * usedBytes;
  const long overflow = std::max(0L, r->fill - r->maxFill);
  r->fill = std::min(r->fill, r->maxFill);
  const long rem = r->fill % 8;  // sign of the fill, as C does
  r->fill -= rem;
  return 8 * usedBytes + overflow + rem;
}

bool BitResCtrlCreate(BitResCtrl* c, int kind, long sampleRate, long bitrate) {
  if (kind < 0 || kind > 3 || sampleRate <= 0) return false;
  const bool isShort = kind == 2;
  const float peBase = float(bitrate) * 1500.0f / float(sampleRate) + (isShort ? 150.0f : 70.0f);
  c->peMin = int(0.8f * peBase);
  c->peMax = int(1.2f * peBase);
  if (isShort) {
    c->saveLow = 0.1f, c->saveHigh = 0.75f, c->minBitSave = -0.1f, c->maxBitSave = 0.2f;
    c->spendLow = 0.05f, c->spendHigh = 0.75f, c->minBitSpend = -0.02f, c->maxBitSpend = 0.5f;
  } else {
    c->saveLow = 0.2f, c->saveHigh = 0.95f, c->minBitSave = -0.05f, c->maxBitSave = 0.3f;
    c->spendLow = 0.1f, c->spendHigh = 0.95f, c->minBitSpend = -0.04f, c->maxBitSpend = 0.4f;
  }
  return true;
}

void BitResCtrlAdapt(float pe, BitResCtrl* c, long maxBits, float weight) {
  float half = float(c->peMax - c->peMin) * 0.5f;
  if (half == 0.0f) half = 1.0f;
  const float mid = float(c->peMin) + half, diff = pe - mid;
  const float g = std::min(0.03f, std::max(-0.02f, diff / half * 0.03f));
  const float rate = weight * (g + 0.04f);
  float newHalf = half + (std::fabs(diff) - half) * rate;
  newHalf = std::min(newHalf, float(long(0.05 * double(maxBits))));
  newHalf = std::max(newHalf, float(long(0.01 * double(maxBits))));
  const float newMid = mid + diff * rate;
  newHalf = std::min(newHalf, 0.8f * newMid);
  c->peMin = int(newMid - newHalf + 0.5f);
  c->peMax = int(newMid + newHalf + 0.5f);
}

float BitResCtrlFactor(long fillBits, long maxBits, float pe, BitResCtrl* longCtrl, BitResCtrl* shortCtrl,
                       int blockType, int adapt) {
  if (maxBits == 0 || blockType > 3 || !longCtrl || !shortCtrl) return 1.0f;
  BitResCtrl* c = blockType == 2 ? shortCtrl : longCtrl;
  const float ratio = float(fillBits) / float(maxBits);
  const float peC = std::min(std::max(pe, float(c->peMin)), float(c->peMax));
  const float sr = std::min(std::max(ratio, c->saveLow), c->saveHigh);
  const float save = c->maxBitSave - (c->maxBitSave - c->minBitSave) * (sr - c->saveLow) / (c->saveHigh - c->saveLow);
  const float pr = std::min(std::max(ratio, c->spendLow), c->spendHigh);
  const float spend =
      c->minBitSpend + (c->maxBitSpend - c->minBitSpend) * (pr - c->spendLow) / (c->spendHigh - c->spendLow);
  const float range = float(c->peMax - c->peMin);
  const float g = range > 0.0f ? (spend + save) * (peC - float(c->peMin)) / range - save : spend;
  if (adapt) {
    BitResCtrlAdapt(pe, c, maxBits, 1.0f);
    BitResCtrl* other = c == shortCtrl ? longCtrl : shortCtrl;
    BitResCtrlAdapt(pe, other, maxBits, c == shortCtrl ? 0.6f : 0.8f);
  }
  return 1.0f + g;
}
