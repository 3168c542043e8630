// mvhd: the movie's times, time scale, duration and next track identifier.
#pragma once

#include "fileformat/atom.h"

namespace fileformat {

class MovieHeaderAtom : public FullAtom {
 public:
  MovieHeaderAtom(uint8_t version = 0, uint32_t flags = 0);

  // Returns the next track identifier and advances it; the first call gives 1.
  uint32_t GetNextTrackID();
  // Called with each new sample's time stamp in milliseconds.
  void UpdateDuration(uint32_t timeMs);

  uint32_t timeScale() const { return timeScale_; }
  void setTimeScale(uint32_t scale) { timeScale_ = scale; }
  // The duration as written: up to the last time stamp plus the last gap.
  uint32_t writtenDuration() const;
  uint32_t creationTime() const { return creationTime_; }

 protected:
  uint64_t bodySize() const override { return 96; }
  void renderBody(std::ostream& out) const override;

 private:
  uint32_t creationTime_;
  uint32_t modificationTime_;
  uint32_t timeScale_ = 1000;
  uint32_t duration_ = 0;
  uint32_t nextTrackId_ = 1;
  uint32_t lastDurationValue_ = 0;
  uint32_t lastDurationIncrement_ = 0;
};

}  // namespace fileformat
