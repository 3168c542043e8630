// Picture conversions around the encoder: 24-bit BGR (bottom-up DIB rows or
// top-down) to planar YUV 4:2:0 with BT.601 studio range, nearest-sample
// scaling of 4:2:0 pictures, and YUV 4:2:0 back to 24-bit BGR for previews.
#pragma once

#include <cstdint>

struct YuvPlanes {
  uint8_t* y;
  uint8_t* u;
  uint8_t* v;
  int32_t strideY, strideC;
  int32_t width, height;  // even
};

struct ConstYuvPlanes {
  const uint8_t* y;
  const uint8_t* u;
  const uint8_t* v;
  int32_t strideY, strideC;
  int32_t width, height;
};

// rgb holds height rows of stride bytes; bottomUp: the first row is the
// picture's last (DIB order).
void venc_bgr24_to_yuv420(const uint8_t* rgb, int32_t stride, bool bottomUp, const YuvPlanes& out);
void venc_scale_yuv420(const ConstYuvPlanes& in, const YuvPlanes& out);
void venc_yuv420_to_bgr24(const ConstYuvPlanes& in, uint8_t* rgb, int32_t stride, bool bottomUp);
