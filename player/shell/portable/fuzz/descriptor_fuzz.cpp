// libFuzzer target over the clip descriptor parser: any body either reads
// or is refused, and a good read keeps its fields inside their room.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "shell/portable/clip_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  shell::ClipDescriptor d;
  const uint32_t result = shell::ParseClipDescriptor(data, size, 0x300, &d);
  if (result != shell::kDescriptorOk && result != shell::kDescriptorBad) std::abort();
  if (result == shell::kDescriptorOk) {
    if (d.title.size() > shell::kDescriptorTextBytes || d.secondText.size() > shell::kDescriptorTextBytes)
      std::abort();
    if (std::strlen(d.name) >= sizeof d.name || d.urlKind > shell::kUrlHttp) std::abort();
  }
  return 0;
}
