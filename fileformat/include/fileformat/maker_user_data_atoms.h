// The maker's user-data atoms of the file-level udta: krmm (content texts),
// cver, rand, dnld, rqmt, and krti holding krsi with one krmi per media track.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "fileformat/atom.h"

namespace fileformat {

class KRUserDataAtom : public Atom {
 public:
  static constexpr const char16_t* kDefaultVersionText = u"Content V1.0 Scrivel V1.0 Build 128";
  KRUserDataAtom();
  void SetString1(std::u16string s) { setString(0, std::move(s)); }
  void SetString2(std::u16string s) { setString(1, std::move(s)); }
  void SetString3(std::u16string s) { setString(2, std::move(s)); }
  void SetString4(std::u16string s) { setString(3, std::move(s)); }
  void SetString5(std::u16string s) { setString(4, std::move(s)); }
  void SetString6(std::u16string s) { setString(5, std::move(s)); }
  void SetString7(std::u16string s) { setString(6, std::move(s)); }
  // Strings 1-7 by number; empty outside.
  const std::u16string& string(int n) const;
  void setString(size_t index, std::u16string s);

 protected:
  uint64_t bodySize() const override;
  void renderBody(std::ostream& out) const override;

 private:
  std::array<std::u16string, 7> strings_;
};

class ContentVersionAtom : public FullAtom {
 public:
  ContentVersionAtom();
  void SetVersion(uint8_t major, uint8_t minor) { version_ = uint16_t(major << 8 | minor); }
  uint16_t version() const { return version_; }

 protected:
  uint64_t bodySize() const override { return 4; }
  void renderBody(std::ostream& out) const override;

 private:
  uint16_t version_ = 0;
};

class RandomAccessAtom : public FullAtom {
 public:
  RandomAccessAtom();
  void setValue(uint8_t v) { value_ = v; }
  uint8_t value() const { return value_; }

 protected:
  uint64_t bodySize() const override { return 4; }
  void renderBody(std::ostream& out) const override;

 private:
  uint8_t value_ = 0;
};

class DownloadAtom : public Atom {
 public:
  DownloadAtom();
  // Bit 7 of the download value; the other bits stay.
  void SetDownloadFlag(bool on) { value_ = on ? (value_ | 0x80) : (value_ & 0x7F); }
  void setValue(uint8_t v) { value_ = v; }
  uint8_t value() const { return value_; }

 protected:
  uint64_t bodySize() const override { return 8; }
  void renderBody(std::ostream& out) const override;

 private:
  uint8_t value_ = 1;
  uint32_t extra_ = 0;
};

class RequirementsAtom : public FullAtom {
 public:
  RequirementsAtom();
  void setRequirement1(uint8_t v) { req1_ = v; }
  void setRequirement2(uint8_t v) { req2_ = v; }

 protected:
  uint64_t bodySize() const override { return 4; }
  void renderBody(std::ostream& out) const override;

 private:
  uint8_t req1_ = 0, req2_ = 0;
};

// krmi: what the player shows and seeks by for one media track. Fields 2 and
// 3 are known only after later parts of the file are written; they are
// patched in place.
class MediaInfoAtom : public FullAtom {
 public:
  void UpdateDuration(uint32_t timestamp, uint32_t timeScale);
  void PatchFirstValue(std::ostream& out, uint32_t v) const { patch(out, firstPos_, v); }
  void PatchSecondValue(std::ostream& out, uint32_t v) const { patch(out, secondPos_, v); }

  uint32_t trackId() const { return trackId_; }
  uint32_t mediaKind() const { return mediaKind_; }
  // The three values a track's kind sets when the track is added.
  void setKindFlags(uint32_t a, uint32_t b, uint32_t version);
  void setBitrate(uint32_t v) { bitrate_ = v; }
  void setTimeScale(uint32_t v) { timeScale_ = v; }
  void setWmfmValue(uint8_t v) { wmfmValue_ = v; }
  void setRandomAccess(uint8_t v) { randomAccess_ = v; }
  void setContentVersion(uint32_t v) { contentVersion_ = v; }
  void setBufferSize(uint32_t v) { bufferSize_ = v; }
  void setConfig(const uint8_t* data, uint32_t size);
  // The video parameters; an audio track keeps the first four.
  void setParameters(uint32_t a, uint32_t b, uint32_t fixedRate, uint32_t value16);
  void setDependsOn(uint32_t id) { dependsOn_ = id; }
  uint32_t writtenDuration() const { return saturatingDuration(); }

 protected:
  MediaInfoAtom(uint32_t kindFourcc, uint32_t trackId, uint32_t trackKind, bool video);
  uint64_t bodySize() const override;
  void renderBody(std::ostream& out) const override;

 private:
  static void patch(std::ostream& out, std::streamoff at, uint32_t v);
  uint32_t saturatingDuration() const;

  uint32_t mediaKind_;
  uint32_t trackKind_;
  uint32_t flagA_, flagB_;
  uint32_t bitrate_ = 0;
  uint32_t timeScale_ = 0;
  uint32_t trackId_;
  uint32_t duration_ = 0, lastValue_ = 0, lastIncrement_ = 0;
  uint8_t wmfmValue_ = 1;
  uint8_t randomAccess_ = 0;
  uint32_t contentVersion_;
  uint32_t bufferSize_ = 0;
  std::vector<uint8_t> config_;
  bool video_;
  uint32_t paramA_ = 0, paramB_ = 0, fixedRate_ = 0, value16_ = 0, dependsOn_ = 0;
  mutable std::streamoff firstPos_ = -1, secondPos_ = -1;
};

class VideoMediaInfoAtom : public MediaInfoAtom {
 public:
  VideoMediaInfoAtom(uint32_t trackId, uint32_t trackKind);
};

class AudioMediaInfoAtom : public MediaInfoAtom {
 public:
  AudioMediaInfoAtom(uint32_t trackId, uint32_t trackKind);
};

class SessionInfoAtom : public ContainerOf<FullAtom> {
 public:
  SessionInfoAtom();
  void AddMediaInfo(std::unique_ptr<MediaInfoAtom> info);
  MediaInfoAtom* FindMediaInfo(uint32_t trackId) const;
  // Only a later time stamp lengthens the session.
  void UpdateDuration(uint32_t timestamp, uint32_t timeScale);
  uint32_t value1 = 0, value2 = 0, value3 = 1;
  uint32_t writtenDuration() const;

 protected:
  uint64_t fieldsSize() const override { return 20; }
  void renderFields(std::ostream& out) const override;

 private:
  std::vector<uint32_t> trackIds_;
  uint32_t duration_ = 0, lastValue_ = 0, lastIncrement_ = 0;
};

class TrackInfoAtom : public ContainerAtom {
 public:
  TrackInfoAtom();
  SessionInfoAtom* session() const { return krsi_; }

 private:
  SessionInfoAtom* krsi_;
};

}  // namespace fileformat
