// Engine entry points behind the resampler interface (library-internal).
#pragma once

#include "resamplelib/resample.h"

int sinc_run(SincInterpolator* e, float* out, int room);
int sinc_append(SincInterpolator* e, const float* in, int count);

// Greatest common divisor of two rates.
int rate_gcd(int a, int b);
