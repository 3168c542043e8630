// mdia (mdhd, hdlr, minf) and minf (media header, dinf, stbl): the way from a
// track to its sample table.
#pragma once

#include "fileformat/data_information_atom.h"
#include "fileformat/handler_atom.h"
#include "fileformat/media_header_atom.h"
#include "fileformat/media_info_header_atom.h"
#include "fileformat/sample_table_atom.h"

namespace fileformat {

class MediaInformationAtom : public ContainerAtom {
 public:
  MediaInformationAtom(uint32_t handlerType, uint32_t mediaKind, uint32_t protocol);
  void addSample(uint32_t mediaType, const uint8_t* data, uint32_t size, uint32_t time,
                 uint32_t flags) {
    stbl_->addSample(mediaType, data, size, time, flags);
  }
  void addVideoSample(uint32_t mediaType, const uint8_t* data, uint32_t size, uint32_t time,
                      uint32_t extra) {
    stbl_->addVideoSample(mediaType, data, size, time, extra);
  }
  SampleTableAtom* stbl() const { return stbl_; }
  MediaInfoHeaderAtom* mediaHeader() const { return header_; }

 private:
  MediaInfoHeaderAtom* header_;
  DataInformationAtom* dinf_;
  SampleTableAtom* stbl_;
};

class MediaAtom : public ContainerAtom {
 public:
  MediaAtom(uint32_t handlerType, uint32_t mediaKind, uint32_t protocol);
  void addSample(uint32_t mediaType, const uint8_t* data, uint32_t size, uint32_t time,
                 uint32_t flags);
  void addVideoSample(uint32_t mediaType, const uint8_t* data, uint32_t size, uint32_t time,
                      uint32_t extra);
  MediaHeaderAtom* mdhd() const { return mdhd_; }
  HandlerAtom* hdlr() const { return hdlr_; }
  MediaInformationAtom* minf() const { return minf_; }
  SampleTableAtom* stbl() const { return minf_->stbl(); }

 private:
  MediaHeaderAtom* mdhd_;
  HandlerAtom* hdlr_;
  MediaInformationAtom* minf_;
};

}  // namespace fileformat
