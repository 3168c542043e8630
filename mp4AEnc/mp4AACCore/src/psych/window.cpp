// Window objects: one full window per window sequence, composed from the
// rising halves, and the window-shape setting "ws".
#include "mp4aenc/window.h"

#include <cstdlib>

#include "mp4aenc/common.h"
#include "mp4aenc/filterbank.h"
#include "mp4aenc/param.h"
#include "mp4aenc/vecmath.h"

static const char kModule[] = "mp4AEnc/mp4AACCore/src/psych/window";

static void mirror_into_second_half(float* w, const float* half, int N) {
  for (int i = 0; i < N / 2; ++i) w[N - 1 - i] = half[i];
}

static ErrorRecord* compose(float* w, int N, int sequence, int left, int right, int useTable,
                            int nShort) {
  const int H = N / 2;
  float* half = static_cast<float*>(std::malloc(sizeof(float) * size_t(H > 0 ? H : 1)));
  if (!half) return error_create(kModule, __LINE__, nullptr, "out of memory");
  ErrorRecord* err = nullptr;
  switch (sequence) {
    case kOnlyLong:
      if (!(err = CalculateWindow(half, N, right, useTable))) {
        mirror_into_second_half(w, half, N);
        err = CalculateWindow(w, N, left, useTable);
      }
      break;
    case kEightShort:
      if (!(err = CalculateShortWindow(w, N, left, useTable)))
        if (!(err = CalculateShortWindow(half, N, right, useTable)))
          mirror_into_second_half(w, half, N);
      break;
    case kLongStart:
      if (!(err = CalculateWindow(w, N, left, useTable)))
        if (!(err = CalculateTransitionWindow(half, N, right, useTable, nShort)))
          mirror_into_second_half(w, half, N);
      break;
    case kLongStop:
      if (!(err = CalculateTransitionWindow(w, N, left, useTable, nShort)))
        if (!(err = CalculateWindow(half, N, right, useTable)))
          mirror_into_second_half(w, half, N);
      break;
    default:
      err = error_create(kModule, __LINE__, nullptr, "invalid window sequence %d", sequence);
      break;
  }
  std::free(half);
  return err;
}

ErrorRecord* window_create(WindowObject** out, int N, int sequence, int leftShape, int rightShape,
                           int useTable, int nShort) {
  *out = nullptr;
  auto* w = static_cast<WindowObject*>(std::calloc(1, sizeof(WindowObject)));
  if (!w) return error_create(kModule, __LINE__, nullptr, "out of memory");
  w->length = N;
  w->coefficients = static_cast<float*>(std::calloc(size_t(N > 0 ? N : 1), sizeof(float)));
  if (!w->coefficients) {
    object_free(w);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  if (ErrorRecord* err = compose(w->coefficients, N, sequence, leftShape, rightShape, useTable,
                                 nShort)) {
    object_free(w);
    return error_add_trace(kModule, __LINE__, nullptr, err);
  }
  *out = w;
  return nullptr;
}

void window_apply(const WindowObject* window, float* block) {
  vec_mul(block, window->coefficients, block, window->length);
}

ErrorRecord* window_shapes_read(WindowShapes* shapes, int useSine, const int defaults[2]) {
  int ws[2] = {defaults[0], defaults[1]};
  param_get_int_vector("ws", 2, 0, 3, "window shape (long short): 0 sine, 1 KBD, 2 ZPW; default 1 0",
                       "window shape for start and stop windows is adapted to short window shape",
                       ws);
  if (useSine) {
    shapes->longLeft = shapes->longRight = kShapeSine;
    return nullptr;
  }
  if (ws[0] < 0 || ws[0] > 2)
    return error_create(kModule, __LINE__, nullptr, "Invalid long window shape");
  if (ws[1] < 0 || ws[1] > 2)
    return error_create(kModule, __LINE__, nullptr, "Invalid short window shape");
  shapes->longLeft = shapes->longRight = shapes->startLeft = shapes->stopRight = ws[0];
  shapes->shortLeft = shapes->shortRight = ws[1];
  if (ws[1] == kShapeKbd) shapes->startRight = shapes->stopLeft = kShapeKbd;
  return nullptr;
}
