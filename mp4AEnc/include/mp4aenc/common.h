// The common layer of the AAC encoder library, shared by the encoder front
// (interface, core, output formats) and the inner encoder (psychoacoustic
// model, tools, quantisation, multiplexer).
//
// Some inner modules were written against other names for the same calls;
// they map onto this layer as follows:
//   vec_mul_int            -> ivec_mul
//   vec_clamp              -> vec_clip
//   vec_scale_inplace      -> vec_scale_in_place
//   vec_log_scaled         -> vec_scaled_log
//   vec_power_spectrum     -> vec_cplx_mag2
//   vec_fill_int           -> ivec_fill
//   vec_move               -> vec_move (overlapping copy; the only addition)
//   random_doubles         -> random_fill (count, out)
//   fatal_design_error     -> returns an ErrorRecord; the process goes on
//   window objects' free   -> object_free
// The bit buffer (mp4aenc/bitbuf.h) has the inner modules' bitbuf_* names
// as they are; bitbuf_copy_bytes drains one pending frame per call, and the
// frame-length queue answers a record where it would have ended the process.
#pragma once

#include "mp4aenc/bitbuf.h"
#include "mp4aenc/error.h"
#include "mp4aenc/fft.h"
#include "mp4aenc/fft_radix4.h"
#include "mp4aenc/fifo.h"
#include "mp4aenc/modulo_buffer.h"
#include "mp4aenc/numutil.h"
#include "mp4aenc/param.h"
#include "mp4aenc/vecmath.h"

// Answers null (no error) and does nothing else; stands where the envelope
// output and the dynamic-bandwidth statistics would be produced.
void* return_null_stub(void);
// Sets *out to 0 and answers no error.
ErrorRecord* clear_out_stub(int* out, void* context);
// Frees an object's first member (its data array), then the object; null is
// accepted. Used for window objects.
void object_free(void* object);
// Stands where the predictor update and the TwinVQ and HVXC encoders would be.
void op_counter_stub(void);
