// CImgFile: still images from and to files. BMP goes through the portable
// reader and writer; JPEG through the system's imaging codecs (WIC), which
// take the place of the outside JPEG library.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "mediaengine/stillimage.h"

namespace mediaengine {

class CImgFile {
 public:
  CImgFile() = default;
  virtual ~CImgFile() = default;
  CImgFile(const CImgFile&) = delete;
  CImgFile& operator=(const CImgFile&) = delete;

  // Loads a ".bmp", ".jpg" or ".jpeg" file as the engine's picture: a 24-bit
  // bottom-up bitmap of at most 1280 x 1024. The pixels stay owned by this
  // object until the next Load, Free or its destruction.
  HRESULT Load(LPCWSTR path, BITMAPINFOHEADER* header, const BYTE** pixels);
  // Type 1 BMP, 2 JPEG; the picture is not changed.
  HRESULT Save(LPCWSTR path, LONG type, const BITMAPINFOHEADER* header, const BYTE* pixels);

  // The four codecs; on failure the error text says why.
  bool ReadBmp(LPCWSTR path, StillPicture* picture);
  bool WriteBmp(LPCWSTR path, const BYTE* pixels, int width, int height);
  bool ReadJpeg(LPCWSTR path, StillPicture* picture);
  // Bottom-up padded rows, written as YCbCr with chroma halved both ways at
  // quality 75.
  bool WriteJpeg(LPCWSTR path, const BYTE* pixels, int width, int height);

  void Free();
  const std::string& LastError() const { return error_; }

 private:
  StillPicture picture_;
  std::string error_;
};

}  // namespace mediaengine
