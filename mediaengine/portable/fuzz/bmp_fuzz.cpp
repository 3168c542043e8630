// libFuzzer target: the BMP reader and the picture the engine makes of it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "mediaengine/stillimage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mediaengine::StillPicture picture;
  std::string error;
  if (mediaengine::LoadBmpPicture(data, size, &picture, &error)) {
    // What the reader accepted writes back as a file it reads again.
    std::vector<uint8_t> file = mediaengine::WriteBmp(picture.pixels.data(), picture.header.width,
                                                      picture.header.height);
    mediaengine::BmpImage again;
    if (!mediaengine::ReadBmp(file.data(), file.size(), &again, &error)) __builtin_trap();
  }
  return 0;
}
