// The movie (moov) and everything between it and the sample tables: movie
// header, tracks with header, references and edits, media with header,
// handler and media information, plus the top-level ftyp and mdat.
#pragma once

#include <cstdint>
#include <vector>

#include "reader/descriptors.h"
#include "reader/grow_array.h"
#include "reader/mp4_atom.h"
#include "reader/sample_table.h"
#include "reader/user_data.h"

namespace reader {

// Version 0 (32-bit) and version 1 (64-bit) times and durations are both read;
// durations beyond 32 bits are kept whole and reported saturated.
class Mp4MovieHeaderAtom : public Mp4FullAtom {
 public:
  Mp4MovieHeaderAtom(Mp4Stream& s, uint64_t limit);
  uint64_t creationTime = 0, modificationTime = 0;
  uint32_t timescale = 0;
  uint64_t duration = 0;
  uint32_t nextTrackId = 0;
};

class Mp4TrackHeaderAtom : public Mp4FullAtom {
 public:
  Mp4TrackHeaderAtom(Mp4Stream& s, uint64_t limit);
  uint64_t creationTime = 0, modificationTime = 0;
  uint32_t trackId = 0;
  uint64_t duration = 0;
  uint32_t layerAndGroup = 0;
  uint16_t volume = 0;
  uint32_t matrix[9] = {};
  uint32_t width = 0, height = 0;  // 16.16
  uint32_t trackKind = 10;         // 'soun', 'vide' or 10
};

// A reference-type child of tref (dpnd, mpod, hint...).
class Mp4TrackReferenceTypeAtom : public Mp4Atom {
 public:
  Mp4TrackReferenceTypeAtom(Mp4Stream& s, uint64_t limit);
  std::vector<uint32_t> trackIds;
};

class Mp4TrackReferenceAtom : public Mp4Atom {
 public:
  Mp4TrackReferenceAtom(Mp4Stream& s, uint64_t limit);
  ~Mp4TrackReferenceAtom() override { delete reference; }
  Mp4TrackReferenceTypeAtom* reference = nullptr;
  // The first referenced track id; 0 when there is none.
  uint32_t FirstTrackId() const;
};

class Mp4EditListAtom : public Mp4FullAtom {
 public:
  Mp4EditListAtom(Mp4Stream& s, uint64_t limit);
  std::vector<uint32_t> segmentDuration, mediaTime;
  std::vector<uint16_t> rateInteger, rateFraction;
};

class Mp4EditAtom : public Mp4Atom {
 public:
  Mp4EditAtom(Mp4Stream& s, uint64_t limit);
  OwnedArray<Mp4EditListAtom> lists;
};

class Mp4MediaHeaderAtom : public Mp4FullAtom {
 public:
  Mp4MediaHeaderAtom(Mp4Stream& s, uint64_t limit);
  uint64_t creationTime = 0, modificationTime = 0;
  uint32_t timescale = 0;
  uint64_t duration = 0;
  uint16_t language = 0, preDefined = 0;
};

class Mp4HandlerAtom : public Mp4FullAtom {
 public:
  Mp4HandlerAtom(Mp4Stream& s, uint64_t limit);
  ~Mp4HandlerAtom() override { ReleaseText(name); }
  uint32_t handlerType = 0;
  SharedWideString* name = nullptr;
};

// vmhd, smhd, hmhd, nmhd
class Mp4MediaInfoHeaderAtom : public Mp4FullAtom {
 public:
  Mp4MediaInfoHeaderAtom(Mp4Stream& s, uint64_t limit, uint32_t handlerType);
  uint64_t graphicsModeAndColour = 0;  // vmhd
  uint32_t balance = 0;                // smhd
  uint16_t maxPduSize = 0, averagePduSize = 0;
  uint32_t maxBitrate = 0, averageBitrate = 0;  // hmhd
  uint32_t handlerType = 0;                     // nmhd
};

// url and urn entries
class Mp4DataEntryAtom : public Mp4FullAtom {
 public:
  Mp4DataEntryAtom(Mp4Stream& s, uint64_t limit);
  ~Mp4DataEntryAtom() override { ReleaseText(location); }
  SharedWideString* location = nullptr;
};

class Mp4DataReferenceAtom : public Mp4FullAtom {
 public:
  Mp4DataReferenceAtom(Mp4Stream& s, uint64_t limit);
  uint32_t entryCount = 0;
  OwnedArray<Mp4DataEntryAtom> entries;
};

class Mp4DataInformationAtom : public Mp4Atom {
 public:
  Mp4DataInformationAtom(Mp4Stream& s, uint64_t limit);
  ~Mp4DataInformationAtom() override { delete dref; }
  Mp4DataReferenceAtom* dref = nullptr;
};

class Mp4MediaInformationAtom : public Mp4Atom {
 public:
  Mp4MediaInformationAtom(Mp4Stream& s, uint64_t limit, uint32_t handlerType, SharedWideString* path);
  ~Mp4MediaInformationAtom() override;
  Mp4MediaInfoHeaderAtom* mediaHeader = nullptr;
  Mp4DataInformationAtom* dinf = nullptr;
  Mp4SampleTable* stbl = nullptr;
};

class Mp4MediaAtom : public Mp4Atom {
 public:
  Mp4MediaAtom(Mp4Stream& s, uint64_t limit, SharedWideString* path);
  ~Mp4MediaAtom() override;
  Mp4MediaHeaderAtom* mdhd = nullptr;
  Mp4HandlerAtom* hdlr = nullptr;
  Mp4MediaInformationAtom* minf = nullptr;
};

class Mp4TrackAtom : public Mp4Atom {
 public:
  Mp4TrackAtom(Mp4Stream& s, uint64_t limit, SharedWideString* path);
  ~Mp4TrackAtom() override;

  uint32_t TrackId() const { return tkhd ? tkhd->trackId : 0; }
  // The sample table, or null when the track has none.
  Mp4SampleTable* SampleTable() const;
  // Media timescale; -1 without media header.
  int64_t MediaTimescale() const;
  // The next sample as the track's decoder takes it: AMR frames converted to
  // IF2, other audio and video as stored; 0 when there is nothing to deliver.
  int32_t ReadSampleForDecoder(uint8_t* buffer, uint32_t capacity, uint32_t* descriptionIndex);

  Mp4TrackHeaderAtom* tkhd = nullptr;
  Mp4TrackReferenceAtom* tref = nullptr;
  Mp4EditAtom* edts = nullptr;
  Mp4MediaAtom* mdia = nullptr;
  Mp4UserDataAtom* udta = nullptr;
  uint32_t handlerType = 10;
  uint32_t startOffset = 0;

 private:
  std::vector<uint8_t> scratch_;
};

class Mp4MovieAtom : public Mp4Atom {
 public:
  // makerContent: the file's user data carries krmm, so every track must
  // pass the track-level content version check.
  Mp4MovieAtom(Mp4Stream& s, uint64_t limit, SharedWideString* path, bool makerContent);
  ~Mp4MovieAtom() override;

  Mp4TrackAtom* FindTrack(uint32_t trackId) const;
  // Copies at most max ids in list order; returns the number copied.
  uint32_t TrackIds(uint32_t* ids, uint32_t max) const;
  uint32_t TrackCount() const { return static_cast<uint32_t>(tracks.count()); }
  void ResetTracks();

  Mp4MovieHeaderAtom* mvhd = nullptr;
  Mp4ObjectDescriptorAtom* iods = nullptr;
  Mp4UserDataAtom* udta = nullptr;
  OwnedArray<Mp4TrackAtom> tracks;
  uint32_t mediaFlags = 0;  // bit 0 audio, bit 1 video
  int32_t videoCounter = -1;

 private:
  int32_t PreScanTrack(Mp4Stream& s);
  bool AddTrack(Mp4Stream& s, SharedWideString* path);
};

class Mp4FileTypeAtom : public Mp4Atom {
 public:
  Mp4FileTypeAtom(Mp4Stream& s, uint64_t limit);
  uint16_t majorBrandHigh = 0, majorBrandLow = 0;
  uint32_t minorVersion = 0;
  GrowArray<uint32_t> compatibleBrands;
  uint32_t MajorBrand() const { return (uint32_t(majorBrandHigh) << 16) | majorBrandLow; }
};

class Mp4MediaDataAtom : public Mp4Atom {
 public:
  Mp4MediaDataAtom(Mp4Stream& s, uint64_t limit, SharedWideString* path);
  ~Mp4MediaDataAtom() override { ReleaseText(path_); }
  bool present = false;

 private:
  SharedWideString* path_ = nullptr;
};

}  // namespace reader
