// The media-specific headers that open minf: vmhd, smhd, hmhd and nmhd.
#pragma once

#include <memory>

#include "fileformat/atom.h"

namespace fileformat {

class MediaInfoHeaderAtom : public FullAtom {
 public:
  using FullAtom::FullAtom;
  // The header minf makes for a handler type.
  static std::unique_ptr<MediaInfoHeaderAtom> forHandler(uint32_t handlerType);
};

class VideoMediaHeaderAtom : public MediaInfoHeaderAtom {
 public:
  VideoMediaHeaderAtom();

 protected:
  uint64_t bodySize() const override { return 8; }
  void renderBody(std::ostream& out) const override;
};

class SoundMediaHeaderAtom : public MediaInfoHeaderAtom {
 public:
  SoundMediaHeaderAtom();

 protected:
  uint64_t bodySize() const override { return 4; }
  void renderBody(std::ostream& out) const override;
};

class HintMediaHeaderAtom : public MediaInfoHeaderAtom {
 public:
  HintMediaHeaderAtom();

 protected:
  uint64_t bodySize() const override { return 16; }
  void renderBody(std::ostream& out) const override;

 private:
  uint16_t maxPduSize_ = 0, avgPduSize_ = 0;
  uint32_t maxBitrate_ = 0, avgBitrate_ = 0;
};

class MpegMediaHeaderAtom : public MediaInfoHeaderAtom {
 public:
  explicit MpegMediaHeaderAtom(uint32_t handlerType);
  uint32_t handlerType() const { return handlerType_; }

 protected:
  uint64_t bodySize() const override { return 0; }
  void renderBody(std::ostream&) const override {}

 private:
  uint32_t handlerType_;
};

}  // namespace fileformat
