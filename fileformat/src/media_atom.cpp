#include "fileformat/media_atom.h"

#include "fileformat/render.h"

namespace fileformat {

MediaInformationAtom::MediaInformationAtom(uint32_t handlerType, uint32_t mediaKind,
                                           uint32_t protocol)
    : ContainerAtom(fourcc("minf")) {
  recomputeSize();
  header_ = adopt(MediaInfoHeaderAtom::forHandler(handlerType));
  dinf_ = adopt(std::make_unique<DataInformationAtom>());
  stbl_ = adopt(std::make_unique<SampleTableAtom>(handlerType, mediaKind, protocol));
}

MediaAtom::MediaAtom(uint32_t handlerType, uint32_t mediaKind, uint32_t protocol)
    : ContainerAtom(fourcc("mdia")) {
  recomputeSize();
  mdhd_ = adopt(std::make_unique<MediaHeaderAtom>());
  hdlr_ = adopt(std::make_unique<HandlerAtom>(handlerType, 0, 0));
  minf_ = adopt(std::make_unique<MediaInformationAtom>(handlerType, mediaKind, protocol));
}

void MediaAtom::addSample(uint32_t mediaType, const uint8_t* data, uint32_t size, uint32_t time,
                          uint32_t flags) {
  minf_->addSample(mediaType, data, size, time, flags);
  mdhd_->SetDuration(time);
}

void MediaAtom::addVideoSample(uint32_t mediaType, const uint8_t* data, uint32_t size,
                               uint32_t time, uint32_t extra) {
  minf_->addVideoSample(mediaType, data, size, time, extra);
  mdhd_->SetDuration(time);
}

}  // namespace fileformat
