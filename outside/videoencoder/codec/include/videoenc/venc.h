// Video encoder: MPEG-4 visual simple profile pictures (intra and predicted,
// half-pel motion, H.263 quantisation) from planar YUV 4:2:0 frames.
//
// A plain procedural library like the player's decoder: every call takes the
// caller-owned record `VideoEncoder`; all memory is allocated by venc_create
// and freed by venc_destroy. One encoder is used by one thread at a time.
#pragma once

#include <cstdint>

// The configuration headers (visual object sequence, visual object, video
// object and its layer) never take more than this.
constexpr int VENC_MAX_CONFIG = 50;
constexpr int VENC_MIN_SIZE = 16;
constexpr int VENC_MAX_SIZE = 2048;

enum VencError : int32_t {
  VENC_OK = 0,
  VENC_ERROR_ARGUMENT = 1,  // null record or settings, size out of range or odd
  VENC_ERROR_NO_MEMORY = 2,
  VENC_ERROR_BUFFER = 3,    // the output buffer is smaller than venc_max_frame_bytes
};

struct VencSettings {
  int32_t width;   // display size: even, VENC_MIN_SIZE .. VENC_MAX_SIZE
  int32_t height;
  int32_t bitRate;        // bit/s; 0 keeps the quantiser fixed
  float frameRate;        // pictures per second the rate control plans for
  int32_t intraInterval;  // an intra picture every this many; <= 0: the first only
  int32_t quantiser;      // 1..31: the fixed quantiser, or where the rate control starts
  int32_t searchRange;    // whole pixels each way, 1..31
  int32_t fullSearch;     // nonzero: every position of the range; else a diamond walk
  int32_t bufferMs;       // the virtual buffer the rate control keeps to; 0: 500 ms
};

// A source picture at display size; chroma planes are half size each way.
struct VencPicture {
  const uint8_t* y;
  const uint8_t* u;
  const uint8_t* v;
  int32_t strideY;
  int32_t strideC;
};

struct VencFrameInfo {
  int32_t intra;       // 1 intra picture, 0 predicted
  int32_t bytes;       // length of the picture in the output
  int32_t quantiser;
  int32_t intraMacroblocks;
  int32_t skippedMacroblocks;
  uint32_t timeMs;     // the time the picture was coded with
};

struct VideoEncoderState;

struct VideoEncoder {
  VideoEncoderState* state;  // null when not created or destroyed
  int32_t error;             // VencError of the last call that failed
};

int venc_create(VideoEncoder* enc, const VencSettings* settings);
void venc_destroy(VideoEncoder* enc);

// Writes the configuration headers; returns their length, 0 when cap is too small.
int venc_config(const VideoEncoder* enc, uint8_t* out, int32_t cap);
// The most bytes one picture can take.
int32_t venc_max_frame_bytes(const VideoEncoder* enc);
// Encodes one picture (one VOP, without the configuration headers) at the
// time given in milliseconds; a time before the previous one is taken as the
// previous one. forceIntra makes it an intra picture. Returns its length in
// bytes, 0 on failure (enc->error says why; the encoder's state is unchanged).
int venc_encode(VideoEncoder* enc, const VencPicture* picture, uint32_t timeMs, int forceIntra,
                uint8_t* out, int32_t cap, VencFrameInfo* info);
// The reconstruction of the last picture, as a decoder sees it: planes at
// the coded size (multiples of 16), Y then U then V, strides codedWidth and
// codedWidth / 2.
const uint8_t* venc_reconstruction(const VideoEncoder* enc, int* codedWidth, int* codedHeight);
// Settings the rate control follows from the next picture on.
int venc_set_bit_rate(VideoEncoder* enc, int32_t bitRate, float frameRate);
int venc_set_intra_interval(VideoEncoder* enc, int32_t interval);
