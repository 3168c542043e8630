#include "fileformat/media_header_atom.h"

#include <algorithm>

#include "fileformat/render.h"

namespace fileformat {

MediaHeaderAtom::MediaHeaderAtom()
    : FullAtom(fourcc("mdhd"), 0, 0),
      creationTime_(currentTime1904()),
      modificationTime_(creationTime_) {
  recomputeSize();
}

void MediaHeaderAtom::SetDuration(uint32_t time) {
  lastIncrement_ = time - lastValue_;
  duration_ = time;
  lastValue_ = time;
}

uint32_t MediaHeaderAtom::writtenDuration() const {
  // The increment is signed: a stamp that went back shortens, never wraps.
  int64_t d = int64_t(duration_) + int32_t(lastIncrement_);
  return static_cast<uint32_t>(std::clamp<int64_t>(d, 0, 0xFFFFFFFF));
}

void MediaHeaderAtom::renderBody(std::ostream& out) const {
  writeU32(out, creationTime_);
  writeU32(out, modificationTime_);
  writeU32(out, timeScale_);
  writeU32(out, writtenDuration());
  writeU16(out, language_);
  writeU16(out, 0);
}

}  // namespace fileformat
