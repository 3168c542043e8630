// What the import server asks of an opened file.
#include <cmath>

#include "v2reader/mpeg4_file_v2_reader.h"

namespace v2reader {

namespace {
constexpr uint32_t kNone = 0xFFFFFFFF;
}

CMpeg4FileV2Reader::~CMpeg4FileV2Reader() = default;

Track* CMpeg4FileV2Reader::VideoTrack(int n) const {
  return n >= 0 && size_t(n) < video_.size() ? video_[size_t(n)] : nullptr;
}

Track* CMpeg4FileV2Reader::AudioTrack(int n) const {
  return n >= 0 && size_t(n) < audio_.size() ? audio_[size_t(n)] : nullptr;
}

const std::vector<uint8_t>* CMpeg4FileV2Reader::VolHeader(int layer) const {
  Track* t = VideoTrack(layer);
  return t ? &t->decoderSpecificInfo : nullptr;
}

void CMpeg4FileV2Reader::ResetPlayback() {
  for (auto& t : tracks_) {
    t->table.cursor = 0;
    t->table.currentTime = 0;
  }
  videoHintCursor_ = 0;
  currentLayer_ = 0;
  lastVideoHint_ = -1;
  videoReturned_ = false;
}

uint32_t CMpeg4FileV2Reader::VideoTimeScale(int n) const {
  Track* t = VideoTrack(n);
  return t ? t->timeScale : kNone;
}
uint32_t CMpeg4FileV2Reader::AudioTimeScale(int n) const {
  Track* t = AudioTrack(n);
  return t ? t->timeScale : kNone;
}
uint32_t CMpeg4FileV2Reader::VideoBufferSize(int n) const {
  Track* t = VideoTrack(n);
  return t ? t->bufferSizeDB : 0;
}
uint32_t CMpeg4FileV2Reader::AudioBufferSize(int n) const {
  Track* t = AudioTrack(n);
  return t ? t->bufferSizeDB : 0;
}
uint32_t CMpeg4FileV2Reader::VideoBitrate(int n) const {
  Track* t = VideoTrack(n);
  return t ? t->averageBitrate : 0;
}
uint32_t CMpeg4FileV2Reader::AudioBitrate(int n) const {
  Track* t = AudioTrack(n);
  return t ? t->averageBitrate : 0;
}
uint32_t CMpeg4FileV2Reader::VideoDuration(int n) const {
  Track* t = VideoTrack(n);
  return t ? t->duration : 0;
}
uint32_t CMpeg4FileV2Reader::AudioDuration(int n) const {
  Track* t = AudioTrack(n);
  return t ? t->duration : 0;
}

int32_t CMpeg4FileV2Reader::NextVideoSample(uint8_t* buf, int32_t size) {
  if (videoHints_.empty()) return 0;
  const auto& records = videoHints_[0]->hintRecords;
  if (videoHintCursor_ >= records.size()) return 0;
  const HintRecord& r = records[videoHintCursor_];
  int layer = (r.flags >> 4) & 7;
  Track* t = VideoTrack(layer);
  if (!t) return 0;
  int32_t got = t->table.Next(buf, size);
  // A sample that did not fit keeps its record, so the caller can grow its
  // buffer and ask again.
  if (got > 0) {
    lastVideoHint_ = videoHintCursor_++;
    currentLayer_ = layer;
    videoReturned_ = true;
  }
  return got;
}

int32_t CMpeg4FileV2Reader::SampleAtTime(Track* t, uint64_t time, uint8_t* buf, int32_t size) {
  if (!t) return 0;
  SampleTable& st = t->table;
  uint64_t from = time > st.startTime ? time - st.startTime : 0;
  uint32_t n = st.SyncAtOrBefore(st.SampleAtTime(from));
  int32_t got = st.Read(n, buf, size);
  if (got > 0) {
    st.currentTime = static_cast<uint32_t>(st.startTime + st.TimeOf(n));
    st.cursor = n + 1;
  }
  return got;
}

int32_t CMpeg4FileV2Reader::VideoSampleAtTime(uint32_t time, uint8_t* buf, int32_t size) {
  return SampleAtTime(VideoTrack(currentLayer_), time, buf, size);
}

int32_t CMpeg4FileV2Reader::VideoSampleAt(double fraction, uint8_t* buf, int32_t size) {
  Track* t = VideoTrack(currentLayer_);
  if (!t || !(fraction >= 0)) return 0;
  return SampleAtTime(t, static_cast<uint64_t>(std::fmin(fraction, 1.0) * t->duration), buf, size);
}

int32_t CMpeg4FileV2Reader::NextLayeredVideoSample(int layer, uint8_t* buf, int32_t size) {
  Track* t = VideoTrack(layer);
  return t ? t->table.Next(buf, size) : 0;
}

uint32_t CMpeg4FileV2Reader::CurrentVideoTimestamp() const {
  Track* t = VideoTrack(currentLayer_);
  return t && videoReturned_ ? t->table.currentTime : kNone;
}

uint32_t CMpeg4FileV2Reader::CurrentLayeredVideoTimestamp(int layer) const {
  Track* t = VideoTrack(layer);
  return t ? t->table.currentTime : kNone;
}

uint32_t CMpeg4FileV2Reader::CurrentVideoSampleNumber() const {
  Track* t = VideoTrack(currentLayer_);
  return t ? t->table.cursor : kNone;
}

int32_t CMpeg4FileV2Reader::NextAudioSample(int track, uint8_t* buf, int32_t size) {
  Track* t = AudioTrack(track);
  return t ? t->table.Next(buf, size) : 0;
}

int32_t CMpeg4FileV2Reader::AudioSampleAtTime(uint32_t time, uint8_t* buf, int32_t size, uint32_t track) {
  Track* t = track < audio_.size() ? audio_[track] : nullptr;
  int32_t got = SampleAtTime(t, time, buf, size);
  if (got > 0 && track < audioHints_.size()) audioHints_[track]->table.cursor = t->table.cursor;
  return got;
}

int32_t CMpeg4FileV2Reader::AudioSampleAt(double fraction, uint8_t* buf, int32_t size, uint32_t track) {
  Track* t = track < audio_.size() ? audio_[track] : nullptr;
  if (!t || !(fraction >= 0)) return 0;
  return AudioSampleAtTime(static_cast<uint32_t>(std::fmin(fraction, 1.0) * t->duration), buf, size, track);
}

uint32_t CMpeg4FileV2Reader::CurrentAudioTimestamp(uint32_t track) const {
  return track < audio_.size() ? audio_[track]->table.currentTime : kNone;
}

uint32_t CMpeg4FileV2Reader::CurrentAudioSampleNumber(uint32_t track) const {
  return track < audio_.size() ? audio_[track]->table.cursor : kNone;
}

bool CMpeg4FileV2Reader::CurrentVideoHintRecord(uint8_t* flags, uint8_t* layer) const {
  if (lastVideoHint_ < 0 || videoHints_.empty()) return false;
  const HintRecord& r = videoHints_[0]->hintRecords[size_t(lastVideoHint_)];
  *flags = r.flags;
  *layer = (r.flags >> 4) & 7;
  return true;
}

}  // namespace v2reader
