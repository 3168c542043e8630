// mdhd: the track's media time scale and duration.
#pragma once

#include "fileformat/atom.h"

namespace fileformat {

class MediaHeaderAtom : public FullAtom {
 public:
  MediaHeaderAtom();
  // Every call replaces the duration: the written value is the last time plus
  // the last gap between times (in media units).
  void SetDuration(uint32_t time);
  void setTimeScale(uint32_t scale) { timeScale_ = scale; }
  uint32_t timeScale() const { return timeScale_; }
  uint32_t writtenDuration() const;

 protected:
  uint64_t bodySize() const override { return 20; }
  void renderBody(std::ostream& out) const override;

 private:
  uint32_t creationTime_;
  uint32_t modificationTime_;
  uint32_t timeScale_ = 1000;
  uint32_t duration_ = 0;
  uint16_t language_ = 0;
  uint32_t lastValue_ = 0;
  uint32_t lastIncrement_ = 0;
};

}  // namespace fileformat
