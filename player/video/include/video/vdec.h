// Video decoder: MPEG-4 visual (simple profile) and H.263 baseline pictures
// (short-header form) into planar YUV 4:2:0 frames.
//
// A plain procedural library: every call takes the caller-owned control
// record `VideoDecoder`; all memory is allocated by vdec_create and freed by
// vdec_destroy. Results are 1 for success and 0 for failure unless a function
// says otherwise. One decoder is used by one thread at a time.
#pragma once

#include <cstdint>

struct VideoDecoderState;

// One base layer plus up to three temporal enhancement layers.
constexpr int VDEC_MAX_LAYERS = 4;

// The player's video surface is 512 x 512 pixels; a larger picture would run
// past it, so the decoder refuses to open for one (VDEC_ERROR_TOO_LARGE).
constexpr int VDEC_MAX_WIDTH = 512;
constexpr int VDEC_MAX_HEIGHT = 512;

// Why the last vdec_create failed (VideoDecoder::error).
enum VdecError : int32_t {
  VDEC_OK = 0,
  VDEC_ERROR_ARGUMENT = 1,     // null record, bad layer count or size
  VDEC_ERROR_HEADER = 2,       // configuration headers damaged or with unsupported tools
  VDEC_ERROR_TOO_LARGE = 3,    // picture larger than VDEC_MAX_WIDTH x VDEC_MAX_HEIGHT
  VDEC_ERROR_LAYER_SIZE = 4,   // a later layer's coded size differs from the first layer's
  VDEC_ERROR_NO_MEMORY = 5,
};

// Caller-owned control record; vdec_create clears it.
struct VideoDecoder {
  uint32_t unused[3];
  // Y plane of the picture produced last; U follows at Y + width * height and
  // V at U + width * height / 4 (width and height of the buffer it lies in).
  uint8_t* outputPicture;
  VideoDecoderState* state;  // null when not created or destroyed
  int32_t layerCount;        // 1 to VDEC_MAX_LAYERS
  const uint8_t* config[VDEC_MAX_LAYERS];  // configuration headers per layer
  int32_t configSize[VDEC_MAX_LAYERS];
  int32_t error;  // VdecError of the last vdec_create
};

// A decoded picture and the header fields of the picture it holds. Planes are
// one allocation of width * height * 3 / 2 bytes, strides width and width / 2.
struct DecodedFrame {
  uint8_t* y;
  uint8_t* u;
  uint8_t* v;
  int32_t decodeNumber;
  int32_t layerId;
  int32_t timestamp;  // ms; -1 = empty
  int32_t width;      // coded size (multiples of 16)
  int32_t height;
  int32_t vop_coding_type;     // 0 intra, 1 predicted, 2 bidirectional
  int32_t vop_time_increment;  // short header: temporal-reference step to the reference
  int32_t vop_coded;
  int32_t vop_rounding_type;
  int32_t intra_dc_vlc_thr;
  int32_t quantiser;
  int32_t fcodeForward;
  int32_t fcodeBackward;
  int32_t ref_select_code;  // 1 for every base-layer picture
  int32_t spare0;           // cleared by the short-header parser
  int32_t spare1;
  int32_t temporalReference;  // short header
};

// Post-filter flags.
constexpr int VDEC_POSTFILTER_DEBLOCK = 1;
constexpr int VDEC_POSTFILTER_DERING = 2;

// Stream kinds reported by vdec_get_mode.
constexpr int VDEC_MODE_SHORT_HEADER = 1;
constexpr int VDEC_MODE_DATA_PARTITIONED = 3;
constexpr int VDEC_MODE_NO_RESYNC = 4;
constexpr int VDEC_MODE_RESYNC = 5;

// Creates a decoder for layerCount layers from their configuration headers.
// With config null (or config[0] null) every layer is a short-header layer
// whose width and height are sizes[0] and sizes[1]. On failure everything is
// freed, dec->state is null and dec->error says why.
int vdec_create(VideoDecoder* dec, const uint8_t* const* config, const int32_t* sizes,
                int layerCount);
int vdec_create_single(VideoDecoder* dec, int width, int height);
int vdec_create_get_size(VideoDecoder* dec, const uint8_t* config, int32_t size, int* width,
                         int* height);
int vdec_destroy(VideoDecoder* dec);
// Marks every input frame and the reference and enhancement frames empty.
int vdec_reset(VideoDecoder* dec);

// Decodes one picture from the layers' inputs. timestamps (ms, negative =
// none) and sizes are in/out per layer: the bytes used are removed from the
// front of the layer's buffer. output (optional) receives the picture at
// display size. 1 when a picture was decoded or a not-coded picture consumed.
int vdec_decode_frame(VideoDecoder* dec, uint8_t* const* input, int32_t* timestamps,
                      int32_t* sizes, uint8_t* output);
// vdec_decode_frame with its arguments passed as a variable argument list:
// (uint8_t* const* input, int32_t* timestamps, int32_t* sizes, uint8_t* output).
int vdec_decode(VideoDecoder* dec, ...);
// Decodes one still picture (timestamp -1) and destroys the decoder.
int vdec_decode_once(VideoDecoder* dec, uint8_t* const* input, int32_t* sizes, uint8_t* output);

int vdec_get_width(const VideoDecoder* dec);
int vdec_get_height(const VideoDecoder* dec);
int vdec_get_timestamp(const VideoDecoder* dec);
int vdec_get_current_layer(const VideoDecoder* dec);
uint8_t* vdec_get_output_frame(const VideoDecoder* dec);
int vdec_is_intra(const VideoDecoder* dec);
int vdec_set_postfilter(VideoDecoder* dec, int flags);
int vdec_set_postfilter_mode(VideoDecoder* dec, int flags);
int vdec_get_frame_rate(const VideoDecoder* dec);  // tenths of a frame per second
int vdec_get_bitrate(const VideoDecoder* dec);     // bits per second
int vdec_get_memory_used(const VideoDecoder* dec);
int vdec_get_mode(const VideoDecoder* dec);

// 1 short-header stream, 2 MPEG-4 stream, 0 not decodable; sets the size.
int vdec_probe_size(const uint8_t* data, int32_t size, int* width, int* height);
// 0 for a GOV start, the vop_coding_type for a VOP start, else 3. Reads at
// most length bytes.
int vdec_frame_type(const uint8_t* data, int32_t length);
// Offset of the first VOP or GOV start code, -1 when none.
int vdec_find_vop_start(const uint8_t* data, int32_t length);
// Offset of the first short-header picture start, -1 when none.
int vdec_find_picture_start(const uint8_t* data, int32_t length);
// Copies the configuration headers at the front of an access unit into out
// (which must hold *size bytes) and sets *size to their length; 1 when found.
int vdec_parse_config(const uint8_t* data, uint8_t* out, int32_t* size);
