// The bit reservoir of the AAC bitstream encoder and its control: the
// whole-byte budget of each frame (the fractional byte spread over the
// frames), the fill kept within the buffer limit with the stuffing a frame
// must carry when it overflows, and the factor on the mean frame bits that
// the frame's perceptual entropy and the fill ask for.
#pragma once

#include "mp4aenc/error.h"

struct BitRes {
  long maxBits;  // multiple of 8; 0: no reservoir
  long bitrate, frameLength, sampleRate;
  int coreKind;
  long fill, maxFill;
  long fracAccu;
  long frameBytes, frameRem;
};

struct BitResFrameInfo {
  long bytes;
  int extraByte;
  long fill, maxFill;
};

struct BitResCtrl {
  int peMin, peMax;
  float saveLow, saveHigh, minBitSave, maxBitSave;
  float spendLow, spendHigh, minBitSpend, maxBitSpend;
};

// Reads "bitres-fill" (default 0.8). maxFactor 0 gives a reservoir of size
// 0; a bitrate per channel above sampleRate * 6144 / frameLength gives none.
ErrorRecord* BitResInit(BitRes** out, long bitrate, long totalBitrate, int nChannelsLayer, int nChannels,
                        long sampleRate, long frameLength, float maxFactor, int coreKind);
void BitResFree(BitRes* res);
// Start of a frame: the bits granted (8 x bytes).
long BitResFrameBits(BitRes* res, BitResFrameInfo* info);
// End of a frame: the bits the frame must occupy (used plus stuffing).
long BitResUpdate(BitRes* res, long grantedBits, long usedBytes);

// kind 2: short-block defaults; 0, 1, 3: long-block; above 3: false (none).
bool BitResCtrlCreate(BitResCtrl* ctrl, int kind, long sampleRate, long bitrate);
float BitResCtrlFactor(long fillBits, long maxBits, float pe, BitResCtrl* longCtrl, BitResCtrl* shortCtrl,
                       int blockType, int adapt);
void BitResCtrlAdapt(float pe, BitResCtrl* ctrl, long maxBits, float weight);
