// The AAC core: the single-layer encoder behind object types 2 and 4. It
// owns the frame order; the stages inside a frame (psychoacoustic model,
// quantisation loops, multiplexer, the tools' algorithms, the internal
// decoder) are the inner encoder's and are reached through one table,
// `AacCoreStages`. A core without a complete table is not created: the
// failure names the first missing stage.
#pragma once

#include <cstdint>

#include "mp4aenc/bitbuf.h"
#include "mp4aenc/chanmap.h"
#include "mp4aenc/error.h"

struct AacCore;
struct AacToolControl;
struct Mp4BitstreamWriter;
struct StateTable;
struct StereoPrepro;

// What the psychoacoustic model tells the core and the tool control about
// one channel after its analysis.
struct AacPsyChannel {
  int blockType;          // 0 long, 1 long-start, 2 eight short, 3 long-stop
  int groups;             // window groups
  int bands;              // bands per group
  const float* energy;    // groups x bands
  const float* threshold; // groups x bands
  const int* width;       // bands
  long workCounter;       // analysis work of this channel (workload figure)
  float* smoothedPe;      // the entropy figure the tool control keeps above 350
  float midEnergy, sideEnergy;  // pairs: for stereo preprocessing
};

// The frame's bit budget (average, granted, set aside for the header).
struct AacFrameBudget {
  long average;        // bitrate x frame length / sample rate
  long budget;         // min(1.5 x average, average + 0.9 x reservoir fill)
  long headerBits;     // what the output format adds for that budget
  long reservoirFill;
};

// What the multiplexer is created with.
struct AacBitmuxSetup {
  float lowpassLong, lowpassShort;
  long sampleRate, bitrate;
  int frameLength;
  float reservoirFactor;  // 1000: a full reservoir
  int notObjectType1;
  const AacChannelMap* map;
  int framing;            // 3
  int streamType;         // 0
};

// One coding tool of the inner encoder, created per element (and channel).
struct AacToolContext {
  AacCore* core;
  int element;   // index into the map
  int channel;   // -1 for element-wide tools (mid/side, intensity)
  int joint;     // long-term prediction: both channels of a pair use it
  const AacToolControl* control;  // its settings ("msDeb", "no-ms-mask", ...)
  int phase;     // noise substitution: 0 detection, 1 pair resolution and substitution;
                 // intensity: 0 analysis, 1 border and application
};
struct AacToolStage {
  ErrorRecord* (*create)(void** state, const AacToolContext* context);
  ErrorRecord* (*frame)(void* state, const AacToolContext* context);
  // After the frame is written (prediction and long-term prediction).
  ErrorRecord* (*update)(void* state, const AacToolContext* context);
  void (*free)(void* state);
};

struct AacCoreStages {
  const char* name;
  // Internal decoder (reconstructs the time signal for long-term prediction).
  ErrorRecord* (*tfdec_create)(void** state, AacCore* core);
  ErrorRecord* (*tfdec_frame)(void* state, AacCore* core);
  void (*tfdec_free)(void* state);
  // Psychoacoustic model.
  ErrorRecord* (*psy_create)(void** state, AacCore* core);
  ErrorRecord* (*psy_analyse)(void* state, AacCore* core);
  float (*psy_frame_time)(void* state);
  const AacPsyChannel* (*psy_channel)(void* state, int channel);
  void (*psy_lowpass)(void* state, float* longBlocks, float* shortBlocks);
  ErrorRecord* (*band_pe)(float energy, float threshold, int width, float* pe);
  void (*psy_free)(void* state);
  // Quantisation loops.
  ErrorRecord* (*loops_create)(void** state, AacCore* core);
  ErrorRecord* (*loops_outer)(void* state, AacCore* core, const AacFrameBudget* budget);
  void (*loops_free)(void* state);
  // Multiplexer: owns the output bit buffer.
  ErrorRecord* (*bitmux_create)(void** state, AacCore* core, const AacBitmuxSetup* setup);
  BitBuffer* (*bitmux_buffer)(void* state);
  long (*bitmux_reservoir_fill)(void* state);
  int (*bitmux_hyperframing)(void* state);
  ErrorRecord* (*hyperframe_encode)(void* state, AacCore* core);
  ErrorRecord* (*bitmux_start_frame)(void* state, AacCore* core);
  ErrorRecord* (*bitmux_prepare_frame)(void* state, AacCore* core, const AacFrameBudget* budget);
  ErrorRecord* (*bitmux_update_reservoir)(void* state, AacCore* core, const AacFrameBudget* budget);
  // Writes one raw frame into the bit buffer and pushes its length.
  ErrorRecord* (*bitmux_write_frame)(void* state, AacCore* core, const AacFrameBudget* budget);
  long (*bitmux_side_value)(void* state);
  void (*bitmux_free)(void* state);
  // Coding tools.
  AacToolStage superstarv, ldns, pred, ltp, pns, is, ms;
};

// The inner encoder built into this library (AAC-LC frames).
const AacCoreStages* aac_core_stages_in_product(void);
const AacCoreStages* aac_inner_encoder_stages(void);
// Replaces the table cores are created with from now on (tests); null
// restores the product's.
void aac_core_use_stages(const AacCoreStages* stages);

struct AacCore {
  const AacCoreStages* stages;
  void* tfdec;
  void* psy;
  AacToolControl* tools;
  void* loops;
  void* bitmux;
  StereoPrepro* prepro;
  int channels;
  int offsets[kAacMaxChannels], strides[kAacMaxChannels];
  int frameLength;
  float* work;  // channels blocks of frameLength floats
  long bitrate;
  long sampleRate;
  int samplingIndex;
  const Mp4BitstreamWriter* writer;  // for the header bits of the budget
  AacChannelMapHeader mapHeader;
  const AacChannelMap* map;
  float lowpass;
  int objectType;
  int notObjectType1;
  int mode;  // 1 on the AAC entry's path
  AacFrameBudget lastBudget;
  long frames;
  StateTable* state;  // built by the opener (the AAC entry or the scalable coder); freed with the core
};

struct AacCoreSetup {
  const AacChannelMap* map;
  long bitrate;
  long sampleRate;
  int frameLength;
  int objectType;
  const int* offsets;
  const int* strides;
};

ErrorRecord* aac_core_create(AacCore** out, const AacCoreSetup* setup);
// One frame of float input (laid out by the offsets and strides).
ErrorRecord* aac_core_encode(AacCore* core, const float* input, int flag);
void aac_core_free(AacCore* core);
BitBuffer* aac_core_buffer(const AacCore* core);

// Step 8 of a frame: the budget for the given reservoir fill and the header
// bits the writer adds for it.
AacFrameBudget aac_frame_budget(long bitrate, int frameLength, long sampleRate, long reservoirFill,
                                const Mp4BitstreamWriter* writer);
