// The resampler interface: one state record, a mode number and a block
// driver per mode.
#include <cstdlib>

#include "engines.h"
#include "resamplelib/polyphase.h"

namespace {

constexpr int kMaxChannels = 16;

// Mode 2 block driver. See resample_process for the meaning of count 0.
int drive_sinc(ResamplerState* s, int count, int* outputCount) {
  SincInterpolator* e = s->sinc;
  const bool shortBlock = count > 0 && count < s->inputBlock;
  for (;;) {
    e->outputFill += sinc_run(e, s->outputBuffer + e->outputFill, s->outputBlock - e->outputFill);
    if (e->outputFill >= s->outputBlock) {
      e->outputFill = 0;
      *outputCount = s->outputBlock;
      s->pendingInput = count - e->inputConsumed;
      return RESAMPLE_OUTPUT_READY;
    }
    if (e->inputConsumed < count) {
      e->inputConsumed += sinc_append(e, s->inputBuffer + e->inputConsumed, count - e->inputConsumed);
      continue;
    }
    if (e->endOfInput > 0) {
      // Drains the filter's tail: up to taps frames of silence follow the input.
      e->endOfInput -= sinc_append(e, nullptr, e->endOfInput);
      if (e->endOfInput == 0) e->endOfInput = -1;  // all padding is in
      continue;
    }
    s->pendingInput = 0;
    if (shortBlock || e->endOfInput < 0) {
      // The last input: what the output block holds is reported once.
      *outputCount = e->outputFill;
      e->outputFill = 0;
      s->endState = e->endOfInput < 0 ? 2 : 1;
    } else {
      *outputCount = 0;
    }
    return RESAMPLE_NEED_INPUT;
  }
}

}  // namespace

int resample_open(ResamplerState** state, int inputRate, int outputRate, int channels,
                  int inputBlock, int outputBlock, int mode, int designKind,
                  const KaiserDesign* designParameters) {
  *state = nullptr;
  if (inputRate <= 0 || outputRate <= 0 || channels <= 0 || channels > kMaxChannels ||
      inputBlock <= 0 || outputBlock <= 0 || inputBlock % channels || outputBlock % channels)
    return RESAMPLE_BAD_ARGUMENT;
  if (mode < 0 || mode > 4) return RESAMPLE_BAD_ARGUMENT;
  if (mode == 2 && designKind != 1 && designKind != 2) return RESAMPLE_BAD_ARGUMENT;
  if (mode == 1 && designKind != 1) return RESAMPLE_BAD_ARGUMENT;  // the design comes from the rates
  if ((mode == 3 || mode == 4) && designKind != 3 && designKind != 4) return RESAMPLE_BAD_ARGUMENT;

  auto* s = static_cast<ResamplerState*>(std::calloc(1, sizeof(ResamplerState)));
  if (!s) return RESAMPLE_NO_MEMORY;
  s->inputRate = inputRate;
  s->outputRate = outputRate;
  s->channels = channels;
  s->inputBlock = inputBlock;
  s->outputBlock = outputBlock;
  s->mode = mode;
  s->designKind = designKind;
  int result = RESAMPLE_OK;
  if (mode == 2) {
    KaiserDesign design{};
    if (designKind == 1) {
      resample_kaiser(&design, inputRate, outputRate);
    } else if (designParameters) {
      design = *designParameters;
      resample_kaiser_complete(&design);
    }
    result = designKind == 2 && !designParameters
                 ? RESAMPLE_NO_DESIGN
                 : sinc_create(&s->sinc, &design, inputRate, outputRate, channels);
  } else if (mode == 1) {
    ErrorRecord* err = polyphase_create(&s->polyphase, inputRate, outputRate, channels);
    if (err) {
      error_free(err);
      result = RESAMPLE_ENGINE_FAILED;
    } else {
      // The engine's own block sizes.
      s->inputBlock = inputBlock = polyphase_input_frames(s->polyphase) * channels;
      s->outputBlock = outputBlock = polyphase_output_frames(s->polyphase) * channels;
    }
  } else if (mode == 3 || mode == 4) {
    // Kind 3 uses the cubic B-spline; kind 4 takes the kernel type from the
    // first word of the design record.
    int type = designKind == 3 ? 3 : designParameters ? int(designParameters->rollOff) : 1;
    ErrorRecord* err = interp_create(&s->interpolator, mode == 3 ? 0 : 1, type, channels, inputRate, outputRate);
    if (err) {
      error_free(err);
      result = RESAMPLE_ENGINE_FAILED;
    }
  }
  s->inputBuffer = static_cast<float*>(std::calloc(size_t(inputBlock), sizeof(float)));
  s->outputBuffer = mode == 0 ? s->inputBuffer
                              : static_cast<float*>(std::calloc(size_t(outputBlock), sizeof(float)));
  if (result == RESAMPLE_OK && (!s->inputBuffer || !s->outputBuffer)) result = RESAMPLE_NO_MEMORY;
  if (result != RESAMPLE_OK) {
    resample_close(s);
    return result;
  }
  *state = s;
  return RESAMPLE_OK;
}

int resample_flush(ResamplerState* s, int inputRate, int outputRate, int* needed, int* outputBlock, float** inputBuffer,
                   float** outputBuffer) {
  if (!s) return RESAMPLE_BAD_ARGUMENT;
  if ((s->mode == 3 || s->mode == 4) && inputRate > 0 && outputRate > 0 &&
      (inputRate != s->inputRate || outputRate != s->outputRate)) {
    interp_set_rates(s->interpolator, inputRate, outputRate);
    s->inputRate = inputRate;
    s->outputRate = outputRate;
  }
  *needed = s->mode == 2 && s->pendingInput > 0 ? 0 : s->inputBlock;
  *outputBlock = s->outputBlock;
  if (inputBuffer) *inputBuffer = s->inputBuffer;
  if (outputBuffer) *outputBuffer = s->outputBuffer;
  return RESAMPLE_OK;
}

int resample_process(ResamplerState* s, int inputCount, int* outputCount, float** outputBuffer) {
  *outputCount = 0;
  if (!s || inputCount < 0 || inputCount > s->inputBlock || inputCount % s->channels)
    return RESAMPLE_BAD_ARGUMENT;
  if (outputBuffer) *outputBuffer = s->outputBuffer;
  if (s->mode == 0) {
    *outputCount = inputCount < s->outputBlock ? inputCount : s->outputBlock;
    return RESAMPLE_OUTPUT_READY;
  }
  if (s->mode == 1) {
    // Whole engine blocks only.
    if (inputCount != s->inputBlock) return RESAMPLE_NEED_INPUT;
    polyphase_process(s->polyphase, s->inputBuffer, s->outputBuffer);
    *outputCount = s->outputBlock;
    return RESAMPLE_OUTPUT_READY;
  }
  if (s->mode == 3 || s->mode == 4) {
    const int frames = interp_process(s->interpolator, s->inputBuffer, inputCount / s->channels,
                                      s->outputBuffer, s->outputBlock / s->channels);
    *outputCount = frames * s->channels;
    return *outputCount ? RESAMPLE_OUTPUT_READY : RESAMPLE_NEED_INPUT;
  }
  SincInterpolator* e = s->sinc;
  if (s->endState == 2) return RESAMPLE_NEED_INPUT;
  if (inputCount == 0 && s->pendingInput > 0) {
    // Continues the block of an earlier call where it stopped.
    inputCount = s->inputCount;
  } else {
    if (inputCount == 0 && e->endOfInput == 0) e->endOfInput = e->channels * e->taps;
    e->inputConsumed = 0;
    s->inputCount = inputCount;
  }
  int result = drive_sinc(s, inputCount, outputCount);
  e->lastResult = result;
  s->outputCount = *outputCount;
  return result;
}

void resample_reset(ResamplerState* s) {
  if (!s) return;
  if (s->sinc) sinc_reset(s->sinc);
  s->inputCount = s->outputCount = s->endState = s->pendingInput = 0;
}

double resample_delay(const ResamplerState* s) {
  if (!s) return 0.0;
  if (s->mode == 2) {
    // Output k is centred on history frame k / factor + centre, and the
    // history starts with taps frames of silence.
    const SincInterpolator* e = s->sinc;
    return double(e->taps - e->centre) * e->factor;
  }
  if (s->mode == 1) {
    // The linear-phase filter at the common rate, M of its samples per output.
    int taps, up, down;
    polyphase_filter(s->polyphase, &taps, &up, &down);
    return (taps - 1) / 2.0 / down;
  }
  return 0.0;
}

void resample_close(ResamplerState* s) {
  if (!s) return;
  sinc_free(s->sinc);
  polyphase_free(s->polyphase);
  interp_free(s->interpolator);
  if (s->outputBuffer != s->inputBuffer) std::free(s->outputBuffer);
  std::free(s->inputBuffer);
  std::free(s);
}
