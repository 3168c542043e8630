// Stereo preprocessing: damps the side signal of a channel pair before the
// psychoacoustic analysis when the frame is hard to code (high perceptual
// entropy per channel bit, mid-dominated signal). Off unless the flag
// "stPrePro" is configured.
#pragma once

#include "mp4aenc/error.h"

struct StereoPrepro {
  float bitsPerChannelFrame;  // bitrate * 1024 / sampleRate / channels
  float constAtt;             // "ConstAtt", 0 = off
  float attenuation;          // current, dB
  float attInc, attDec;       // dB per frame
  float midEnergy, sideEnergy;
  float ratio;                // smoothed side-to-mid ratio, dB
  float smMin, smMax;
  float peMin, peMax, peFactorMax;
  float impFac;
  float maxAtt;               // "stPreproMax", or ConstAtt when set
  float resolution;           // "stPreproRes", dB per table entry
  int tableSize;
  float* midWeight;
  float* sideWeight;
  float entropy;              // perceptual entropy of the last frame
};

// *out stays null (and no error) when the flag is off.
ErrorRecord* stereo_prepro_create(StereoPrepro** out, int channels, long bitrate,
                                  float sampleRate);
void stereo_prepro_free(StereoPrepro* state);
// Updates the attenuation for this frame and mixes the pair in place.
void stereo_prepro_frame(StereoPrepro* state, float* left, float* right, int n);
// After the analysis: the pair's mid and side energies and its entropy feed
// the next frame.
void stereo_prepro_post(StereoPrepro* state, float midEnergy, float sideEnergy, float entropy);
