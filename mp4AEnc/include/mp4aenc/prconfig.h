// The program configuration element and its speaker lists (front, side,
// back, LFE, associated data, coupling), built from a channel element map.
#pragma once

#include <cstdint>

#include "mp4aenc/bitbuf.h"
#include "mp4aenc/chanmap.h"
#include "mp4aenc/error.h"

struct ProgramSpeaker {
  int isCpe;  // front, side, back: the element is a pair; coupling: independently switched
  int tag;
};

struct ProgramConfig {
  int tag;
  int objectType;  // the 2-bit profile field: audio object type - 1
  int samplingIndex;
  ProgramSpeaker front[15], side[15], back[15], coupling[15];
  int lfe[3], assocData[7];
  int frontCount, sideCount, backCount, lfeCount, assocCount, couplingCount;
  int monoMixdown, monoElement;
  int stereoMixdown, stereoElement;
  int matrixMixdown, matrixIndex, pseudoSurround;
  uint8_t comment[255];
  int commentBytes;
};

// Speaker lists by channel configuration 1 to 6 (the speakers counted must
// equal it; a pair may not come first where a single front speaker leads).
ErrorRecord* pce_by_configuration(ProgramConfig* pce, const AacChannelMap* map, int configuration);
// Singles front, pairs side, coupling, LFE by kind.
ErrorRecord* pce_by_element_type(ProgramConfig* pce, const AacChannelMap* map);
// hints[e]: 1 side, 2 back, else front; LFE and coupling by kind.
ErrorRecord* pce_by_position(ProgramConfig* pce, const AacChannelMap* map, const int* hints);
// From a speaker string, one letter per channel: 'F' front, 'S' side, 'B'
// back (an element takes its first channel's letter).
ErrorRecord* pce_from_speakers(ProgramConfig* pce, const AacChannelMap* map, const char* speakers);

// Writes the element (without id_syn_ele); the byte alignment before the
// comment counts from alignStart, the stream position the alignment refers
// to. -1 when the buffer is full.
int pce_write(BitBuffer* out, const ProgramConfig* pce, long alignStart);
// Its size in bits when it starts `offset` bits past an aligned position.
long pce_bits(const ProgramConfig* pce, long offset);
