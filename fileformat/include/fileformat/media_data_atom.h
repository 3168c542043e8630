// mdat: one track's payload. A spooled atom streams every sample at once into
// its own temporary file, which holds the whole atom from the start and is
// copied into the output at render; the OD track's atom keeps its one
// descriptor sample in memory.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fileformat/atom.h"
#include "fileformat/descriptor.h"

namespace fileformat {

class TrackAtom;

class MediaDataAtom : public Atom {
 public:
  enum Mode : uint32_t { kInMemory = 0, kSpooled = 1 };

  MediaDataAtom(std::u16string baseName, std::u16string tag, Mode mode);
  ~MediaDataAtom() override;

  // Appends a sample to the spool. Returns the bytes that reached it: all of
  // them, or fewer after a write failure, from which on nothing is written.
  uint32_t writeSample(const uint8_t* data, uint32_t size);
  uint32_t addDescriptorSample(std::unique_ptr<BaseDescriptor> d);

  void render(std::ostream& out) const override;
  uint32_t payloadOffset() const { return payloadOffset_; }
  bool writeFailed() const { return writeFailed_; }
  bool copyFailed() const { return copyFailed_; }
  const std::u16string& spoolName() const { return spoolName_; }

  TrackAtom* track() const { return track_; }
  void setTrack(TrackAtom* t) { track_ = t; }

  // The spool counter: process-wide, handed out as decimal text.
  static void resetSpoolCounter();

 protected:
  uint64_t bodySize() const override;
  void renderBody(std::ostream&) const override {}

 private:
  void makeSpool();
  void reportWriteFailure();

  std::u16string spoolName_;
  std::u16string tag_;
  Mode mode_;
  uint32_t totalSize_ = 0;
  mutable uint32_t payloadOffset_ = 0;
  std::FILE* spool_ = nullptr;
  bool spoolMade_ = false;
  TrackAtom* track_ = nullptr;
  std::vector<std::unique_ptr<BaseDescriptor>> items_;
  bool writeFailed_ = false;
  mutable bool copyFailed_ = false;
};

}  // namespace fileformat
