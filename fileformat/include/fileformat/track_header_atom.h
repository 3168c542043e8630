// tkhd: the track's id, duration in movie units and presentation defaults.
#pragma once

#include "fileformat/atom.h"

namespace fileformat {

class TrackHeaderAtom : public FullAtom {
 public:
  TrackHeaderAtom(uint32_t handlerType, uint32_t trackId, uint8_t version = 0, uint32_t flags = 1);
  // The duration follows each sample's time stamp in milliseconds.
  void setDurationMs(uint32_t ms);
  void setMovieTimeScale(uint32_t scale) { movieTimeScale_ = scale; }
  uint32_t movieTimeScale() const { return movieTimeScale_; }
  uint32_t trackId() const { return trackId_; }
  uint32_t handlerType() const { return handlerType_; }
  uint32_t writtenDuration() const;

 protected:
  uint64_t bodySize() const override { return 80; }
  void renderBody(std::ostream& out) const override;

 private:
  uint32_t creationTime_;
  uint32_t modificationTime_;
  uint32_t trackId_;
  uint32_t duration_ = 0;
  uint32_t layerAndGroup_ = 0;
  uint16_t volume_;
  uint32_t width_;   // 16.16
  uint32_t height_;  // 16.16
  uint32_t handlerType_;
  uint32_t movieTimeScale_ = 0;
  uint32_t previousDuration_ = 0;
  uint32_t lastIncrement_ = 0;
};

}  // namespace fileformat
