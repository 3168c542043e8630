// The scalable coder (audio object type 6): an optional core layer and up to
// nine AAC layers, each with its own AAC core, and the internal decoder's
// output file. Opening checks the layers and the core; the layered frame
// syntax is not built, so a frame answers an ErrorRecord.
#pragma once

#include "mp4aenc/aaccore.h"
#include "mp4aenc/error.h"
#include "mp4aenc/layerfilt.h"

constexpr int kScalableMaxLayers = 9;

struct ScalableSetup {
  long sampleRate;
  const long* bitrates;  // cumulative, per layer
  int frameLength;
  int layerCount;
  int firstAacLayer;  // layers below it belong to the core
  const int* channels;
  const char* coreName;
  const int* offsets;
  const int* strides;
};

struct ScalableCoder {
  int layerCount;
  int firstAacLayer;
  int frameLength;
  AacChannelMap* maps[kScalableMaxLayers];
  AacCore* layers[kScalableMaxLayers];  // null below firstAacLayer
  FftBuffer* filterFft;                 // the layer filter's buffers
  OutBuffer* filterOut;
};

ErrorRecord* scalable_open(ScalableCoder** out, const ScalableSetup* setup);
// Parameter access: writes each key's value through the layers' state
// access tables (see scalable.cpp for the key classes). `writes`, when
// given, counts the entries written.
ErrorRecord* scalable_param_ctl(ScalableCoder* coder, int count, const int* keys, int* const* values,
                                int* writes = nullptr);
// Layered frames are not written: always "WriteBitstreamScal() failed".
ErrorRecord* scalable_encode_frame(ScalableCoder* coder, const float* samples);
void scalable_free(ScalableCoder* coder);

// The AMR core of the core selector: not supplied.
ErrorRecord* amr_core_create(void);

// The internal decoder's output file: written only when "decOf" names one;
// "decFf" "WAV" or "RIFF" makes it a WAVE file, else raw 16-bit PCM.
struct TfdecFile;
ErrorRecord* tfdec_file_open(TfdecFile** out, int channels, long sampleRate);
// Interleaved samples on the 16-bit scale.
ErrorRecord* tfdec_file_write(TfdecFile* file, const float* samples, int count);
void tfdec_file_close(TfdecFile* file);
