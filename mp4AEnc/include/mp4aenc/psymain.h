// The psychoacoustic model driver: per encoder instance the channel and
// pair states built from the channel element map, per frame the block type,
// short-window grouping, spectrum, TNS decision and band thresholds of
// every channel. Mid/side thresholds are not part of this driver yet.
#pragma once

#include "mp4aenc/chanmap.h"
#include "mp4aenc/error.h"
#include "mp4aenc/fifo.h"
#include "mp4aenc/modulo_buffer.h"
#include "mp4aenc/psy_conf.h"
#include "mp4aenc/sw_cont.h"
#include "mp4aenc/thr_chan.h"
#include "mp4aenc/tns.h"
#include "mp4aenc/window.h"

constexpr int kPsyMaxBands = 52;

// What the quantiser reads of one channel.
struct PsyOut {
  int blockType;
  int windowShape;
  const WindowObject* window;
  int groups;
  int groupLength[8];
  int bandsPerWindow;
  const int* bandWidths;  // of one window
  float energy[8 * kPsyMaxBands];     // group x band, summed over the group's windows
  float threshold[8 * kPsyMaxBands];
  float spectrum[1024];   // eight short: grouped order
  int maxSfb;
  int commonWindow;
  // Joint-stereo and tool flags per group x band (kJs* of ms_stereo.h),
  // cleared by the analysis and set by the coding tools.
  int jsFlags[8 * kPsyMaxBands];
};

// Calls f(group, band, first line, width) for every band of every group of
// a record, in its grouped line order (per group, per band, the group's
// windows one after another).
template <class F>
void psy_for_each_band(const PsyOut* o, F f) {
  int groupStart = 0;
  for (int g = 0; g < o->groups; ++g) {
    const int len = o->groupLength[g];
    int offset = 0;
    for (int b = 0; b < o->bandsPerWindow; ++b) {
      f(g, b, groupStart + len * offset, len * o->bandWidths[b]);
      offset += o->bandWidths[b];
    }
    groupStart += len * offset;
  }
}

struct PsyChan {
  int lfe;
  int longOffset;          // read offset of the long block
  FloatModuloBuffer* ring;
  FloatFifo* longSpectra;  // complex, 3 slots
  FloatFifo* shortSpectra; // complex, 3 * nShort slots
  WindowObject* windows[4];
  SwCont* sw;              // none for an LFE channel
  int proposal;
  int blockType;
  ThrChan* thr;
  TnsInfo* tns;
  PsyOut out;
  float mdct[1024];        // window-interleaved for eight short
};

struct PsyPair {
  int left, right;
  int commonWindow;
  int decide;              // mode 2: decided per frame
  int msAllowed, isAllowed;
  float lastCorrelation, correlation;
};

struct PsyMain {
  int channels;
  int frameLength, nShort;
  int frame, framePeriod;
  PsyConf* conf;
  PsyChan chan[kAacMaxChannels];
  PsyPair pair[kAacMaxChannels];
  int pairs;
  int env, dynBW;
  float work[4096];
  float longInput[kAacMaxChannels][2048];
};

// bitrate is the whole element's; the configuration gets it per channel.
// More than 9 channels: "number of channels too large".
ErrorRecord* psymain_create(PsyMain** out, int nChannels, int framePeriod, int frameLength,
                            float sampleRate, int bitrate, float bandwidth,
                            const AacChannelMap* map, int audioObjectType);
// pcm: the channels one after another, frameLength apart.
void psymain_frame(PsyMain* psy, const float* pcm);
void psymain_delete(PsyMain* psy);
