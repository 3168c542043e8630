// Default parameters of the intensity stereo tool and of TNS for an
// operating point, and the TNS band limits of the standard.
#pragma once

#include "mp4aenc/error.h"

// Six words of the intensity tool; their meaning is the tool's.
struct IsParam {
  int w0;
  float w1, f0, f1, w4;
  int w5;
};
static_assert(sizeof(IsParam) == 24, "six words");

// Mode 2 copies set B, modes 0, 1, 3 set A; a mode above 3 or no row (bit/s
// and sample rate, both inclusive) answers "no Intensity parameter set for
// given bitrate/sampling rate combination".
ErrorRecord* is_param_lookup(IsParam* out, int mode, unsigned bitrate, float sampleRate);

// The TNS parameter record, twelve words in this order.
struct TnsParam {
  int order;
  int direction;        // 0 up, 1 down
  int maskOptions;      // 0x1 low, 0x2 high, 0x4 prediction gain
  float maxTimeLong;    // ms
  float maxTime2Long;   // ms
  float maxTimeShort;   // ms
  float gainThresholdLong;
  int lpcStartLong;     // Hz
  int lpcStopLong;      // Hz
  float gainThresholdShort;
  int lpcStartShort;    // Hz
  int lpcStopShort;     // Hz
};
static_assert(sizeof(TnsParam) == 48, "twelve words");

struct AudioObject {
  int mpeg4;       // 1 MPEG-4, 0 MPEG-2
  int objectType;  // MPEG-4 object type, or the MPEG-2 profile
};

// Mode 0 copies record A, modes 1, 4, 5, 7 record B, modes 2, 3, 6 nothing;
// object type 19 (MPEG-4) uses its own three rows. Answers the row, or the
// row count when no row holds the bitrate (then nothing is copied).
int tns_param_lookup(int mode, unsigned bitrate, TnsParam* out, AudioObject object);

// Both -1 first; then the Main/LC values of the sample rate, the low-delay
// long value for object type 19 (frame length 480 or 512), nothing for SSR.
void tns_max_bands(int sampleRate, AudioObject object, int frameLength, int* outLong,
                   int* outShort);
// The largest TNS order for the object type: Main (1) 20 long, others 12;
// 7 short.
void tns_max_order(AudioObject object, int* outLong, int* outShort);
