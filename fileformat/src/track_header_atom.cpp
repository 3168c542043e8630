#include "fileformat/track_header_atom.h"

#include "fileformat/render.h"

namespace fileformat {

TrackHeaderAtom::TrackHeaderAtom(uint32_t handlerType, uint32_t trackId, uint8_t version,
                                 uint32_t flags)
    : FullAtom(fourcc("tkhd"), version, flags),
      creationTime_(currentTime1904()),
      modificationTime_(creationTime_),
      trackId_(trackId),
      // 320 x 240 is what stored files and the player's reader expect.
      volume_(handlerType == fourcc("soun") ? 0x0100 : 0),
      width_(handlerType == fourcc("vide") ? 0x01400000 : 0),
      height_(handlerType == fourcc("vide") ? 0x00F00000 : 0),
      handlerType_(handlerType) {
  recomputeSize();
}

void TrackHeaderAtom::setDurationMs(uint32_t ms) {
  uint32_t d = msToUnits(ms, movieTimeScale_);
  lastIncrement_ = d - previousDuration_;
  previousDuration_ = d;
  duration_ = d;
}

uint32_t TrackHeaderAtom::writtenDuration() const {
  return saturatingAdd(duration_, lastIncrement_);
}

void TrackHeaderAtom::renderBody(std::ostream& out) const {
  writeU32(out, creationTime_);
  writeU32(out, modificationTime_);
  writeU32(out, trackId_);
  writeU32(out, 0);
  writeU32(out, writtenDuration());
  writeU32(out, 0);
  writeU32(out, 0);
  writeU32(out, layerAndGroup_);
  writeU16(out, volume_);
  writeU16(out, 0);
  static constexpr uint32_t kIdentity[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
  for (uint32_t m : kIdentity) writeU32(out, m);
  writeU32(out, width_);
  writeU32(out, height_);
}

}  // namespace fileformat
