// libFuzzer target over the skin parser and the player's skin check.
#include <cstddef>
#include <cstdint>

#include "shell/portable/skin_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  shell::SkinFile skin;
  if (shell::ParseSkin(data, size, &skin) == shell::SkinResult::kOk) shell::CheckPlayerSkin(skin);
  return 0;
}
