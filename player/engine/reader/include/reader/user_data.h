// User data (udta) at file, movie and track level with the maker's atoms:
// content information texts, content version, random access, requirements,
// download, video information, the wmf set atoms and the track information
// tree in its 2.0 and 3.0 layouts.
#pragma once

#include <cstdint>
#include <vector>

#include "reader/mp4_atom.h"
#include "reader/shared_wide_string.h"

namespace reader {

// cver
class Mp4ContentVersionAtom : public Mp4FullAtom {
 public:
  Mp4ContentVersionAtom(Mp4Stream& s, uint64_t limit);
  uint16_t contentVersion = 0;  // major in the high byte
};

// rand
class Mp4RandomAccessAtom : public Mp4FullAtom {
 public:
  Mp4RandomAccessAtom(Mp4Stream& s, uint64_t limit);
  uint8_t randomAccess = 0;
};

// rqmt
class Mp4RequirementsAtom : public Mp4FullAtom {
 public:
  Mp4RequirementsAtom(Mp4Stream& s, uint64_t limit);
  uint8_t flag1 = 0;
  uint8_t flag2 = 0;
  uint16_t value = 0;
};

// dnld
class Mp4DownloadAtom : public Mp4Atom {
 public:
  Mp4DownloadAtom(Mp4Stream& s, uint64_t limit);
  bool flag1 = false;  // bit 7 of the first byte
  bool flag2 = false;  // bit 0 of the first byte
  uint32_t value = 0;
};

// vinf
class Mp4VideoInfoAtom : public Mp4FullAtom {
 public:
  Mp4VideoInfoAtom(Mp4Stream& s, uint64_t limit);
  float frameRate = 0.0f;
  uint8_t rateInteger = 0;
  uint8_t rateHundredths = 0;
  uint16_t secondValue = 0;  // the I-frame interval
};

// wmfs
class Mp4WmfSessionAtom : public Mp4FullAtom {
 public:
  Mp4WmfSessionAtom(Mp4Stream& s, uint64_t limit);
  uint32_t value1 = 0;
  uint32_t value2 = 0;
  bool flag = false;
};

// wmfm
class Mp4WmfMediaAtom : public Mp4FullAtom {
 public:
  Mp4WmfMediaAtom(Mp4Stream& s, uint64_t limit);
  bool flag = false;
  uint8_t bytes[4] = {};
};

// krmm: seven texts (1 version text, 2 title, 3 author, 4 copyright,
// 5 description, 6 rating, 7 creation date).
class Mp4KrUserDataAtom : public Mp4Atom {
 public:
  Mp4KrUserDataAtom(Mp4Stream& s, uint64_t limit);
  ~Mp4KrUserDataAtom() override;
  SharedWideString* texts[7] = {};
};

// One media record of the track information: a 3.0 krmi or a 2.0 record.
struct KrMediaInfo {
  uint32_t fields[15] = {};  // 1 kind, 9 track id, 13 content version, 15 block length
  std::vector<uint8_t> block;
  uint32_t extra[5] = {};  // four for audio, five for video
  uint32_t kind() const { return fields[0]; }
  uint32_t trackId() const { return fields[8]; }
  uint32_t version() const { return fields[12]; }
};

// krmi
class Mp4KrMediaInfoAtom : public Mp4FullAtom {
 public:
  Mp4KrMediaInfoAtom(Mp4Stream& s, uint64_t limit);
  KrMediaInfo info;
};

// krsi
class Mp4KrSessionInfoAtom : public Mp4FullAtom {
 public:
  Mp4KrSessionInfoAtom(Mp4Stream& s, uint64_t limit);
  ~Mp4KrSessionInfoAtom() override;
  uint32_t values[5] = {};  // the fifth is the media count
  std::vector<Mp4KrMediaInfoAtom*> media;
  uint32_t version3Count = 0;
};

// krti
class Mp4TrackInfoAtom : public Mp4Atom {
 public:
  Mp4TrackInfoAtom(Mp4Stream& s, uint64_t limit);
  ~Mp4TrackInfoAtom() override { delete sessionInfo; }
  bool layout3 = false;
  Mp4KrSessionInfoAtom* sessionInfo = nullptr;  // 3.0
  uint32_t values[5] = {};                      // 2.0; the fifth is the media count
  std::vector<KrMediaInfo> records;             // 2.0
  uint32_t mediaCount = 0;                      // media counted, read or not
  uint32_t version3Count = 0;
  // Media record i, or null past the count.
  const KrMediaInfo* Media(uint32_t i) const;
  uint32_t MediaRecordCount() const;
};

class Mp4UserDataAtom : public Mp4Atom {
 public:
  Mp4UserDataAtom(Mp4Stream& s, uint64_t limit);
  ~Mp4UserDataAtom() override;

  // The child of that type, or null.
  Mp4Atom* Child(uint32_t type) const;

  uint16_t ContentVersion() const { return cver ? cver->contentVersion : 0; }
  float FrameRate() const { return vinf ? vinf->frameRate : 0.0f; }
  uint16_t VideoInfoValue2() const { return vinf ? vinf->secondValue : 0; }
  int32_t WmfmByte(int i) const { return wmfm && i >= 0 && i < 4 ? wmfm->bytes[i] : -1; }
  uint8_t WmfmFlag() const { return wmfm && wmfm->flag ? 1 : 0; }

  Mp4WmfMediaAtom* wmfm = nullptr;
  Mp4WmfSessionAtom* wmfs = nullptr;
  Mp4KrUserDataAtom* krmm = nullptr;
  Mp4RequirementsAtom* rqmt = nullptr;
  Mp4RandomAccessAtom* rand = nullptr;
  Mp4ContentVersionAtom* cver = nullptr;
  Mp4VideoInfoAtom* vinf = nullptr;
  Mp4TrackInfoAtom* krti = nullptr;
  Mp4DownloadAtom* dnld = nullptr;
};

}  // namespace reader
