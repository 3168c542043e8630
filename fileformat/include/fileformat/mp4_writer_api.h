// The writer interface the archive recorder drives, in its fixed order. Texts
// are UTF-16 and passed by value. Misuse is reported as "ERROR: " lines on the
// standard error stream and the operation returns normally.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

namespace fileformat {

class MP4WriterApi {
 public:
  virtual ~MP4WriterApi() = default;

  // Seven texts of krmm: version text, title, author, copyright,
  // description, rating, recording date and time.
  virtual void SetContentText1(std::u16string s) = 0;
  virtual void SetContentText2(std::u16string s) = 0;
  virtual void SetContentText3(std::u16string s) = 0;
  virtual void SetContentText4(std::u16string s) = 0;
  virtual void SetContentText5(std::u16string s) = 0;
  virtual void SetContentText6(std::u16string s) = 0;
  virtual void SetContentText7(std::u16string s) = 0;
  virtual void SetMovieTimeScale(uint32_t scale) = 0;
  // Adds of the older recorder; this writer has no tracks for them.
  virtual void AddLayeredVideoSample(const uint8_t* data, uint32_t size, uint32_t timestamp,
                                     uint32_t flag, uint32_t extra) = 0;
  virtual void AddAudioPacket(const uint8_t* data, uint32_t size, uint32_t timestamp, uint32_t flag,
                              uint32_t position) = 0;
  virtual void AddVideoSample(const uint8_t* data, uint32_t size, uint32_t timestamp,
                              uint32_t flag) = 0;
  // Text n (1-7) as stored.
  virtual std::u16string GetContentText(int n) const = 0;
  virtual uint32_t GetVideoHintMode() const = 0;
  virtual uint32_t GetPresentationKind() const = 0;
  virtual void SetDecoderConfig(const uint8_t* data, uint32_t size, uint32_t track) = 0;
  virtual const std::string& GetSceneDecoderConfig() const = 0;
  virtual void SetSceneDecoderConfig(const uint8_t* data, uint32_t size) = 0;
  // Renders the file; false when it cannot be created or completed, in which
  // case no file is left behind. A file object is written once.
  virtual bool WriteToFile(std::u16string fileName) = 0;
  virtual void SetSpoolTag(std::u16string tag) = 0;
  // 'soun' or 'vide' with the track's kind (1-3); returns the track id, or 0.
  virtual uint32_t AddTrack(uint32_t handler, uint32_t kind) = 0;
  // False when the sample could not be stored whole.
  virtual bool AddSample(uint32_t track, const uint8_t* data, uint32_t size, uint32_t timestamp,
                         uint32_t flag) = 0;
  virtual void AddTrackDependency(uint32_t track, uint32_t referencedTrack) = 0;
  virtual void SetBitrate(uint32_t track, uint32_t bitsPerSecond) = 0;
  virtual void SetMediaTimeScale(uint32_t track, uint32_t scale) = 0;
  virtual void SetDecoderBufferSize(uint32_t track, uint32_t bytes) = 0;
  virtual void SetMajorBrand(uint32_t brand) = 0;
  virtual void SetMinorVersion(uint32_t version) = 0;
  virtual void AddCompatibleBrand(uint32_t brand) = 0;
  virtual void SetSessionValue1(uint32_t v) = 0;
  virtual void SetSessionValue2(uint32_t v) = 0;
  virtual void SetSessionValue3(uint32_t v) = 0;
  virtual void SetTrackWmfmValue(uint32_t track, uint32_t value) = 0;
  virtual void SetTrackRandomAccess(uint32_t track, uint8_t value) = 0;
  virtual void SetRandomAccess(uint8_t value) = 0;
  virtual void SetDownload(uint32_t value) = 0;
  virtual void SetTrackVersion(uint32_t track, uint8_t major, uint8_t minor) = 0;
  virtual void SetContentVersion(uint8_t major, uint8_t minor) = 0;
  virtual void SetRequirement1(uint8_t value) = 0;
  virtual void SetRequirement2(uint8_t value) = 0;
  virtual void SetVideoParameters(uint32_t track, float frameRate, uint16_t value16,
                                  uint32_t valueA, uint32_t valueB) = 0;
  // Renders into a stream (WriteToFile uses it); once per object.
  virtual bool Render(std::ostream& out) = 0;
  virtual void SetSpoolBaseName(std::u16string name) = 0;
};

}  // namespace fileformat
