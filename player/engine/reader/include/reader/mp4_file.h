// The player's reading view of one MP4 content file: OpenFile builds the
// whole atom tree and closes the file; samples are later read through each
// track's own stream. Every query tolerates missing atoms and returns its
// fixed default. Text results are new references that the caller releases.
#pragma once

#include <cstdint>

#include "reader/movie.h"
#include "reader/sample_table.h"
#include "reader/shared_wide_string.h"
#include "reader/user_data.h"

namespace reader {

class Mp4FileBase {
 public:
  virtual ~Mp4FileBase() = default;
};

// The 61 operations, in the player's slot order.
class Mp4FileApi : public Mp4FileBase {
 public:
  virtual int32_t ReadSample(uint32_t track, uint8_t* buffer, uint32_t capacity, uint32_t* descriptionIndex) = 0;
  virtual uint32_t GetLastSampleTime(uint32_t track) = 0;
  virtual uint8_t GetDownloadFlag1() = 0;
  virtual uint8_t GetDownloadFlag2() = 0;
  virtual uint32_t GetDownloadValue() = 0;
  virtual uint16_t GetContentVersion() = 0;
  virtual uint8_t GetRandomAccessFlag() = 0;
  virtual SharedWideString* GetKrmmText2() = 0;
  virtual SharedWideString* GetKrmmText3() = 0;
  virtual SharedWideString* GetKrmmText5() = 0;
  virtual SharedWideString* GetKrmmText6() = 0;
  virtual SharedWideString* GetKrmmText4() = 0;
  virtual SharedWideString* GetKrmmText1() = 0;
  // The table holds the string-6 query twice.
  virtual SharedWideString* GetKrmmText6Again() = 0;
  virtual uint32_t GetIodValue1() = 0;
  virtual uint32_t GetIodValue2() = 0;
  virtual uint8_t GetIodByte() = 0;
  virtual uint16_t GetBrandWord1() = 0;
  virtual uint16_t GetBrandWord2() = 0;
  virtual uint32_t GetBrandValue() = 0;
  virtual uint32_t GetTrackCount() = 0;
  virtual uint32_t GetTrackIds(uint32_t* ids, uint32_t max) = 0;
  // ids must have room for GetTrackCount() entries.
  virtual uint32_t GetTrackIdList(uint32_t* ids) = 0;
  virtual uint32_t GetDuration() = 0;
  virtual int64_t GetMovieTimescale() = 0;
  virtual uint16_t GetTrackContentVersion(uint32_t track) = 0;
  virtual void Reserved27() = 0;
  virtual float GetTrackFrameRate(uint32_t track) = 0;
  virtual uint16_t GetTrackIFrameInterval(uint32_t track) = 0;
  virtual uint32_t GetVideoInfoValue1(uint32_t track) = 0;
  virtual uint32_t GetVideoInfoValue2(uint32_t track) = 0;
  virtual int32_t GetTrackWmfmByte1(uint32_t track) = 0;
  virtual int32_t GetTrackWmfmByte2(uint32_t track) = 0;
  virtual int32_t GetTrackWmfmByte3(uint32_t track) = 0;
  virtual int32_t GetTrackWmfmByte4(uint32_t track) = 0;
  virtual int32_t GetTrackWmfmByte5(uint32_t track) = 0;
  virtual uint32_t GetTrackHeaderValue(uint32_t track) = 0;
  virtual uint32_t GetTrackDependency(uint32_t track) = 0;
  virtual uint32_t GetMediaDuration(uint32_t track) = 0;
  virtual int64_t GetMediaTimescale(uint32_t track) = 0;
  virtual int64_t GetTrackHandlerType(uint32_t track) = 0;
  virtual int64_t GetSampleEntryCount(uint32_t track) = 0;
  virtual SharedWideString* GetTrackCodecName(uint32_t track) = 0;
  virtual int32_t GetObjectTypeIndication(uint32_t track) = 0;
  virtual uint32_t GetMaxSampleSize(uint32_t track) = 0;
  virtual uint32_t GetTrackBitrate(uint32_t track) = 0;
  virtual const uint8_t* GetDecoderSpecificInfo(uint32_t track) = 0;
  virtual uint32_t GetDecoderSpecificInfoSize(uint32_t track) = 0;
  virtual const Mp4SampleEntry* GetSampleDescription(uint32_t track, uint32_t index) = 0;
  virtual int64_t GetSampleValue(uint32_t track, uint32_t index) = 0;
  virtual int64_t GetTableEntry(uint32_t track, uint32_t index) = 0;
  virtual uint32_t GetFileKind() = 0;
  virtual int32_t GetFileValue() = 0;
  virtual uint32_t SeekTracks(uint32_t startMs, uint32_t count, const uint32_t* ids) = 0;
  virtual void ResetTracks() = 0;
  virtual int32_t ReadSamples(uint32_t track, uint32_t* count, SampleRequest* request) = 0;
  virtual int32_t PeekSamples(uint32_t track, uint32_t* count, SampleRequest* samples) = 0;
  virtual uint8_t GetRequirementFlag2() = 0;
  virtual uint8_t GetRequirementFlag1() = 0;
  virtual uint32_t GetTrackValue60(uint32_t track) = 0;
};

class Mp4File final : public Mp4FileApi {
 public:
  // Opens path (one reference is added for the object); null when the file
  // cannot be opened. The caller checks ok() before use.
  static Mp4File* OpenFile(SharedWideString* path);
  // Whether the file opened last carried the maker's krmm user data.
  static bool LastOpenHadKrmm();

  Mp4File(std::FILE* file, SharedWideString* path);
  ~Mp4File() override;

  bool ok() const { return ok_; }
  int32_t error() const { return error_; }
  bool hasKrmm() const { return hasKrmm_; }
  Mp4UserDataAtom* userData() const { return userData_; }
  Mp4FileTypeAtom* fileType() const { return fileType_; }
  Mp4MovieAtom* movie() const { return movie_; }
  int32_t mediaDataCount() const { return mediaData_.count(); }

  int32_t ReadSample(uint32_t track, uint8_t* buffer, uint32_t capacity, uint32_t* descriptionIndex) override;
  uint32_t GetLastSampleTime(uint32_t track) override;
  uint8_t GetDownloadFlag1() override;
  uint8_t GetDownloadFlag2() override;
  uint32_t GetDownloadValue() override;
  uint16_t GetContentVersion() override;
  uint8_t GetRandomAccessFlag() override;
  SharedWideString* GetKrmmText2() override { return KrmmText(2); }
  SharedWideString* GetKrmmText3() override { return KrmmText(3); }
  SharedWideString* GetKrmmText5() override { return KrmmText(5); }
  SharedWideString* GetKrmmText6() override { return KrmmText(6); }
  SharedWideString* GetKrmmText4() override { return KrmmText(4); }
  SharedWideString* GetKrmmText1() override { return KrmmText(1); }
  SharedWideString* GetKrmmText6Again() override { return KrmmText(6); }
  uint32_t GetIodValue1() override;
  uint32_t GetIodValue2() override;
  uint8_t GetIodByte() override;
  uint16_t GetBrandWord1() override;
  uint16_t GetBrandWord2() override;
  uint32_t GetBrandValue() override;
  uint32_t GetTrackCount() override;
  uint32_t GetTrackIds(uint32_t* ids, uint32_t max) override;
  uint32_t GetTrackIdList(uint32_t* ids) override;
  uint32_t GetDuration() override;
  int64_t GetMovieTimescale() override;
  uint16_t GetTrackContentVersion(uint32_t track) override;
  void Reserved27() override {}
  float GetTrackFrameRate(uint32_t track) override;
  uint16_t GetTrackIFrameInterval(uint32_t track) override;
  uint32_t GetVideoInfoValue1(uint32_t track) override { return VideoInfoValue(track, 0); }
  uint32_t GetVideoInfoValue2(uint32_t track) override { return VideoInfoValue(track, 1); }
  int32_t GetTrackWmfmByte1(uint32_t track) override { return WmfmByte(track, 0); }
  int32_t GetTrackWmfmByte2(uint32_t track) override { return WmfmByte(track, 1); }
  int32_t GetTrackWmfmByte3(uint32_t track) override { return WmfmByte(track, 2); }
  int32_t GetTrackWmfmByte4(uint32_t track) override { return WmfmByte(track, 3); }
  int32_t GetTrackWmfmByte5(uint32_t track) override;
  uint32_t GetTrackHeaderValue(uint32_t track) override;
  uint32_t GetTrackDependency(uint32_t track) override;
  uint32_t GetMediaDuration(uint32_t track) override;
  int64_t GetMediaTimescale(uint32_t track) override;
  int64_t GetTrackHandlerType(uint32_t track) override;
  int64_t GetSampleEntryCount(uint32_t track) override;
  SharedWideString* GetTrackCodecName(uint32_t track) override;
  int32_t GetObjectTypeIndication(uint32_t track) override;
  uint32_t GetMaxSampleSize(uint32_t track) override;
  uint32_t GetTrackBitrate(uint32_t track) override;
  const uint8_t* GetDecoderSpecificInfo(uint32_t track) override;
  uint32_t GetDecoderSpecificInfoSize(uint32_t track) override;
  const Mp4SampleEntry* GetSampleDescription(uint32_t track, uint32_t index) override;
  int64_t GetSampleValue(uint32_t track, uint32_t index) override;
  int64_t GetTableEntry(uint32_t track, uint32_t index) override;
  uint32_t GetFileKind() override { return fileKind_; }
  int32_t GetFileValue() override { return fileValue_; }
  uint32_t SeekTracks(uint32_t startMs, uint32_t count, const uint32_t* ids) override;
  void ResetTracks() override;
  int32_t ReadSamples(uint32_t track, uint32_t* count, SampleRequest* request) override;
  int32_t PeekSamples(uint32_t track, uint32_t* count, SampleRequest* samples) override;
  uint8_t GetRequirementFlag2() override;
  uint8_t GetRequirementFlag1() override;
  uint32_t GetTrackValue60(uint32_t track) override;

  // The codec name of an object type indication ("UNKNOWN" for others).
  static const char16_t* CodecName(int32_t objectType);

 private:
  void Build(Mp4Stream& s);
  bool ScanTopLevel(Mp4Stream& s);
  void BuildTopLevel(Mp4Stream& s);
  bool Fail(int32_t code);
  Mp4TrackAtom* Track(uint32_t id) const { return movie_ ? movie_->FindTrack(id) : nullptr; }
  Mp4SampleTable* Table(uint32_t id) const;
  const DecoderSpecificInfo* Dsi(uint32_t id) const;
  SharedWideString* KrmmText(int i) const;
  uint32_t VideoInfoValue(uint32_t track, int i) const;
  int32_t WmfmByte(uint32_t track, int i) const;

  bool ok_ = true;
  int32_t error_ = 0;
  Mp4UserDataAtom* userData_ = nullptr;
  Mp4FileTypeAtom* fileType_ = nullptr;
  Mp4MovieAtom* movie_ = nullptr;
  OwnedArray<Mp4MediaDataAtom> mediaData_;
  int32_t fileValue_ = -1;
  uint32_t fileKind_ = 0;
  bool hasKrmm_ = false;
  SharedWideString* path_ = nullptr;
};

}  // namespace reader
