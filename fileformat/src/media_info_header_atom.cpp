#include "fileformat/media_info_header_atom.h"

#include "fileformat/render.h"

namespace fileformat {

std::unique_ptr<MediaInfoHeaderAtom> MediaInfoHeaderAtom::forHandler(uint32_t handlerType) {
  switch (handlerType) {
    case fourcc("hint"): return std::make_unique<HintMediaHeaderAtom>();
    case fourcc("soun"): return std::make_unique<SoundMediaHeaderAtom>();
    case fourcc("vide"): return std::make_unique<VideoMediaHeaderAtom>();
    default: return std::make_unique<MpegMediaHeaderAtom>(handlerType);
  }
}

VideoMediaHeaderAtom::VideoMediaHeaderAtom() : MediaInfoHeaderAtom(fourcc("vmhd"), 0, 1) {
  recomputeSize();
}

void VideoMediaHeaderAtom::renderBody(std::ostream& out) const {
  writeU32(out, 0);  // graphics mode and colour
  writeU32(out, 0);
}

SoundMediaHeaderAtom::SoundMediaHeaderAtom() : MediaInfoHeaderAtom(fourcc("smhd"), 0, 0) {
  recomputeSize();
}

void SoundMediaHeaderAtom::renderBody(std::ostream& out) const { writeU32(out, 0); }

HintMediaHeaderAtom::HintMediaHeaderAtom() : MediaInfoHeaderAtom(fourcc("hmhd"), 0, 0) {
  recomputeSize();
}

void HintMediaHeaderAtom::renderBody(std::ostream& out) const {
  writeU16(out, maxPduSize_);
  writeU16(out, avgPduSize_);
  writeU32(out, maxBitrate_);
  writeU32(out, avgBitrate_);
  writeU32(out, 0);
}

MpegMediaHeaderAtom::MpegMediaHeaderAtom(uint32_t handlerType)
    : MediaInfoHeaderAtom(fourcc("nmhd"), 0, 0), handlerType_(handlerType) {
  recomputeSize();
}

}  // namespace fileformat
