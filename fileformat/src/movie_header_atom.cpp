#include "fileformat/movie_header_atom.h"

#include <algorithm>
#include <limits>

#include "fileformat/render.h"

namespace fileformat {

MovieHeaderAtom::MovieHeaderAtom(uint8_t version, uint32_t flags)
    : FullAtom(fourcc("mvhd"), version, flags),
      creationTime_(currentTime1904()),
      modificationTime_(creationTime_) {
  recomputeSize();
}

uint32_t MovieHeaderAtom::GetNextTrackID() { return nextTrackId_++; }

void MovieHeaderAtom::UpdateDuration(uint32_t timeMs) {
  // Rounded to the nearest unit in integers: the same as a float computation
  // at the writer's time scale of 1000, without its drift on long recordings.
  uint64_t units = (uint64_t(timeScale_) * timeMs + 500) / 1000;
  units = std::min<uint64_t>(units, std::numeric_limits<uint32_t>::max());
  if (units <= duration_) return;
  lastDurationIncrement_ = static_cast<uint32_t>(units) - lastDurationValue_;
  duration_ = static_cast<uint32_t>(units);
  lastDurationValue_ = duration_;
}

uint32_t MovieHeaderAtom::writtenDuration() const {
  uint64_t d = uint64_t(duration_) + lastDurationIncrement_;
  return static_cast<uint32_t>(std::min<uint64_t>(d, std::numeric_limits<uint32_t>::max()));
}

void MovieHeaderAtom::renderBody(std::ostream& out) const {
  writeU32(out, creationTime_);
  writeU32(out, modificationTime_);
  writeU32(out, timeScale_);
  writeU32(out, writtenDuration());
  writeU32(out, 0x00010000);  // preferred rate 1.0
  writeU16(out, 0x0100);      // preferred volume 1.0
  writeU16(out, 0);
  writeU32(out, 0);
  writeU32(out, 0);
  static constexpr uint32_t kIdentity[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
  for (uint32_t m : kIdentity) writeU32(out, m);
  for (int i = 0; i < 6; ++i) writeU32(out, 0);
  writeU32(out, nextTrackId_);
}

}  // namespace fileformat
