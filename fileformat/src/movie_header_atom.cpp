#include "fileformat/movie_header_atom.h"

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
  uint32_t units = msToUnits(timeMs, timeScale_);
  if (units <= duration_) return;
  lastDurationIncrement_ = units - lastDurationValue_;
  duration_ = units;
  lastDurationValue_ = duration_;
}

uint32_t MovieHeaderAtom::writtenDuration() const {
  return saturatingAdd(duration_, lastDurationIncrement_);
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
