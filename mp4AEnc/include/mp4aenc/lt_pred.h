// Long-term prediction of long blocks: per channel and frame the pitch lag
// in the reconstructed past signal, the prediction of the current block in
// the MDCT domain, the per-band choice where coding the residual lowers the
// perceptual entropy, and the history that holds the decoder's own output.
#pragma once

#include "mp4aenc/error.h"
#include "mp4aenc/modulo_buffer.h"
#include "mp4aenc/tns.h"
#include "mp4aenc/tool_params.h"

constexpr int kLtpMaxBands = 40;   // ltp_long_used bits at most
constexpr int kLtpFlagBands = 63;  // per frame of the band-flag history
constexpr int kLtpFlagFrames = 4;
constexpr int kLtpCoefficients = 8;

// The standard's eight prediction coefficients, by ltp_coef.
extern const float kLtpCoefficient[kLtpCoefficients];

// What the bitstream carries of one channel's prediction in this frame.
struct LtpSideInfo {
  int numBands;     // min(bands, 40)
  int lastLag;      // -1: none
  int dataPresent;  // ltp_data_present
  int lagWritten;   // the lag goes into the frame
  int coefIndex;    // ltp_coef, 0..7
  int sideBits;     // what the choice was charged
  int lagAlways;    // 1: every frame with data sends its 11-bit lag
  int used[kLtpMaxBands];
  float predicted[1024];  // the chosen prediction's spectrum (TNS-filtered)
};

struct LtpCandidate {
  int lag, coefIndex;
  float value;
};

struct LtpState {
  int frameLength, winLen, bufLen;
  int* history;               // bufLen 16-bit values
  int lags;                   // "ltpLags": candidates tried per frame
  float siWeight;             // "ltpSIWeight"
  int forceNewLag;            // "ltpForceNewLag"
  float *time, *block;        // winLen each: the signal, a transform's work
  float *weighted, *squared;  // winLen each: window^2 * signal, window^2
  float* past;                // bufLen: the history as floats
  float *corr, *energy;       // per lag
  float *fftA, *fftB;         // 2 * bufLen complex values each
  float spectrum[1024];       // a candidate's prediction
  LtpCandidate* candidates;   // lags entries
  int forbidden[kLtpMaxBands];
  LtpSideInfo info;
  // Per band, newest frame first: bands that cannot serve as a source.
  int flagHistory[kLtpFlagFrames][kLtpFlagBands];
  long frameCounter;
  int resetPeriod, resetOn;
  int pendingReset[kLtpFlagFrames];
};

// Reads "ltpLags", "ltpSIWeight", "ltpForceNewLag", "noLtpWriteGlobalFlag"
// and "ltpResetPeriod". MPEG-2 configurations and object types other than
// 4, 5, 6, 7, 19, 20 and 23 are refused.
ErrorRecord* LtpInit(LtpState** out, int frameLength, int lagsDefault, int resetDefault,
                     const AudioObject* objectInfo);
void LtpFree(LtpState* state);

// One frame. timeFifo: the model's input ring, written up to this frame;
// window: the block's analysis window (2 * frameLength values); spectrum and
// thresholds of the block (one group); bandPe, when given, receives each
// band's entropy after the decision. Used bands' spectra become the
// residual. allowed (may be null): bands with 0 never use prediction.
ErrorRecord* LtpFrame(LtpState* state, const TnsInfo* tns, const FloatModuloBuffer* timeFifo,
                      const float* window, int nBands, const int* bandWidths, const float* thresholds,
                      float* spectrum, float* bandPe, int blockType, int frameLength, int nShortWindows,
                      const int* allowed);

// Adds the prediction back to the used bands (the decoder's side).
void LtpAddPrediction(const LtpState* state, float* spectrum, const int* bandWidths);

// Appends a reconstructed frame and the overlap half that follows it.
void LtpUpdateHistory(LtpState* state, const float* fullFrame, const float* overlapHalf);

// Index of the coefficient nearest to alpha; the lower one when midway.
int LtpCoefIndex(float alpha);
