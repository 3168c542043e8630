// The threshold stage of one channel: chaos from the spectrum history,
// partition energies, spreading and tonality, the masking threshold with
// pre-echo control, the TNS factors, and the mapping onto scale-factor
// bands that the quantiser reads.
#pragma once

#include "mp4aenc/error.h"
#include "mp4aenc/fifo.h"
#include "mp4aenc/psy_conf.h"
#include "mp4aenc/tns.h"

struct ThrBlock {
  float energy[kMaxPartitions];
  float weighted[kMaxPartitions];
  float spread[kMaxPartitions];
  float spreadWeighted[kMaxPartitions];
  float tonality[kMaxPartitions];
  float threshold[kMaxPartitions];
};

struct ThrChan {
  const PsyConf* conf;
  int nShort;
  float chaosLong[1024];
  float chaosShort[8][128];
  ThrBlock longBlock;
  ThrBlock shortBlock[8];
  FloatFifo* preEchoLong;   // three threshold vectors, pre-filled with quiet
  FloatFifo* preEchoShort;
  int preNoTone, preTns, tmld, noPreStop;
  // Per scale-factor band of the last frame (long: [0], short: per window).
  float bandEnergy[8][52];
  float bandThreshold[8][52];
};

ErrorRecord* thr_chan_create(ThrChan** out, const PsyConf* conf, int nShort);
void thr_chan_delete(ThrChan* thr);
// Chaos of the coded frame from the complex spectra FIFOs (long: slot 0
// newest; short: window w of the coded frame at nShort/2 + 2 nShort - 1 - w).
void thr_chan_fft(ThrChan* thr, const FloatFifo* longSpectra, const FloatFifo* shortSpectra);
// Partition thresholds of the coded frame with pre-echo control.
void thr_chan_threshold(ThrChan* thr, const FloatFifo* longSpectra, const FloatFifo* shortSpectra,
                        const TnsInfo* tns, int blockType);
// TNS factors on the thresholds, then energy and threshold per band.
void thr_chan_after_tns(ThrChan* thr, const TnsInfo* tns, int blockType);
