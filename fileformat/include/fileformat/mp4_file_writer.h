// The file object: owns the atom tree of one MP4 content file, spools each
// track's samples while a recording runs and writes the file at the end.
#pragma once

#include <memory>
#include <vector>

#include "fileformat/file_type_atom.h"
#include "fileformat/maker_user_data_atoms.h"
#include "fileformat/media_data_atom.h"
#include "fileformat/movie_atom.h"
#include "fileformat/mp4_writer_api.h"
#include "fileformat/object_descriptor.h"

namespace fileformat {

class MP4FileWriter : public MP4WriterApi {
 public:
  // presentationKind: 1 video only, 2 and 4 audio only, 3 and 5 both.
  // videoHintMode: 1 one 'krts' hint track for the first video track, 0 a
  // 'krbl' hint track per video track, else none.
  static std::unique_ptr<MP4WriterApi> Create(uint32_t presentationKind, uint32_t videoHintMode,
                                              std::u16string spoolBaseName,
                                              std::u16string spoolTag, uint32_t legacyLayout,
                                              uint32_t createHintTracks);

  MP4FileWriter() = default;
  ~MP4FileWriter() override;
  void Open(uint32_t presentationKind, uint32_t videoHintMode, uint32_t legacyLayout,
            uint32_t createHintTracks);

  void SetContentText1(std::u16string s) override { krmm_->SetString1(std::move(s)); }
  void SetContentText2(std::u16string s) override { krmm_->SetString2(std::move(s)); }
  void SetContentText3(std::u16string s) override { krmm_->SetString3(std::move(s)); }
  void SetContentText4(std::u16string s) override { krmm_->SetString4(std::move(s)); }
  void SetContentText5(std::u16string s) override { krmm_->SetString5(std::move(s)); }
  void SetContentText6(std::u16string s) override { krmm_->SetString6(std::move(s)); }
  void SetContentText7(std::u16string s) override { krmm_->SetString7(std::move(s)); }
  void SetMovieTimeScale(uint32_t scale) override;
  void AddLayeredVideoSample(const uint8_t* data, uint32_t size, uint32_t timestamp, uint32_t flag,
                             uint32_t extra) override;
  void AddAudioPacket(const uint8_t* data, uint32_t size, uint32_t timestamp, uint32_t flag,
                      uint32_t position) override;
  void AddVideoSample(const uint8_t* data, uint32_t size, uint32_t timestamp,
                      uint32_t flag) override;
  std::u16string GetContentText(int n) const override { return krmmText(n); }
  uint32_t GetVideoHintMode() const override { return videoHintMode_; }
  uint32_t GetPresentationKind() const override { return presentationKind_; }
  void SetDecoderConfig(const uint8_t* data, uint32_t size, uint32_t track) override;
  const std::string& GetSceneDecoderConfig() const override { return sceneConfig_; }
  void SetSceneDecoderConfig(const uint8_t* data, uint32_t size) override;
  bool WriteToFile(std::u16string fileName) override;
  void SetSpoolTag(std::u16string tag) override { spoolTag_ = std::move(tag); }
  uint32_t AddTrack(uint32_t handler, uint32_t kind) override;
  bool AddSample(uint32_t track, const uint8_t* data, uint32_t size, uint32_t timestamp,
                 uint32_t flag) override;
  void AddTrackDependency(uint32_t track, uint32_t referencedTrack) override;
  void SetBitrate(uint32_t track, uint32_t bitsPerSecond) override;
  void SetMediaTimeScale(uint32_t track, uint32_t scale) override;
  void SetDecoderBufferSize(uint32_t track, uint32_t bytes) override;
  void SetMajorBrand(uint32_t brand) override;
  void SetMinorVersion(uint32_t version) override;
  void AddCompatibleBrand(uint32_t brand) override;
  void SetSessionValue1(uint32_t v) override { setSessionValue(1, v); }
  void SetSessionValue2(uint32_t v) override { setSessionValue(2, v); }
  void SetSessionValue3(uint32_t v) override { setSessionValue(3, v); }
  void SetTrackWmfmValue(uint32_t track, uint32_t value) override;
  void SetTrackRandomAccess(uint32_t track, uint8_t value) override;
  void SetRandomAccess(uint8_t value) override { rand_->setValue(value); }
  void SetDownload(uint32_t value) override;
  void SetTrackVersion(uint32_t track, uint8_t major, uint8_t minor) override;
  void SetContentVersion(uint8_t major, uint8_t minor) override { cver_->SetVersion(major, minor); }
  void SetRequirement1(uint8_t value) override { rqmt_->setRequirement1(value); }
  void SetRequirement2(uint8_t value) override { rqmt_->setRequirement2(value); }
  void SetVideoParameters(uint32_t track, float frameRate, uint16_t value16, uint32_t valueA,
                          uint32_t valueB) override;
  bool Render(std::ostream& out) override;
  void SetSpoolBaseName(std::u16string name) override { spoolBaseName_ = std::move(name); }

  // The sum of the sizes of everything the file will hold so far.
  uint64_t computeTotalSize() const;
  const MovieAtom* movie() const { return moov_.get(); }
  const std::vector<std::unique_ptr<MediaDataAtom>>& mediaData() const { return mdats_; }

 private:
  std::u16string krmmText(int n) const;
  void setSessionValue(int n, uint32_t v);
  MediaInfoAtom* mediaInfo(uint32_t track) const;
  MediaDataAtom* mediaDataFor(const TrackAtom* t) const;
  MediaDataAtom* registerMediaData();
  void addHintTrack(TrackAtom* media, uint32_t kind, uint32_t subKind);
  bool writeAndAdd(TrackAtom* t, const uint8_t* data, uint32_t size, uint32_t timestamp,
                   uint32_t flag);
  void legacyAdd(const char* what);

  bool modifiable_ = false;
  bool rendered_ = false;
  uint32_t presentationKind_ = 0;
  uint32_t videoHintMode_ = 0;
  uint32_t legacyLayout_ = 0;
  uint32_t createHintTracks_ = 0;
  uint32_t downloadValue_ = 0;
  bool firstVideoPending_ = false;
  bool scalableSwitchPending_ = false;
  bool renderFailed_ = false;
  std::u16string spoolBaseName_;
  std::u16string spoolTag_;
  std::string sceneConfig_;

  std::unique_ptr<UserDataAtom> udta_;
  std::unique_ptr<FileTypeAtom> ftyp_;
  // Created at Open, handed to udta when the file is rendered.
  std::unique_ptr<KRUserDataAtom> krmmOwned_;
  std::unique_ptr<TrackInfoAtom> krtiOwned_;
  std::unique_ptr<DownloadAtom> dnldOwned_;
  std::unique_ptr<ContentVersionAtom> cverOwned_;
  std::unique_ptr<RandomAccessAtom> randOwned_;
  std::unique_ptr<RequirementsAtom> rqmtOwned_;
  KRUserDataAtom* krmm_ = nullptr;
  TrackInfoAtom* krti_ = nullptr;
  DownloadAtom* dnld_ = nullptr;
  ContentVersionAtom* cver_ = nullptr;
  RandomAccessAtom* rand_ = nullptr;
  RequirementsAtom* rqmt_ = nullptr;

  std::unique_ptr<MovieAtom> moov_;
  std::vector<std::unique_ptr<MediaDataAtom>> mdats_;
  TrackAtom* scene_ = nullptr;
  TrackAtom* od_ = nullptr;
  std::unique_ptr<ObjectDescriptor> videoOD_;
  std::unique_ptr<ObjectDescriptor> audioOD_;
  std::unique_ptr<ObjectDescriptorUpdate> odUpdate_;
};

}  // namespace fileformat
