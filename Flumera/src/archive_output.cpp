// The archive: media buffers ordered into samples (ArchiveOutput) and
// written into an MP4 content file through the file writer (ArchiveRecorder).
#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "fileformat/mp4_file_writer.h"
#include "flumera/kr_flumera.h"
#include "flumera/media_buffer.h"
#include "server_parts.h"

namespace {

std::unique_ptr<fileformat::MP4WriterApi> MakeWriter(uint32_t kind, uint32_t hintMode, std::u16string base,
                                                     std::u16string tag) {
  return fileformat::MP4FileWriter::Create(kind, hintMode, std::move(base), std::move(tag), 0, 0);
}
ArchiveRecorder::WriterFactory g_makeWriter = &MakeWriter;

std::u16string Text(const wchar_t* text, size_t capacity) {
  const size_t n = wcsnlen(text, capacity);
  return std::u16string(reinterpret_cast<const char16_t*>(text), n);
}

uint32_t OrderOf(const MsgItem* item) { return flumera::ReadTimes(item->data, size_t(item->length)).order; }

constexpr uint32_t kHoldMs = 4000;

uint32_t FourCc(const char* s) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 | uint8_t(s[3]);
}

// The writer's presentation kind of a media mask: audio, visual (video or
// still image), or both.
uint32_t PresentationKind(unsigned long mask) {
  const bool audio = mask & 1, visual = mask & 6;
  return audio && visual ? 3 : visual ? 1 : audio ? 2 : 0;
}

}  // namespace

void ArchiveRecorder::SetWriterFactory(WriterFactory f) { g_makeWriter = f ? f : &MakeWriter; }

ArchiveRecorder::~ArchiveRecorder() = default;

bool ArchiveRecorder::Create() {
  writer_.reset();
  trackIds_.clear();
  baseTrack_ = -1;
  count_ = 0;
  failed_ = false;
  const _tagSESSIONINFO& s = *owner_.GetSessionInfo();
  std::u16string base = Text(s.archiveName, MAX_PATH);
  if (base.empty()) {
    const std::u16string name = Text(s.outputFileName, MAX_PATH);
    const size_t at = name.find(u".mp4");
    if (at != std::u16string::npos) base = name.substr(0, at);
  }
  char instance[16];
  std::snprintf(instance, sizeof instance, "%ld", owner_.GetInstanceNumber());
  const std::string i(instance);
  writer_ = g_makeWriter(PresentationKind(s.mediaMask), s.secondLayer, base, std::u16string(i.begin(), i.end()));
  if (!writer_) return false;
  fileformat::MP4WriterApi& w = *writer_;
  w.SetDownload(s.downloadFlag);
  w.SetContentVersion(s.versionMajor, s.versionMinor);
  w.SetRandomAccess(s.randomAccessFlag);
  w.SetRequirement1(s.videoOnlyAllowed);
  w.SetRequirement2(s.requirements2);
  w.SetMajorBrand(FourCc("wmf "));
  w.SetMinorVersion(0x00010001);
  w.SetSessionValue3(1);
  w.SetSessionValue1(1);
  w.SetSessionValue2(1);
  w.SetContentText1(Text(s.version, 256));
  w.SetContentText2(Text(s.title, 256));
  w.SetContentText3(Text(s.author, 256));
  w.SetContentText4(Text(s.copyright, 256));
  w.SetContentText5(Text(s.information, 256));
  w.SetContentText6(Text(s.rating, 256));
  SYSTEMTIME t;
  GetSystemTime(&t);
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%u%02u%02uT%02u%02u%02u.%uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond, t.wMilliseconds);
  const std::string st(stamp);
  w.SetContentText7(std::u16string(st.begin(), st.end()));

  const KRTrackTable* table = s.trackTable;
  const unsigned long count = table && table->tracks ? std::min<unsigned long>(table->count, kMaxTracks) : 0;
  for (unsigned long k = 0; k < count; ++k) AddTrack(table->tracks[k], k ? &table->tracks[k - 1] : nullptr);

  if ((s.mediaMask & 4) && s.stillImage && s.stillImageLength > 0) {
    const uint32_t id = w.AddTrack(FourCc("vide"), 3);
    w.SetTrackRandomAccess(id, 0);
    if (count) w.SetTrackVersion(id, table->tracks[count - 1].versionMajor, table->tracks[count - 1].versionMinor);
    w.SetTrackWmfmValue(id, 1);
    w.SetMediaTimeScale(id, 1000);
    w.SetBitrate(id, (s.stillImageLength - 1) * 8);
    w.SetVideoParameters(id, s.frameRateBase, 0, uint32_t(s.frameWidth), uint32_t(s.frameHeight));
    w.SetDecoderConfig(s.stillHeader, std::min<uint32_t>(s.stillHeaderLength, sizeof s.stillHeader), id);
    const uint8_t flags = s.stillImage[s.stillImageLength - 1];
    Add(id, s.stillImage, s.stillImageLength - 1, 0, flumera::ArchiveSyncFlags(flags));
  }
  return true;
}

void ArchiveRecorder::AddTrack(const KRTrackRecord& r, const KRTrackRecord* before) {
  fileformat::MP4WriterApi& w = *writer_;
  const _tagSESSIONINFO& s = *owner_.GetSessionInfo();
  uint32_t id = 0;
  const uint32_t configLength = std::min<uint32_t>(r.configLength, sizeof r.config);
  auto common = [&] {
    w.SetTrackRandomAccess(id, r.randomAccess);
    w.SetTrackVersion(id, r.versionMajor, r.versionMinor);
    w.SetTrackWmfmValue(id, 1);
  };
  switch (r.kind) {
    case 1:
      id = w.AddTrack(FourCc("vide"), 1);
      baseTrack_ = long(id);
      common();
      w.SetMediaTimeScale(id, 1000);
      w.SetBitrate(id, r.bitRate);
      w.SetVideoParameters(id, s.frameRateBase, s.iFrameInterval, uint32_t(s.frameWidth), uint32_t(s.frameHeight));
      w.SetDecoderBufferSize(id, s.decodeBufferSize);
      w.SetDecoderConfig(r.config, configLength, id);
      break;
    case 2:
      id = w.AddTrack(FourCc("vide"), 1);
      if (baseTrack_ >= 0) w.AddTrackDependency(id, uint32_t(baseTrack_));
      baseTrack_ = -1;
      common();
      w.SetMediaTimeScale(id, 1000);
      w.SetBitrate(id, before && r.bitRate > before->bitRate ? r.bitRate - before->bitRate : r.bitRate);
      w.SetVideoParameters(id, s.frameRateSecond, 0xFFFF, uint32_t(s.frameWidth), uint32_t(s.frameHeight));
      w.SetDecoderConfig(r.config, configLength, id);
      w.SetDecoderBufferSize(id, s.decodeBufferSize);
      break;
    case 3:
    case 4:
    case 5:
      id = w.AddTrack(FourCc("soun"), r.kind - 2);
      common();
      // Every track counts in milliseconds, as the buffers' stamps do.
      w.SetMediaTimeScale(id, 1000);
      w.SetBitrate(id, r.bitRate);
      if (r.kind == 5) w.SetDecoderConfig(r.config, configLength, id);
      break;
    default: break;
  }
  trackIds_.push_back(id);
}

bool ArchiveRecorder::Add(uint32_t track, const uint8_t* data, uint32_t size, uint32_t time, uint32_t flag) {
  const bool ok = writer_->AddSample(track, data, size, time, flag);
  ++count_;
  if (!ok && !failed_) {
    failed_ = true;
    owner_.SendMsgToApp(KRM_ARCHIVE_SAMPLE_FAILED, nullptr, 0, 0);
  }
  return ok;
}

void ArchiveRecorder::AddSample(const ArchiveSample& s) {
  if (!writer_ || failed_) return;
  if (s.video) {
    const size_t index = (s.syncFlags & 0x70) == 0 ? 0 : 1;
    if (index < trackIds_.size() && trackIds_[index]) Add(trackIds_[index], s.data, s.size, s.time, s.syncFlags);
    return;
  }
  AddAudio(s);
}

void ArchiveRecorder::AddAudio(const ArchiveSample& s) {
  const KRTrackTable* table = owner_.GetSessionInfo()->trackTable;
  if (!table || !table->tracks) return;
  size_t offset = 0;
  flumera::AudioPacket packet;
  while (flumera::NextAudioPacket(s.data, s.size, &offset, &packet)) {
    // Each packet is one stream's coding of the buffer's stretch of sound.
    uint32_t time = s.time;
    size_t index = trackIds_.size();
    for (size_t k = 0; k < trackIds_.size(); ++k) {
      const KRTrackRecord& r = table->tracks[k];
      if (r.kind != 1 && r.kind != 2 && r.payloadNumber == uint32_t(packet.streamId) + 1) {
        index = k;
        break;
      }
    }
    if (index >= trackIds_.size() || !trackIds_[index]) continue;
    const unsigned long kind = table->tracks[index].kind;
    for (int i = 0; i < packet.count; ++i) {
      if (owner_.GetCurState() != KRS_PLAY) return;
      const flumera::AudioFrame& f = packet.frames[i];
      const uint8_t* bytes = f.data;
      uint32_t size = f.length;
      uint32_t flag = 2;
      if ((kind == 3 || kind == 4) && size > 0) flag = bytes[0], ++bytes, --size;
      if (!Add(trackIds_[index], bytes, size, time, flag)) return;
      time += s.duration;
    }
  }
}

void ArchiveRecorder::Close() {
  if (!writer_) return;
  const _tagSESSIONINFO& s = *owner_.GetSessionInfo();
  writer_->SetContentText1(Text(s.version, 256));
  const bool ok = writer_->WriteToFile(Text(s.outputFileName, MAX_PATH));
  owner_.SendMsgToApp(KRM_ARCHIVE_DONE, nullptr, 0, ok ? 1 : 0);
  OutputDebugStringA("File Done!\r\n");
  writer_.reset();
}

// ------------------------------------------------------------ output

ArchiveOutput::~ArchiveOutput() {
  Terminate();
  for (MsgItem* item : held_) FreeItem(item);
  held_.clear();
}

void ArchiveOutput::Open() {
  StreamOutput::Open();
  videoNumber_ = audioNumber_ = 0;
  recorder_ = std::make_unique<ArchiveRecorder>(owner_);
  recorder_->Create();
  releaseTime_ = 0xFFFFFFFFu;
  heldTag_ = 0;
}

void ArchiveOutput::Add(MsgItem* item) {
  const uint8_t* data = item->data;
  const int length = item->length;
  const uint8_t tag = data[length - 1];
  const flumera::MediaTimes t = flumera::ReadTimes(data, size_t(length));
  if (owner_.GetCurState() == KRS_PLAY && recorder_) {
    ArchiveSample s;
    s.data = data;
    s.time = t.stamp;
    if (tag == flumera::kVideoTag && length >= 2) {
      s.video = true;
      s.size = uint32_t(length - 2);
      s.number = videoNumber_++;
      s.syncFlags = flumera::ArchiveSyncFlags(data[length - 2]);
      recorder_->AddSample(s);
    } else if (tag == flumera::kAudioTag) {
      s.size = uint32_t(length - 1);
      s.duration = t.duration;
      s.number = audioNumber_++;
      recorder_->AddSample(s);
    }
  }
  if (tag == flumera::kAudioTag && (releaseTime_ == 0xFFFFFFFFu || int32_t(t.end - releaseTime_) > 0))
    releaseTime_ = t.end;
  FreeItem(item);
}

void ArchiveOutput::ReleaseHeldBelow(uint32_t time) {
  std::vector<MsgItem*> keep;
  for (MsgItem* h : held_) {
    if (int32_t(OrderOf(h) - time) < 0)
      Add(h);
    else
      keep.push_back(h);
  }
  held_.swap(keep);
}

bool ArchiveOutput::DataHandler() {
  while (MsgItem* item = queue_.Pop()) {
    if (owner_.GetCurState() != KRS_PLAY || !item->data || item->length < 1) {
      FreeItem(item);
      continue;
    }
    const uint8_t tag = item->data[item->length - 1];
    const flumera::MediaTimes t = flumera::ReadTimes(item->data, size_t(item->length));
    const bool both = owner_.GetSessionInfo()->mediaMask == 3;
    if (both && (releaseTime_ == 0xFFFFFFFFu || int32_t(releaseTime_ - t.order) <= 0)) {
      // Audio and video arrive on their own schedules: a buffer waits until
      // the other kind has caught up with it, so samples go in time order.
      if (held_.empty() || tag == heldTag_) {
        if (held_.empty()) heldTag_ = tag;
        held_.push_back(item);
        // When the other kind stops coming, nothing is held for ever.
        while (held_.size() > 1 && int32_t(t.order - OrderOf(held_.front())) >= int32_t(kHoldMs)) {
          Add(held_.front());
          held_.erase(held_.begin());
        }
        continue;
      }
      ReleaseHeldBelow(t.order);
    }
    Add(item);
    if (releaseTime_ == 0xFFFFFFFFu || int32_t(t.end - releaseTime_) > 0) releaseTime_ = t.end;
    ReleaseHeldBelow(releaseTime_);
  }
  return true;
}

void ArchiveOutput::Finish() {
  for (MsgItem* item : held_) FreeItem(item);
  held_.clear();
  if (recorder_) recorder_->Close();
  recorder_.reset();
  videoNumber_ = audioNumber_ = 0;
  ReleaseQueued();
  opened_ = false;
}
