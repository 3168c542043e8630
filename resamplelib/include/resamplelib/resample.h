// Sample-rate conversion of interleaved float blocks behind one state record
// and a mode number: 0 passes samples through, 1 is the FFT polyphase
// converter for rational ratios, 2 the table-driven windowed-sinc
// interpolator (what the codec objects use), 3 and 4 the small interpolation
// kernels. Nothing here ends the process or touches the floating-point
// environment: failures are returned.
#pragma once

#include <cstdint>

struct ErrorRecord;

// Results of resample_open and of the engine set-up.
enum ResampleResult {
  RESAMPLE_OK = 0,
  RESAMPLE_NO_MEMORY = 1,
  RESAMPLE_ZERO_STEP = 2,       // cut-off too small for the table step
  RESAMPLE_CUTOFF_ABOVE_1 = 3,
  RESAMPLE_NO_DESIGN = 5,       // design kind 2 without a record
  RESAMPLE_BAD_ARGUMENT = 6,    // rates, channels, block sizes, mode or kind
  RESAMPLE_ENGINE_FAILED = 7,   // mode 1 engine could not be built
};

// Block driver answers of the mode 2 engine.
enum { RESAMPLE_OUTPUT_READY = 1, RESAMPLE_NEED_INPUT = 2 };

// Mode 2 design: pass-band edge over the lower Nyquist frequency, stop-band
// attenuation (dB), cut-off over half the input rate, Kaiser beta and the
// sinc's zero crossings on each side of the centre.
struct KaiserDesign {
  float rollOff;
  float attenuation;
  float fc;
  float beta;
  int32_t zeroCrossings;
};
static_assert(sizeof(KaiserDesign) == 20, "five 32-bit words");

// How the mode 2 engine sums its taps: the plain loop (the reference, in
// double), SSE2, or AVX2 with FMA where the processor has it (chosen at run
// time; the default is the fastest one available).
enum ResampleKernel {
  RESAMPLE_KERNEL_PLAIN = 0,
  RESAMPLE_KERNEL_SSE2 = 1,
  RESAMPLE_KERNEL_AVX2 = 2,
};

// The mode 2 engine: a Kaiser-windowed sinc evaluated from a table with
// linear interpolation at arbitrary (also irrational) ratios.
struct SincInterpolator {
  KaiserDesign design;
  int lastResult;      // last answer of the block driver
  double time;         // fractional position of the next output, 0 <= time < 1
  // The time kept exactly as phase / phaseCount (rates reduced by their
  // greatest common divisor), so that it cannot drift.
  int phase;
  int phaseCount;      // output rate / gcd
  int phaseStep;       // input rate / gcd
  double cutoff;       // fc quantised to 18 fractional bits
  uint32_t tableStep;  // fc * 2^18 truncated
  int taps;            // input frames one output needs
  int centre;
  int tableSize;       // zeroCrossings * 512
  double halfLength;   // zeroCrossings / cutoff
  float* table;        // (value, slope) pairs
  double factor;       // output rate / input rate
  int channels;
  float* history;      // historyCapacity floats and kHistorySlack zeros behind them
  float* coefficients; // work area of one output frame
  // Coefficients of every phase, each evaluated once from the table (null
  // when phaseCount * taps * channels would be too large); per phase the
  // left wing reversed, then the right wing, each coefficient repeated once
  // per channel so that one walk over interleaved frames serves them all;
  // and the two wing lengths. Each phase's row starts on a 32-byte boundary
  // and is completed with zeros to whole groups of eight, so that the dot
  // products neither split loads nor handle a tail.
  float* phaseCoefficients;
  void* phaseBlock;    // the allocation phaseCoefficients lies in
  int phaseStride;     // floats from one phase's row to the next
  int* phaseTaps;
  int historyFill;     // samples, all channels
  int historyCapacity;
  int readPos;         // frames
  int outputFill;      // samples of the current output block
  int inputConsumed;   // samples of the caller's block already taken
  int endOfInput;      // 0 running; > 0 silence samples still to follow the input; -1 all in
  int kernel;          // ResampleKernel in use
  void (*dot)(const float* coef, const float* x, int count, int channels, float* out);
  // Mono with a SIMD kernel: eight outputs at a time. The outputs repeat
  // their phases every phaseCount outputs; for each run of eight (a group)
  // the eight phases' coefficients lie interleaved over one span of the
  // history, so each history sample is broadcast once over eight sums and
  // no sum needs folding. Per group: its first history frame relative to the
  // first output's read position, its span (a multiple of four) and the
  // last output's read position; rows start on 32-byte boundaries.
  float* groupCoefficients;  // null when not used
  void* groupBlock;
  int* groupSpans;           // three words per group
  int groupStride;           // floats from one group's rows to the next
  int outputIndex;           // next output's index modulo phaseCount
  void (*dot8)(const float* coef, const float* x, int span, float* out);
};

struct PolyphaseConverter;
struct Interpolator;

struct ResamplerState {
  int inputRate;
  int outputRate;
  int channels;
  int inputBlock;    // samples over all channels
  int outputBlock;
  int inputCount;    // of the current call
  int outputCount;
  int endState;      // mode 2: 0 running, 1 a final short block delivered, 2 finished
  int mode;
  int designKind;    // 1 computed, 2 from the caller; 3 or 4 for modes 3 and 4
  float* inputBuffer;
  float* outputBuffer;
  PolyphaseConverter* polyphase;
  Interpolator* interpolator;
  SincInterpolator* sinc;
  int pendingInput;  // mode 2: samples of the caller's last block not yet consumed
};

// The mode 2 design from the rates: pass band to 0.9 of the lower Nyquist
// frequency, 90 dB stop band.
void resample_kaiser(KaiserDesign* design, int inputRate, int outputRate);
// beta and zeroCrossings from roll-off and attenuation (design kind 2).
void resample_kaiser_complete(KaiserDesign* design);

// designParameters: the KaiserDesign for mode 2 with kind 2 (roll-off,
// attenuation and fc are read; beta and zero crossings are computed); for
// mode 4 with kind 4 its first word is the kernel type. Mode 1 sets its own
// block sizes (read them with resample_flush); mode 1 refuses ratios whose
// reduced terms multiply to 256 or more.
int resample_open(ResamplerState** state, int inputRate, int outputRate, int channels,
                  int inputBlock, int outputBlock, int mode, int designKind,
                  const KaiserDesign* designParameters);
// The query before each call. Mode 2: *needed is 0 while input of the last
// call is still pending inside (call process with 0 to continue it), else the
// input block size.
int resample_flush(ResamplerState* state, int inputRate, int outputRate, int* needed,
                   int* outputBlock, float** inputBuffer, float** outputBuffer);
// Converts what the caller wrote into the input buffer. inputCount 0 continues
// pending input, or, with none pending, marks the end of the input and drains
// the filter. *outputCount receives the samples ready in *outputBuffer.
int resample_process(ResamplerState* state, int inputCount, int* outputCount,
                     float** outputBuffer);
void resample_close(ResamplerState* state);
// Back to the state resample_open left: silent history, nothing pending, a
// finished drain forgotten, so one converter serves stream after stream.
void resample_reset(ResamplerState* state);
// The conversion's group delay in output sample frames: output frame k shows
// the input at time k - delay. Mode 2 delays by taps - centre input frames
// (3.9 ms at 44.1 kHz to 8 kHz with the design from the rates); modes 0, 3
// and 4 by nothing; mode 1 by half its filter.
double resample_delay(const ResamplerState* state);

// Mode 2 engine, usable on its own.
int sinc_create(SincInterpolator** out, const KaiserDesign* design, int inputRate, int outputRate,
                int channels);
void sinc_free(SincInterpolator* sinc);
void sinc_reset(SincInterpolator* sinc);
// Chooses how the taps are summed (ResampleKernel); a kernel the processor
// or the channel count does not allow falls back to a slower one. Answers
// the kernel in use.
int sinc_set_kernel(SincInterpolator* sinc, int kernel);
// Coefficient at a filter position x in zero crossings (0 <= x < zeroCrossings).
float sinc_coefficient(const SincInterpolator* sinc, double x);

// Modified Bessel function of order 0 by its power series.
double bessel_i0(double x);
