// The parameter set of one block kind: bandwidth, scale-factor bands and the
// threshold parameter set chosen for the operating point.
#include <cmath>
#include <cstdlib>

#include "mp4aenc/param.h"
#include "mp4aenc/psy_conf.h"

static const char kModule[] = "mp4AEnc/mp4AACCore/src/psych/psyparam";

static int nearest(double x) { return int(std::floor(x + 0.5)); }

ErrorRecord* psyparam_create(PsyParam** out, int blockLength, int frameLength, float sampleRate,
                             int bitrate, float bandwidth, int channelMode, int blockType,
                             int complexMdct, int audioObjectType) {
  *out = nullptr;
  if (blockType < 0 || blockType > 3)
    return error_create(kModule, __LINE__, nullptr, "invalid block type parameter");
  auto* p = static_cast<PsyParam*>(std::calloc(1, sizeof(PsyParam)));
  if (!p) return error_create(kModule, __LINE__, nullptr, "out of memory");
  const bool lowDelay = audioObjectType == 5 || audioObjectType == 23;
  p->sampleRate = sampleRate;
  p->bitrate = bitrate;
  p->lines = blockLength / 2;
  p->channelMode = channelMode;
  p->blockType = blockType;
  p->sfb = sfbOffsetFreq(blockType, sampleRate, frameLength);
  p->thr = lowDelay ? thr_param_lookup_low_delay(blockType, bitrate, channelMode, complexMdct)
                    : thr_param_lookup(blockType, bitrate, channelMode, complexMdct, 0);
  if (bandwidth == 0.0f)
    bandwidth = lowDelay ? bandwidth_lookup_low_delay(blockType, bitrate, sampleRate, channelMode)
                         : bandwidth_lookup(blockType, bitrate, sampleRate, channelMode, 0, 0.0f);
  ErrorRecord* err = nullptr;
  if (!p->sfb) {
    err = error_create(kModule, __LINE__, nullptr, "error initializing sfbParam");
  } else if (!p->thr) {
    err = error_create(kModule, __LINE__, nullptr, "error initializing thrParam");
  } else if (bandwidth == 0.0f) {
    err = error_create(kModule, __LINE__, nullptr,
                       "error initializing codParam: no parameter set found for this combination "
                       "of bit rate (%d) , sample rate (%5.0f) and channel mode (%d)",
                       bitrate, double(sampleRate), channelMode);
  }
  if (err) {
    psyparam_free(p);
    return err;
  }
  param_get_float("bw", 0.0f, 48000.0f, "Encoder bandwidth", nullptr, &bandwidth);
  p->bandwidth = bandwidth;
  const int bandLines = p->sfb->lines;
  const double perBandLine = double(p->lines) / bandLines;
  p->bandwidthLine = int(bandLines * double(bandwidth) * 2.0 / sampleRate);
  const int lastBandLine = p->sfb->offsets[p->sfb->numBands];
  const int byTable = nearest(perBandLine * lastBandLine);
  const int byBandwidth = int(perBandLine * p->bandwidthLine + 1);
  p->codedLines = byTable < byBandwidth ? byTable : byBandwidth;
  const float freqs[3] = {p->thr->chaosFreq, p->thr->snrFreq, p->thr->chaosClampFreq};
  for (int i = 0; i < 3; ++i) {
    int line = nearest(p->lines * double(freqs[i]) / (sampleRate / 2.0));
    if (i < 2 && line > p->codedLines) line = p->codedLines;
    p->limitLine[i] = line;
  }
  *out = p;
  return nullptr;
}

void psyparam_free(PsyParam* param) {
  if (!param) return;
  std::free(param->sfb);
  std::free(param->thr);
  std::free(param);
}
