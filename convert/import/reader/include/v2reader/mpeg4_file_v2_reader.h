// The version-2.0 MP4 content file reader. The atom tree is walked once when
// the file is opened (movie, tracks, sample tables, clip texts and hint
// records stay in memory); samples are read later from the file by
// sample-table lookup. Failures carry the player reader's MP4FileError codes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace v2reader {

// One record of a hint track's first sample description.
struct HintRecord {
  uint8_t flags = 0;       // video: bits 4 to 6 name the layer
  uint16_t startTime = 0;  // video and audio records
  uint32_t session = 0;    // krsi: the third 32-bit field (2: still image)
};

// A track's sample tables, and the cursor that reads through them.
struct SampleTable {
  struct TimeRun {
    uint32_t count, delta;
    uint64_t firstSample, firstTime;  // derived
  };
  struct ChunkRun {
    uint32_t firstChunk, samplesPerChunk;
    uint64_t firstSample;  // derived
  };
  std::vector<TimeRun> stts;
  std::vector<ChunkRun> stsc;
  std::vector<uint32_t> stco;
  uint32_t constantSize = 0;
  uint32_t sampleCount = 0;
  std::vector<uint32_t> sizes;
  std::vector<uint64_t> sizeSums;  // derived: sizeSums[n] = sizes[0..n)
  bool hasSyncTable = false;
  std::vector<uint32_t> syncSamples;  // 1-based, as stored

  // Reading state.
  uint32_t cursor = 0;
  uint32_t currentTime = 0;
  uint32_t startTime = 0;
  std::u16string fileName;
  std::FILE* file = nullptr;
  uint64_t fileLength = 0;

  SampleTable() = default;
  SampleTable(const SampleTable&) = delete;
  SampleTable& operator=(const SampleTable&) = delete;
  ~SampleTable();

  void Derive();
  // Size of sample n; 0 when there is no such sample.
  uint32_t SizeOf(uint32_t n) const;
  // Duration of sample n in the time-to-sample table (0 past its end).
  uint32_t DeltaOf(uint32_t n) const;
  // Time of sample n from the table's start.
  uint64_t TimeOf(uint32_t n) const;
  // The sample whose span holds time t (from the table's start).
  uint32_t SampleAtTime(uint64_t t) const;
  // The last sync sample at or before n.
  uint32_t SyncAtOrBefore(uint32_t n) const;
  // Reads sample n: its size; 0 when absent or unreadable; minus its size
  // when the buffer is too small (nothing read).
  int32_t Read(uint32_t n, uint8_t* buf, int32_t size);
  // Reads the sample at the cursor and moves on when it was read; the
  // current time stamp follows only a sample that was read.
  int32_t Next(uint8_t* buf, int32_t size);
  void Close();
};

struct Track {
  uint32_t id = 0;
  uint32_t duration = 0;  // track header, movie time scale
  uint32_t width = 0, height = 0;
  uint32_t handler = 0;
  uint32_t timeScale = 0;  // media header
  uint32_t firstReference = 0;
  bool hasReference = false;
  uint32_t firstEntryType = 0;
  uint32_t bufferSizeDB = 0;
  uint32_t averageBitrate = 0;
  uint8_t objectType = 0;
  std::vector<uint8_t> decoderSpecificInfo;
  std::vector<HintRecord> hintRecords;
  SampleTable table;
};

class CMpeg4FileV2Reader {
 public:
  // A reader of the file, or null when it cannot be opened. The parse runs
  // here; the caller checks ok() and deletes a reader that failed.
  static std::unique_ptr<CMpeg4FileV2Reader> Open(const std::u16string& fileName);
  ~CMpeg4FileV2Reader();
  CMpeg4FileV2Reader(const CMpeg4FileV2Reader&) = delete;
  CMpeg4FileV2Reader& operator=(const CMpeg4FileV2Reader&) = delete;

  bool ok() const { return ok_; }
  int32_t error() const { return error_; }

  // Clip texts 0 to 5: version, title, author, copyright, description, rating.
  bool HasClipTexts() const { return hasKrmm_; }
  const std::u16string& ClipText(int n) const { return texts_[n]; }
  int FileType() const { return fileType_; }
  int Scalability() const { return scalability_; }
  // Decoder-specific information of video track n; null when none.
  const std::vector<uint8_t>* VolHeader(int layer) const;

  void ResetPlayback();
  uint32_t PresentationTimeScale() const { return movieTimeScale_; }
  uint32_t PresentationDuration() const { return movieDuration_; }
  // Out-of-range tracks give the values the import server documents.
  uint32_t VideoTimeScale(int n) const;
  uint32_t AudioTimeScale(int n) const;
  uint32_t VideoBufferSize(int n) const;
  uint32_t AudioBufferSize(int n) const;
  uint32_t VideoBitrate(int n) const;
  uint32_t AudioBitrate(int n) const;
  uint32_t VideoDuration(int n) const;
  uint32_t AudioDuration(int n) const;

  // Video across layers, in the order of the video hint records.
  int32_t NextVideoSample(uint8_t* buf, int32_t size);
  int32_t VideoSampleAtTime(uint32_t time, uint8_t* buf, int32_t size);
  int32_t VideoSampleAt(double fraction, uint8_t* buf, int32_t size);
  int32_t NextLayeredVideoSample(int layer, uint8_t* buf, int32_t size);
  uint32_t CurrentVideoTimestamp() const;
  uint32_t CurrentLayeredVideoTimestamp(int layer) const;
  uint32_t CurrentVideoSampleNumber() const;

  int32_t NextAudioSample(int track, uint8_t* buf, int32_t size);
  int32_t AudioSampleAtTime(uint32_t time, uint8_t* buf, int32_t size, uint32_t track);
  int32_t AudioSampleAt(double fraction, uint8_t* buf, int32_t size, uint32_t track);
  uint32_t CurrentAudioTimestamp(uint32_t track) const;
  uint32_t CurrentAudioSampleNumber(uint32_t track) const;

  bool HasVideoHintTrack(uint32_t n) const { return n < videoHints_.size(); }
  bool HasAudioHintTrack(uint32_t n) const { return n < audioHints_.size(); }
  // The video hint record of the sample NextVideoSample returned last;
  // false when there is none.
  bool CurrentVideoHintRecord(uint8_t* flags, uint8_t* layer) const;

  size_t VideoTrackCount() const { return video_.size(); }
  size_t AudioTrackCount() const { return audio_.size(); }

 private:
  class Parser;
  friend class Parser;
  CMpeg4FileV2Reader() = default;
  Track* VideoTrack(int n) const;
  Track* AudioTrack(int n) const;
  int32_t SampleAtTime(Track* t, uint64_t time, uint8_t* buf, int32_t size);

  bool ok_ = false;
  int32_t error_ = 0;
  bool hasKrmm_ = false;
  std::u16string texts_[6];
  struct MediaData {
    uint64_t position, size;
  };
  std::vector<MediaData> mediaData_;
  uint32_t movieTimeScale_ = 0, movieDuration_ = 0;
  int fileType_ = 0;
  int scalability_ = -1;

  std::vector<std::unique_ptr<Track>> tracks_;  // owns every track
  std::vector<Track*> video_, audio_, videoHints_, audioHints_, other_;
  Track* objectDescriptorTrack_ = nullptr;
  Track* sceneTrack_ = nullptr;

  uint32_t videoHintCursor_ = 0;
  int currentLayer_ = 0;
  int64_t lastVideoHint_ = -1;  // record of the last sample across layers
  bool videoReturned_ = false;
};

}  // namespace v2reader
