#include <windows.h>

#include "streaming/download_files.h"

namespace streaming {

bool MarkFileHidden(const char16_t* path) {
  return SetFileAttributesW(reinterpret_cast<LPCWSTR>(path), FILE_ATTRIBUTE_HIDDEN) != 0;
}

}  // namespace streaming
